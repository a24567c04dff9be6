// The text-table writer's entry points: opening and finishing the output,
// the header comments, the block sequence with its failure lines, and the
// TABLE block. The record blocks live in txtwriter_systems.cpp,
// txtwriter_fields.cpp and txtwriter_maps.cpp.
#include "qvdf/text/txtwriter.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "qvdf/store/store.h"
#include "qvdf/text/txtwriter_impl.h"
#include "qvutil/options.h"
#include "qvutil/status.h"
#include "qvutil/wordscan.h"

namespace txtw {

bool Writer::Open(const char* name) {
  if (IsOpen()) Close();
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (OpenFileMode(name, kModeWrite, &status, &h, "qvdf\\tbwritetxt", 40) != 0) return false;
  file_ = platform::File(h);
  out_.Start(h);
  lineStart_ = 0;
  return true;
}

bool Writer::Close() {
  if (!IsOpen()) return false;
  out_.Truncate(lineStart_);  // a line never ended is not written
  bool ok = out_.Finish();
  if (CloseFileHandle(file_.release(), "qvdf\\tbwritetxt", 72) != 0) ok = false;
  out_.Start(platform::kInvalidHandle);
  return ok;
}

// "00" to "99", for writing two digits at a time.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The numbers below 1000, most of a table's, as their digits in three
// bytes and their length in the fourth: written with one store and no
// branch on the length, which varies from number to number in a map line.
struct SmallNumbers {
  char text[1000][4]{};
  constexpr SmallNumbers() {
    for (int u = 0; u < 1000; ++u) {
      int len = u < 10 ? 1 : u < 100 ? 2 : 3;
      for (int k = len - 1, x = u; k >= 0; --k, x /= 10)
        text[u][k] = static_cast<char>('0' + x % 10);
      text[u][3] = static_cast<char>(len);
    }
  }
};
constexpr SmallNumbers kSmall;

char* PutInt(char* d, int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  if (v < 0) {
    *d++ = '-';
    u = 0 - u;
  }
  if (u < 1000) {
    // Writes a fourth byte past the digits: every caller's room has it.
    std::memcpy(d, kSmall.text[u], 4);
    return d + kSmall.text[u][3];
  }
  if (u > UINT32_MAX) return std::to_chars(d, d + 20, u).ptr;
  auto w = static_cast<uint32_t>(u);
  // Digits from the bit length: 1233 / 4096 is just above log10(2), so t
  // is the count or one too many, which the power of ten settles.
  static constexpr uint32_t kPow10[] = {1,      10,      100,      1000,      10000,
                                        100000, 1000000, 10000000, 100000000, 1000000000};
  const unsigned t = ((32u - static_cast<unsigned>(__builtin_clz(w))) * 1233u) >> 12;
  const size_t digits = t + 1 - (w < kPow10[t] ? 1 : 0);
  char* p = d + digits;
  while (w >= 100) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * (w % 100), 2);
    w /= 100;
  }
  if (w >= 10) {
    std::memcpy(p - 2, kPairs + 2 * w, 2);
  } else {
    p[-1] = static_cast<char>('0' + w);
  }
  return d + digits;
}

char* PutHex(char* d, uint32_t v) { return std::to_chars(d, d + 8, v, 16).ptr; }

void Writer::WarnLongLine() {
  if (!msg) return;
  std::string_view line = out_.HeldFrom(lineStart_);
  size_t eq = line.find('=');
  std::string m = "***WARNING: Line longer than 509 characters: ";
  m.append(line.substr(0, eq));
  msg(kLevelWarning, m.c_str());
}

void Writer::Separator() {
  Line(
      "#------------------------------------------------------------"
      "------------------");
}

void Writer::Send(int level, const std::string& text) { SendMessage(msg, level, text.c_str()); }

void Writer::Note(int level, const std::string& text) {
  Send(level, text);
  Line(text);
}

bool Writable(const char* field, size_t width) {
  size_t i = 0;
  // Eight bytes at a time up to the first NUL or control byte below 0x1B
  // (CR, LF and 0x1A are all below it): the lowest mark of HasByteBelow
  // is always a true one, and the host is little-endian.
  while (i + 8 <= width) {
    uint64_t w;
    std::memcpy(&w, field + i, 8);
    uint64_t m = wordscan::HasByteBelow(w, 0x1B);
    if (m == 0) {
      i += 8;
      continue;
    }
    i += static_cast<size_t>(std::countr_zero(m)) / 8;
    char c = field[i];
    if (c == '\0') return true;
    if (c == '\r' || c == '\n' || c == '\x1a') return false;
    ++i;
  }
  for (; i < width && field[i] != '\0'; ++i) {
    char c = field[i];
    if (c == '\r' || c == '\n' || c == '\x1a') return false;
  }
  return true;
}

