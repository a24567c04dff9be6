// The merge: the keyed .itf script and the .itr string table become one
// resource script again, every known key replaced by its text.
#include <cstring>

#include "platform/platform.h"
#include "qvdf/resource/localized.h"
#include "qvutil/status.h"

namespace {

using localized::Shown;
constexpr size_t npos = std::string::npos;
constexpr char kIgnoreLocal[] = "@IGNORE_LOCAL@";
constexpr std::string_view kKeyStart = "LOCALIZED_";

// The blanks around a string-table key, by byte.
struct BlankBytes {
  bool is[256] = {};
  constexpr BlankBytes() {
    is[static_cast<unsigned char>(' ')] = is[static_cast<unsigned char>('\t')] = true;
    is[static_cast<unsigned char>('\n')] = is[static_cast<unsigned char>('\r')] = true;
  }
  bool operator()(char c) const { return is[static_cast<unsigned char>(c)]; }
};
constexpr BlankBytes IsBlank;

void Warn(localized::WarningQueue* q, std::FILE* f, const char* what, std::string_view line) {
  q->Add(what);
  q->Add(Shown(line));
  q->End(f);
}

// The length warning a string-table key asks for: its text may be 25
// characters in a key holding SECTION, 30 holding SYSTEM (and not SECTION),
// 30 holding FIELD (and neither); null when the text is short enough.
const char* LengthWarning(std::string_view key, size_t n) {
  if (n < 26) return nullptr;
  bool system = false, field = false;
  for (size_t i = 0; i < key.size(); ++i) {
    std::string_view at = key.substr(i);
    if (key[i] == 'S') {
      if (at.substr(0, 7) == "SECTION") return "WARNING SECTION LENGTH: ";
      if (at.substr(0, 6) == "SYSTEM") system = true;
    } else if (key[i] == 'F' && at.substr(0, 5) == "FIELD") {
      field = true;
    }
  }
  if (n < 31) return nullptr;
  if (system) return "WARNING SYSTEM LENGTH: ";
  if (field) return "WARNING FIELD LENGTH: ";
  return nullptr;
}

// The byte just past the n-th "," of s from `from` on (n >= 1), or npos.
// Commas are searched bytewise: no code page uses one as a trail byte.
size_t AfterComma(std::string_view s, size_t from, int n) {
  for (size_t at = from; at < s.size(); ++at) {
    if (s[at] == ',' && --n == 0) return at + 1;
  }
  return npos;
}

// The index of the name subfield of a system, section or field line, or
// -1 for any other line.
int NameSubfield(std::string_view line) {
  char k = line.size() > 1 ? line[1] : '\0';
  if (k == 'F' && localized::IsKeywordLine(line, "FIELD=")) return 2;
  if (k == 'S' && localized::IsKeywordLine(line, "SYSTEM=")) return 3;
  if (k == 'S' && localized::IsKeywordLine(line, "SECTION=")) return 2;
  return -1;
}

// The attribute subfield of a field line.
constexpr int kFieldAttributes = 9;

}  // namespace

MergeConverter::~MergeConverter() { MergeConverter::Cleanup(); }

void MergeConverter::SetDefaultAttr() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%#08X", 0x1200000u);
  defaultAttr_ = buf;
}

void MergeConverter::Cleanup() {
  warnings_.Flush(warn_);
  files_.CloseAll(warn_);
  if (!tempScript_.empty()) platform::Env::Get()->RemoveFile(tempScript_);
  tempScript_.clear();
  strings_.Clear();
}

bool MergeConverter::Prepare(const std::string& itfName, const std::string& itrName,
                             const std::string& target) {
  SetDefaultAttr();
  if (sourceKind_ != targetKind_) {
    std::string temp;
    if (!localized::MakeTempFile("TXT", warn_, &temp)) return false;
    tempScript_ = temp;
    target_ = target;
    files_.names[2] = temp;
  } else {
    files_.names[2] = target;
  }
  files_.names[0] = itfName;
  files_.names[1] = itrName;
  return true;
}

int MergeConverter::OpenFiles(MessageFn msg) {
  using platform::Access;
  using platform::Disposition;
  platform::Env* env = platform::Env::Get();
  for (int slot = 0; slot < 2; ++slot) {
    const std::string& name = files_.names[slot];
    TextFile& f = files_.files[slot];
    // A file without write permission opens for writing all the same when
    // the process may override permissions; it counts as read-only anyway.
    platform::FileAttributes attrs;
    bool readOnly = env->GetAttributes(name, &attrs) && attrs.read_only;
    if (readOnly || f.Open(name, Access::kReadWrite, Disposition::kOpenExisting) != 0) {
      SendMessage(msg, kLevelDetail, (" Could not open " + name + " for read/write.").c_str());
      if (f.Open(name, Access::kRead, Disposition::kOpenExisting) != 0) {
        std::fprintf(warn_, "Error opening %s file for read-only.\n", name.c_str());
        return 0;
      }
      files_.flags[slot] = 1;
    }
  }
  if (files_.files[2].Open(files_.names[2], Access::kWrite, Disposition::kCreateAlways) != 0) {
    std::fprintf(warn_, "Error opening %s file.\n", files_.names[2].c_str());
    return 0;
  }
  if (files_.flags[0] == 0 && files_.flags[1] == 0) return 1;
  for (int slot = 0; slot < 2; ++slot) {
    if (files_.flags[slot] != 0)
      SendMessage(msg, kLevelDetail, (" File " + files_.names[slot] + " is read-only.").c_str());
  }
  return kReadWithWarnings;
}

