// The writer thread: started at the first write, it takes one job at a time
// and reports whether every byte reached the file.
#include "qvutil/writebehind.h"

#include <system_error>
#include <utility>

namespace {

bool WriteWhole(platform::FileHandle h, uint64_t off, const unsigned char* p, size_t n) {
  if (n == 0) return true;
  platform::Env* env = platform::Env::Get();
  long w = off == WriteBehind::kHere ? env->WriteFile(h, p, n) : env->WriteAt(h, off, p, n);
  return w >= 0 && static_cast<size_t>(w) == n;
}

}  // namespace

WriteBehind::~WriteBehind() {
  Wait();
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
}

void WriteBehind::Start(platform::FileHandle h, uint64_t off, const void* data, size_t n) {
  h_ = h;
  off_ = off;
  n_ = n;
  data_ = static_cast<const unsigned char*>(data);
  busy_ = true;
  if (!thread_.joinable() && !noThread_) {
    try {
      thread_ = std::thread(&WriteBehind::Run, this);
    } catch (const std::system_error&) {
      noThread_ = true;
    }
  }
  if (noThread_) {
    ok_ = WriteWhole(h_, off_, data_, n_);
    done_ = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    pending_ = true;
    done_ = false;
  }
  cv_.notify_all();
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
  if (noThread_) return ok_;
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait(lock, [this] { return done_; });
  return ok_;
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return pending_ || stop_; });
    if (!pending_) return;
    pending_ = false;
    // The job's fields are the owner's, untouched until it has waited.
    lock.unlock();
    bool ok = WriteWhole(h_, off_, data_, n_);
    lock.lock();
    ok_ = ok;
    done_ = true;
    cv_.notify_all();
  }
}
