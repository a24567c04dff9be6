// Text tables of every version through the real open/read path. The first
// byte picks the version (0, 1, 2 -> 2, 3, 4); the rest is the file.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const FileKind kKinds[] = {FileKind::TxtV2, FileKind::TxtV3, FileKind::TxtV4};
  FileKind kind = kKinds[data[0] % 3];
  std::string name = fuzz::WriteScratch("in.txt", data + 1, size - 1);
  fuzz::WorkTable t;
  fuzz::ReadThenWrite(&t, name, kind);
  return 0;
}
