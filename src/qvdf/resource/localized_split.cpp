// The split: a resource script becomes the keyed .itf script and the .itr
// string table. A line whose names cannot be keyed safely (a quote inside a
// name, an unknown section type, a piece too long to key) goes to the .itf
// unchanged with a warning, so that the merge always gives back the script.
//
// Quotes, commas and "=" are searched bytewise: no code page the tool
// supports uses them as the second byte of a double-byte character.
#include <cctype>
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
bool FindQuoted(const std::string& line, Quoted* q) {
  size_t open = line.find("\"\"", 1);
  if (open == npos) return false;
  size_t end = line.find('"', open + 2);
  if (end == npos) return false;
  *q = {open, open + 2, end};
  return true;
}

// A name stands alone in its subfield: a "," before its opening "" and its
// closing "" followed by ",". Otherwise the name holds a quote.
bool StandsAlone(const std::string& line, const Quoted& q) {
  return q.open > 0 && line[q.open - 1] == ',' && line.compare(q.end, 3, "\"\",") == 0;
}

// A key travels through the .itr as one run of characters without blanks
// and is cut at the first quote or comma by the merge.
bool KeyTravels(const std::string& key) {
  return key.find_first_of(" \t\r\n\",") == npos && key.size() <= kMaxPiece;
}

// The first run after "=" free of blanks, quotes, commas and backslashes.
std::string TokenAfterEquals(const std::string& line) {
  static const char kStop[] = " \t\n\r\",\\";
  size_t eq = line.find('=');
  if (eq == npos) return std::string();
  size_t b = line.find_first_not_of(kStop, eq + 1);
  if (b == npos) return std::string();
  size_t e = line.find_first_of(kStop, b);
  return line.substr(b, (e == npos ? line.size() : e) - b);
}

// Upper case, and every character other than a letter, a digit or "_"
// (a double-byte character counts as one) made "_".
std::string FieldKey(const std::string& raw) {
  platform::Env* env = platform::Env::Get();
  std::vector<char> buf(raw.begin(), raw.end());
  buf.push_back('\0');
  env->UpperCase(buf.data());
  std::string key;
  key.reserve(raw.size());
  for (size_t i = 0; i < raw.size() && buf[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(buf[i]);
    if (env->IsLeadByte(c) && i + 1 < raw.size()) {
      key.push_back('_');
      ++i;
    } else if (c < 0x80 && (std::isalnum(c) || c == '_')) {
      key.push_back(static_cast<char>(c));
    } else {
      key.push_back('_');
    }
  }
  return key;
}

bool TooLong(std::initializer_list<const std::string*> pieces) {
  for (const std::string* p : pieces)
    if (p->size() > kMaxPiece) return true;
  return false;
}

}  // namespace

SplitConverter::~SplitConverter() {
  files_.CloseAll(warn_);
  if (!tempScript_.empty()) platform::Env::Get()->RemoveFile(tempScript_);
}

bool SplitConverter::Prepare(const std::string& source, const std::string& itfName,
                             const std::string& itrName) {
  if (sourceKind_ != intermediateKind_) {
    std::string temp;
    if (!localized::MakeTempFile("TXT", warn_, &temp)) return false;
    tempScript_ = temp;
    tableFile_ = source;
    files_.names[0] = temp;
  } else {
    files_.names[0] = source;
  }
  files_.names[2] = itfName;
  files_.names[3] = itrName;
  return true;
}

bool SplitConverter::Convert() {
  if (sourceKind_ == intermediateKind_) return true;
  if (converter_.Run(tableFile_, sourceKind_, files_.names[0], intermediateKind_)) return true;
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
      std::fprintf(warn_, "Error opening %s file.\n", files_.names[o.slot].c_str());
      return 0;
    }
  }
  return 1;
}

bool SplitConverter::CloseFiles() { return files_.CloseAll(warn_); }

void SplitConverter::PassLine() { files_.files[2].Write(line_); }

void SplitConverter::PassLine(const char* warning) {
  std::string_view shown = Shown(line_);
  std::fprintf(warn_, "%s: %.*s\n", warning, static_cast<int>(shown.size()), shown.data());
  PassLine();
}

void SplitConverter::EmitString(const std::string& key, const std::string& text) {
  auto [entry, added] = emitted_.Add(key, text);
  if (!added) {
    std::string_view first = emitted_.Text(entry);
    if (first != text)
      std::fprintf(warn_, "WARNING DUPLICATE KEY: %s \"%.*s\" \"%s\"\n", key.c_str(),
                   static_cast<int>(first.size()), first.data(), text.c_str());
  }
  out_.assign("    ").append(key);
  if (key.size() < 60) out_.append(60 - key.size(), ' ');
  out_.append(" \"").append(text).append("\"\n");
  files_.files[3].Write(out_);
}

void SplitConverter::WriteKeyed(size_t nameAt, const std::string& key, size_t restAt) {
  out_.assign(line_, 0, nameAt).append("\"\"").append(key).append("\"\"");
  out_.append(line_, restAt, npos);
  files_.files[2].Write(out_);
}

