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

// Which levels a callback keeps. A reader that would compose a message for
// every record line asks first, so that a run without /v does not build
// hundreds of thousands of lines only to drop them.
using MessageKeepsFn = bool (*)(int level);

namespace message_detail {
struct Filter {
  MessageFn fn;
  MessageKeepsFn keeps;
};
inline Filter g_filters[8];
inline int g_filterCount = 0;
}  // namespace message_detail

// Declares that fn keeps a message of level only when keeps(level) holds;
// a later declaration for the same fn replaces the earlier one.
inline void DeclareMessageFilter(MessageFn fn, MessageKeepsFn keeps) {
  using namespace message_detail;
  for (int i = 0; i < g_filterCount; ++i)
    if (g_filters[i].fn == fn) {
      g_filters[i].keeps = keeps;
      return;
    }
  if (g_filterCount < 8) g_filters[g_filterCount++] = {fn, keeps};
}

// Whether a message of level sent through fn would be kept: false for no
// fn, true for a callback that declared nothing.
inline bool MessageWanted(MessageFn fn, int level) {
  if (!fn) return false;
  using namespace message_detail;
  for (int i = 0; i < g_filterCount; ++i)
    if (g_filters[i].fn == fn) return g_filters[i].keeps(level);
  return true;
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
