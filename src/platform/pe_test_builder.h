// Builds small Windows module images byte by byte for tests: one ".rsrc"
// section holding the resources asked for, in PE32 or PE32+ form. Tests of
// the resource reader and of the module form use it to make inputs (and to
// damage them) without a resource compiler.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pe_testing {

using Bytes = std::vector<unsigned char>;

struct TestRes {
  uint32_t type;
  std::string name;                // "#n" for a numeric ID
  std::vector<std::string> langs;  // data of each language, in order
};

// The image, and file offsets of the pieces of one resource (the target),
// for damaging them.
struct BuiltPe {
  Bytes img;
  size_t opt = 0, sections = 0, rsrc = 0, name_dir = 0, lang_dir = 0, data_entry = 0, name_str = 0,
         data = 0;
};

inline constexpr uint32_t kSectionRva = 0x1000;
inline constexpr size_t kHeaders = 0x200;

inline void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
inline size_t Grow(Bytes& b, size_t n) {
  size_t at = b.size();
  b.resize(at + n);
  return at;
}

// A module with one ".rsrc" section holding the given resources; the
// offsets recorded are those of res[target]. The section's data ends the
// file, so any truncation cuts into it.
inline BuiltPe BuildPe(bool plus, const std::vector<TestRes>& res, size_t target = 0) {
  std::vector<uint32_t> types;
  for (const auto& r : res) {
    bool seen = false;
    for (uint32_t t : types) seen = seen || t == r.type;
    if (!seen) types.push_back(r.type);
  }
  BuiltPe out;
  Bytes s;
  size_t root = Grow(s, 16 + 8 * types.size());
  Put16(s, root + 14, static_cast<uint32_t>(types.size()));
  for (size_t ti = 0; ti < types.size(); ++ti) {
    std::vector<size_t> idx;  // named entries first, as resource compilers order them
    for (size_t i = 0; i < res.size(); ++i)
      if (res[i].type == types[ti] && res[i].name[0] != '#') idx.push_back(i);
    size_t named = idx.size();
    for (size_t i = 0; i < res.size(); ++i)
      if (res[i].type == types[ti] && res[i].name[0] == '#') idx.push_back(i);
    size_t nd = Grow(s, 16 + 8 * idx.size());
    Put16(s, nd + 12, static_cast<uint32_t>(named));
    Put16(s, nd + 14, static_cast<uint32_t>(idx.size() - named));
    Put32(s, root + 16 + 8 * ti, types[ti]);
    Put32(s, root + 20 + 8 * ti, 0x80000000u | static_cast<uint32_t>(nd));
    for (size_t k = 0; k < idx.size(); ++k) {
      const TestRes& r = res[idx[k]];
      size_t ld = Grow(s, 16 + 8 * r.langs.size());
      Put16(s, ld + 14, static_cast<uint32_t>(r.langs.size()));
      size_t str = 0;
      if (r.name[0] == '#') {
        Put32(s, nd + 16 + 8 * k, static_cast<uint32_t>(std::stoul(r.name.substr(1))));
      } else {
        str = Grow(s, 2 + 2 * r.name.size());
        Put16(s, str, static_cast<uint32_t>(r.name.size()));
        for (size_t c = 0; c < r.name.size(); ++c)
          Put16(s, str + 2 + 2 * c, static_cast<unsigned char>(r.name[c]));
        Put32(s, nd + 16 + 8 * k, 0x80000000u | static_cast<uint32_t>(str));
      }
      Put32(s, nd + 20 + 8 * k, 0x80000000u | static_cast<uint32_t>(ld));
      for (size_t li = 0; li < r.langs.size(); ++li) {
        size_t de = Grow(s, 16);
        size_t data = Grow(s, (r.langs[li].size() + 3) & ~size_t{3});
        std::copy(r.langs[li].begin(), r.langs[li].end(), s.begin() + static_cast<long>(data));
        Put32(s, ld + 16 + 8 * li, static_cast<uint32_t>(1033 + li));
        Put32(s, ld + 20 + 8 * li, static_cast<uint32_t>(de));
        Put32(s, de, kSectionRva + static_cast<uint32_t>(data));
        Put32(s, de + 4, static_cast<uint32_t>(r.langs[li].size()));
        if (idx[k] == target && li == 0) {
          out.name_dir = kHeaders + nd;
          out.lang_dir = kHeaders + ld;
          out.data_entry = kHeaders + de;
          out.name_str = str ? kHeaders + str : 0;
          out.data = kHeaders + data;
        }
      }
    }
  }
  Bytes& b = out.img;
  b.assign(kHeaders + s.size(), 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  const size_t coff = 0x44, opt = coff + 20, opt_size = plus ? 240 : 224;
  Put16(b, coff, plus ? 0x8664 : 0x14C);
  Put16(b, coff + 2, 1);
  Put16(b, coff + 16, static_cast<uint32_t>(opt_size));
  Put16(b, opt, plus ? 0x20B : 0x10B);
  Put32(b, opt + (plus ? 108 : 92), 16);
  Put32(b, opt + (plus ? 112 : 96) + 16, kSectionRva);
  Put32(b, opt + (plus ? 112 : 96) + 20, static_cast<uint32_t>(s.size()));
  const size_t sect = opt + opt_size;
  std::copy_n(".rsrc", 5, b.begin() + static_cast<long>(sect));
  Put32(b, sect + 8, static_cast<uint32_t>(s.size()));
  Put32(b, sect + 12, kSectionRva);
  Put32(b, sect + 16, static_cast<uint32_t>(s.size()));
  Put32(b, sect + 20, kHeaders);
  std::copy(s.begin(), s.end(), b.begin() + kHeaders);
  out.opt = opt;
  out.sections = sect;
  out.rsrc = kHeaders;
  return out;
}

}  // namespace pe_testing
