// The split: a resource script becomes the keyed .itf script and the .itr
// string table. A line whose names cannot be keyed safely (a quote inside a
// name, an unknown section type, a piece too long to key) goes to the .itf
// unchanged with a warning, so that the merge always gives back the script.
//
// Quotes, commas and "=" are searched bytewise: no code page the tool
// supports uses them as the second byte of a double-byte character.
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/localized.h"

namespace {

using localized::Shown;
constexpr size_t npos = std::string::npos;
// Longest name, value or key that a line may have and still be keyed.
constexpr size_t kMaxPiece = 255;

// A name in doubled quotes inside a script literal: the opening "" at
// `open`, the name from `begin` to the quote at `end`.
struct Quoted {
  size_t open = npos;
  size_t begin = npos;
  size_t end = npos;
};

// The first "" pair after the line's first character and the quote that
// ends the text after it. False when either is missing.
bool FindQuoted(std::string_view line, Quoted* q) {
  size_t open = line.find("\"\"", 1);
  if (open == npos) return false;
  size_t end = line.find('"', open + 2);
  if (end == npos) return false;
  *q = {open, open + 2, end};
  return true;
}

// A name stands alone in its subfield: a "," before its opening "" and its
// closing "" followed by ",". Otherwise the name holds a quote.
bool StandsAlone(std::string_view line, const Quoted& q) {
  return q.open > 0 && line[q.open - 1] == ',' && line.compare(q.end, 3, "\"\",") == 0;
}

// A key travels through the .itr as one run of characters without blanks
// and is cut at the first quote or comma by the merge.
bool KeyTravels(std::string_view key) {
  return key.find_first_of(" \t\r\n\",") == npos && key.size() <= kMaxPiece;
}

// The first run after "=" free of blanks, quotes, commas and backslashes.
std::string_view TokenAfterEquals(std::string_view line) {
  static const char kStop[] = " \t\n\r\",\\";
  size_t eq = line.find('=');
  if (eq == npos) return std::string_view();
  size_t b = line.find_first_not_of(kStop, eq + 1);
  if (b == npos) return std::string_view();
  size_t e = line.find_first_of(kStop, b);
  return line.substr(b, (e == npos ? line.size() : e) - b);
}

// What a field key keeps of each ASCII byte: letters in upper case, digits
// and "_"; every other byte becomes "_".
char AsciiKeyByte(unsigned char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_') return static_cast<char>(c);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - ('a' - 'A'));
  return '_';
}

}  // namespace

void FieldKeyBytes::Load(const localized::LeadBytes& lead) {
  for (int c = 0; c < 256; ++c)
    to[c] = c == 0 || c >= 0x80 || lead.is[c] ? '\0' : AsciiKeyByte(static_cast<unsigned char>(c));
}

