// The line reader, the output buffer with its writer thread, and the
// random-access file with its cache window.
#include "qvutil/fileio.h"

#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace {

platform::Env* Env() { return platform::Env::Get(); }

constexpr char kCtrlZ = 0x1A;
// Bytes asked of each read; the buffer holds one read after the unread
// start of a line, which is never longer than kMaxLineLength.
constexpr size_t kReadSize = 256 * 1024;
constexpr size_t kReadBuffer = kMaxLineLength + kReadSize;

}  // namespace

// ---- LineReader

void LineReader::Reset(platform::FileHandle h) {
  h_ = h;
  pos_ = end_ = 0;
  eof_ = h == platform::kInvalidHandle;
  count_ = 0;
}

bool LineReader::Fill() {
  if (eof_) return false;
  if (!buf_) buf_.reset(new char[kReadBuffer]);
  size_t kept = end_ - pos_;
  if (pos_ != 0 && kept) std::memmove(buf_.get(), buf_.get() + pos_, kept);
  pos_ = 0;
  end_ = kept;
  long n = Env()->ReadFile(h_, buf_.get() + kept, kReadBuffer - kept);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<size_t>(n);
  return true;
}

int LineReader::Next(std::string_view* line) {
  *line = std::string_view();
  size_t scanned = 0;  // bytes at pos_ known to hold neither LF nor 0x1A
  for (;;) {
    const char* p = buf_ ? buf_.get() + pos_ : nullptr;
    size_t avail = end_ - pos_;
    if (avail > scanned) {
      const void* nl = std::memchr(p + scanned, '\n', avail - scanned);
      size_t n = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : avail;
      if (const void* z = std::memchr(p + scanned, kCtrlZ, n - scanned)) {
        size_t keep = static_cast<size_t>(static_cast<const char*>(z) - p);
        if (keep > kMaxLineLength) return kLineTooLong;
        *line = std::string_view(p, keep);
        pos_ += keep + 1;
        if (keep == 0) return kLineNone;
        ++count_;
        return kLineRead;
      }
      if (nl) {
        if (n + 1 > kMaxLineLength) return kLineTooLong;
        *line = std::string_view(p, n + 1);
        pos_ += n + 1;
        ++count_;
        return kLineRead;
      }
    }
    if (avail > kMaxLineLength) return kLineTooLong;
    scanned = avail;
    if (!Fill()) {
      if (avail == 0) return kLineNone;
      *line = std::string_view(buf_.get() + pos_, avail);
      pos_ = end_;
      ++count_;
      return kLineRead;
    }
  }
}

// ---- OutputBuffer

void OutputBuffer::Start(platform::FileHandle h, uint64_t at) {
  Wait();
  h_ = h;
  start_ = at;
  len_ = 0;
  failed_ = false;
}

void OutputBuffer::Grow(size_t n) {
  size_t want = cap_ ? cap_ * 2 : kPiece + 4096;
  if (want < len_ + n) want = len_ + n;
  std::unique_ptr<char[]> bigger(new char[want]);
  if (len_) std::memcpy(bigger.get(), buf_.get(), len_);
  buf_ = std::move(bigger);
  cap_ = want;
}

void OutputBuffer::Append(std::string_view s) {
  char* d = Room(s.size());
  if (!s.empty()) std::memcpy(d, s.data(), s.size());
  Commit(d + s.size());
}

bool OutputBuffer::Write(const char* p, size_t n, uint64_t off) const {
  if (n == 0) return true;
  long w = off == kHere ? Env()->WriteFile(h_, p, n) : Env()->WriteAt(h_, off, p, n);
  return w >= 0 && static_cast<size_t>(w) == n;
}

bool OutputBuffer::Wait() {
  if (busy_) {
    busy_ = false;
    if (thread_.joinable()) thread_.join();
    if (!flightOk_) Fail();
  }
  return !failed_;
}

bool OutputBuffer::Flush() {
  if (failed_) {
    len_ = 0;
    return false;
  }
  if (len_ == 0) return true;
  if (!Wait()) return false;
  // The held bytes become the piece in flight; the free buffer takes their
  // place (grown by the next Room when there is none yet).
  std::swap(buf_, spare_);
  std::swap(cap_, spareCap_);
  flightOff_ = start_;
  flightLen_ = len_;
  if (start_ != kHere) start_ += len_;
  len_ = 0;
  busy_ = true;
  try {
    // The piece and its range stay untouched until the thread is joined.
    thread_ = std::thread([this] { flightOk_ = Write(spare_.get(), flightLen_, flightOff_); });
  } catch (const std::system_error&) {
    flightOk_ = Write(spare_.get(), flightLen_, flightOff_);
  }
  return true;
}

bool OutputBuffer::Finish() {
  bool ok = Flush();
  return Wait() && ok;
}

bool OutputBuffer::WriteHeldNow() {
  if (!Wait()) return false;
  if (len_ == 0) return true;
  if (!Write(buf_.get(), len_, start_)) {
    Fail();
    return false;
  }
  if (start_ != kHere) start_ += len_;
  len_ = 0;
  return true;
}

// ---- RandomFile

void RandomFile::Attach(platform::FileHandle h, uint64_t end) {
  h_ = h;
  cacheLen_ = 0;
  out_.Start(h, end);
}

