// Helpers of the split and merge unit tests: script lines made from text
// lines, .itr lines, and a stream that collects the classes' warnings.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#include "platform/platform.h"
#include "qvdf/resource/rc2line.h"

namespace loctest {

// The script form of text lines, as the script writer makes them.
inline std::string Script(std::initializer_list<std::string> txtLines) {
  std::string out;
  for (const std::string& l : txtLines) AppendRc2ScriptLine(l + "\r\n", &out);
  return out;
}

// One string-table line: the key left-aligned in 60 columns.
inline std::string ItrLine(const std::string& key, const std::string& text) {
  std::string line = "    " + key;
  if (key.size() < 60) line.append(60 - key.size(), ' ');
  return line + " \"" + text + "\"\n";
}

// A temporary stream whose text can be read back.
class WarnSink {
 public:
  WarnSink() : f_(std::tmpfile()) {}
  ~WarnSink() {
    if (f_) std::fclose(f_);
  }
  WarnSink(const WarnSink&) = delete;
  WarnSink& operator=(const WarnSink&) = delete;
  std::FILE* get() const { return f_; }
  std::string Text() const {
    std::fflush(f_);
    std::rewind(f_);
    std::string s;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f_)) > 0;) s.append(buf, n);
    std::fseek(f_, 0, SEEK_END);
    return s;
  }

 private:
  std::FILE* f_;
};

// Installs, for its lifetime, a code page with the lead bytes of code page
// 932 (or none) and upper casing that, like the system's, leaves
// double-byte characters alone and stops at a NUL or a lead byte before one.
class CodePage : public platform::EnvWrapper {
 public:
  explicit CodePage(bool doubleByte) : EnvWrapper(platform::Env::Get()), doubleByte_(doubleByte) {
    platform::Env::SetForTesting(this);
  }
  ~CodePage() override { platform::Env::SetForTesting(nullptr); }
  bool IsLeadByte(unsigned char c) override {
    return doubleByte_ && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
  }
  void UpperCase(char* s) override {
    for (; *s; ++s) {
      unsigned char c = static_cast<unsigned char>(*s);
      if (IsLeadByte(c)) {
        if (!s[1]) break;
        ++s;
      } else if (c >= 'a' && c <= 'z') {
        *s = static_cast<char>(c - ('a' - 'A'));
      }
    }
  }

 private:
  bool doubleByte_;
};

}  // namespace loctest
