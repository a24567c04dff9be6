// Line reads and buffered writes over a platform file handle for the split
// pair's files.
#include "qvdf/resource/textfile.h"

namespace {
// Queued output is written in pieces of about this size.
constexpr size_t kFlushSize = 64 * 1024;
}  // namespace

int TextFile::Open(const std::string& path, platform::Access access,
                   platform::Disposition disp) {
  Close();
  failed_ = false;
  written_ = false;
  platform::FileHandle h = platform::kInvalidHandle;
  int rc = platform::Env::Get()->OpenFile(path, access, disp, &h);
  if (rc != 0) return rc;
  h_ = h;
  in_.Reset(h_);
  return 0;
}

int TextFile::ReadLine(std::string* line) {
  if (!IsOpen()) {
    line->clear();
    return kLineNone;
  }
  return ReadTextLine(&in_, line);
}

bool TextFile::Write(std::string_view text) {
  if (!IsOpen()) failed_ = true;
  if (failed_) return false;
  written_ = true;
  out_.append(text);
  if (out_.size() >= kFlushSize) Flush();
  return !failed_;
}

bool TextFile::Flush() {
  if (out_.empty() || failed_) {
    out_.clear();
    return !failed_;
  }
  long n = platform::Env::Get()->WriteFile(h_, out_.data(), out_.size());
  if (n < 0 || static_cast<size_t>(n) != out_.size()) failed_ = true;
  out_.clear();
  return !failed_;
}

bool TextFile::Close() {
  if (!IsOpen()) {
    out_.clear();
    return true;
  }
  bool ok = Flush();
  if (platform::Env::Get()->CloseFile(h_) != 0) ok = false;
  h_ = platform::kInvalidHandle;
  in_.Reset(platform::kInvalidHandle);
  return ok;
}