bool MergeConverter::Convert() {
  if (sourceKind_ == targetKind_) return true;
  if (converter_.Run(files_.names[2], sourceKind_, target_, targetKind_)) return true;
  std::fprintf(warn_, "Error converting from %s to %s.\n", files_.names[2].c_str(),
               target_.c_str());
  return false;
}

bool MergeConverter::CloseFiles() {
  warnings_.Flush(warn_);
  return files_.CloseAll(warn_);
}

int MergeConverter::LoadStrings() {
  TextFile& itr = files_.files[1];
  // Keys and texts are a part of the file: room for all of them at once,
  // and for an entry per 64 bytes (the split pads each key to 60 columns);
  // a file of shorter lines only grows the entries past that.
  if (int64_t size = itr.Size(); size > 0)
    strings_.Reserve(static_cast<size_t>(size), static_cast<size_t>(size / 64));
  std::string_view line;
  int result = 1;
  for (bool first = true;; first = false) {
    int r = itr.ReadLine(&line);
    if (r == kLineNone) break;
    // Editors that save as UTF-8 may put a byte-order mark first.
    if (first && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (r == kLineTooLong) {
      warnings_.Add("Error reading ");
      warnings_.Add(files_.names[1]);
      warnings_.Add(" file: line too long.");
      warnings_.End(warn_);
      result = 0;
      break;
    }
    size_t kb = 0;
    while (kb < line.size() && IsBlank(line[kb])) ++kb;
    size_t ke = kb;
    while (ke < line.size() && !IsBlank(line[ke])) ++ke;
    size_t q1 = line.find('"');
    size_t q2 = q1 == npos ? npos : line.find('"', q1 + 1);
    if (ke == kb || q2 == npos || q2 == q1 + 1) {
      Warn(&warnings_, warn_, "WARNING: ", line);
      continue;
    }
    std::string_view key = line.substr(kb, ke - kb);
    size_t n = q2 - q1 - 1;
    if (const char* what = LengthWarning(key, n)) Warn(&warnings_, warn_, what, line);
    strings_.Append(key, line.substr(q1 + 1, n));
  }
  warnings_.Flush(warn_);
  return result;
}

bool MergeConverter::FindString(std::string_view key, std::string_view* text) const {
  size_t entry = strings_.Find(key);
  if (entry == KeyTable::npos) return false;
  *text = strings_.Text(entry);
  return true;
}

int MergeConverter::ExtractKey() {
  int index = NameSubfield(line_);
  if (index < 0) return -1;
  // Only the name subfield holds a key: a label or a text elsewhere in the
  // line may hold "LOCALIZED_" too.
  size_t at = AfterComma(line_, 0, index);
  size_t end = at == npos ? npos : line_.find(',', at);
  if (end == npos) return -1;
  std::string_view name = line_.substr(at, end - at);
  bool quoted = name.substr(0, 2) == "\"\"";
  if (quoted) name.remove_prefix(2);
  if (name.substr(0, kKeyStart.size()) != kKeyStart) return -1;
  size_t quote = name.find('"');
  key_ = name.substr(0, quote == npos ? name.size() : quote);
  keyQuoted_ = quoted;
  nameAt_ = at;
  restAt_ = end;
  return static_cast<int>(key_.size());
}

void MergeConverter::CopyLine() { files_.files[2].Write(line_); }

bool LocalizedMerger::Merge() {
  lead_.Load();
  TextFile& itf = files_.files[0];
  TextFile& script = files_.files[2];
  for (;;) {
    int r = itf.ReadLine(&line_);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      std::fprintf(warn_, "Error reading %s file: line too long.\n", files_.names[0].c_str());
      return false;
    }
    if (ExtractKey() < 0) {
      CopyLine();
      continue;
    }
    std::string_view text;
    if (!FindString(key_, &text)) {
      // The key stays in the table as the name: say so, once per key.
      if (missing_.insert(std::string(key_)).second) {
        warnings_.Add("WARNING MISSING KEY: ");
        warnings_.Add(key_);
        warnings_.End(warn_);
      }
      CopyLine();
      continue;
    }
    // A comma would end the name early and shift every subfield after it.
    if (text.find(',') != npos) {
      warnings_.Flush(warn_);
      std::fprintf(warn_, "Error: the text of %.*s holds a comma.\n", static_cast<int>(key_.size()),
                   key_.data());
      return false;
    }
    std::string_view rest = line_.substr(restAt_);
    script.Write(line_.substr(0, nameAt_));
    script.Write("\"\"");
    script.Write(text);
    script.Write("\"\"");
    size_t attr = npos, attrEnd = npos;
    if (text == kIgnoreLocal && NameSubfield(line_) == 2 && line_[1] == 'F') {
      // Such a field takes the default attributes in place of its own.
      attr = AfterComma(rest, 0, kFieldAttributes - 2);
      attrEnd = attr == npos ? npos : rest.find(',', attr);
    }
    if (attrEnd != npos) {
      if (defaultAttr_.empty()) SetDefaultAttr();
      script.Write(rest.substr(0, attr));
      script.Write(defaultAttr_);
      script.Write(rest.substr(attrEnd));
    } else {
      script.Write(rest);
    }
    if (!script.Good()) return false;
  }
  return true;
}
