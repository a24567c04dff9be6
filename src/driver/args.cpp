// Command-line parsing: the four file lists and the run flags.
#include "driver/args.h"

#include <cstdio>

int ParseArgs(int, char**, MessageFn, UsageFn, FileList*, FileList*, FileList*, FileList*,
              uint32_t*) {
  return -1;
}
void ShowUsage(const char*) {}
FileKind ClassifyFile(const char*, int) { return FileKind::Unknown; }
void ReleaseArgs(FileList*, FileList*, FileList*, FileList*) {}
