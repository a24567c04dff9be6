// The options file "qvoptcfg.cfg" (integer settings in a profile file beside
// the error log) and the file routines over numeric handles.
#pragma once

#include <string>

#include "platform/platform.h"

using platform::FileHandle;

// The log's directory + "qvoptcfg.cfg", worked out on first use and kept.
std::string GetOptionsPath();
// The key's leading decimal integer (0 when it does not start with one,
// clamped to int), from the system's options file when that has the key,
// else from the user's; a key in neither returns `def` after writing it to
// the user's file.
int ReadOptionInt(const char* section, const char* key, int def);
// Write the key (creating the file or section); failures are not reported.
void WriteOptionInt(const char* section, const char* key, int value);
void WriteOptionString(const char* section, const char* key, const char* text);
// Forget the kept options path (tests).
void OptionsResetForTesting();

// Open modes of OpenFileMode.
constexpr int kModeRead = 1;
constexpr int kModeWrite = 2;      // truncate or create
constexpr int kModeAppend = 3;     // open or create; every write goes to the end
constexpr int kModeReadWrite = 4;  // existing file only
// 0 with *handle open, or -1 with *handle = -1 and the OS error's low 16 bits
// in the high 16 bits of *status (status unchanged for an invalid mode).
int OpenFileMode(const char* path, int mode, int* status, FileHandle* handle, const char* module,
                 int line);
// 0, or -1 when the handle could not be closed.
int CloseFileHandle(FileHandle handle, const char* module, int line);
// 0 when every character was written in one call, else -1.
int WriteText(const char* text, FileHandle handle);
