// Helpers of the text-table record readers: value fetching, the subfield
// walk over whole strings, and cutting text to the size of a record field.
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader_internal.h"

namespace txtread {

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

Subfields::Subfields(const char* value) : cur_(value) {}

std::string Subfields::Next() {
  SubfieldCursor c{cur_, len_};
  c = started_ ? NextSubfield(c) : FirstSubfield(cur_);
  started_ = true;
  cur_ = c.start;
  len_ = c.len;
  return std::string(cur_, len_);
}

bool Subfields::EndedAtComma() const { return started_ && cur_[len_] == ','; }

const char* Subfields::Rest() const { return EndedAtComma() ? cur_ + len_ + 1 : cur_ + len_; }

size_t CutLength(const std::string& text, size_t max) {
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

bool CopyText(char* field, size_t cap, const std::string& text) {
  // The text may hold a NUL byte; the field keeps what precedes it.
  std::string t(text.c_str());
  size_t n = CutLength(t, cap - 1);
  std::memcpy(field, t.data(), n);
  std::memset(field + n, 0, cap - n);
  return n < t.size();
}

void CopyTextChecked(char* field, size_t cap, const std::string& text, const char* what,
                     MessageFn msg) {
  if (CopyText(field, cap, text)) Send(msg, kLevelWarning, std::string("***WARNING: ") + what + " truncated");
}

std::unique_ptr<char[]> ZeroedBuffer(size_t n) {
  std::unique_ptr<char[]> p(new (std::nothrow) char[n]);
  if (p) std::memset(p.get(), 0, n);
  return p;
}

}  // namespace txtread
