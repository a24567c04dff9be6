// tbltool export FILE [-o out.json]: the whole table as JSON, every value of
// every record under its field name, texts as code-page bytes mapped to
// characters one for one (bytes.h). The schema is docs/json.md; import
// reads it back.
#pragma once

#include <cstdio>
#include <string>

#include "qvdf/store/tabledb.h"

namespace tbltool {

// Writes db as JSON to f. 0, or the store's code of a record that cannot
// be read, or -1 when writing failed.
int ExportTable(TableDb* db, const std::string& rc2Suffix, std::FILE* f);

}  // namespace tbltool
