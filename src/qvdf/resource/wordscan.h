// Eight-byte-at-a-time tests for the resource readers and writers: a line is
// copied or measured a machine word at a time while none of its bytes needs
// a closer look, and byte by byte only around the ones that do.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wordscan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

inline uint64_t Load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Non-zero when some byte of w is c. Marks are made in each byte's top bit;
// the lowest mark is always a true one (a false mark can only follow a true
// one), and so is the lowest of several such tests or-ed together.
constexpr uint64_t HasByte(uint64_t w, char c) {
  uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
  return (x - kOnes) & ~x & kHighs;
}

// Non-zero when some byte of w is 0x80 or above (a possible lead byte).
constexpr uint64_t HasHigh(uint64_t w) { return w & kHighs; }

// Bytes of w before the first marked one (m non-zero); the host is
// little-endian.
inline size_t BytesBefore(uint64_t m) { return static_cast<size_t>(std::countr_zero(m)) / 8; }

}  // namespace wordscan
