// The buffered line reader shared by every text form, and the process-wide
// reader state. Each open file has exactly one TextInput, so reading ahead
// in large chunks is invisible to callers.
#include "qvdf/text/lineread.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr char kCtrlZ = 0x1A;

// True for the bytes a value scan must stop at or look at closely.
inline bool IsStopByte(char c) {
  return c == '\r' || c == '\0' || static_cast<unsigned char>(c) >= 0x80;
}

// Index of the first LF or 0x1A in the n bytes at p, or n. One pass for
// both: lines are short, so the set-up of two library scans would dominate.
// The same pass notes in *stop the first CR, NUL or high byte, so that the
// value getter need not scan the line again (SIZE_MAX when there is none).
size_t LineEnd(const char* p, size_t n, size_t* stop) {
  size_t i = 0;
  size_t first = SIZE_MAX;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i z = _mm_set1_epi8(kCtrlZ);
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i nul = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    unsigned hit = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(w, lf), _mm_cmpeq_epi8(w, z))));
    unsigned odd = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, cr), _mm_cmpeq_epi8(w, nul)), w)));
    if (odd != 0 && first == SIZE_MAX) first = i + static_cast<size_t>(__builtin_ctz(odd));
    if (hit != 0) {
      i += static_cast<size_t>(__builtin_ctz(hit));
      *stop = first < i ? first : SIZE_MAX;
      return i;
    }
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '\n' || p[i] == kCtrlZ) break;
    if (first == SIZE_MAX && IsStopByte(p[i])) first = i;
  }
  *stop = first;
  return i;
}

// The first CR, NUL or high byte of a line, or its length.
size_t FirstStop(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i)
    if (IsStopByte(line[i])) return i;
  return line.size();
}

}  // namespace

TextInput::TextInput(platform::FileHandle h) : h_(h) {}

void TextInput::Reset(platform::FileHandle h) {
  h_ = h;
  pos_ = end_ = 0;
  eof_ = false;
}

bool TextInput::Fill() {
  if (eof_ || h_ == platform::kInvalidHandle) {
    eof_ = true;
    return false;
  }
  if (buf_.size() < kChunk) buf_.resize(kChunk);
  long n = platform::Env::Get()->ReadFile(h_, buf_.data(), kChunk);
  if (n <= 0) {
    // End of input and a failed read are not told apart.
    eof_ = true;
    pos_ = end_ = 0;
    return false;
  }
  pos_ = 0;
  end_ = static_cast<size_t>(n);
  return true;
}

int TextInput::Get() {
  if (pos_ == end_ && !Fill()) return -1;
  return static_cast<unsigned char>(buf_[pos_++]);
}

int ReadTextLine(TextInput* in, std::string* line) {
  std::string_view v;
  int r = ReadTextView(in, &v);
  // A line too long leaves what was read of it, as the byte loop it replaces did.
  if (r == kLineTooLong) {
    line->assign(in->spill_);
  } else {
    line->assign(v);
  }
  return r;
}

int ReadTextView(TextInput* in, std::string_view* line) {
  *line = std::string_view();
  in->stop_ = 0;
  in->spill_.clear();
  for (;;) {
    if (in->pos_ == in->end_ && !in->Fill()) break;
    const char* start = in->buf_.data() + in->pos_;
    size_t avail = in->end_ - in->pos_;
    size_t stop = SIZE_MAX;
    size_t n = LineEnd(start, avail, &stop);
    bool ended = n < avail;
    bool lf = ended && start[n] == '\n';
    size_t keep = n + (lf ? 1 : 0);
    if (in->spill_.size() + keep > kMaxLineLength) return kLineTooLong;
    in->pos_ += n + (ended ? 1 : 0);
    if (ended && in->spill_.empty()) {
      // The whole line sits in the chunk: hand it out where it lies.
      *line = std::string_view(start, keep);
      in->stop_ = stop < keep ? stop : keep;
      return keep == 0 ? kLineNone : kLineRead;
    }
    in->spill_.append(start, keep);
    if (ended) break;
  }
  *line = in->spill_;
  in->stop_ = FirstStop(*line);
  return line->empty() ? kLineNone : kLineRead;
}

TxtReaderState& TxtState() {
  static TxtReaderState state;
  return state;
}

void BeginTxtInput(int version) {
  TxtReaderState& s = TxtState();
  s.version = version;
  s.fieldListOrdinal = -1;
  s.lastMapId = 0;
  s.lastCharMapId = 0;
}
