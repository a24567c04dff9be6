// POSIX file names and attributes: the temporary directory, exclusive
// temporary files, attributes, delete, rename without replacing, wildcard
// search, absolute paths and directory creation.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/posix/env_posix.h"
#include "platform/wildcard.h"

namespace platform {

std::string PosixEnv::TempDirectory() {
  const char* names[] = {"TMPDIR", "TMP"};
  std::string dir = "/tmp/";
  for (const char* n : names) {
    const char* v = getenv(n);
    if (v && *v) {
      dir = v;
      break;
    }
  }
  if (dir.back() != '/') dir += '/';
  return dir;
}

int PosixEnv::CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* path,
                               FileHandle* h) {
  std::string base = dir;
  if (!base.empty() && base.back() != '/') base += '/';
  base += prefix.substr(0, 3);
  // Start somewhere time- and process-dependent so that concurrent callers
  // rarely collide; walk the 16-bit space as GetTempFileNameA does.
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  unsigned start = static_cast<unsigned>(ts.tv_nsec / 1000 ^ ts.tv_sec ^ getpid() * 7919u) & 0xFFFF;
  for (unsigned i = 0; i < 0x10000; ++i) {
    unsigned n = (start + i) & 0xFFFF;
    if (n == 0) continue;
    char num[16];
    snprintf(num, sizeof num, "%X", n);
    std::string name = base + num + ".tmp";
    int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST || errno == EINTR) continue;
      return SaveLastError();
    }
    *path = name;
    temporary_files::Add(name);
    if (h)
      *h = fd;
    else
      close(fd);
    return 0;
  }
  errno = EEXIST;
  return SaveLastError();
}

bool PosixEnv::GetAttributes(const std::string& path, FileAttributes* attrs) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) {
    SaveLastError();
    return false;
  }
  attrs->is_directory = S_ISDIR(st.st_mode);
  attrs->size = attrs->is_directory ? 0 : static_cast<uint64_t>(st.st_size);
  // No write bit counts as read-only even for root, as the Windows attribute does.
  attrs->read_only = (st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
  return true;
}

// File names are bytes here; there is no second code page to convert to.
std::string PosixEnv::ToOemPath(const std::string& path) { return path; }

int PosixEnv::RemoveFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) return SaveLastError();
  temporary_files::Forget(path);
  return 0;
}

int PosixEnv::ReplaceFile(const std::string& from, const std::string& to) {
  if (rename(from.c_str(), to.c_str()) != 0) return SaveLastError();
  temporary_files::Forget(from);
  return 0;
}

void PosixEnv::MakeOrdinary(const std::string& path) {
  mode_t mask = umask(0);
  umask(mask);
  chmod(path.c_str(), 0666 & ~mask);
}

std::string PosixEnv::FileIdentity(const std::string& path) {
  struct stat st;
  if (!path.empty() && stat(path.c_str(), &st) == 0)
    return "file " + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  return "path " + AbsolutePath(path);
}

int PosixEnv::RenameFile(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return SaveLastError();
    // File systems without RENAME_NOREPLACE: check first (not atomic).
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) {
      errno = EEXIST;
      return SaveLastError();
    }
    if (rename(from.c_str(), to.c_str()) != 0) return SaveLastError();
  }
  temporary_files::Move(from, to);
  return 0;
}

std::vector<FindMatch> PosixEnv::FindFiles(const std::string& pattern) {
  std::vector<FindMatch> out;
  size_t slash = pattern.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
  std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (mask.empty()) return out;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) {
    SaveLastError();
    return out;
  }
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(mask, name)) continue;
    FindMatch m;
    m.name = dir + name;
    struct stat st;
    if (stat(m.name.c_str(), &st) == 0) {
      m.is_directory = S_ISDIR(st.st_mode);
      m.size = m.is_directory ? 0 : static_cast<uint64_t>(st.st_size);
    }
    out.push_back(std::move(m));
  }
  closedir(d);
  std::sort(out.begin(), out.end(),
            [](const FindMatch& a, const FindMatch& b) { return a.name < b.name; });
  return out;
}

namespace {

// Lexically removes ".", ".." and repeated separators from an absolute path.
std::string Normalise(const std::string& abs) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= abs.size()) {
    size_t j = abs.find('/', i);
    if (j == std::string::npos) j = abs.size();
    std::string p = abs.substr(i, j - i);
    if (p == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!p.empty() && p != ".") {
      parts.push_back(p);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

}  // namespace

std::string PosixEnv::AbsolutePath(const std::string& path) {
  std::string abs = path;
  if (abs.empty() || abs[0] != '/') {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return Normalise("/" + path);
    abs = std::string(cwd) + "/" + path;
  }
  // Resolve links where the path (or its directory) exists, as the path is
  // typed: "link/../x" is x beside the link's target, not beside the link.
  char real[PATH_MAX];
  if (realpath(abs.c_str(), real)) return real;
  size_t slash = abs.rfind('/');
  std::string dir = abs.substr(0, slash ? slash : 1);
  if (realpath(dir.c_str(), real)) {
    std::string r = real;
    if (r.back() != '/') r += '/';
    return r + abs.substr(slash + 1);
  }
  return Normalise(abs);
}

bool PosixEnv::MakeDirectories(const std::string& path) {
  struct stat st;
  if (path.empty()) return false;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirectories(p.substr(0, slash))) return false;
  if (mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) {
    SaveLastError();
    return false;
  }
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
