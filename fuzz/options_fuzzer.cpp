// The options file: the bytes become qvoptcfg.cfg beside the error log and
// the settings the program reads are read from it (writing back the ones
// that are missing), then one more value straight from the profile reader.
#include "fuzz_util.h"
#include "platform/platform.h"
#include "qvutil/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchDir();
  OptionsResetForTesting();
  std::string path = GetOptionsPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size != 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
  volatile unsigned sum = 0;
  sum = sum + static_cast<unsigned>(ReadOptionInt("General", "ErrLogMaxSize", 500000));
  sum = sum + static_cast<unsigned>(ReadOptionInt("General", "ErrLogBackups", 0));
  sum = sum + static_cast<unsigned>(ReadOptionInt("qvwin", "HeapLogging", 0));
  std::string s = platform::Env::Get()->ReadProfileString(path, "General", "ProfileID", "x");
  sum = sum + static_cast<unsigned>(s.size());
  std::remove(path.c_str());
  return 0;
}
