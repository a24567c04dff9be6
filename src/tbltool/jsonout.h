// A streaming JSON writer for exports: a table's JSON is many times the
// memory a run may take, so it goes out in pieces as it is made, and texts
// are code-page bytes turned into characters on the way (bytes.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace tbltool {

class JsonOut {
 public:
  explicit JsonOut(std::FILE* f);
  ~JsonOut() { Flush(); }
  JsonOut(const JsonOut&) = delete;
  JsonOut& operator=(const JsonOut&) = delete;

  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  // A member's name; the value follows.
  void Key(std::string_view name) {
    Value();
    *p_++ = '"';
    Put(name);
    *p_++ = '"';
    *p_++ = ':';
    afterKey_ = true;
  }
  void Int(int64_t v);
  void String(std::string_view plain) {  // ASCII without quotes or backslashes
    Value();
    *p_++ = '"';
    Put(plain);
    *p_++ = '"';
  }
  void Text(std::string_view bytes);  // code-page bytes, mapped
  void Hex(std::string_view bytes);
  // The next value or member starts on a line of its own.
  void Break() { breakNext_ = true; }
  // Writes out what is held; false once a write has failed.
  bool Flush();

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  // Room past kFlushAt for the largest single item: a 464-byte text whose
  // every byte takes a six-character escape.
  static constexpr size_t kSlack = 16 << 10;
  static constexpr int kDepth = 16;

  void Put(std::string_view s) {
    std::memcpy(p_, s.data(), s.size());
    p_ += s.size();
  }
  void Value() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (depth_ > 0) {
      if (!first_[depth_ - 1]) *p_++ = ',';
      first_[depth_ - 1] = false;
    }
    if (breakNext_) {
      *p_++ = '\n';
      breakNext_ = false;
    }
  }
  void Open(char c) {
    Value();
    *p_++ = c;
    if (depth_ < kDepth) first_[depth_] = true;
    ++depth_;
  }
  void Close(char c) {
    if (depth_ > 0) --depth_;
    if (breakNext_) {
      *p_++ = '\n';
      breakNext_ = false;
    }
    *p_++ = c;
    Spill();
  }
  void Spill() {
    if (static_cast<size_t>(p_ - buf_.get()) >= kFlushAt) Flush();
  }

  std::FILE* f_;
  std::unique_ptr<char[]> buf_;
  char* p_;
  bool first_[kDepth] = {};
  int depth_ = 0;
  bool afterKey_ = false;
  bool breakNext_ = false;
  bool failed_ = false;
};

}  // namespace tbltool
