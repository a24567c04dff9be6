// A problem found in a table, with its place: a line of a text-based file
// or a block of a binary table. Printed compiler style, one per line
// ("t.txt:23: error: ...", "t.itb: block 0x1c4 (field list 7): error: ..."),
// or as JSON.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "tbltool/source.h"

namespace tbltool {

enum class Severity { kError, kWarning };

struct Finding {
  std::string file;
  uint32_t line = 0;      // 0: no line
  bool hasBlock = false;  // .itb places
  uint32_t block = 0;
  std::string where;  // what stands at the block ("field list 7"), or a part of the file
  Severity severity = Severity::kError;
  std::string text;
};

// A reader's message as a finding: its "***ERROR: " prefix made a
// severity, an "expected ... record" told what stood there instead.
Finding FromReaderMessage(const ReaderMessage& m);
Finding FromRaw(const RawFinding& r);

// One line, without its line end.
std::string FormatFinding(const Finding& f);
nlohmann::json FindingJson(const Finding& f);

// Orders findings by file, then place (line or block), keeping the order of
// those at the same place.
void SortFindings(std::vector<Finding>* v);

// Prints the reader's messages of a table that could not be read whole to
// stderr, compiler style; returns how many were errors.
int PrintReaderMessages(const LoadedTable& t);

// Text of a table as JSON: its code-page bytes mapped to characters.
std::string Utf8(std::string_view bytes);
// "0x1c4".
std::string HexAddr(uint32_t v);

}  // namespace tbltool
