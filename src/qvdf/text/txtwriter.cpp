// The text-table writer's entry points: opening and finishing the output,
// the header comments, the block sequence with its failure lines, and the
// TABLE block. The record blocks live in txtwriter_systems.cpp,
// txtwriter_fields.cpp and txtwriter_maps.cpp.
#include "qvdf/text/txtwriter.h"

#include <charconv>
#include <cstring>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/options.h"

namespace txtw {
namespace {
constexpr size_t kChunk = 64 * 1024;
}

bool Sink::Open(const char* name) {
  if (IsOpen()) Close();
  failed_ = false;
  buf_.clear();
  buf_.reserve(kChunk + 1024);
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(name, kModeWrite, &status, &h, "qvdf\\tbwritetxt", 40) != 0) {
    h_ = platform::kInvalidHandle;
    return false;
  }
  h_ = h;
  return true;
}

void Sink::Append(const char* p, size_t n) {
  if (failed_ || !IsOpen()) return;
  buf_.append(p, n);
  if (buf_.size() >= kChunk) Flush();
}

void Sink::Flush() {
  if (failed_ || buf_.empty()) {
    buf_.clear();
    return;
  }
  long n = platform::Env::Get()->WriteFile(h_, buf_.data(), buf_.size());
  if (n < 0 || static_cast<size_t>(n) != buf_.size()) failed_ = true;
  buf_.clear();
}

bool Sink::Close() {
  if (!IsOpen()) return false;
  Flush();
  if (CloseFileHandle(h_, "qvdf\\tbwritetxt", 72) != 0) failed_ = true;
  h_ = platform::kInvalidHandle;
  bool ok = !failed_;
  failed_ = false;
  return ok;
}

WriterState& State() {
  static WriterState s;
  return s;
}

void Begin(const char* text) { State().line.assign(text); }
void Add(const char* text) { State().line.append(text); }

void AddInt(int64_t v) {
  char tmp[24];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v);
  State().line.append(tmp, r.ptr);
}

void AddHex(uint32_t v) {
  char tmp[16];
  auto r = std::to_chars(tmp, tmp + sizeof tmp, v, 16);
  State().line.append(tmp, r.ptr);
}

void AddText(const char* field, size_t width) { State().line.append(field, strnlen(field, width)); }

void AddChar(char c) { State().line.push_back(c); }

void Emit() {
  WriterState& s = State();
  if (s.line.size() > kLongLine && s.msg) {
    size_t eq = s.line.find('=');
    std::string m = "***WARNING: Line longer than 509 characters: ";
    m.append(s.line, 0, eq == std::string::npos ? s.line.size() : eq);
    s.msg(kLevelWarning, m.c_str());
  }
  s.line.append("\r\n");
  s.out.Append(s.line.data(), s.line.size());
}

void Line(const std::string& text) {
  State().line.assign(text);
  Emit();
}

void Separator() {
  Line(
      "#------------------------------------------------------------"
      "------------------");
}

void Send(int level, const std::string& text) { SendMessage(State().msg, level, text.c_str()); }

void Note(int level, const std::string& text) {
  Send(level, text);
  Line(text);
}

bool Writable(const char* field, size_t width) {
  for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
    char c = field[i];
    if (c == '\r' || c == '\n' || c == '\x1a') return false;
  }
  return true;
}

int Unwritable(const char* kind, int key) {
  Send(kLevelError, std::string("***ERROR: Value cannot be written as text in ") + kind + " " +
                        std::to_string(key));
  return 4;
}

bool RecordBuffer::Reserve(size_t n) {
  if (n <= cap_ && mem_.get()) return true;
  size_t want = n > initial_ ? n : initial_;
  bool ok = mem_.get() ? mem_.ReAlloc(want) : mem_.Alloc(want);
  cap_ = ok ? want : 0;
  return ok;
}

int LengthFailure(TableDb* db) {
  int rc = GetError(db);
  return rc != 0 ? rc : 6;
}

