// The command line: four lists of files and the run flags, file kinds by
// extension and forced version, and the usage text.
#pragma once

#include <cstdint>

#include "qvutil/types.h"

struct FileEntry {
  FileKind kind;
  char szName[kMaxPath];
};

struct FileList {
  int count = 0;
  FileEntry** entries = nullptr;  // entries of one list lie in one block
};

using UsageFn = void (*)(const char* programPath);

int ParseArgs(int argc, char** argv, MessageFn msg, UsageFn usage, FileList* inputs,
              FileList* modifiers, FileList* outputs, FileList* logs, uint32_t* flags);
void ShowUsage(const char* programPath);
FileKind ClassifyFile(const char* name, int forcedVersion);
void ReleaseArgs(FileList* inputs, FileList* modifiers, FileList* outputs, FileList* logs);
