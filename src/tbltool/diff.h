// tbltool diff A B: what differs between two tables, in any two forms:
// systems, their sections, field lists field by field, maps entry by entry,
// charmaps and the table-wide values, each added, removed or changed,
// grouped by kind and readable; --json for the same as one object. Exit 0
// when the tables are the same, 1 when they differ, 2 on trouble.
#pragma once
