// Windows path strings ("\" and "/" both separate, "C:" is a drive), the
// system code page (IsDBCSLeadByte, CharLowerA, CharUpperA) and the program
// location (GetModuleFileNameA).
#include "platform/win32/env_win32.h"

namespace platform {

PathParts Win32Env::SplitPath(const std::string& path) {
  PathParts parts;
  size_t at = 0;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = path.substr(0, 2);
    at = 2;
  }
  size_t sep = path.find_last_of("\\/");
  size_t name_at = sep == std::string::npos || sep < at ? at : sep + 1;
  parts.dir = path.substr(at, name_at - at);
  std::string name = path.substr(name_at);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    parts.base = name;
  } else {
    parts.base = name.substr(0, dot);
    parts.ext = name.substr(dot);
  }
  return parts;
}

std::string Win32Env::JoinPath(const PathParts& parts) {
  std::string out = parts.drive + parts.dir;
  if (!parts.dir.empty() && !IsSeparator(parts.dir.back())) out += '\\';
  out += parts.base;
  if (!parts.ext.empty()) {
    if (parts.ext[0] != '.') out += '.';
    out += parts.ext;
  }
  return out;
}

bool Win32Env::IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Win32Env::IsOptionArgument(const std::string& arg) {
  return !arg.empty() && (arg[0] == '/' || arg[0] == '-');
}

bool Win32Env::IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

void Win32Env::LowerCase(char* s) {
  if (*s) CharLowerA(s);
}

void Win32Env::UpperCase(char* s) {
  if (*s) CharUpperA(s);
}

std::string Win32Env::ProgramDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
  std::string exe = n > 0 && n < MAX_PATH ? std::string(buf, n) : std::string();
  size_t sep = exe.find_last_of("\\/");
  return ProgramDirectoryFrom(sep == std::string::npos ? std::string() : exe.substr(0, sep + 1));
}

// Windows keeps everything beside the program (or per user), as it always has.
std::string Win32Env::SystemConfigDirectory() { return std::string(); }

std::string ProgramDirectoryFrom(const std::string& exe_dir) {
  // Writable when a file can be made there (attributes do not tell: a
  // folder's read-only bit means nothing and access lists decide).
  char probe[MAX_PATH];
  if (!exe_dir.empty() && GetTempFileNameA(exe_dir.c_str(), "tbl", 0, probe) != 0) {
    DeleteFileA(probe);
    return exe_dir;
  }
  // Installed in a protected place: keep the log and options per user.
  char base[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", base, sizeof base);
  std::string dir = n > 0 && n < sizeof base ? std::string(base, n) : std::string();
  if (dir.empty()) return DefaultEnv()->TempDirectory();
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  dir += "tblconv\\";
  DefaultEnv()->MakeDirectories(dir);
  return dir;
}

}  // namespace platform
