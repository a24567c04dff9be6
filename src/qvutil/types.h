// Types every layer shares: the message callback, the file kinds of the
// command line, the run flags and the resource-name carry area. They live
// here, at the bottom, so that format modules need not include the driver.
#pragma once

#include <cstdint>

// Message callback: a level (20, 40, 60, 80 or 100) and a NUL-terminated
// text. May be null; every caller checks.
using MessageFn = void (*)(int level, const char* text);

// Message levels.
constexpr int kLevelDetail = 20;
constexpr int kLevelProgress = 40;
constexpr int kLevelStep = 60;
constexpr int kLevelWarning = 80;
constexpr int kLevelError = 100;

// Sends text through fn when fn is set.
inline void SendMessage(MessageFn fn, int level, const char* text) {
  if (fn) fn(level, text);
}

// What a command-line file is, from its extension and forced version.
enum class FileKind : int32_t {
  Unknown = 0,
  ItbV2 = 2,
  ItbV3 = 3,
  ItbV4 = 4,
  TxtV2 = 6,
  TxtV3 = 7,
  TxtV4 = 8,
  Rc2V3 = 9,
  Rc2V4 = 10,
  FilV3 = 11,
  FilV4 = 12,
  Subset = 13,
  Modifier14 = 14,  // never produced; modifier kinds that are not supported
  Modifier15 = 15,
  LogFile = 16,
  ItrV3 = 19,
  ItrV4 = 20,
};

// The run's flags word.
constexpr uint32_t kFlagVerbose = 1;
constexpr uint32_t kFlagForce = 2;

// 128-byte area handed to every read and write dispatch: the RC2 reader
// leaves a resource-name suffix in it, the RC2 writer appends it.
struct Rc2Carry {
  char szSuffix[128];
};

// Longest path, terminator included (MAX_PATH).
constexpr int kMaxPath = 260;
