// tbltool import IN.json OUT: the table of an export (docs/json.md) written
// in OUT's form. The JSON is read as a stream, one record at a time, into a
// temporary binary table, which is then read and written as tblconv reads
// an .itb input and writes its output, so that an exported table comes back
// byte for byte as tblconv writes it.
#pragma once

#include <cstdio>
#include <string>

#include "qvdf/store/tabledb.h"

namespace tbltool {

// Reads the JSON on f into db (open, empty, writable). 0; 2 after a message
// on `errors` naming `name` and the place in the JSON (warnings go there
// too). *rc2Suffix receives the resource-name suffix the JSON carries.
int ImportTable(std::FILE* f, const std::string& name, TableDb* db, std::string* rc2Suffix,
                std::FILE* errors);

}  // namespace tbltool