namespace {

// Maps the bytes of `in` to `out` by table; false when one is not plain
// (out then holds garbage).
bool MapPlain(const FieldKeyBytes& bytes, std::string_view in, char* out) {
  bool plain = true;
  for (size_t i = 0; i < in.size(); ++i) {
    char m = bytes.to[static_cast<unsigned char>(in[i])];
    out[i] = m;
    plain &= m != '\0';
  }
  return plain;
}

// Upper case, and every character other than a letter, a digit or "_"
// (a double-byte character counts as one) made "_", as the code page's
// upper casing leaves it: that stops at a NUL or at a lead byte before one.
// For keys that are not plain ASCII.
void MakeFieldKey(std::string* key) {
  platform::Env* env = platform::Env::Get();
  std::vector<char> buf(key->begin(), key->end());
  buf.push_back('\0');
  env->UpperCase(buf.data());
  const size_t n = key->size();
  key->clear();
  for (size_t i = 0; i < n && buf[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(buf[i]);
    if (env->IsLeadByte(c) && i + 1 < n) {
      key->push_back('_');
      ++i;
    } else if (c < 0x80 && (AsciiKeyByte(c) == c || (c >= 'a' && c <= 'z'))) {
      key->push_back(static_cast<char>(c));  // a letter the upper casing left alone stays
    } else {
      key->push_back('_');
    }
  }
}

bool TooLong(std::initializer_list<size_t> sizes) {
  for (size_t n : sizes)
    if (n > kMaxPiece) return true;
  return false;
}

// Keyword of a script line after its opening quote.
template <size_t N>
bool Is(std::string_view line, const char (&keyword)[N]) {
  return line.size() > N - 1 && std::memcmp(line.data() + 1, keyword, N - 1) == 0;
}

}  // namespace

SplitConverter::~SplitConverter() {
  warnings_.Flush(warn_);
  files_.CloseAll(warn_);
  if (!tempScript_.empty()) platform::Env::Get()->RemoveFile(tempScript_);
}

bool SplitConverter::Prepare(const std::string& source, const std::string& itfName,
                             const std::string& itrName, const std::string& itfPath,
                             const std::string& itrPath) {
  if (sourceKind_ != intermediateKind_) {
    std::string temp;
    if (!localized::MakeTempFile("TXT", warn_, &temp)) return false;
    tempScript_ = temp;
    tableFile_ = source;
    files_.names[0] = temp;
  } else {
    files_.names[0] = source;
  }
  files_.names[2] = itfPath.empty() ? itfName : itfPath;
  files_.names[3] = itrPath.empty() ? itrName : itrPath;
  files_.shown[2] = itfName;
  files_.shown[3] = itrName;
  return true;
}

bool SplitConverter::Convert() {
  if (sourceKind_ == intermediateKind_) return true;
  if (converter_.Run(tableFile_, sourceKind_, files_.names[0], intermediateKind_, files_.Shown(2)))
    return true;
  std::fprintf(warn_, "Error converting from %s to %s.\n", tableFile_.c_str(),
               files_.names[0].c_str());
  return false;
}

int SplitConverter::OpenFiles() {
  using platform::Access;
  using platform::Disposition;
  const struct {
    int slot;
    Access access;
    Disposition disp;
  } kOpens[] = {{0, Access::kRead, Disposition::kOpenExisting},
                {2, Access::kWrite, Disposition::kCreateAlways},
                {3, Access::kWrite, Disposition::kCreateAlways}};
  for (const auto& o : kOpens) {
    if (files_.files[o.slot].Open(files_.names[o.slot], o.access, o.disp) != 0) {
      std::fprintf(warn_, "Error opening %s file.\n", files_.Shown(o.slot).c_str());
      return 0;
    }
  }
  return 1;
}

bool SplitConverter::CloseFiles() {
  warnings_.Flush(warn_);
  return files_.CloseAll(warn_);
}

void SplitConverter::PassLine() { files_.files[2].Write(line_); }

void SplitConverter::PassLine(const char* warning) {
  warnings_.Add(warning);
  warnings_.Add(": ");
  warnings_.Add(Shown(line_));
  warnings_.End(warn_);
  PassLine();
}

void SplitConverter::EmitString(std::string_view key, std::string_view text) {
  // The line goes out while the key's slot is fetched; the two streams are
  // apart, so neither sees the order change.
  const size_t hash = emitted_.Prefetch(key);
  out_.assign("    ").append(key);
  if (key.size() < 60) out_.append(60 - key.size(), ' ');
  out_.append(" \"").append(text).append("\"\n");
  files_.files[3].Write(out_);
  auto [entry, added] = emitted_.Add(key, text, hash);
  if (!added) {
    std::string_view first = emitted_.Text(entry);
    if (first != text) {
      warnings_.Add("WARNING DUPLICATE KEY: ");
      warnings_.Add(key);
      warnings_.Add(" \"");
      warnings_.Add(first);
      warnings_.Add("\" \"");
      warnings_.Add(text);
      warnings_.Add("\"");
      warnings_.End(warn_);
    }
  }
}

void SplitConverter::WriteKeyed(size_t nameAt, std::string_view key, size_t restAt) {
  TextFile& itf = files_.files[2];
  itf.Write(line_.substr(0, nameAt));
  itf.Write("\"\"");
  itf.Write(key);
  itf.Write("\"\"");
  itf.Write(line_.substr(restAt));
}

bool LocalizedSplitter::Split() {
  lead_.Load();
  keyBytes_.Load(lead_);
  prefixStale_ = true;
  bool ok = true;
  TextFile& script = files_.files[0];
  // The strings written are parts of the script's lines: room for them at
  // once instead of copies as the table grows.
  if (int64_t size = script.Size(); size > 0)
    emitted_.Reserve(static_cast<size_t>(size), static_cast<size_t>(size / 128));
  for (;;) {
    int r = script.ReadLine(&line_);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      warnings_.Add("Error reading ");
      warnings_.Add(files_.names[0]);
      warnings_.Add(" file: line too long.");
      warnings_.End(warn_);
      ok = false;
      break;
    }
    char k = line_.size() > 1 ? line_[1] : '\0';
    if (k == 'S' && Is(line_, "SYSTEM=")) {
      SplitSystem();
    } else if (k == 'S' && Is(line_, "SECTION=")) {
      SplitSection();
    } else if (k == 'F' && Is(line_, "FIELD=")) {
      SplitField();
    } else {
      PassLine();
      // The field lines of a list take their system, section and type
      // from the lines before them.
      if (k == 'A' && Is(line_, "APP=")) {
        systemKey_ = TokenAfterEquals(line_);
        prefixStale_ = true;
      } else if (k == 'S' && Is(line_, "SECID=")) {
        sectionNumber_ = TokenAfterEquals(line_);
        prefixStale_ = true;
      } else if (k == 'S' && Is(line_, "SECTYPE=")) {
        sectionType_ = TokenAfterEquals(line_);
        prefixStale_ = true;
      }
    }
    if (!files_.files[2].Good() || !files_.files[3].Good()) {
      ok = false;
      break;
    }
  }
  line_ = std::string_view();
  warnings_.Flush(warn_);
  return ok;
}

