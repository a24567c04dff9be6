// Split pairs merged back into a table: the bytes before the first
// separator line are the .itr string table, those after it the .itf keyed
// script (no separator: the .itf is missing). The first byte's low bit
// picks version 3 or 4.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FileKind kind = (data[0] & 1) ? FileKind::ItrV4 : FileKind::ItrV3;
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  static constexpr std::string_view kSep = "\n@@itf@@\n";
  size_t cut = rest.find(kSep);
  std::string itf = fuzz::ScratchPath("pair.itf");
  std::remove(itf.c_str());
  std::string_view itr = rest.substr(0, cut);
  std::string name =
      fuzz::WriteScratch("pair.itr", reinterpret_cast<const uint8_t*>(itr.data()), itr.size());
  if (cut != std::string_view::npos) {
    std::string_view body = rest.substr(cut + kSep.size());
    fuzz::WriteScratch("pair.itf", reinterpret_cast<const uint8_t*>(body.data()), body.size());
  }
  fuzz::WorkTable t;
  fuzz::ReadThenWrite(&t, name, kind);
  std::remove(itf.c_str());
  return 0;
}
