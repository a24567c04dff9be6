// Helpers shared by the text-table record readers: fetching a key's value
// through any getter, walking subfields into whole strings, copying text into
// fixed record fields, and sending messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

namespace txtread {

// Every value is delivered whole: the buffer holds the longest line.
constexpr int kValueCap = static_cast<int>(kMaxLineLength) + 1;

// A heap buffer for one fetched value.
class ValueBuffer {
 public:
  ValueBuffer() : p_(new char[kValueCap]) { p_[0] = '\0'; }
  char* data() { return p_.get(); }
  const char* c_str() const { return p_.get(); }
  int size() const { return kValueCap; }

 private:
  std::unique_ptr<char[]> p_;
};

enum class Fetch { kFound, kAbsent, kFailed };

// Asks the getter for key. kFound: the value is in buf; kAbsent: the next
// record line has another key or there is none; kFailed: the getter has
// reported a failure and the read must stop.
Fetch FetchValue(GetValueFn getter, const char* key, ValueBuffer* buf, MessageFn msg);

inline void Send(MessageFn msg, int level, const std::string& text) {
  SendMessage(msg, level, text.c_str());
}
// Sends text at level 100 and returns -1, the record readers' failure.
inline int Fail(MessageFn msg, const std::string& text) {
  Send(msg, kLevelError, text);
  return -1;
}

inline std::string Num(long long v) { return std::to_string(v); }

// Fetches a required key: 0 with the value in buf; -1 when it is absent,
// after "***ERROR: Expected " + what + " record", or when the getter failed.
int Require(GetValueFn getter, const char* key, const char* what, ValueBuffer* buf, MessageFn msg);

// Walks the comma-separated subfields of a value, handing each out whole.
class Subfields {
 public:
  explicit Subfields(const char* value);
  // The next subfield (empty once the value is used up).
  std::string Next();
  // True when the subfield last handed out ended at a ",".
  bool EndedAtComma() const;
  // The bytes after the "," that ended the last subfield.
  const char* Rest() const;

 private:
  const char* cur_;
  size_t len_ = 0;
  bool started_ = false;
};

// Copies text into a record field of cap bytes, cut to cap - 1 bytes at a
// character boundary; true when it had to be cut.
bool CopyText(char* field, size_t cap, const std::string& text);
// Same, and a cut sends "***WARNING: " + what + " truncated" (level 80).
void CopyTextChecked(char* field, size_t cap, const std::string& text, const char* what,
                     MessageFn msg);
// The length of text cut to at most max bytes at a character boundary.
size_t CutLength(const std::string& text, size_t max);

// Heap buffer of n zero bytes, or null when it cannot be had.
std::unique_ptr<char[]> ZeroedBuffer(size_t n);

}  // namespace txtread