int Writer::Unwritable(const char* kind, int key) {
  Send(kLevelError, std::string("***ERROR: Value cannot be written as text in ") + kind + " " +
                        std::to_string(key));
  return kErrBadFormat;
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

void ClearNames(Writer& w) { std::vector<SystemNames>().swap(w.names); }

void WriteHeader(TableDb* db, Writer& s) {
  std::string ver = std::to_string(s.version);
  std::string lbm = std::to_string(static_cast<int16_t>(GetLastBaseMap(db)));
  s.Send(kLevelStep, "QVTB file version:  " + ver);
  s.Send(kLevelProgress, "QVTB last base map:  " + lbm);
  s.Line("# QVTB file version:  " + ver);
  s.Line("# QVTB last base map:  " + lbm);
  s.Line("# Number of systems:  " + std::to_string(CountSystems(db)));
  s.Line("# Number of field lists:  " + std::to_string(CountFieldLists(db)));
  s.Line("# Number of field maps:  " + std::to_string(CountFieldMaps(db)));
  s.Line("# Number of CharMaps:  " + std::to_string(CountCharMaps(db)));
  static const char* const kSizes[] = {
      "# System record size: 1536", "# Section record size: 276", "# Field list record size: 240",
      "# Field record size: 164",   "# Config. record size: 20",  "# Field map record size: 76",
      "# CharMap record size: 325",
  };
  std::string all;
  for (const char* l : kSizes) {
    s.Line(l);
    if (!all.empty()) all.push_back('\n');
    all.append(l);
  }
  s.Send(kLevelDetail, all);
}

void WriteTableBlock(TableDb* db, Writer& s) {
  s.Separator();
  s.Line("TYPE=TABLE");
  s.Begin("MAINSYSTEM=");
  s.AddInt(GetMainSystem(db));
  s.Emit();
  s.Begin("MAINCLASS=");
  s.AddInt(GetMainClass(db));
  s.Emit();
  s.Begin("PRODUCTID=");
  s.AddInt(static_cast<int32_t>(GetProductID(db)));
  s.Emit();
  s.Begin("BUNDLEDFLAG=");
  s.AddInt(GetBundledFlag(db));
  s.Emit();
  s.Begin("ENABLEDPRODUCTS=8");
  for (uint32_t w : s.enabled) {
    s.Add("L,0X");
    s.AddHex(w);
  }
  s.Add("L");
  s.Emit();
}

struct Block {
  const char* count_label;
  const char* failure;
  int (*write)(TableDb*, Writer&);
  int (*count)(TableDb*);
};

}  // namespace
}  // namespace txtw

using namespace txtw;

TxtOutput::TxtOutput() : w_(std::make_unique<Writer>()) {}
TxtOutput::~TxtOutput() = default;

int OpenTxtOutput(TxtOutput* out, int version, const char* name, const char* path, MessageFn msg) {
  Writer& s = out->writer();
  s.msg = msg;
  if (!s.Open(path ? path : name)) {
    SendMessage(msg, kLevelError, (std::string("Unable to open file ") + name).c_str());
    return kErrNotFound;
  }
  s.version = version;
  std::string text = std::string("QVTB file name:  ") + name;
  s.Send(kLevelStep, text);
  s.Line("# " + text);
  return 0;
}

int WriteTxtTable(TableDb* db, TxtOutput* out, MessageFn msg) {
  Writer& s = out->writer();
  s.msg = msg;
  if (!s.IsOpen()) return kErrNotFound;
  for (uint32_t& w : s.enabled) w = 0;
  ClearNames(s);
  static const Block kBlocks[] = {
      {" Number of systems:  ", " logging system records", WriteSystems, CountSystems},
      {" Number of field lists:  ", " logging field list records", WriteFieldLists,
       CountFieldLists},
      {" Number of field maps:  ", " logging map/config records", WriteFieldMaps, CountFieldMaps},
      {" Number of CharMaps:  ", " logging CharMap records", WriteCharMaps, CountCharMaps},
  };
  if (!IsTableOpen(db)) {
    s.Note(kLevelError, "## Error " + std::to_string(kErrMode) + kBlocks[0].failure);
    return kErrMode;
  }
  WriteHeader(db, s);
  for (const Block& b : kBlocks) {
    s.Send(kLevelError, b.count_label + std::to_string(b.count(db)));
    int rc = b.write(db, s);
    if (rc != 0) {
      s.Note(kLevelError, "## Error " + std::to_string(rc) + b.failure);
      return rc;
    }
  }
  if (s.version > 3) WriteTableBlock(db, s);
  return 0;
}

int FinishTxtOutput(TxtOutput* out, const char* name, MessageFn msg) {
  Writer& s = out->writer();
  s.msg = msg;
  bool ok = false;
  if (s.IsOpen()) {
    s.Line("# Processing completed successfully");
    ok = s.Close();
  }
  ClearNames(s);
  if (!ok) {
    SendMessage(msg, kLevelError, (std::string("Error writing ") + name).c_str());
    return kErrIo;
  }
  SendMessage(msg, kLevelStep, "Processing completed successfully");
  return 0;
}

void AbandonTxtOutput(TxtOutput* out) {
  Writer& s = out->writer();
  if (s.IsOpen()) s.Close();
  ClearNames(s);
}
