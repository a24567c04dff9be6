// The writer thread: one per write, joined when the owner waits.
#include "qvutil/writebehind.h"

#include <system_error>
#include <utility>

bool WriteBehind::Write() const {
  if (n_ == 0) return true;
  platform::Env* env = platform::Env::Get();
  long w = off_ == kHere ? env->WriteFile(h_, data_, n_) : env->WriteAt(h_, off_, data_, n_);
  return w >= 0 && static_cast<size_t>(w) == n_;
}

void WriteBehind::Start(platform::FileHandle h, uint64_t off, const void* data, size_t n) {
  h_ = h;
  off_ = off;
  n_ = n;
  data_ = static_cast<const unsigned char*>(data);
  busy_ = true;
  try {
    // The job's fields stay untouched until the thread is joined.
    thread_ = std::thread([this] { ok_ = Write(); });
  } catch (const std::system_error&) {
    ok_ = Write();
  }
}

bool WriteBehind::Pass(platform::FileHandle h, std::unique_ptr<char[]>* buf, size_t* cap,
                       size_t n) {
  bool ok = Wait();
  std::swap(*buf, passed_);
  std::swap(*cap, passedCap_);
  Start(h, kHere, passed_.get(), n);
  return ok;
}

bool WriteBehind::Wait() {
  if (!busy_) return true;
  busy_ = false;
  if (thread_.joinable()) thread_.join();
  return ok_;
}
