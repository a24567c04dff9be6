// The options file "qvoptcfg.cfg" beside the error log (and the system's,
// where an administrator has made one), and the file
// routines over numeric handles that the data file layer and the format
// readers and writers share.
#include "qvutil/options.h"

#include <climits>
#include <cstring>
#include <string>

#include "qvutil/logpath.h"
#include "qvutil/status.h"

namespace {

std::string g_options_path;

// Leading decimal integer of text (after an optional sign), 0 when there is
// none; clamped to the range of int.
int LeadingInt(const std::string& text) {
  size_t i = 0;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) {
      v = static_cast<long long>(INT_MAX) + 1;
      break;
    }
  }
  if (neg) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(v);
}

}  // namespace

std::string GetOptionsPath() {
  if (g_options_path.empty()) {
    platform::PathParts parts = platform::Env::Get()->SplitPath(GetLogFilePath());
    g_options_path = parts.drive + parts.dir + "qvoptcfg.cfg";
  }
  return g_options_path;
}

void OptionsResetForTesting() { g_options_path.clear(); }

int ReadOptionInt(const char* section, const char* key, int def) {
  platform::Env* env = platform::Env::Get();
  // The administrator's settings, where there are any, come first; the
  // user's own file holds the rest and the defaults written back.
  std::string text;
  std::string system = env->SystemConfigDirectory();
  platform::FileAttributes attrs;
  if (!system.empty() && env->GetAttributes(system + "qvoptcfg.cfg", &attrs))
    text = env->ReadProfileString(system + "qvoptcfg.cfg", section, key, "");
  if (text.empty()) text = env->ReadProfileString(GetOptionsPath(), section, key, "");
  if (text.size() > 63) text.resize(63);  // the value buffer holds 64 characters
  if (!text.empty()) return LeadingInt(text);
  WriteOptionInt(section, key, def);
  return def;
}

void WriteOptionInt(const char* section, const char* key, int value) {
  WriteOptionString(section, key, std::to_string(value).c_str());
}

void WriteOptionString(const char* section, const char* key, const char* text) {
  platform::Env::Get()->WriteProfileString(GetOptionsPath(), section, key, text);
}

int OpenFileMode(const char* path, int mode, int* status, FileHandle* handle,
                 const char* /*module*/, int /*line*/) {
  using platform::Access;
  using platform::Disposition;
  Access access;
  Disposition disp;
  switch (mode) {
    case kModeRead:
      access = Access::kRead;
      disp = Disposition::kOpenExisting;
      break;
    case kModeWrite:
      access = Access::kWrite;
      disp = Disposition::kCreateAlways;
      break;
    case kModeAppend:
      access = Access::kWrite;
      disp = Disposition::kAppend;
      break;
    case kModeReadWrite:
      access = Access::kReadWrite;
      disp = Disposition::kOpenExisting;
      break;
    default:
      *handle = platform::kInvalidHandle;
      return kFailed;
  }
  platform::Env* env = platform::Env::Get();
  int err = env->OpenFile(path, access, disp, handle);
  if (err != 0) {
    *handle = platform::kInvalidHandle;
    if (status) {
      *status = static_cast<int>((static_cast<unsigned>(*status) & 0xFFFFu) |
                                 (static_cast<unsigned>(err) & 0xFFFFu) << 16);
    }
    return kFailed;
  }
  if (mode == kModeAppend) env->Seek(*handle, 0, platform::SeekFrom::kEnd);
  return 0;
}

int CloseFileHandle(FileHandle handle, const char* /*module*/, int /*line*/) {
  return platform::Env::Get()->CloseFile(handle);
}

int WriteText(const char* text, FileHandle handle) {
  size_t n = strlen(text);
  return platform::Env::Get()->WriteFile(handle, text, n) == static_cast<long>(n) ? 0 : -1;
}
