// PE resource lookup over an untrusted image. Every offset, size and count
// comes from the file, so each is checked against the image (and, for RVAs,
// against the section that holds it) before it is used; every refusal goes
// through Malformed() so there is one place to break on. The resource tree
// is walked exactly three levels deep (type, name, language) and no
// directory is entered twice, so a tree that points back into itself ends.
#include "platform/pe_resource.h"

#include <cstdint>
#include <cstring>
#include <set>

namespace platform {

namespace {

constexpr int kMalformed = 4;
constexpr uint32_t kHighBit = 0x80000000u;

int Malformed() { return kMalformed; }

class Image {
 public:
  Image(const unsigned char* p, size_t n) : p_(p), n_(n) {}

  bool Has(uint64_t off, uint64_t len) const { return off <= n_ && len <= n_ - off; }
  bool U16(uint64_t off, uint32_t* v) const {
    if (!Has(off, 2)) return false;
    *v = uint32_t{p_[off]} | uint32_t{p_[off + 1]} << 8;
    return true;
  }
  bool U32(uint64_t off, uint32_t* v) const {
    if (!Has(off, 4)) return false;
    *v = uint32_t{p_[off]} | uint32_t{p_[off + 1]} << 8 | uint32_t{p_[off + 2]} << 16 |
         uint32_t{p_[off + 3]} << 24;
    return true;
  }
  const unsigned char* At(uint64_t off) const { return p_ + off; }

 private:
  const unsigned char* p_;
  size_t n_;
};

struct Section {
  uint32_t va, raw_size, raw_ptr;
};

class PeReader {
 public:
  explicit PeReader(const Image& img) : img_(img) {}

  // Reads the headers and the section table; false when malformed.
  bool ParseHeaders(uint32_t* res_rva) {
    uint32_t mz, lfanew, sig, nsect, opt_size, magic;
    if (!img_.U16(0, &mz) || mz != 0x5A4D || !img_.U32(0x3C, &lfanew)) return false;
    if (!img_.U32(lfanew, &sig) || sig != 0x00004550) return false;  // "PE\0\0"
    uint64_t coff = uint64_t{lfanew} + 4;
    if (!img_.U16(coff + 2, &nsect) || !img_.U16(coff + 16, &opt_size)) return false;
    uint64_t opt = coff + 20;
    if (!img_.Has(opt, opt_size) || !img_.U16(opt, &magic)) return false;
    uint64_t count_at, dirs_at;
    if (magic == 0x10B) {
      count_at = 92;
      dirs_at = 96;
    } else if (magic == 0x20B) {
      count_at = 108;
      dirs_at = 112;
    } else {
      return false;
    }
    uint32_t ndirs;
    if (dirs_at + 3 * 8 > opt_size || !img_.U32(opt + count_at, &ndirs) || ndirs < 3) return false;
    if (!img_.U32(opt + dirs_at + 2 * 8, res_rva) || *res_rva == 0) return false;
    uint64_t table = opt + opt_size;
    if (!img_.Has(table, uint64_t{nsect} * 40)) return false;
    for (uint32_t i = 0; i < nsect; ++i) {
      Section s{0, 0, 0};
      uint64_t at = table + uint64_t{i} * 40;
      img_.U32(at + 12, &s.va);
      img_.U32(at + 16, &s.raw_size);
      img_.U32(at + 20, &s.raw_ptr);
      sections_.push_back(s);
    }
    return true;
  }

  // File offset of [rva, rva+len) when it lies inside one section's data in
  // the file; false otherwise.
  bool RvaToOffset(uint64_t rva, uint64_t len, uint64_t* off) const {
    for (const Section& s : sections_) {
      if (rva < s.va) continue;
      uint64_t delta = rva - s.va;
      if (delta >= s.raw_size || len > s.raw_size - delta) continue;
      uint64_t o = uint64_t{s.raw_ptr} + delta;
      if (!img_.Has(o, len)) return false;
      *off = o;
      return true;
    }
    return false;
  }

  const Image& image() const { return img_; }

