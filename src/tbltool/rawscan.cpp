// The raw checks of a file the readers do not make: of the bytes of a text
// table, and of a split pair's string table, which the merge reads past.
#include <functional>
#include <string_view>
#include <unordered_map>

#include "platform/platform.h"
#include "qvdf/resource/textfile.h"
#include "qvutil/fileio.h"
#include "tbltool/source_internal.h"

namespace tbltool::source {

namespace {

bool HasBom(std::string_view s) {
  return (s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) ||
         (s.size() >= 2 && (s.compare(0, 2, "\xFF\xFE") == 0 || s.compare(0, 2, "\xFE\xFF") == 0));
}

constexpr char kBomText[] =
    "byte-order mark at the start of the file; the readers take it for text";

}  // namespace

void ScanTextFile(const std::string& name, std::vector<RawFinding>* raw) {
  platform::FileHandle h = platform::kInvalidHandle;
  if (Env()->OpenFile(name, platform::Access::kRead, platform::Disposition::kOpenExisting, &h) != 0)
    return;
  platform::File file(h);
  LineReader in(h);
  std::string_view line;
  bool crlf = false, known = false;
  uint64_t lfOnly = 0, first = 0;
  while (in.Next(&line) == kLineRead) {
    if (in.count() == 1 && HasBom(line)) raw->push_back({name, 1, true, kBomText});
    if (line.empty() || line.back() != '\n') continue;
    const bool cr = line.size() >= 2 && line[line.size() - 2] == '\r';
    if (!known) {
      known = true;
      crlf = cr;
    } else if (crlf && !cr && lfOnly++ == 0) {
      first = in.count();
    }
  }
  if (lfOnly == 0) return;
  std::string text = "line ends in LF without CR";
  if (lfOnly > 1)
    text += " (and " + std::to_string(lfOnly - 1) + (lfOnly == 2 ? " more line)" : " more lines)");
  raw->push_back({name, static_cast<uint32_t>(first), false, text});
}

void ScanStringTable(const std::string& itr, std::vector<RawFinding>* raw) {
  TextFile f;
  if (f.Open(itr, platform::Access::kRead, platform::Disposition::kOpenExisting) != 0) return;
  // By a 64-bit hash of each key: a string table holds a key per field.
  struct Seen {
    uint32_t line;
    size_t text;
  };
  std::unordered_map<size_t, Seen> seen;
  std::hash<std::string_view> hash;
  std::string_view line;
  uint32_t number = 0;
  while (f.ReadLine(&line) == kLineRead) {
    ++number;
    if (number == 1 && HasBom(line)) raw->push_back({itr, 1, false, kBomText});
    size_t kb = line.find_first_not_of(" \t\r\n");
    if (kb == std::string_view::npos) continue;
    size_t ke = line.find_first_of(" \t\r\n", kb);
    size_t q1 = line.find('"');
    size_t q2 = q1 == std::string_view::npos ? q1 : line.find('"', q1 + 1);
    if (q2 == std::string_view::npos || q2 == q1 + 1 || ke == kb) {
      raw->push_back(
          {itr, number, false, "line holds no key with a quoted text; the merge passes it over"});
      continue;
    }
    std::string_view key = line.substr(kb, (ke == std::string_view::npos ? line.size() : ke) - kb);
    std::string_view text = line.substr(q1 + 1, q2 - q1 - 1);
    std::string_view after = line.substr(q2 + 1);
    if (after.find_first_not_of(" \t\r\n") != std::string_view::npos)
      raw->push_back(
          {itr, number, false, "text ends at its second quote; the rest of the line is not read"});
    auto [it, added] = seen.emplace(hash(key), Seen{number, hash(text)});
    if (added) continue;
    if (it->second.text != hash(text)) {
      raw->push_back({itr, number, false,
                      "key " + std::string(key) + " was given another text at line " +
                          std::to_string(it->second.line) + "; the merge keeps that one"});
    }
  }
}

}  // namespace tbltool::source
