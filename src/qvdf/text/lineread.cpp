// The buffered line reader shared by every text form, and the process-wide
// reader state. Each open file has exactly one TextInput, so reading ahead
// in large chunks is invisible to callers.
#include "qvdf/text/lineread.h"

#include <cstring>

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr char kCtrlZ = 0x1A;

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
  in->spill_.clear();
  for (;;) {
    if (in->pos_ == in->end_ && !in->Fill()) break;
    const char* start = in->buf_.data() + in->pos_;
    size_t avail = in->end_ - in->pos_;
    // The LF first, then a 0x1A before it: two vector scans beat one byte loop.
    const void* nl = std::memchr(start, '\n', avail);
    size_t n = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : avail;
    const void* z = std::memchr(start, kCtrlZ, n);
    bool lf = nl != nullptr && z == nullptr;
    if (z) n = static_cast<size_t>(static_cast<const char*>(z) - start);
    bool ended = n < avail;
    size_t keep = n + (lf ? 1 : 0);
    if (in->spill_.size() + keep > kMaxLineLength) return kLineTooLong;
    in->pos_ += n + (ended ? 1 : 0);
    if (ended && in->spill_.empty()) {
      // The whole line sits in the chunk: hand it out where it lies.
      *line = std::string_view(start, keep);
      return keep == 0 ? kLineNone : kLineRead;
    }
    in->spill_.append(start, keep);
    if (ended) break;
  }
  *line = in->spill_;
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
