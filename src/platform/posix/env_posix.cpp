// POSIX environment: construction, files by numeric handle (plain file
// descriptors), module resources through the portable PE reader, sleeping.
#include "platform/posix/env_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "platform/env_internal.h"
#include "platform/pe_resource.h"

namespace platform {

namespace {
thread_local int t_last_error = 0;

// Modules larger than this are not read into memory.
constexpr int64_t kMaxModuleSize = int64_t{256} << 20;
}  // namespace

int SaveLastError() {
  t_last_error = errno ? errno : EIO;
  return t_last_error;
}

PosixEnv::PosixEnv() { LoadCodePage(); }

Env* DefaultEnv() {
  static PosixEnv* env = new PosixEnv;  // never destroyed: used until exit
  return env;
}

void ReloadDefaultEnvSettings() { static_cast<PosixEnv*>(DefaultEnv())->LoadCodePage(); }

int PosixEnv::OpenFile(const std::string& path, Access access, Disposition disp, FileHandle* out) {
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::kRead:
      flags |= O_RDONLY;
      break;
    case Access::kWrite:
      flags |= O_WRONLY;
      break;
    case Access::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (disp) {
    case Disposition::kOpenExisting:
      break;
    case Disposition::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case Disposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case Disposition::kAppend:
      flags |= O_CREAT | O_APPEND;
      break;
  }
  int fd;
  do {
    fd = open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    // A directory opens on POSIX but is no file to read or write.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      errno = EISDIR;
      fd = -1;
    }
  }
  if (fd < 0) {
    *out = kInvalidHandle;
    return SaveLastError();
  }
  *out = fd;
  return 0;
}

long PosixEnv::ReadFile(FileHandle h, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = read(h, static_cast<char*>(buf) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<long>(done);
}

long PosixEnv::WriteFile(FileHandle h, const void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = write(h, static_cast<const char*>(buf) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r < 0) SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    done += static_cast<size_t>(r);
  }
  return static_cast<long>(done);
}

long PosixEnv::ReadAt(FileHandle h, uint64_t off, void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = pread(h, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(off + done));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<long>(done);
}

long PosixEnv::WriteAt(FileHandle h, uint64_t off, const void* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t r =
        pwrite(h, static_cast<const char*>(buf) + done, n - done, static_cast<off_t>(off + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (r < 0) SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    done += static_cast<size_t>(r);
  }
  return static_cast<long>(done);
}

int64_t PosixEnv::Seek(FileHandle h, int64_t off, SeekFrom from) {
  int whence = from == SeekFrom::kBegin     ? SEEK_SET
               : from == SeekFrom::kCurrent ? SEEK_CUR
                                            : SEEK_END;
  off_t r = lseek(h, static_cast<off_t>(off), whence);
  if (r < 0) {
    SaveLastError();
    return -1;
  }
  return r;
}

int64_t PosixEnv::FileSize(FileHandle h) {
  struct stat st;
  if (fstat(h, &st) != 0) {
    SaveLastError();
    return -1;
  }
  return st.st_size;
}

int PosixEnv::CloseFile(FileHandle h) {
  if (h < 0) {
    errno = EBADF;
    SaveLastError();
    return -1;
  }
  // The descriptor is gone even when close reports EINTR; never retry.
  if (close(h) != 0 && errno != EINTR) {
    SaveLastError();
    return -1;
  }
  return 0;
}

int PosixEnv::LastError() { return t_last_error; }

int PosixEnv::LoadModuleResource(const std::string& path, const std::string& name, int type,
                                 std::vector<char>* data) {
  FileHandle h;
  if (OpenFile(path, Access::kRead, Disposition::kOpenExisting, &h) != 0) return 9;
  int64_t size = FileSize(h);
  std::vector<unsigned char> image;
  int rc = 4;
  if (size > 0 && size <= kMaxModuleSize) {
    image.resize(static_cast<size_t>(size));
    if (ReadAt(h, 0, image.data(), image.size()) == static_cast<long>(image.size()))
      rc = FindPeResource(image.data(), image.size(), name, type, data);
  }
  CloseFile(h);
  return rc;
}

void PosixEnv::SleepMs(int ms) {
  if (ms <= 0) return;
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {

void RemoveOne(const char* path) { unlink(path); }

extern "C" void OnInterrupt(int sig) {
  temporary_files::ForEach(RemoveOne);
  static const char kNote[] = "Error: Interrupted\n";
  ssize_t ignored = write(STDOUT_FILENO, kNote, sizeof kNote - 1);
  (void)ignored;
  _exit(128 + sig);
}

}  // namespace

void RemoveTemporaryFilesOnInterrupt() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace platform
