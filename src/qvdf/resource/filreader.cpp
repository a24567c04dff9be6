// The module reader: takes the table resource out of a module (by its full
// path, as data; nothing in it is run) and hands its lines to ReadTxtTable.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/fil.h"
#include "qvdf/resource/rc2.h"
#include "qvutil/status.h"

namespace {
constexpr int kResourceTypeRcdata = 10;
}  // namespace

void FilInput::Release() {
  std::vector<char>().swap(data_);
  end_ = pos_ = 0;
  open_ = false;
  ResetLines();
}

int OpenFilInput(FilInput* f, int version, const char* name, MessageFn msg) {
  f->Release();
  platform::Env* env = platform::Env::Get();
  platform::FileAttributes attrs;
  if (!env->GetAttributes(name, &attrs)) {
    SendMessage(msg, kLevelError, (std::string("File \"") + name + "\" not found.").c_str());
    return kErrNotFound;
  }
  // By full path, so that no other module of that name is picked up.
  std::string path = env->AbsolutePath(name);
  std::vector<char> data;
  if (env->LoadModuleResource(path, kTableResourceName, kResourceTypeRcdata, &data) != 0)
    return kErrBadFormat;
  f->data_ = std::move(data);
  const void* zero =
      f->data_.empty() ? nullptr : std::memchr(f->data_.data(), '\0', f->data_.size());
  f->end_ = zero ? static_cast<size_t>(static_cast<const char*>(zero) - f->data_.data())
                 : f->data_.size();
  f->open_ = true;
  f->Begin(version);
  return 0;
}

int FilInput::NextLine(std::string_view* line, MessageFn) {
  if (!open_) return 0;
  const size_t i = pos_;
  // A line counts only once its LF is read; text after the last LF is not
  // delivered, and the position stays at the end of the data.
  const void* hit = i < end_ ? std::memchr(data_.data() + i, '\n', end_ - i) : nullptr;
  if (!hit) {
    pos_ = end_;
    return 0;
  }
  size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - data_.data());
  line_.clear();
  for (size_t k = i; k < lf; ++k)
    if (data_[k] != '\r') line_.push_back(data_[k]);
  pos_ = lf + 1;
  *line = line_;
  return 1;
}

int CloseFilInput(FilInput* f, const char*, MessageFn) {
  f->Release();
  return 0;
}