void LocalizedSplitter::SplitSystem() {
  size_t eq = line_.find('=');
  size_t comma = line_.find(',', eq + 1);
  if (comma == npos) return PassLine();
  // The key part holds for the lines that follow, keyed or not.
  systemKey_ = line_.substr(eq + 1, comma - eq - 1);
  prefixStale_ = true;
  Quoted q;
  if (!FindQuoted(line_, &q)) return PassLine();
  std::string_view name = line_.substr(q.begin, q.end - q.begin);
  if (name.empty()) return PassLine();  // nothing to translate
  if (!StandsAlone(line_, q)) return PassLine("WARNING NAME QUOTE");
  key_.assign("LOCALIZED_SYSTEM_NAME_").append(systemKey_);
  if (TooLong({systemKey_.size(), name.size(), key_.size()}))
    return PassLine("WARNING PIECE LENGTH");
  if (!KeyTravels(key_)) return PassLine("WARNING KEY");

  WriteKeyed(q.open, key_, q.end + 2);
  EmitString(key_, name);
  if (name.size() > 30) LengthWarning("WARNING SYSTEM LENGTH: ", name);
}

void LocalizedSplitter::SplitSection() {
  size_t eq = line_.find('=');
  size_t c1 = line_.find(',', eq + 1);
  size_t c2 = c1 == npos ? npos : line_.find(',', c1 + 1);
  if (c2 == npos) return PassLine();
  sectionNumber_ = line_.substr(eq + 1, c1 - eq - 1);
  sectionType_ = line_.substr(c1 + 1, c2 - c1 - 1);
  prefixStale_ = true;
  Quoted q;
  if (!FindQuoted(line_, &q)) return PassLine();
  std::string_view name = line_.substr(q.begin, q.end - q.begin);
  if (name.empty()) return PassLine();
  const char* type = SectionTypeName(sectionType_);
  if (!type) return PassLine("WARNING SECTION TYPE");
  if (!StandsAlone(line_, q)) return PassLine("WARNING NAME QUOTE");
  key_.assign("LOCALIZED_").append(systemKey_).append("_SECTION_NAME_").append(type);
  key_.append("_").append(sectionNumber_);
  if (TooLong({systemKey_.size(), sectionNumber_.size(), name.size(), key_.size()}))
    return PassLine("WARNING PIECE LENGTH");
  if (!KeyTravels(key_)) return PassLine("WARNING KEY");

  WriteKeyed(q.open, key_, q.end + 2);
  EmitString(key_, name);
  if (name.size() > 25) LengthWarning("WARNING SECTION LENGTH: ", name);
}

