// tbltool info FILE: what a table is at a glance: its form and version,
// the counts of its records, its systems with their IDs, names and
// sections, the table-wide values, and for a binary table its size, waste
// and what its blocks hold. --json gives the same as one object.
#pragma once