 private:
  const Image& img_;
  std::vector<Section> sections_;
};

// One resource directory: its entries, read from the image.
struct Entry {
  uint32_t name;  // ID, or kHighBit | offset of a counted UTF-16 string
  uint32_t data;  // kHighBit | offset of a subdirectory, or offset of a data entry
};

bool ReadDirectory(const PeReader& pe, uint32_t res_rva, uint32_t rel, std::vector<Entry>* out) {
  uint64_t off;
  uint32_t named = 0, ids = 0;
  if (!pe.RvaToOffset(uint64_t{res_rva} + rel, 16, &off)) return false;
  pe.image().U16(off + 12, &named);
  pe.image().U16(off + 14, &ids);
  uint64_t n = uint64_t{named} + ids;
  if (!pe.RvaToOffset(uint64_t{res_rva} + rel, 16 + n * 8, &off)) return false;
  out->clear();
  for (uint64_t i = 0; i < n; ++i) {
    Entry e{0, 0};
    pe.image().U32(off + 16 + i * 8, &e.name);
    pe.image().U32(off + 20 + i * 8, &e.data);
    out->push_back(e);
  }
  return true;
}

unsigned Fold(unsigned c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// 1 when the entry's string name equals `name` without regard to ASCII case,
// 0 when it differs, -1 when the string lies outside the image.
int NameMatches(const PeReader& pe, uint32_t res_rva, uint32_t rel, const std::string& name) {
  uint64_t off;
  uint32_t len = 0;
  if (!pe.RvaToOffset(uint64_t{res_rva} + rel, 2, &off)) return -1;
  pe.image().U16(off, &len);
  if (!pe.RvaToOffset(uint64_t{res_rva} + rel, 2 + uint64_t{len} * 2, &off)) return -1;
  if (len != name.size()) return 0;
  for (uint32_t i = 0; i < len; ++i) {
    uint32_t w = 0;
    pe.image().U16(off + 2 + uint64_t{i} * 2, &w);
    if (Fold(w) != Fold(static_cast<unsigned char>(name[i]))) return 0;
  }
  return 1;
}

// "#123" names the numeric ID 123, as FindResourceA reads it.
bool NumericName(const std::string& name, uint32_t* id) {
  if (name.size() < 2 || name.size() > 6 || name[0] != '#') return false;
  uint32_t v = 0;
  for (size_t i = 1; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    v = v * 10 + static_cast<uint32_t>(name[i] - '0');
  }
  if (v > 0xFFFF) return false;
  *id = v;
  return true;
}

}  // namespace

int FindPeResource(const unsigned char* image, size_t size, const std::string& name, int type,
                   std::vector<char>* data) {
  Image img(image, size);
  PeReader pe(img);
  uint32_t res_rva;
  if (!pe.ParseHeaders(&res_rva)) return Malformed();

  std::set<uint32_t> visited;
  std::vector<Entry> entries;
  uint32_t dir = 0;
  uint32_t id = 0;
  bool by_id = NumericName(name, &id);
  for (int level = 0; level < 3; ++level) {
    if (!visited.insert(dir).second) return Malformed();
    if (!ReadDirectory(pe, res_rva, dir, &entries)) return Malformed();
    const Entry* found = nullptr;
    for (const Entry& e : entries) {
      if (level == 2) {  // language: the first one there is
        found = &e;
        break;
      }
      bool want_id = level == 0 || by_id;
      uint32_t want = level == 0 ? static_cast<uint32_t>(type) : id;
      if (want_id) {
        if (!(e.name & kHighBit) && e.name == want) found = &e;
      } else if (e.name & kHighBit) {
        int m = NameMatches(pe, res_rva, e.name & ~kHighBit, name);
        if (m < 0) return Malformed();
        if (m == 1) found = &e;
      }
      if (found) break;
    }
    if (!found) return Malformed();
    bool is_dir = (found->data & kHighBit) != 0;
    if (is_dir != (level < 2)) return Malformed();
    dir = found->data & ~kHighBit;
  }

  // dir now holds the offset of the data entry: RVA and size of the bytes.
  uint64_t off;
  uint32_t data_rva = 0, data_size = 0;
  if (!pe.RvaToOffset(uint64_t{res_rva} + dir, 16, &off)) return Malformed();
  img.U32(off, &data_rva);
  img.U32(off + 4, &data_size);
  if (!pe.RvaToOffset(data_rva, data_size, &off)) return Malformed();
  const char* p = reinterpret_cast<const char*>(img.At(off));
  data->assign(p, p + data_size);
  return 0;
}

}  // namespace platform
