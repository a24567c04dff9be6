// tbltool check FILE...: every problem of each table, with its place, one
// per line, compiler style; or all of them as JSON with --json. Exit 0 when
// nothing was found, 1 for findings, 2 when a file cannot be read at all.
#pragma once

#include <string>
#include <vector>

#include "tbltool/findings.h"
#include "tbltool/source.h"

namespace tbltool {

// The findings of one table file; false with *error when it cannot be read
// at all (missing, no table form, unopenable).
bool CheckFile(const TableFile& f, std::vector<Finding>* findings, std::string* error);

}  // namespace tbltool
