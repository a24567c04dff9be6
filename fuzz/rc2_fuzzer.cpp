// Resource scripts through the real open/read path; the first byte's low
// bit picks version 3 or 4.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FileKind kind = (data[0] & 1) ? FileKind::Rc2V4 : FileKind::Rc2V3;
  std::string name = fuzz::WriteScratch("in.rc2", data + 1, size - 1);
  fuzz::WorkTable t;
  fuzz::ReadThenWrite(&t, name, kind);
  return 0;
}
