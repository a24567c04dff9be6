// Binary tables: open and merge into an intermediate table, then write it out.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string name = fuzz::WriteScratch("in.itb", data, size);
  fuzz::WorkTable t;
  fuzz::ReadThenWrite(&t, name, FileKind::ItbV4);
  return 0;
}
