// Helpers shared by the text-table record readers: fetching a key's value
// through any getter, walking subfields as views into the value, copying text into
// fixed record fields, and sending messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "qvdf/text/getvalue.h"
#include "qvdf/text/textstr.h"
#include "qvutil/fileio.h"
#include "qvutil/status.h"
#include "qvutil/types.h"

namespace txtread {

// Every value is delivered whole: the buffer holds the longest line.
constexpr int kValueCap = static_cast<int>(kMaxLineLength) + 1;

// A buffer for one fetched value, starting empty. Buffers are lent from a
// pool, as every record and every field line needs one.
class ValueBuffer {
 public:
  ValueBuffer();
  ~ValueBuffer();
  ValueBuffer(const ValueBuffer&) = delete;
  ValueBuffer& operator=(const ValueBuffer&) = delete;
  char* data() { return p_; }
  const char* c_str() const { return p_; }
  int size() const { return kValueCap; }
  // The value up to its NUL.
  std::string_view view() const { return std::string_view(p_); }

 private:
  char* p_;
};

enum class Fetch { kFound, kAbsent, kFailed };

// Asks the getter for key. kFound: the value is in buf; kAbsent: the next
// record line has another key or there is none; kFailed: the getter has
// reported a failure and the read must stop.
Fetch FetchValue(ValueSource& getter, const char* key, ValueBuffer* buf, MessageFn msg);

inline void Send(MessageFn msg, int level, const std::string& text) {
  SendMessage(msg, level, text.c_str());
}
// Sends text at level 100 and returns -1, the record readers' failure.
inline int Fail(MessageFn msg, const std::string& text) {
  Send(msg, kLevelError, text);
  return kFailed;
}

inline std::string Num(long long v) { return std::to_string(v); }

// Composes one message on the stack, so the per-record progress lines cost
// no allocation.
class Msg {
 public:
  explicit Msg(std::string_view head) { *this << head; }
  Msg& operator<<(std::string_view text);
  Msg& operator<<(long long v);
  void Send(MessageFn fn, int level);

 private:
  char buf_[256];
  size_t len_ = 0;
  bool spilled_ = false;
  std::string long_;
};

// Fetches a required key: 0 with the value in buf; -1 when it is absent,
// after "***ERROR: Expected " + what + " record", or when the getter failed.
int Require(ValueSource& getter, const char* key, const char* what, ValueBuffer* buf,
            MessageFn msg);

// Walks the comma-separated subfields of a value (which holds no NUL),
// handing each out as a view into it. The separators are found 64 bytes at
// a time into a bit mask, so a subfield costs a few instructions; a window
// with a high byte is walked character by character, so that a trail byte
// equal to "," never separates.
class Subfields {
 public:
  explicit Subfields(std::string_view value);
  // The next subfield (empty once the value is used up).
  std::string_view Next() {
    size_t pos = 0;
    if (started_) pos = end_ < n_ ? end_ + 1 : n_;
    started_ = true;
    start_ = pos;
    end_ = mask_ != 0 ? Pop() : NextSeparator();
    return std::string_view(p_ + start_, end_ - start_);
  }
  // True when the subfield last handed out ended at a ",".
  bool EndedAtComma() const { return started_ && end_ < n_; }
  // The bytes after the "," that ended the last subfield, to the end.
  std::string_view Rest() const;

 private:
  size_t Pop() {
    size_t k = static_cast<size_t>(__builtin_ctzll(mask_));
    mask_ &= mask_ - 1;
    return win_ + k;
  }
  // The next separator past the current window, or n_ when none is left.
  size_t NextSeparator();
  // Sets mask_ to the separators among the 64 bytes from win_.
  void LoadWindow();

  const char* p_;
  size_t n_;
  size_t start_ = 0;
  size_t end_ = 0;      // where the last subfield ended: a separator or n_
  size_t win_ = 0;      // first byte of the window mask_ covers
  uint64_t mask_ = 0;   // separators in the window not yet handed out
  bool trail_ = false;  // the window starts with the trail byte of a character
  bool started_ = false;
};

// A subfield without a leading double quote and, after one, a trailing one.
std::string_view Unquoted(std::string_view s);

// Copies text (which holds no NUL) into a record field of cap bytes, cut to
// cap - 1 bytes at a character boundary; true when it had to be cut.
bool CopyText(char* field, size_t cap, std::string_view text);
// CopyText into a field that is already all zero: only the text is written.
bool CopyTextToZeroed(char* field, size_t cap, std::string_view text);
// Same, and a cut sends "***WARNING: " + what + " truncated" (level 80).
void CopyTextChecked(char* field, size_t cap, std::string_view text, const char* what,
                     MessageFn msg);
// The length of text cut to at most max bytes at a character boundary.
size_t CutLength(std::string_view text, size_t max);

// Zeroes n >= 16 bytes with 16-byte stores: for a record of a few hundred
// bytes the compiler's string instruction costs more to start than the
// stores do.
inline void ZeroRecord(void* rec, size_t n) {
  static const char kZeros[16] = {};
  char* p = static_cast<char*>(rec);
  for (size_t k = 0; k + 16 <= n; k += 16) std::memcpy(p + k, kZeros, 16);
  std::memcpy(p + n - 16, kZeros, 16);
}

// Heap buffer of n zero bytes, or null when it cannot be had.
std::unique_ptr<char[]> ZeroedBuffer(size_t n);

}  // namespace txtread
