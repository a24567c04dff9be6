// The run's message callback. The console is standard output; the log is a
// file stream that stays closed unless the command line named a log file.
#include "driver/message.h"

#include <cstdio>
#include <fstream>

#include "qvutil/types.h"

uint32_t g_RunFlags = 0;

namespace {

std::ofstream& LogStream() {
  static std::ofstream log;
  return log;
}

}  // namespace

void ConsoleLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void ConsoleMessageFn(int level, const char* text) {
  if (!text) return;
  bool verbose = (g_RunFlags & kFlagVerbose) != 0;
  if (verbose || level > 50) ConsoleLine(text);
  std::ofstream& log = LogStream();
  if (log.is_open() && (verbose || level > 25)) {
    log << text << '\n';
    log.flush();
  }
}

void OpenLogStream(const char* path) {
  std::ofstream& log = LogStream();
  if (log.is_open()) log.close();
  log.clear();
  log.open(path, std::ios::out | std::ios::trunc);
  if (!log.is_open()) log.clear();
}

void CloseLogStream() {
  std::ofstream& log = LogStream();
  if (log.is_open()) log.close();
  log.clear();
}
