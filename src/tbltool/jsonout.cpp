// The streaming JSON writer.
#include "tbltool/jsonout.h"

#include <charconv>

#include "tbltool/bytes.h"

namespace tbltool {

JsonOut::JsonOut(std::FILE* f) : f_(f), buf_(new char[kFlushAt + kSlack]), p_(buf_.get()) {}

void JsonOut::Int(int64_t v) {
  Value();
  p_ = std::to_chars(p_, p_ + 24, v).ptr;
}

void JsonOut::Text(std::string_view bytes) {
  Value();
  *p_++ = '"';
  p_ = PutJsonText(p_, bytes);
  *p_++ = '"';
  Spill();
}

void JsonOut::Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  Value();
  *p_++ = '"';
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    *p_++ = kDigits[b >> 4];
    *p_++ = kDigits[b & 15];
  }
  *p_++ = '"';
  Spill();
}

bool JsonOut::Flush() {
  size_t n = static_cast<size_t>(p_ - buf_.get());
  if (n > 0 && !failed_ && std::fwrite(buf_.get(), 1, n, f_) != n) failed_ = true;
  p_ = buf_.get();
  if (!failed_ && std::fflush(f_) != 0) failed_ = true;
  return !failed_;
}

}  // namespace tbltool
