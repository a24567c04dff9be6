// POSIX path strings, code page and program location. "/" is the only
// separator and there is no drive. The code page is chosen by
// TBLCONV_CODEPAGE so that the double-byte paths can run on any machine.
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/env_posix.h"

namespace platform {

PathParts PosixEnv::SplitPath(const std::string& path) {
  PathParts parts;
  size_t slash = path.rfind('/');
  size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  parts.dir = path.substr(0, name_at);
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

std::string PosixEnv::JoinPath(const PathParts& parts) {
  std::string out = parts.dir;
  if (!out.empty() && out.back() != '/') out += '/';
  out += parts.base;
  if (!parts.ext.empty()) {
    if (parts.ext[0] != '.') out += '.';
    out += parts.ext;
  }
  return out;
}

bool PosixEnv::IsSeparator(char c) { return c == '/'; }

bool PosixEnv::IsOptionArgument(const std::string& arg) {
  if (arg.empty()) return false;
  if (arg[0] == '-') return true;
  // "/" also begins every absolute path: "/3" and "/help" are options,
  // "/tmp/in.txt" is a file.
  if (arg[0] == '/') return arg.find('/', 1) == std::string::npos;
  return false;
}

void PosixEnv::LoadCodePage() {
  for (bool& b : lead_) b = false;
  const char* v = getenv("TBLCONV_CODEPAGE");
  if (!v) return;
  auto mark = [this](int lo, int hi) {
    for (int c = lo; c <= hi; ++c) lead_[c] = true;
  };
  if (strcmp(v, "932") == 0) {
    mark(0x81, 0x9F);
    mark(0xE0, 0xFC);
  } else if (strcmp(v, "936") == 0 || strcmp(v, "949") == 0 || strcmp(v, "950") == 0) {
    mark(0x81, 0xFE);
  }
}

bool PosixEnv::IsLeadByte(unsigned char c) { return lead_[c]; }

void PosixEnv::LowerCase(char* s) {
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (lead_[c]) {
      if (!s[1]) break;  // a lone lead byte at the end stays as it is
      ++s;               // the trail byte is not a letter
    } else if (c >= 'A' && c <= 'Z') {
      *s = static_cast<char>(c + ('a' - 'A'));
    }
  }
}

void PosixEnv::UpperCase(char* s) {
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    if (lead_[c]) {
      if (!s[1]) break;
      ++s;
    } else if (c >= 'a' && c <= 'z') {
      *s = static_cast<char>(c - ('a' - 'A'));
    }
  }
}

std::string PosixEnv::ProgramDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  return ProgramDirectoryFrom(exe.substr(0, exe.rfind('/') + 1));
}

std::string PosixEnv::SystemConfigDirectory() { return "/etc/tblconv/"; }

namespace {
bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}
}  // namespace

std::string ProgramDirectoryFrom(const std::string& exe_dir) {
  struct stat st;
  // An installed program never writes beside itself, even where it could
  // (as root): its log and options go to the user's state directory.
  bool installed = exe_dir == "/bin/" || exe_dir == "/sbin/" || EndsWith(exe_dir, "/usr/bin/") ||
                   EndsWith(exe_dir, "/usr/sbin/") || EndsWith(exe_dir, "/usr/local/bin/") ||
                   EndsWith(exe_dir, "/usr/local/sbin/");
  if (!installed && !exe_dir.empty() && stat(exe_dir.c_str(), &st) == 0 &&
      (st.st_mode & 0222) != 0 && access(exe_dir.c_str(), W_OK) == 0)
    return exe_dir;
  // Installed, or in a read-only place: keep the log and options per user.
  std::string state;
  const char* xdg = getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') {
    state = xdg;
  } else {
    const char* home = getenv("HOME");
    std::string h = home && *home ? home : "";
    if (h.empty()) {
      if (struct passwd* pw = getpwuid(getuid())) h = pw->pw_dir ? pw->pw_dir : "";
    }
    if (h.empty()) return Env::Get()->TempDirectory();
    state = h + "/.local/state";
  }
  if (state.back() != '/') state += '/';
  state += "tblconv/";
  DefaultEnv()->MakeDirectories(state);
  return state;
}

}  // namespace platform