namespace {

void ClearNames() { std::vector<SystemNames>().swap(State().names); }

void WriteHeader(TableDb* db) {
  WriterState& s = State();
  std::string ver = std::to_string(s.version);
  std::string lbm = std::to_string(static_cast<int16_t>(GetLastBaseMap(db)));
  Send(kLevelStep, "QVTB file version:  " + ver);
  Send(kLevelProgress, "QVTB last base map:  " + lbm);
  Line("# QVTB file version:  " + ver);
  Line("# QVTB last base map:  " + lbm);
  Line("# Number of systems:  " + std::to_string(CountSystems(db)));
  Line("# Number of field lists:  " + std::to_string(CountFieldLists(db)));
  Line("# Number of field maps:  " + std::to_string(CountFieldMaps(db)));
  Line("# Number of CharMaps:  " + std::to_string(CountCharMaps(db)));
  static const char* const kSizes[] = {
      "# System record size: 1536", "# Section record size: 276", "# Field list record size: 240",
      "# Field record size: 164",   "# Config. record size: 20",  "# Field map record size: 76",
      "# CharMap record size: 325",
  };
  std::string all;
  for (const char* l : kSizes) {
    Line(l);
    if (!all.empty()) all.push_back('\n');
    all.append(l);
  }
  Send(kLevelDetail, all);
}

void WriteTableBlock(TableDb* db) {
  WriterState& s = State();
  Separator();
  Line("TYPE=TABLE");
  Begin("MAINSYSTEM=");
  AddInt(GetMainSystem(db));
  Emit();
  Begin("MAINCLASS=");
  AddInt(GetMainClass(db));
  Emit();
  Begin("PRODUCTID=");
  AddInt(static_cast<int32_t>(GetProductID(db)));
  Emit();
  Begin("BUNDLEDFLAG=");
  AddInt(GetBundledFlag(db));
  Emit();
  Begin("ENABLEDPRODUCTS=8");
  for (uint32_t w : s.enabled) {
    Add("L,0X");
    AddHex(w);
  }
  Add("L");
  Emit();
}

struct Block {
  const char* count_label;
  const char* failure;
  int (*write)(TableDb*);
  int (*count)(TableDb*);
};

}  // namespace
}  // namespace txtw

using namespace txtw;

int OpenTxtOutput(int version, const char* name, MessageFn msg) {
  WriterState& s = State();
  s.msg = msg;
  if (!s.out.Open(name)) {
    SendMessage(msg, kLevelError, (std::string("Unable to open file ") + name).c_str());
    return 9;
  }
  s.version = version;
  std::string text = std::string("QVTB file name:  ") + name;
  Send(kLevelStep, text);
  Line("# " + text);
  return 0;
}

int WriteTxtTable(TableDb* db, MessageFn msg) {
  WriterState& s = State();
  s.msg = msg;
  if (!s.out.IsOpen()) return 9;
  for (uint32_t& w : s.enabled) w = 0;
  ClearNames();
  static const Block kBlocks[] = {
      {" Number of systems:  ", " logging system records", WriteSystems, CountSystems},
      {" Number of field lists:  ", " logging field list records", WriteFieldLists,
       CountFieldLists},
      {" Number of field maps:  ", " logging map/config records", WriteFieldMaps, CountFieldMaps},
      {" Number of CharMaps:  ", " logging CharMap records", WriteCharMaps, CountCharMaps},
  };
  if (!IsTableOpen(db)) {
    Note(kLevelError, std::string("## Error 17") + kBlocks[0].failure);
    return 17;
  }
  WriteHeader(db);
  for (const Block& b : kBlocks) {
    Send(kLevelError, b.count_label + std::to_string(b.count(db)));
    int rc = b.write(db);
    if (rc != 0) {
      Note(kLevelError, "## Error " + std::to_string(rc) + b.failure);
      return rc;
    }
  }
  if (s.version > 3) WriteTableBlock(db);
  return 0;
}

int FinishTxtOutput(const char* name, MessageFn msg) {
  WriterState& s = State();
  s.msg = msg;
  bool ok = false;
  if (s.out.IsOpen()) {
    Line("# Processing completed successfully");
    ok = s.out.Close();
  }
  ClearNames();
  if (!ok) {
    SendMessage(msg, kLevelError, (std::string("Error writing ") + name).c_str());
    return 6;
  }
  SendMessage(msg, kLevelStep, "Processing completed successfully");
  return 0;
}

void AbandonTxtOutput() {
  WriterState& s = State();
  if (s.out.IsOpen()) s.out.Close();
  ClearNames();
}
