// Findings: made from reader messages and raw checks, ordered, printed.
#include "tbltool/findings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tbltool/bytes.h"

namespace tbltool {

namespace {

bool Cut(std::string* s, const char* prefix) {
  size_t n = std::char_traits<char>::length(prefix);
  if (s->compare(0, n, prefix) != 0) return false;
  s->erase(0, n);
  return true;
}

// "Invalid system ID" reads "invalid system ID" inside a line; a word with
// capitals inside it ("CharMap") keeps its own.
void LowerFirstWord(std::string* s) {
  if (s->empty() || !std::isupper(static_cast<unsigned char>((*s)[0]))) return;
  size_t i = 1;
  while (i < s->size() && std::isalpha(static_cast<unsigned char>((*s)[i]))) {
    if (!std::islower(static_cast<unsigned char>((*s)[i]))) return;
    ++i;
  }
  (*s)[0] = static_cast<char>(std::tolower(static_cast<unsigned char>((*s)[0])));
}

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::char_traits<char>::length(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

Finding FromReaderMessage(const ReaderMessage& m) {
  Finding f;
  f.file = m.file;
  f.line = m.line;
  f.severity = m.level >= kLevelError ? Severity::kError : Severity::kWarning;
  std::string t = m.text;
  while (!t.empty() && (t[0] == '\n' || t[0] == ' ')) t.erase(0, 1);
  for (const char* p : {"***ERROR: ", "***Error: ", "***WARNING: ", "***Warning: ", "## "})
    if (Cut(&t, p)) break;
  while (!t.empty() && (t.back() == ' ' || t.back() == '.' || t.back() == '\n')) t.pop_back();
  if (t == "Premature end of source rc2 file") {
    t = "the script ends before the \"0,\" line that ends its table data";
  } else if (t == "Line too long") {
    t = "line too long (the readers take at most 65536 bytes)";
  }
  LowerFirstWord(&t);
  if (t.compare(0, 9, "expected ") == 0 && EndsWith(t, " record")) {
    if (m.hasCurrent)
      t += ", found \"" + m.current + "\"";
    else if (m.atEnd)
      t += ", found the end of the data";
  }
  f.text = t;
  return f;
}

Finding FromRaw(const RawFinding& r) {
  Finding f;
  f.file = r.file;
  f.line = r.line;
  f.severity = r.error ? Severity::kError : Severity::kWarning;
  f.text = r.text;
  return f;
}

std::string HexAddr(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

std::string FormatFinding(const Finding& f) {
  std::string s = f.file;
  if (f.line) s += ":" + std::to_string(f.line);
  if (f.hasBlock) {
    s += ": block " + HexAddr(f.block);
    if (!f.where.empty()) s += " (" + f.where + ")";
  } else if (!f.where.empty()) {
    s += ": " + f.where;
  }
  s += f.severity == Severity::kError ? ": error: " : ": warning: ";
  s += f.text;
  return s;
}

nlohmann::json FindingJson(const Finding& f) {
  nlohmann::json j = nlohmann::json::object();
  j["file"] = Utf8(f.file);
  j["severity"] = f.severity == Severity::kError ? "error" : "warning";
  if (f.line) j["line"] = f.line;
  if (f.hasBlock) j["block"] = f.block;
  if (!f.where.empty()) j["where"] = Utf8(f.where);
  j["message"] = Utf8(f.text);
  return j;
}

void SortFindings(std::vector<Finding>* v) {
  std::stable_sort(v->begin(), v->end(), [](const Finding& a, const Finding& b) {
    if (a.file != b.file) return a.file < b.file;
    // Places without a block come first: the file as a whole.
    uint64_t pa = a.hasBlock ? (uint64_t{1} << 32) + a.block : a.line;
    uint64_t pb = b.hasBlock ? (uint64_t{1} << 32) + b.block : b.line;
    return pa < pb;
  });
}

int PrintReaderMessages(const LoadedTable& t) {
  int errors = 0;
  for (const ReaderMessage& m : t.messages) {
    Finding f = FromReaderMessage(m);
    if (f.severity == Severity::kError) ++errors;
    std::fprintf(stderr, "%s\n", FormatFinding(f).c_str());
  }
  return errors;
}

std::string Utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out.push_back(c);
      continue;
    }
    char32_t cp = ByteToChar(b);
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace tbltool
