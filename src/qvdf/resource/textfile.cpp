// Line reads and buffered writes over a file of the split pair.
#include "qvdf/resource/textfile.h"

int TextFile::Open(const std::string& path, platform::Access access, platform::Disposition disp) {
  Close();
  failed_ = false;
  written_ = false;
  int rc = file_.Open(path, access, disp);
  if (rc != 0) return rc;
  in_.Reset(file_.get());
  out_.Start(file_.get());
  return 0;
}

bool TextFile::Write(std::string_view text) {
  if (!IsOpen()) failed_ = true;
  if (failed_) return false;
  written_ = true;
  out_.Append(text);
  if (!out_.FlushIfFull()) failed_ = true;
  return !failed_;
}

int64_t TextFile::Size() const {
  return IsOpen() ? platform::Env::Get()->FileSize(file_.get()) : -1;
}

bool TextFile::Close() {
  if (!IsOpen()) return true;
  bool ok = out_.Finish() && !failed_;
  if (file_.Close() != 0) ok = false;
  in_.Reset(platform::kInvalidHandle);
  out_.Start(platform::kInvalidHandle);
  return ok;
}
