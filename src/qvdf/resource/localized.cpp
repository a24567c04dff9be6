// What the split and the merge share: the file set, the section type
// names, temporary files and double-byte aware searching.
#include "qvdf/resource/localized.h"

#include "platform/platform.h"

bool FileSet::CloseAll(std::FILE* warn) {
  bool ok = true;
  for (int i = 0; i < kSlots; ++i) {
    if (!files[i].IsOpen()) continue;
    bool wrote = files[i].Written();
    if (!files[i].Close()) {
      std::fprintf(warn, wrote ? "Error writing %s file.\n" : "Error closing %s file.\n",
                   names[i].c_str());
      ok = false;
    }
  }
  return ok;
}

const char* SectionTypeName(std::string_view type) {
  static const char* const kNames[] = {"APPT",  "DB",      "DOCUMENT", "PHONE",  "TODO",
                                       "GROUPS", "OUTLINE", "EMAIL",    "SPREAD", "EXPENSE"};
  if (type.empty() || type.size() > 3) return nullptr;
  int n = 0;
  for (char c : type) {
    if (c < '0' || c > '9') return nullptr;
    n = n * 10 + (c - '0');
  }
  return n <= 9 ? kNames[n] : nullptr;
}

namespace localized {

bool MakeTempFile(const char* prefix, std::FILE* warn, std::string* path) {
  platform::Env* env = platform::Env::Get();
  std::string dir = env->TempDirectory();
  if (dir.empty()) {
    std::fprintf(warn, "Error finding the temporary directory.\n");
    return false;
  }
  // The file is created here and kept, so that its name stays ours.
  if (env->CreateUniqueFile(dir, prefix, path, nullptr) != 0) {
    std::fprintf(warn, "Error creating a temporary file in %s.\n", dir.c_str());
    return false;
  }
  return true;
}

std::string_view Shown(std::string_view line) {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  return line.substr(0, end);
}

size_t Find(std::string_view s, std::string_view pat, size_t from) {
  platform::Env* env = platform::Env::Get();
  if (pat.empty()) return from <= s.size() ? from : std::string_view::npos;
  for (size_t i = from; i + pat.size() <= s.size();) {
    if (s.compare(i, pat.size(), pat) == 0) return i;
    i += env->IsLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
  }
  return std::string_view::npos;
}

bool IsKeywordLine(std::string_view line, std::string_view keyword) {
  return line.size() > keyword.size() && line.compare(1, keyword.size(), keyword) == 0;
}

}  // namespace localized
