// Profile files on POSIX: the shared text rules of profile_text, with the
// file read under a shared flock and rewritten in place under an exclusive
// one, so that processes reading and writing one options file never see a
// half-written file or lose each other's keys.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/env_posix.h"
#include "platform/profile_text.h"

namespace platform {

namespace {

bool ReadAll(int fd, std::string* out) {
  out->clear();
  char buf[8192];
  off_t off = 0;
  for (;;) {
    ssize_t r = pread(fd, buf, sizeof buf, off);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) return true;
    out->append(buf, static_cast<size_t>(r));
    off += r;
  }
}

bool Lock(int fd, int how) {
  int r;
  do {
    r = flock(fd, how);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

}  // namespace

std::string PosixEnv::ReadProfileString(const std::string& file, const std::string& section,
                                        const std::string& key, const std::string& def) {
  int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SaveLastError();
    return def;
  }
  std::string text;
  bool ok = Lock(fd, LOCK_SH) && ReadAll(fd, &text);
  close(fd);
  if (!ok) return def;
  auto v = ProfileLookup(text, section, key);
  return v ? *v : def;
}

bool PosixEnv::WriteProfileString(const std::string& file, const std::string& section,
                                  const std::string& key, const std::string& value) {
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    SaveLastError();
    return false;
  }
  std::string text;
  bool ok = Lock(fd, LOCK_EX) && ReadAll(fd, &text);
  if (ok) {
    std::string updated = ProfileUpdate(text, section, key, value);
    if (updated != text) {
      ok = WriteAt(fd, 0, updated.data(), updated.size()) == static_cast<long>(updated.size()) &&
           ftruncate(fd, static_cast<off_t>(updated.size())) == 0;
    }
  }
  if (!ok) SaveLastError();
  close(fd);
  return ok;
}

}  // namespace platform
