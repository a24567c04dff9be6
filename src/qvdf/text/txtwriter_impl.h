// Internals shared by the text writer's files: the buffered output stream
// that lines are built in directly, the process-wide writer state (version,
// name tables, enabled-products accumulator) and the line builder every
// block writes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/mem.h"
#include "qvutil/writebehind.h"
#include "qvutil/types.h"

namespace txtw {

// Output file written in large chunks. The line being built sits at the end
// of the buffer, so a finished line costs no copy. A failed write or close
// is remembered and reported once, at the end; what follows a failure (or
// comes while no file is open) is dropped.
class Sink {
 public:
  // true when the file was created (or truncated).
  bool Open(const char* name);
  bool IsOpen() const { return h_ != platform::kInvalidHandle; }
  // Flushes and closes; true when every byte reached the file.
  bool Close();

  // Starts a new line (a line that was begun but not ended is dropped).
  void StartLine() { len_ = line_; }
  // Room for n more bytes of the line; write them, then Commit the end.
  char* Room(size_t n) {
    if (cap_ - len_ < n) Grow(n);
    return buf_.get() + len_;
  }
  void Commit(char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  std::string_view Line() const { return {buf_.get() + line_, len_ - line_}; }
  // Ends the line with CR LF; writes the buffer once it holds a chunk.
  void EndLine();

 private:
  void Grow(size_t n);
  // Sends the buffer to the file (written behind) and starts afresh.
  void Flush();
  platform::FileHandle h_ = platform::kInvalidHandle;
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0;
  WriteBehind behind_;
  size_t len_ = 0;   // bytes held, the open line included
  size_t line_ = 0;  // where the open line starts
  bool failed_ = false;
};

struct SectionName {
  int16_t id = 0;
  std::string name;
};
struct SystemNames {
  bool set = false;
  std::string name;
  std::vector<SectionName> sections;
};

struct WriterState {
  Sink out;
  int version = 4;
  MessageFn msg = nullptr;
  uint32_t enabled[8] = {};
  // Indexed by system key; sized to the system index capacity.
  std::vector<SystemNames> names;
};
// The one writer; a plain global so the inline line builder reaches it
// without a call.
extern WriterState g_writer;
inline WriterState& State() { return g_writer; }

// Longest record line the readers of other tools take, CR LF excluded.
constexpr size_t kLongLine = 509;

// Line builder: Begin starts a line, the Add* calls extend it, Emit writes
// it with CR LF (warning once about a line longer than kLongLine).
inline void AddBytes(const char* p, size_t n) {
  Sink& o = g_writer.out;
  char* d = o.Room(n);
  if (n) std::memcpy(d, p, n);  // an empty view may carry no pointer at all
  o.Commit(d + n);
}
inline void Add(std::string_view text) { AddBytes(text.data(), text.size()); }
inline void Begin(std::string_view text) {
  g_writer.out.StartLine();
  Add(text);
}
void AddInt(int64_t v);
void AddHex(uint32_t v);

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
// A text field of `width` bytes, up to its NUL and never past the field.
// The whole field is copied (a fixed size, so no call) and the line ends
// after its text.
inline void AddText(const char* field, size_t width) {
  Sink& o = g_writer.out;
  char* d = o.Room(width);
  std::memcpy(d, field, width);
  o.Commit(d + strnlen(field, width));
}
inline void AddChar(char c) {
  Sink& o = g_writer.out;
  char* d = o.Room(1);
  *d = c;
  o.Commit(d + 1);
}
// Reports the open line when it is longer than the readers take.
void WarnLongLine();
inline void Emit() {
  if (g_writer.out.Line().size() > kLongLine) WarnLongLine();
  g_writer.out.EndLine();
}
inline void Line(std::string_view text) {
  Begin(text);
  Emit();
}
void Separator();
// Sends text at level and writes it as a line too.
void Note(int level, const std::string& text);
void Send(int level, const std::string& text);

// A text field and its width, for AddText and Writable.
#define TXTW_FIELD(rec, f) (rec).f, sizeof((rec).f)

// Whether a text field can stand in a line: no CR, LF or 0x1A before its NUL.
bool Writable(const char* field, size_t width);
// Reports a value that cannot be written and returns the block's code 4.
int Unwritable(const char* kind, int key);

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
int WriteSystems(TableDb* db);
int WriteFieldLists(TableDb* db);
int WriteFieldMaps(TableDb* db);
int WriteCharMaps(TableDb* db);

}  // namespace txtw
