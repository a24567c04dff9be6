// Internals shared by the text writer's files: the buffered output stream,
// the process-wide writer state (version, name tables, enabled-products
// accumulator) and the line builder every block writes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/mem.h"
#include "qvutil/types.h"

namespace txtw {

// Output file written in large chunks. A failed write or close is remembered
// and reported once, at the end; what follows a failure is dropped.
class Sink {
 public:
  // true when the file was created (or truncated).
  bool Open(const char* name);
  bool IsOpen() const { return h_ != platform::kInvalidHandle; }
  void Append(const char* p, size_t n);
  // Flushes and closes; true when every byte reached the file.
  bool Close();

 private:
  void Flush();
  platform::FileHandle h_ = platform::kInvalidHandle;
  std::string buf_;
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
  std::string line;  // the line being built
};
WriterState& State();

// Longest record line the readers of other tools take, CR LF excluded.
constexpr size_t kLongLine = 509;

// Line builder: Begin starts a line, the Add* calls extend it, Emit writes
// it with CR LF (warning once about a line longer than kLongLine).
void Begin(const char* text);
void Add(const char* text);
void AddInt(int64_t v);
void AddHex(uint32_t v);
// A text field of `width` bytes, up to its NUL and never past the field.
void AddText(const char* field, size_t width);
void AddChar(char c);
void Emit();
void Line(const std::string& text);
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
