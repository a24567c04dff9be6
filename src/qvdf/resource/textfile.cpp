// Line reads and buffered writes over a platform file handle for the split
// pair's files. Lines are found with memchr and handed out as views into
// the read buffer, so a line costs no copy and no per-byte loop.
#include "qvdf/resource/textfile.h"

#include <cstring>

namespace {
// Bytes asked of each read. The buffer holds one read after the unread
// start of a line, which is never longer than kMaxLineLength.
constexpr size_t kReadSize = 256 * 1024;
constexpr size_t kInSize = kMaxLineLength + kReadSize;
constexpr char kCtrlZ = 0x1A;
}  // namespace

int TextFile::Open(const std::string& path, platform::Access access, platform::Disposition disp) {
  Close();
  failed_ = false;
  written_ = false;
  platform::FileHandle h = platform::kInvalidHandle;
  int rc = platform::Env::Get()->OpenFile(path, access, disp, &h);
  if (rc != 0) return rc;
  h_ = h;
  inPos_ = inEnd_ = 0;
  inEof_ = false;
  if (!out_) {
    out_ = std::make_unique<char[]>(kOutSize);
    outCap_ = kOutSize;
  }
  outLen_ = 0;
  return 0;
}

int64_t TextFile::Size() const {
  return IsOpen() ? platform::Env::Get()->FileSize(h_) : -1;
}

bool TextFile::Fill() {
  if (inEof_) return false;
  if (!in_) in_ = std::make_unique<char[]>(kInSize);
  size_t kept = inEnd_ - inPos_;
  if (inPos_ != 0) std::memmove(in_.get(), in_.get() + inPos_, kept);
  inPos_ = 0;
  inEnd_ = kept;
  long n = platform::Env::Get()->ReadFile(h_, in_.get() + kept, kInSize - kept);
  if (n <= 0) {
    // End of input and a failed read are not told apart.
    inEof_ = true;
    return false;
  }
  inEnd_ += static_cast<size_t>(n);
  return true;
}

int TextFile::ReadLine(std::string_view* line) {
  *line = std::string_view();
  if (!IsOpen()) return kLineNone;
  size_t scanned = 0;  // bytes at inPos_ known to hold neither LF nor 0x1A
  for (;;) {
    const char* p = in_ ? in_.get() + inPos_ : nullptr;
    size_t avail = inEnd_ - inPos_;
    size_t n = avail;
    if (avail > scanned) {
      const void* nl = std::memchr(p + scanned, '\n', avail - scanned);
      if (nl) n = static_cast<size_t>(static_cast<const char*>(nl) - p);
      if (const void* z = std::memchr(p + scanned, kCtrlZ, n - scanned)) {
        size_t keep = static_cast<size_t>(static_cast<const char*>(z) - p);
        if (keep > kMaxLineLength) return kLineTooLong;
        *line = std::string_view(p, keep);
        inPos_ += keep + 1;
        return keep == 0 ? kLineNone : kLineRead;
      }
      if (nl) {
        if (n + 1 > kMaxLineLength) return kLineTooLong;
        *line = std::string_view(p, n + 1);
        inPos_ += n + 1;
        return kLineRead;
      }
    }
    if (avail > kMaxLineLength) return kLineTooLong;
    scanned = avail;
    if (!Fill()) {
      if (avail == 0) return kLineNone;
      *line = std::string_view(in_.get() + inPos_, avail);
      inPos_ = inEnd_;
      return kLineRead;
    }
  }
}

bool TextFile::Flush() {
  if (outLen_ == 0 || failed_) {
    outLen_ = 0;
    return !failed_;
  }
  if (!behind_.Pass(h_, &out_, &outCap_, outLen_)) failed_ = true;
  if (!out_) {
    out_ = std::make_unique<char[]>(kOutSize);
    outCap_ = kOutSize;
  }
  outLen_ = 0;
  return !failed_;
}

bool TextFile::Drain() {
  bool ok = Flush();
  if (!behind_.Wait()) failed_ = true;
  return ok && !failed_;
}

bool TextFile::WriteLarge(std::string_view text) {
  // The queue, then the piece straight from the caller's memory.
  if (!Drain()) return false;
  long n = platform::Env::Get()->WriteFile(h_, text.data(), text.size());
  if (n < 0 || static_cast<size_t>(n) != text.size()) failed_ = true;
  return !failed_;
}

bool TextFile::Close() {
  if (!IsOpen()) {
    outLen_ = 0;
    return true;
  }
  bool ok = Drain();
  if (platform::Env::Get()->CloseFile(h_) != 0) ok = false;
  h_ = platform::kInvalidHandle;
  inPos_ = inEnd_ = 0;
  inEof_ = false;
  return ok;
}
