// The merge: the keyed .itf script and the .itr string table become one
// resource script again, every known key replaced by its text.
#include <cctype>

#include "platform/platform.h"
#include "qvdf/resource/localized.h"

namespace {

using localized::Shown;
constexpr size_t npos = std::string::npos;
constexpr char kIgnoreLocal[] = "@IGNORE_LOCAL@";
constexpr char kKeyStart[] = "LOCALIZED_";
constexpr char kQuotedKeyStart[] = "\"\"LOCALIZED_";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

void Warn(std::FILE* f, const char* what, const std::string& line) {
  std::string_view shown = Shown(line);
  std::fprintf(f, "%s%.*s\n", what, static_cast<int>(shown.size()), shown.data());
}

}  // namespace

MergeConverter::~MergeConverter() { MergeConverter::Cleanup(); }

void MergeConverter::SetDefaultAttr() {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%#08X", 0x1200000u);
  defaultAttr_ = buf;
}

void MergeConverter::Cleanup() {
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
  return 16;
}

bool MergeConverter::Convert() {
  if (sourceKind_ == targetKind_) return true;
  if (converter_.Run(files_.names[2], sourceKind_, target_, targetKind_)) return true;
  std::fprintf(warn_, "Error converting from %s to %s.\n", files_.names[2].c_str(),
               target_.c_str());
  return false;
}

bool MergeConverter::CloseFiles() { return files_.CloseAll(warn_); }

int MergeConverter::LoadStrings() {
  TextFile& itr = files_.files[1];
  std::string line;
  for (;;) {
    int r = itr.ReadLine(&line);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      std::fprintf(warn_, "Error reading %s file: line too long.\n", files_.names[1].c_str());
      return 0;
    }
    size_t kb = 0;
    while (kb < line.size() && IsBlank(line[kb])) ++kb;
    size_t ke = kb;
    while (ke < line.size() && !IsBlank(line[ke])) ++ke;
    size_t q1 = line.find('"');
    size_t q2 = q1 == npos ? npos : line.find('"', q1 + 1);
    if (ke == kb || q2 == npos || q2 == q1 + 1) {
      Warn(warn_, "WARNING: ", line);
      continue;
    }
    std::string_view key = std::string_view(line).substr(kb, ke - kb);
    size_t n = q2 - q1 - 1;
    if (key.find("SECTION") != npos) {
      if (n >= 26) Warn(warn_, "WARNING SECTION LENGTH: ", line);
    } else if (key.find("SYSTEM") != npos) {
      if (n >= 31) Warn(warn_, "WARNING SYSTEM LENGTH: ", line);
    } else if (key.find("FIELD") != npos) {
      if (n >= 31) Warn(warn_, "WARNING FIELD LENGTH: ", line);
    }
    strings_.Add(key, std::string_view(line).substr(q1 + 1, n));
  }
  return 1;
}

bool MergeConverter::FindString(std::string_view key, std::string_view* text) const {
  size_t entry = strings_.Find(key);
  if (entry == KeyTable::npos) return false;
  *text = strings_.Text(entry);
  return true;
}

int MergeConverter::ExtractKey() {
  size_t start = localized::Find(line_, kKeyStart);
  if (start == npos) return -1;
  size_t comma = line_.find(',', start);
  if (comma == npos) return -1;
  size_t quote = line_.find('"', start);
  size_t end = quote != npos && quote < comma ? quote : comma;
  key_.assign(line_, start, end - start);
  return static_cast<int>(key_.size());
}

void MergeConverter::CopyLine() { files_.files[2].Write(line_); }

bool LocalizedMerger::Merge() {
  TextFile& itf = files_.files[0];
  for (;;) {
    int r = itf.ReadLine(&line_);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      std::fprintf(warn_, "Error reading %s file: line too long.\n", files_.names[0].c_str());
      return false;
    }
    bool field = localized::IsKeywordLine(line_, "FIELD=");
    if (!field && !localized::IsKeywordLine(line_, "SYSTEM=") &&
        !localized::IsKeywordLine(line_, "SECTION=")) {
      CopyLine();
      continue;
    }
    std::string_view text;
    if (ExtractKey() < 0 || !FindString(key_, &text)) {
      CopyLine();
      continue;
    }
    size_t place = localized::Find(line_, kQuotedKeyStart);
    if (place == npos) place = localized::Find(line_, kKeyStart);
    size_t restAt = line_.find(',', place);
    if (restAt == npos) {
      CopyLine();
      continue;
    }
    std::string_view rest = std::string_view(line_).substr(restAt);

    out_.assign(line_, 0, place).append("\"\"").append(text).append("\"\"");
    size_t attr = rest.find(",0X");
    if (field && text == kIgnoreLocal && attr != npos) {
      // Such a field takes the default attributes in place of its own.
      if (defaultAttr_.empty()) SetDefaultAttr();
      size_t after = rest.find(',', attr + 1);
      if (after == npos) {
        after = attr + 3;
        while (after < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[after])))
          ++after;
      }
      out_.append(rest.substr(0, attr + 1)).append(defaultAttr_).append(rest.substr(after));
    } else {
      out_.append(rest);
    }
    files_.files[2].Write(out_);
    if (!files_.files[2].Good()) return false;
  }
  return true;
}