void RandomFile::Detach() {
  out_.Wait();
  out_.Start(platform::kInvalidHandle, 0);
  h_ = platform::kInvalidHandle;
  cacheLen_ = 0;
}

bool RandomFile::CacheReady() {
  if (!cache_) cache_.reset(new (std::nothrow) unsigned char[kCacheSize]);
  return cache_ != nullptr;
}

void RandomFile::CacheOverlap(uint64_t off, const void* data, size_t n) {
  const auto* src = static_cast<const unsigned char*>(data);
  uint64_t end = cacheStart_ + cacheLen_;
  if (cacheLen_ && off < end && off + n > cacheStart_) {
    uint64_t from = off > cacheStart_ ? off : cacheStart_;
    uint64_t to = off + n < end ? off + n : end;
    std::memcpy(cache_.get() + (from - cacheStart_), src + (from - off), to - from);
  }
}

// Keeps the window equal to the file after a write: the overlap is copied
// in, and a write that continues the window (or starts a new one when it
// does not) is taken in as far as the window holds.
void RandomFile::CacheWritten(uint64_t off, const void* data, size_t n) {
  const auto* src = static_cast<const unsigned char*>(data);
  uint64_t end = cacheStart_ + cacheLen_;
  CacheOverlap(off, data, n);
  if (cacheLen_ && off + n <= end) return;
  if (cacheLen_ && off >= cacheStart_ && off <= end && off + n - cacheStart_ <= kCacheSize) {
    std::memcpy(cache_.get() + (end - cacheStart_), src + (end - off), off + n - end);
    cacheLen_ = off + n - cacheStart_;
  } else if (n <= kCacheSize && CacheReady()) {
    std::memcpy(cache_.get(), src, n);
    cacheStart_ = off;
    cacheLen_ = n;
  }
}

bool RandomFile::LoseHeld() {
  out_.Fail();
  cacheLen_ = 0;
  return false;
}

bool RandomFile::Flush() {
  if (!out_.WriteHeldNow()) return LoseHeld();
  return true;
}

long RandomFile::ReadAt(uint64_t off, void* dst, size_t n) {
  const size_t held = out_.held();
  const uint64_t heldAt = out_.heldStart();
  if (held && off >= heldAt && off + n <= heldAt + held) {
    if (n) std::memcpy(dst, out_.heldData() + (off - heldAt), n);
    return static_cast<long>(n);
  }
  // The writer thread only reads the piece it writes.
  if (out_.WithinFlight(off, n)) {
    if (n) std::memcpy(dst, out_.flightData() + (off - out_.flightOffset()), n);
    return static_cast<long>(n);
  }
  if (held && off + n > heldAt && !Flush()) return -1;
  if (cacheLen_ && off >= cacheStart_ && off + n <= cacheStart_ + cacheLen_) {
    if (n) std::memcpy(dst, cache_.get() + (off - cacheStart_), n);
    return static_cast<long>(n);
  }
  if (n > kCacheSize / 2 || !CacheReady()) {
    if (out_.TouchesFlight(off, n) && !out_.Wait()) {
      LoseHeld();
      return -1;
    }
    return Env()->ReadAt(h_, off, dst, n);
  }
  // The window stops where the held bytes begin: the file is not yet them.
  size_t want = kCacheSize;
  if (out_.held() && out_.heldStart() - off < want)
    want = static_cast<size_t>(out_.heldStart() - off);
  if (out_.TouchesFlight(off, want) && !out_.Wait()) {
    LoseHeld();
    return -1;
  }
  cacheLen_ = 0;
  long got = Env()->ReadAt(h_, off, cache_.get(), want);
  if (got < 0) return got;
  cacheStart_ = off;
  cacheLen_ = static_cast<size_t>(got);
  size_t take = n < cacheLen_ ? n : cacheLen_;
  if (take) std::memcpy(dst, cache_.get(), take);
  return static_cast<long>(take);
}

bool RandomFile::WriteAt(uint64_t off, const void* src, size_t n) {
  if (n == 0) return true;
  if (out_.failed()) return false;
  const size_t held = out_.held();
  const uint64_t heldAt = out_.heldStart();
  if (held && off >= heldAt && off + n <= heldAt + held) {
    std::memcpy(out_.heldData() + (off - heldAt), src, n);
    CacheOverlap(off, src, n);
    return true;
  }
  if (held && off + n > heldAt && !Flush()) return false;
  if (out_.TouchesFlight(off, n) && !out_.Wait()) return LoseHeld();
  long w = Env()->WriteAt(h_, off, src, n);
  if (w < 0 || static_cast<size_t>(w) != n) {
    cacheLen_ = 0;
    return false;
  }
  CacheWritten(off, src, n);
  return true;
}

char* RandomFile::AppendRoom(size_t n) {
  if (out_.failed()) return nullptr;
  // A full piece of blocks goes out on the writer thread.
  if (out_.held() && out_.held() + n > OutputBuffer::kPiece && !out_.Flush()) {
    LoseHeld();
    return nullptr;
  }
  return out_.Room(n);
}

void RandomFile::CommitAppend(const char* end) {
  const uint64_t off = out_.end();
  const char* at = out_.heldData() + out_.held();
  out_.Commit(end);
  CacheOverlap(off, at, static_cast<size_t>(end - at));
}
