// Helpers of the text-table record readers: value fetching into pooled
// buffers, the subfield walk, message composition, and cutting text to the
// size of a record field.
#include <charconv>
#include <cstring>
#include <new>
#include <vector>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader_internal.h"
#include "qvutil/status.h"

namespace txtread {

namespace {

// Buffers handed back by ValueBuffer; the readers nest a few levels deep, so
// a few slots keep every buffer in use again. A plain array: one is lent
// for every record line.
struct BufferPool {
  static constexpr int kSlots = 8;
  char* slot[kSlots];
  int n = 0;
  ~BufferPool() {
    while (n > 0) delete[] slot[--n];
  }
};
BufferPool pool;

}  // namespace

ValueBuffer::ValueBuffer() {
  p_ = pool.n > 0 ? pool.slot[--pool.n] : new char[kValueCap];
  p_[0] = '\0';
}

ValueBuffer::~ValueBuffer() {
  if (pool.n < BufferPool::kSlots) {
    pool.slot[pool.n++] = p_;
  } else {
    delete[] p_;
  }
}

Fetch FetchValue(ValueSource& getter, const char* key, ValueBuffer* buf, MessageFn msg) {
  int r = getter.GetValue(key, buf->data(), buf->size(), msg);
  if (r == kValueFound) return Fetch::kFound;
  if (r == kValueOtherKey || r == kValueEnd) return Fetch::kAbsent;
  return Fetch::kFailed;
}

int Require(ValueSource& getter, const char* key, const char* what, ValueBuffer* buf,
            MessageFn msg) {
  Fetch got = FetchValue(getter, key, buf, msg);
  if (got == Fetch::kFailed) return kFailed;
  if (got == Fetch::kAbsent)
    return Fail(msg, std::string("***ERROR: Expected ") + what + " record");
  return 0;
}

Msg& Msg::operator<<(std::string_view text) {
  if (!spilled_ && len_ + text.size() < sizeof buf_) {
    std::memcpy(buf_ + len_, text.data(), text.size());
    len_ += text.size();
  } else {
    // Past the buffer the message goes on in a string: rare and long.
    if (!spilled_) long_.assign(buf_, len_);
    spilled_ = true;
    long_.append(text);
  }
  return *this;
}

Msg& Msg::operator<<(long long v) {
  char digits[24];
  std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, v);
  return *this << std::string_view(digits, static_cast<size_t>(r.ptr - digits));
}

void Msg::Send(MessageFn fn, int level) {
  if (spilled_) {
    SendMessage(fn, level, long_.c_str());
  } else {
    buf_[len_] = '\0';
    SendMessage(fn, level, buf_);
  }
}

Subfields::Subfields(std::string_view value) : p_(value.data()), n_(value.size()) {
  if (n_ > 0) LoadWindow();
}

size_t Subfields::NextSeparator() {
  while (mask_ == 0) {
    if (n_ - win_ <= 64) return n_;
    win_ += 64;
    LoadWindow();
  }
  return Pop();
}

void Subfields::LoadWindow() {
  const char* p = p_ + win_;
  const size_t m = n_ - win_ < 64 ? n_ - win_ : 64;
  uint64_t commas = 0;
  uint64_t highs = 0;
  wordscan::ByteMasks64(p, m, ',', &commas, &highs);
  if (highs == 0 && !trail_) {
    mask_ = commas;
    return;
  }
  // A lead byte takes the byte after it, unless it is the last of the value.
  platform::Env* env = platform::Env::Get();
  uint64_t mask = 0;
  size_t k = trail_ ? 1 : 0;
  while (k < m) {
    unsigned char c = static_cast<unsigned char>(p[k]);
    if (c < 0x80) {
      if (c == ',') mask |= uint64_t{1} << k;
      ++k;
    } else if (win_ + k + 1 < n_ && env->IsLeadByte(c)) {
      k += 2;
    } else {
      ++k;
    }
  }
  trail_ = k > m;
  mask_ = mask;
}

std::string_view Subfields::Rest() const {
  const size_t from = EndedAtComma() ? end_ + 1 : end_;
  return std::string_view(p_ + from, n_ - from);
}

std::string_view Unquoted(std::string_view s) {
  if (!s.empty() && s.front() == '"') {
    s.remove_prefix(1);
    if (!s.empty() && s.back() == '"') s.remove_suffix(1);
  }
  return s;
}

size_t CutLength(std::string_view text, size_t max) {
  if (text.size() <= max) return text.size();
  platform::Env* env = platform::Env::Get();
  size_t i = 0;
  while (i < max) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t l = (c >= 0x80 && i + 1 < text.size() && env->IsLeadByte(c)) ? 2 : 1;
    if (i + l > max) break;
    i += l;
  }
  return i;
}

bool CopyText(char* field, size_t cap, std::string_view text) {
  size_t n = CutLength(text, cap - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, cap - n);
  return n < text.size();
}

bool CopyTextToZeroed(char* field, size_t cap, std::string_view text) {
  size_t n = CutLength(text, cap - 1);
  std::memcpy(field, text.data(), n);
  return n < text.size();
}

void CopyTextChecked(char* field, size_t cap, std::string_view text, const char* what,
                     MessageFn msg) {
  if (CopyText(field, cap, text))
    Send(msg, kLevelWarning, std::string("***WARNING: ") + what + " truncated");
}

std::unique_ptr<char[]> ZeroedBuffer(size_t n) {
  std::unique_ptr<char[]> p(new (std::nothrow) char[n]);
  if (p) std::memset(p.get(), 0, n);
  return p;
}

}  // namespace txtread
