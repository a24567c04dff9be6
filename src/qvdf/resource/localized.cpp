// What the split and the merge share: the file set, the section type
// names, temporary files and double-byte aware searching.
#include "qvdf/resource/localized.h"

#include <cstring>

#include "platform/platform.h"

bool FileSet::CloseAll(std::FILE* warn) {
  bool ok = true;
  for (int i = 0; i < kSlots; ++i) {
    if (!files[i].IsOpen()) continue;
    bool wrote = files[i].Written();
    if (!files[i].Close()) {
      std::fprintf(warn, wrote ? "Error writing %s file.\n" : "Error closing %s file.\n",
                   Shown(i).c_str());
      ok = false;
    }
  }
  return ok;
}

const char* SectionTypeName(std::string_view type) {
  static const char* const kNames[] = {"APPT",   "DB",      "DOCUMENT", "PHONE",  "TODO",
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

void LeadBytes::Load() {
  platform::Env* env = platform::Env::Get();
  any = false;
  for (int c = 0; c < 256; ++c) {
    is[c] = env->IsLeadByte(static_cast<unsigned char>(c));
    any = any || is[c];
  }
}

size_t Find(const LeadBytes& lead, std::string_view s, std::string_view pat, size_t from) {
  if (pat.empty()) return from <= s.size() ? from : std::string_view::npos;
  if (!lead.any) return from <= s.size() ? s.find(pat, from) : std::string_view::npos;
  const char first = pat[0];
  for (size_t i = from; i + pat.size() <= s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (s[i] == first && s.compare(i, pat.size(), pat) == 0) return i;
    i += lead.is[c] ? 2 : 1;
  }
  return std::string_view::npos;
}

void WarningQueue::Add(std::string_view s) {
  if (const void* nul = std::memchr(s.data(), '\0', s.size()))
    s = s.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - s.data()));
  text_.append(s);
}

void WarningQueue::End(std::FILE* f) {
  text_.push_back('\n');
  if (text_.size() >= 64 * 1024) Flush(f);
}

void WarningQueue::Flush(std::FILE* f) {
  if (!text_.empty()) std::fwrite(text_.data(), 1, text_.size(), f);
  text_.clear();
}

}  // namespace localized
