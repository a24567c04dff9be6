// Many-bytes-at-a-time scans for the text and resource readers and writers:
// a line is copied or measured sixteen (or eight) bytes at a time while none
// of its bytes needs a closer look, and byte by byte only around the ones
// that do. The 64-bit tests mark a byte in its top bit; the host is
// little-endian, so the lowest mark is the first byte. Also the lanes of
// the field-list checksum. The only place outside the platform layer that
// knows the processor's vector instructions.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wordscan {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Non-zero when some byte of w is c. Marks are made in each byte's top bit;
// the lowest mark is always a true one (a false mark can only follow a true
// one), and so is the lowest of several such tests or-ed together.
constexpr uint64_t HasByte(uint64_t w, char c) {
  uint64_t x = w ^ (kOnes * static_cast<unsigned char>(c));
  return (x - kOnes) & ~x & kHighs;
}

// Non-zero when some byte of w is below b (b at most 0x80); the lowest mark
// is a true one, as for HasByte.
constexpr uint64_t HasByteBelow(uint64_t w, unsigned char b) {
  return (w - kOnes * b) & ~w & kHighs;
}

// Bytes of p[0, n) before the first one that is a, b, c, d or from 0x80 (a
// possible lead byte); n when there is none. With dst they are also copied
// there; dst must have room for n bytes, as a few past the count returned
// may be written too.
[[gnu::always_inline]] inline size_t PlainBytes(const char* p, size_t n, char a, char b, char c,
                                                char d, char* dst = nullptr) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
  const __m128i vc = _mm_set1_epi8(c), vd = _mm_set1_epi8(d);
  for (; i + 16 <= n; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if (dst) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), v);
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                               _mm_or_si128(_mm_cmpeq_epi8(v, vc), _mm_cmpeq_epi8(v, vd)));
    // A byte's top bit: set in a hit, and in v itself from 0x80 on.
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(hit, v)));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (dst) std::memcpy(dst + i, &w, 8);
    uint64_t m = (w & kHighs) | HasByte(w, a) | HasByte(w, b) | HasByte(w, c) | HasByte(w, d);
    // The host is little-endian: the lowest mark is the first byte.
    if (m != 0) return i + static_cast<size_t>(std::countr_zero(m)) / 8;
  }
  for (; i < n; ++i) {
    char x = p[i];
    if (x == a || x == b || x == c || x == d || static_cast<unsigned char>(x) >= 0x80) return i;
    if (dst) dst[i] = x;
  }
  return n;
}

// For the m <= 64 bytes at p: bit k of *hits is set where p[k] is c, bit k
// of *highs where p[k] is from 0x80 (a possible lead byte).
inline void ByteMasks64(const char* p, size_t m, char c, uint64_t* hits, uint64_t* highs) {
  uint64_t h = 0, hi = 0;
#if defined(__SSE2__)
  // A short window is read from a zero-padded copy.
  alignas(16) char pad[64];
  const char* src = p;
  if (m < 64) {
    std::memset(pad, 0, sizeof pad);
    std::memcpy(pad, p, m);
    src = pad;
  }
  const __m128i vc = _mm_set1_epi8(c);
  for (int k = 0; k < 4; ++k) {
    __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * k));
    h |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, vc))))
         << (16 * k);
    hi |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(w))) << (16 * k);
  }
#else
  for (size_t k = 0; k < m; ++k) {
    if (p[k] == c) h |= uint64_t{1} << k;
    if (static_cast<unsigned char>(p[k]) >= 0x80) hi |= uint64_t{1} << k;
  }
#endif
  *hits = h;
  *highs = hi;
}

#if defined(__SSE2__)
inline __m128i Load16(const uint16_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// The 64 lanes of a 16-bit polynomial hash over interleaved bytes: for each
// of the `blocks` 64-byte blocks at p, lane[j] = lane[j] * step + p[j]
// (the byte sign-extended), modulo 2^16. Sixty-four lanes keep the
// multiplier busy; in vector registers they never touch memory.
inline void FoldBlocks64(const signed char* p, size_t blocks, uint16_t step, uint16_t lane[64]) {
#if defined(__SSE2__)
  // Named rather than an array, so that they stay in registers.
  __m128i a0 = Load16(lane), a1 = Load16(lane + 8), a2 = Load16(lane + 16), a3 = Load16(lane + 24);
  __m128i a4 = Load16(lane + 32), a5 = Load16(lane + 40), a6 = Load16(lane + 48),
          a7 = Load16(lane + 56);
  const __m128i m = _mm_set1_epi16(static_cast<short>(step));
  const __m128i zero = _mm_setzero_si128();
  auto fold = [&](__m128i& lo, __m128i& hi, const signed char* at) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i sign = _mm_cmpgt_epi8(zero, v);
    lo = _mm_add_epi16(_mm_mullo_epi16(lo, m), _mm_unpacklo_epi8(v, sign));
    hi = _mm_add_epi16(_mm_mullo_epi16(hi, m), _mm_unpackhi_epi8(v, sign));
  };
  for (size_t b = 0; b < blocks; ++b, p += 64) {
    fold(a0, a1, p);
    fold(a2, a3, p + 16);
    fold(a4, a5, p + 32);
    fold(a6, a7, p + 48);
  }
  const __m128i all[8] = {a0, a1, a2, a3, a4, a5, a6, a7};
  for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(lane + 8 * k), all[k]);
#else
  for (size_t b = 0; b < blocks; ++b, p += 64)
    for (int j = 0; j < 64; ++j)
      // Unsigned products: 16-bit operands would be promoted to int and overflow.
      lane[j] =
          static_cast<uint16_t>(unsigned{lane[j]} * step + unsigned{static_cast<uint16_t>(p[j])});
#endif
}

}  // namespace wordscan
