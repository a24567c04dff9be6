// Modules: the module parser finds the table resource in untrusted image
// bytes, then the text reader reads it. The first byte's low bit picks
// version 3 or 4.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FileKind kind = (data[0] & 1) ? FileKind::FilV4 : FileKind::FilV3;
  std::string name = fuzz::WriteScratch("in.fil", data + 1, size - 1);
  fuzz::WorkTable t;
  fuzz::ReadThenWrite(&t, name, kind);
  return 0;
}