bool LocalizedSplitter::Split() {
  TextFile& script = files_.files[0];
  for (;;) {
    int r = script.ReadLine(&line_);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      std::fprintf(warn_, "Error reading %s file: line too long.\n", files_.names[0].c_str());
      return false;
    }
    if (localized::IsKeywordLine(line_, "SYSTEM=")) {
      SplitSystem();
    } else if (localized::IsKeywordLine(line_, "SECTION=")) {
      SplitSection();
    } else if (localized::IsKeywordLine(line_, "FIELD=")) {
      SplitField();
    } else {
      PassLine();
      // The field lines of a list take their system, section and type
      // from the lines before them.
      if (localized::IsKeywordLine(line_, "APP="))
        systemKey_ = TokenAfterEquals(line_);
      else if (localized::IsKeywordLine(line_, "SECID="))
        sectionNumber_ = TokenAfterEquals(line_);
      else if (localized::IsKeywordLine(line_, "SECTYPE="))
        sectionType_ = TokenAfterEquals(line_);
    }
    if (!files_.files[2].Good() || !files_.files[3].Good()) return false;
  }
  return true;
}

void LocalizedSplitter::SplitSystem() {
  size_t eq = line_.find('=');
  size_t comma = line_.find(',', eq + 1);
  if (comma == npos) return PassLine();
  // The key part holds for the lines that follow, keyed or not.
  systemKey_ = line_.substr(eq + 1, comma - eq - 1);
  Quoted q;
  if (!FindQuoted(line_, &q)) return PassLine();
  systemName_ = line_.substr(q.begin, q.end - q.begin);
  if (systemName_.empty()) return PassLine();  // nothing to translate
  if (!StandsAlone(line_, q)) return PassLine("WARNING NAME QUOTE");
  std::string key = "LOCALIZED_SYSTEM_NAME_" + systemKey_;
  if (TooLong({&systemKey_, &systemName_, &key})) return PassLine("WARNING PIECE LENGTH");
  if (!KeyTravels(key)) return PassLine("WARNING KEY");

  WriteKeyed(q.open, key, q.end + 2);
  EmitString(key, systemName_);
  if (systemName_.size() > 30)
    std::fprintf(warn_, "WARNING SYSTEM LENGTH: %s %s\n", key.c_str(), systemName_.c_str());
}

void LocalizedSplitter::SplitSection() {
  size_t eq = line_.find('=');
  size_t c1 = line_.find(',', eq + 1);
  size_t c2 = c1 == npos ? npos : line_.find(',', c1 + 1);
  if (c2 == npos) return PassLine();
  sectionNumber_ = line_.substr(eq + 1, c1 - eq - 1);
  sectionType_ = line_.substr(c1 + 1, c2 - c1 - 1);
  Quoted q;
  if (!FindQuoted(line_, &q)) return PassLine();
  sectionName_ = line_.substr(q.begin, q.end - q.begin);
  if (sectionName_.empty()) return PassLine();
  const char* type = SectionTypeName(sectionType_);
  if (!type) return PassLine("WARNING SECTION TYPE");
  if (!StandsAlone(line_, q)) return PassLine("WARNING NAME QUOTE");
  std::string key =
      "LOCALIZED_" + systemKey_ + "_SECTION_NAME_" + type + "_" + sectionNumber_;
  if (TooLong({&systemKey_, &sectionNumber_, &sectionName_, &key}))
    return PassLine("WARNING PIECE LENGTH");
  if (!KeyTravels(key)) return PassLine("WARNING KEY");

  WriteKeyed(q.open, key, q.end + 2);
  EmitString(key, sectionName_);
  if (sectionName_.size() > 25)
    std::fprintf(warn_, "WARNING SECTION LENGTH: %s %s\n", key.c_str(), sectionName_.c_str());
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
  fieldValue1_ = line_.substr(value.begin, value.end - value.begin);
  fieldName_ = line_.substr(nameBegin, nameEnd - nameBegin);
  fieldValue4_ = line_.substr(c3 + 1, c4 - c3 - 1);
  // Names the translators are not to see.
  if (fieldName_.empty() || fieldName_[0] == '_' ||
      (!fieldValue1_.empty() && fieldValue1_[0] == '_'))
    return PassLine();
  const char* type = SectionTypeName(sectionType_);
  if (!type) return PassLine("WARNING SECTION TYPE");
  // The label and the name must be the line's second and third subfields.
  Quoted name{c2 + 1, nameBegin, nameEnd};
  if (value.open != c1 + 1 || value.end + 2 != c2 || !StandsAlone(line_, value) ||
      line_.compare(c2 + 1, 2, "\"\"") != 0 || nameEnd + 2 != c3 || !StandsAlone(line_, name))
    return PassLine("WARNING NAME QUOTE");
  std::string key = FieldKey("LOCALIZED_" + systemKey_ + "_" + type + "_" + sectionNumber_ + "_" +
                             fieldValue1_ + fieldValue4_ + "_FLD_NAME");
  if (TooLong({&systemKey_, &sectionNumber_, &sectionType_, &fieldValue1_, &fieldName_,
               &fieldValue4_, &key}))
    return PassLine("WARNING PIECE LENGTH");

  WriteKeyed(c2 + 1, key, c3);
  EmitString(key, fieldName_);
  if (fieldName_.size() >= 31)
    std::fprintf(warn_, "WARNING FIELD LENGTH: %s %s\n", key.c_str(), fieldName_.c_str());
}
