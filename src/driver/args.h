// The command line: four lists of files and the run flags, file kinds by
// extension and forced version, and the usage text.
#pragma once

#include <cstdint>
#include <memory>

#include "qvutil/types.h"

struct FileEntry {
  FileKind kind;
  char szName[kMaxPath];
};

// A count and an array of entry pointers. The array and the entries lie in
// one block that the list owns; an empty list has none.
struct FileList {
  int count = 0;
  FileEntry** entries = nullptr;
  int capacity = 0;  // entries the block holds
  std::unique_ptr<unsigned char[]> block;
};

using UsageFn = void (*)(const char* programPath);

// Fills the four lists from the arguments and updates *flags (Verbose,
// Force) as the options say. Returns 0 on success; -1 on any failure, after
// its message (and the usage where the failure calls for it), with the lists
// empty again.
int ParseArgs(int argc, char** argv, MessageFn msg, UsageFn usage, FileList* inputs,
              FileList* modifiers, FileList* outputs, FileList* logs, uint32_t* flags);
// Prints the usage text to standard output; the program name shown is the
// base name of programPath.
void ShowUsage(const char* programPath);
// The kind of an input or output name for a forced version (0 for none);
// Unknown when the extension is not one of the table forms.
FileKind ClassifyFile(const char* name, int forcedVersion);
// Frees every list's block and sets its count to 0. Never fails.
void ReleaseArgs(FileList* inputs, FileList* modifiers, FileList* outputs, FileList* logs);
