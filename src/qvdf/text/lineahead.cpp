// The read-ahead worker: one thread per batch, joined before the batch is
// used, so no thread outlives the batch it fills.
#include "qvdf/text/lineahead.h"

#include <system_error>
#include <utility>

namespace {

// The first batch is small, so that the parse starts at once; later ones
// grow to kMaxBatch bytes of lines.
constexpr size_t kFirstBatch = 64 * 1024;
constexpr size_t kMaxBatch = 1024 * 1024;
// So many empty lines cannot make a batch's index outgrow its bytes.
constexpr size_t kMaxEntries = 32 * 1024;
// Inputs from this size on are read on a thread.
constexpr size_t kWorthAThread = 1024 * 1024;

}  // namespace

bool LineAhead::WorthAThread(platform::FileHandle h) {
  int64_t size = platform::Env::Get()->FileSize(h);
  return size >= static_cast<int64_t>(kWorthAThread);
}

void LineAhead::Fill(Batch* b, size_t limit) {
  // Filled in a batch of the worker's own, moved in and out whole: the
  // consumer's fields share cache lines with *b, and a write to them per
  // line would make both threads wait on each other's stores.
  Batch local;
  local.bytes = std::move(b->bytes);
  local.entries = std::move(b->entries);
  local.bytes.clear();
  local.entries.clear();
  try {
    while (local.bytes.size() < limit && local.entries.size() < kMaxEntries) {
      Entry e{local.bytes.size(), 0, 0, kLineNone};
      e.result = source_(&local.bytes, &e.tag);
      e.length = local.bytes.size() - e.offset;
      local.bytes.push_back('\0');
      local.entries.push_back(e);
      if (e.result != kLineRead) {
        local.ended = true;
        break;
      }
    }
  } catch (...) {
    local.error = std::current_exception();
    local.ended = true;
  }
  *b = std::move(local);
}

void LineAhead::Launch() {
  size_t limit = limit_;
  limit_ = limit_ * 2 < kMaxBatch ? limit_ * 2 : kMaxBatch;
  launched_ = true;
  if (threaded_) {
    try {
      worker_ = std::thread([this, limit] { Fill(&next_, limit); });
      return;
    } catch (const std::system_error&) {
      // No thread to be had: read here instead.
    }
  }
  Fill(&next_, limit);
}

void LineAhead::Wait() {
  if (worker_.joinable()) worker_.join();
  launched_ = false;
}

void LineAhead::Start(Source source, bool threaded) {
  Stop();
  source_ = std::move(source);
  threaded_ = threaded;
  active_ = true;
  limit_ = kFirstBatch;
  // A consumer on its own thread starts the worker at once; one without
  // reads the first batch when it asks for the first line.
  if (threaded_) Launch();
}

LineAhead::Line LineAhead::Next() {
  if (!active_) return Line{};
  while (pos_ == cur_.entries.size()) {
    if (cur_.error) {
      // After the failure the stream is over: it ends as an input does.
      std::exception_ptr error = cur_.error;
      cur_.error = nullptr;
      cur_.bytes.assign(1, '\0');
      cur_.entries.assign(1, Entry{0, 0, 0, kLineNone});
      pos_ = 1;
      std::rethrow_exception(error);
    }
    if (cur_.ended) return LineAt(cur_.entries.back());
    if (!launched_) Launch();
    Wait();
    std::swap(cur_, next_);
    pos_ = 0;
    if (threaded_ && !cur_.ended) Launch();
  }
  return LineAt(cur_.entries[pos_++]);
}

LineAhead::Line LineAhead::LineAt(const Entry& e) const {
  return Line{e.result, std::string_view(cur_.bytes.data() + e.offset, e.length), e.tag};
}

void LineAhead::Stop() {
  Wait();
  active_ = false;
  source_ = nullptr;
  cur_ = Batch();
  next_ = Batch();
  pos_ = 0;
}