void LocalizedSplitter::SplitField() {
  size_t c1 = line_.find(',');
  size_t c2 = c1 == npos ? npos : line_.find(',', c1 + 1);
  size_t c3 = c2 == npos ? npos : line_.find(',', c2 + 1);
  size_t c4 = c3 == npos ? npos : line_.find(',', c3 + 1);
  Quoted value;
  if (c4 == npos || !FindQuoted(line_, &value)) return PassLine();
  size_t nameBegin = c2 + 3;
  size_t nameEnd = nameBegin <= line_.size() ? line_.find('"', nameBegin) : npos;
  if (nameEnd == npos) return PassLine();
  std::string_view value1 = line_.substr(value.begin, value.end - value.begin);
  std::string_view name = line_.substr(nameBegin, nameEnd - nameBegin);
  std::string_view value4 = line_.substr(c3 + 1, c4 - c3 - 1);
  // Names the translators are not to see.
  if (name.empty() || name[0] == '_' || (!value1.empty() && value1[0] == '_')) return PassLine();
  const char* type = SectionTypeName(sectionType_);
  if (!type) return PassLine("WARNING SECTION TYPE");
  // The label and the name must be the line's second and third subfields.
  Quoted quotedName{c2 + 1, nameBegin, nameEnd};
  if (value.open != c1 + 1 || value.end + 2 != c2 || !StandsAlone(line_, value) ||
      line_.compare(c2 + 1, 2, "\"\"") != 0 || nameEnd + 2 != c3 || !StandsAlone(line_, quotedName))
    return PassLine("WARNING NAME QUOTE");
  if (prefixStale_) {
    key_.assign("LOCALIZED_").append(systemKey_).append("_").append(type).append("_");
    key_.append(sectionNumber_).append("_");
    fieldPrefix_.resize(key_.size());
    prefixPlain_ = MapPlain(keyBytes_, key_, fieldPrefix_.data());
    prefixStale_ = false;
  }
  // Plain ASCII maps byte by byte, so the list's prefix is mapped once.
  key_.assign(fieldPrefix_);
  const size_t at = key_.size();
  key_.resize(at + value1.size() + value4.size());
  if (prefixPlain_ && MapPlain(keyBytes_, value1, key_.data() + at) &&
      MapPlain(keyBytes_, value4, key_.data() + at + value1.size())) {
    key_.append("_FLD_NAME");
  } else {
    key_.assign("LOCALIZED_").append(systemKey_).append("_").append(type).append("_");
    key_.append(sectionNumber_).append("_").append(value1).append(value4).append("_FLD_NAME");
    MakeFieldKey(&key_);
  }
  if (TooLong({systemKey_.size(), sectionNumber_.size(), sectionType_.size(), value1.size(),
               name.size(), value4.size(), key_.size()}))
    return PassLine("WARNING PIECE LENGTH");

  WriteKeyed(c2 + 1, key_, c3);
  EmitString(key_, name);
  if (name.size() >= 31) LengthWarning("WARNING FIELD LENGTH: ", name);
}

void LocalizedSplitter::LengthWarning(const char* what, std::string_view name) {
  warnings_.Add(what);
  warnings_.Add(key_);
  warnings_.Add(" ");
  warnings_.Add(name);
  warnings_.End(warn_);
}
