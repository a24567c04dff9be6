// What reading a table with places (source.cpp), the raw checks of its
// bytes (rawscan.cpp) and the files the commands make beside it
// (tablefiles.cpp) share: the operating system, temporary names and the
// raw checks themselves.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"
#include "tbltool/source.h"

namespace tbltool::source {

inline platform::Env* Env() { return platform::Env::Get(); }

// A new file of its own in the temporary directory, its name begun with
// prefix; "" with *error when none can be made.
std::string TempName(const char* prefix, std::string* error);

// The raw checks of a .txt the reader does not make: a byte-order mark, and
// lines that end in LF alone in a file whose lines end in CR LF (the reader
// takes them as CR LF; a file whose first line ends in LF alone is the
// reader's own warning).
void ScanTextFile(const std::string& name, std::vector<RawFinding>* raw);

// Problems of the string table itself, which the merge passes over or
// resolves silently: lines without a key and quoted text, keys given twice.
void ScanStringTable(const std::string& itr, std::vector<RawFinding>* raw);

}  // namespace tbltool::source
