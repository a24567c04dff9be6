// Internals shared by the text writer's files: the writer of one output
// (its buffered file, version, name tables and enabled-products
// accumulator) with the line builder every block writes through. Lines are
// built straight into the output buffer, so a finished line costs no copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/fileio.h"
#include "qvutil/mem.h"
#include "qvutil/types.h"

namespace txtw {

struct SectionName {
  int16_t id = 0;
  std::string name;
};
struct SystemNames {
  bool set = false;
  std::string name;
  std::vector<SectionName> sections;
};

// Longest record line the readers of other tools take, CR LF excluded.
constexpr size_t kLongLine = 509;

// Raw writers for the busiest lines: take Room for the longest form of the
// line once, Put* into it, and Commit the end. Each returns the end of
// what it wrote.
constexpr size_t kIntRoom = 21;  // sign and twenty digits
constexpr size_t kHexRoom = 8;
// Writes v in decimal at d (kIntRoom bytes of room; up to three bytes
// past the end it returns may be written over); returns the end.
char* PutInt(char* d, int64_t v);
char* PutHex(char* d, uint32_t v);
template <size_t N>
inline char* PutLit(char* d, const char (&text)[N]) {
  std::memcpy(d, text, N - 1);
  return d + N - 1;
}
// A text field of `width` bytes, up to its NUL (width bytes of room).
inline char* PutText(char* d, const char* field, size_t width) {
  std::memcpy(d, field, width);
  return d + strnlen(field, width);
}

// One text output. A failed write or close is remembered and reported once,
// at the end; what follows a failure is dropped.
class Writer {
 public:
  // true when the file was created (or truncated).
  bool Open(const char* name);
  bool IsOpen() const { return file_.is_open(); }
  // Writes what is held (a line never ended is dropped) and closes; true
  // when every byte reached the file.
  bool Close();

  // Line builder: Begin starts a line, the Add* calls extend it, Emit
  // writes it with CR LF (warning once about a line longer than kLongLine).
  void Begin(std::string_view text) {
    lineStart_ = out_.held();
    Add(text);
  }
  void Add(std::string_view text) {
    char* d = Room(text.size());
    if (!text.empty()) std::memcpy(d, text.data(), text.size());
    Commit(d + text.size());
  }
  void AddInt(int64_t v) { Commit(PutInt(Room(kIntRoom), v)); }
  void AddHex(uint32_t v) { Commit(PutHex(Room(kHexRoom), v)); }
  // A text field of `width` bytes, up to its NUL and never past the field.
  void AddText(const char* field, size_t width) {
    char* d = Room(width);
    std::memcpy(d, field, width);
    Commit(d + strnlen(field, width));
  }
  void AddChar(char c) {
    char* d = Room(1);
    *d = c;
    Commit(d + 1);
  }
  // Room for n more bytes of the line: write them, then Commit the end.
  char* Room(size_t n) { return out_.Room(n); }
  void Commit(char* end) { out_.Commit(end); }
  void StartLine() { lineStart_ = out_.held(); }
  void Emit() {
    if (out_.held() - lineStart_ > kLongLine) WarnLongLine();
    Add("\r\n");
    lineStart_ = out_.held();
    out_.FlushIfFull();
  }
  void Line(std::string_view text) {
    Begin(text);
    Emit();
  }
  void Separator();
  // Sends text at level, and writes it as a line too.
  void Note(int level, const std::string& text);
  void Send(int level, const std::string& text);
  // Reports a value that cannot be written and returns the block's code 4.
  int Unwritable(const char* kind, int key);

  int version = 4;
  MessageFn msg = nullptr;
  uint32_t enabled[8] = {};
  // Indexed by system key; sized to the system index capacity.
  std::vector<SystemNames> names;

 private:
  // Reports the open line when it is longer than the readers take.
  void WarnLongLine();

  platform::File file_;
  OutputBuffer out_;
  size_t lineStart_ = 0;  // where the open line starts in the held bytes
};

// A text field and its width, for AddText and Writable.
#define TXTW_FIELD(rec, f) (rec).f, sizeof((rec).f)

// Whether a text field can stand in a line: no CR, LF or 0x1A before its NUL.
bool Writable(const char* field, size_t width);

// A record buffer from the movable allocator, grown but never shrunk.
class RecordBuffer {
 public:
  explicit RecordBuffer(size_t initial) : initial_(initial) {}
  // false when memory ran out.
  bool Reserve(size_t n);
  void* get() const { return mem_.get(); }

 private:
  MemBlock mem_;
  size_t initial_;
  size_t cap_ = 0;
};

// The code a block ends with when a stored record's length reads as 0.
int LengthFailure(TableDb* db);

// The four record blocks; each returns 0 or the code it failed with.
int WriteSystems(TableDb* db, Writer& w);
int WriteFieldLists(TableDb* db, Writer& w);
int WriteFieldMaps(TableDb* db, Writer& w);
int WriteCharMaps(TableDb* db, Writer& w);

}  // namespace txtw
