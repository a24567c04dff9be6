// The byte <-> character mapping and the JSON text and hexadecimal forms
// built on it. The encoding side runs once per byte of an export, so every
// byte's UTF-8 form is made once, up front.
#include "tbltool/bytes.h"

#include <cstdio>
#include <cstring>

namespace tbltool {

namespace {

// Windows-1252 for 0x80..0x9F; its five undefined bytes keep their own
// number as a C1 control.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void PutUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

struct JsonForms {
  std::string form[256];
  char len[256];
  bool plain[256];  // the byte stands for itself
  JsonForms() {
    for (int b = 0; b < 256; ++b) {
      char32_t c = ByteToChar(static_cast<unsigned char>(b));
      plain[b] = c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
      if (c == '"') {
        form[b] = "\\\"";
      } else if (c == '\\') {
        form[b] = "\\\\";
      } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        form[b] = buf;
      } else {
        PutUtf8(&form[b], c);
      }
      len[b] = static_cast<char>(form[b].size());
    }
  }
};
const JsonForms& Forms() {
  static const JsonForms forms;
  return forms;
}

}  // namespace

char32_t ByteToChar(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kHigh[b - 0x80];
  return b;
}

bool CharToByte(char32_t c, unsigned char* b) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
    *b = static_cast<unsigned char>(c);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == c) {
      *b = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendJsonText(std::string* out, std::string_view bytes) {
  const JsonForms& f = Forms();
  size_t run = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (f.plain[b]) continue;
    out->append(bytes.data() + run, i - run);
    out->append(f.form[b]);
    run = i + 1;
  }
  out->append(bytes.data() + run, bytes.size() - run);
}

char* PutJsonText(char* dst, std::string_view bytes) {
  const JsonForms& f = Forms();
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (f.plain[b]) {
      *dst++ = ch;
    } else {
      std::memcpy(dst, f.form[b].data(), static_cast<size_t>(f.len[b]));
      dst += f.len[b];
    }
  }
  return dst;
}

bool TextToBytes(std::string_view s, std::string* bytes, char32_t* bad) {
  bytes->clear();
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      n = 4;
    } else {
      *bad = 0xFFFFFFFF;
      return false;
    }
    if (i + n > s.size()) {
      *bad = 0xFFFFFFFF;
      return false;
    }
    for (size_t k = 1; k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) {
        *bad = 0xFFFFFFFF;
        return false;
      }
      cp = (cp << 6) | (t & 0x3F);
    }
    unsigned char b;
    if (!CharToByte(cp, &b)) {
      *bad = cp;
      return false;
    }
    bytes->push_back(static_cast<char>(b));
    i += n;
  }
  return true;
}

std::string CharName(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

std::string ToHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

bool FromHex(std::string_view hex, std::string* bytes) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = digit(hex[i]), lo = digit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

}  // namespace tbltool
