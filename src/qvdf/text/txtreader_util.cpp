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

namespace txtread {

namespace {

// Buffers handed back by ValueBuffer; the readers nest a few levels deep, so
// the pool stays small.
std::vector<std::unique_ptr<char[]>>& Pool() {
  static std::vector<std::unique_ptr<char[]>> pool;
  return pool;
}

}  // namespace

ValueBuffer::ValueBuffer() {
  std::vector<std::unique_ptr<char[]>>& pool = Pool();
  if (pool.empty()) {
    p_ = new char[kValueCap];
  } else {
    p_ = pool.back().release();
    pool.pop_back();
  }
  p_[0] = '\0';
}

ValueBuffer::~ValueBuffer() { Pool().emplace_back(p_); }

Fetch FetchValue(GetValueFn getter, const char* key, ValueBuffer* buf, MessageFn msg) {
  int r = getter(key, buf->data(), buf->size(), msg);
  if (r == kValueFound) return Fetch::kFound;
  if (r == kValueOtherKey || r == kValueEnd) return Fetch::kAbsent;
  return Fetch::kFailed;
}

int Require(GetValueFn getter, const char* key, const char* what, ValueBuffer* buf, MessageFn msg) {
  Fetch got = FetchValue(getter, key, buf, msg);
  if (got == Fetch::kFailed) return -1;
  if (got == Fetch::kAbsent) return Fail(msg, std::string("***ERROR: Expected ") + what + " record");
  return 0;
}

namespace {

std::string& MsgText() {
  static std::string text;
  return text;
}

}  // namespace

Msg::Msg(std::string_view head) : s_(MsgText()) { s_.assign(head); }

Msg& Msg::operator<<(std::string_view text) {
  s_.append(text);
  return *this;
}

Msg& Msg::operator<<(long long v) {
  char digits[24];
  std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, v);
  s_.append(digits, r.ptr);
  return *this;
}

void Msg::Send(MessageFn fn, int level) const { SendMessage(fn, level, s_.c_str()); }

std::string_view Subfields::Rest() const {
  const char* p = EndedAtComma() ? cur_ + len_ + 1 : cur_ + len_;
  return std::string_view(p, static_cast<size_t>(end_ - p));
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
  // The text may hold a NUL byte; the field keeps what precedes it.
  if (const void* z = std::memchr(text.data(), '\0', text.size()))
    text = text.substr(0, static_cast<size_t>(static_cast<const char*>(z) - text.data()));
  size_t n = CutLength(text, cap - 1);
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, cap - n);
  return n < text.size();
}

void CopyTextChecked(char* field, size_t cap, std::string_view text, const char* what,
                     MessageFn msg) {
  if (CopyText(field, cap, text)) Send(msg, kLevelWarning, std::string("***WARNING: ") + what + " truncated");
}

std::unique_ptr<char[]> ZeroedBuffer(size_t n) {
  std::unique_ptr<char[]> p(new (std::nothrow) char[n]);
  if (p) std::memset(p.get(), 0, n);
  return p;
}

}  // namespace txtread
