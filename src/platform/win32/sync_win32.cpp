// Named mutexes (CreateMutexA, WaitForSingleObject with no wait,
// ReleaseMutex) and profile files (GetPrivateProfileStringA,
// WritePrivateProfileStringA), as the system provides them.
#include "platform/win32/env_win32.h"

namespace platform {

namespace {

class Win32Mutex : public NamedMutex {
 public:
  explicit Win32Mutex(HANDLE h) : h_(h) {}
  ~Win32Mutex() override {
    if (held_) ReleaseMutex(h_);
    CloseHandle(h_);
  }
  Win32Mutex(const Win32Mutex&) = delete;
  Win32Mutex& operator=(const Win32Mutex&) = delete;

  bool TryLock() override {
    // An abandoned mutex (its holder died) is ours now, as a taken one.
    DWORD r = WaitForSingleObject(h_, 0);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) return false;
    ++held_;
    return true;
  }
  void Unlock() override {
    if (held_ && ReleaseMutex(h_)) --held_;
  }

 private:
  HANDLE h_;
  int held_ = 0;
};

}  // namespace

// The system's mutex namespace is shared by every process: no directory.
std::unique_ptr<NamedMutex> Win32Env::NewNamedMutex(const std::string& name,
                                                    const std::string& /*dir*/) {
  HANDLE h = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!h) {
    SaveLastError();
    return nullptr;
  }
  return std::make_unique<Win32Mutex>(h);
}

std::string Win32Env::ReadProfileString(const std::string& file, const std::string& section,
                                        const std::string& key, const std::string& def) {
  // The call cuts a value that does not fit to size - 1: grow until it fits.
  std::vector<char> buf(256);
  for (;;) {
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), file.c_str());
    if (n + 1 < buf.size() || buf.size() >= (1u << 20)) return std::string(buf.data(), n);
    buf.resize(buf.size() * 4);
  }
}

bool Win32Env::WriteProfileString(const std::string& file, const std::string& section,
                                  const std::string& key, const std::string& value) {
  if (!WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str())) {
    SaveLastError();
    return false;
  }
  return true;
}

}  // namespace platform
