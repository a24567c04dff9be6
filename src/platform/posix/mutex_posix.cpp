// Named mutexes between processes: flock on a lock file in the directory
// the caller names (the error log's, for its rotation), so that every
// process writing one log shares one lock whatever its TMPDIR. The lock
// belongs to the open file, so it is released when the holder closes it or
// dies.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/env_posix.h"

namespace platform {

namespace {

class FlockMutex : public NamedMutex {
 public:
  explicit FlockMutex(int fd) : fd_(fd) {}
  ~FlockMutex() override { close(fd_); }
  FlockMutex(const FlockMutex&) = delete;
  FlockMutex& operator=(const FlockMutex&) = delete;

  bool TryLock() override {
    int r;
    do {
      r = flock(fd_, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    return r == 0;
  }
  void Unlock() override { flock(fd_, LOCK_UN); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<NamedMutex> PosixEnv::NewNamedMutex(const std::string& name,
                                                    const std::string& dir) {
  std::string file = "tblconv-";
  for (char c : name) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    file += alnum ? c : '_';
  }
  std::string path = dir + file + ".lock";
  // Read access suffices for flock; O_NOFOLLOW keeps a planted link from
  // redirecting the create, and owner-only permissions keep other users
  // from holding the lock to stop this user's rotations.
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    SaveLastError();
    return nullptr;
  }
  return std::make_unique<FlockMutex>(fd);
}

}  // namespace platform
