// Split-pair entry points. The pair's reader and writer land with the
// localised-name classes; until then both refuse loudly.
#include "qvdf/resource/split.h"

#include <cstdio>

int SplitTableFile(int, const char*, const char* itrName, MessageFn, ConvertFn) {
  std::fprintf(stderr, "Split pair tables (.itr/.itf) are not available in this build: %s\n", itrName);
  return 1;
}

int ReadSplitTableFile(int, const char* itrName, char* outName, MessageFn, ConvertFn) {
  if (outName) outName[0] = '\0';
  std::fprintf(stderr, "Split pair tables (.itr/.itf) are not available in this build: %s\n", itrName);
  return 1;
}
