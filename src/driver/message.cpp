// The run's message callback. The console is standard output; the log is a
// file stream that stays closed unless the command line named a log file.
#include "driver/message.h"

#include <cstdio>
#include <fstream>

#include "platform/platform.h"
#include "qvutil/types.h"

uint32_t g_RunFlags = 0;

namespace {

std::ofstream& LogStream() {
  static std::ofstream log;
  return log;
}

// Whether each console line must be out before the next: unless set up
// otherwise, always.
bool& ConsoleWatched() {
  static bool watched = true;
  return watched;
}

bool Verbose() { return (g_RunFlags & kFlagVerbose) != 0; }
bool ConsoleKeeps(int level) { return Verbose() || level > 50; }
bool LogKeeps(int level) { return Verbose() || level > 25; }
bool Keeps(int level) { return ConsoleKeeps(level) || (LogStream().is_open() && LogKeeps(level)); }

}  // namespace

void SetUpConsole() {
  DeclareMessageFilter(ConsoleMessageFn, Keeps);
  // Thousands of messages would each cost a write; where nobody can see the
  // order of the two streams, the lines collect and go out as the buffer
  // fills and at exit.
  if (platform::Env::Get()->ConsoleIsWatched()) return;
  static char buffer[64 * 1024];
  if (std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer) == 0) ConsoleWatched() = false;
}

void ConsoleLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  if (ConsoleWatched()) std::fflush(stdout);
}

void ConsoleMessageFn(int level, const char* text) {
  if (!text) return;
  if (ConsoleKeeps(level)) ConsoleLine(text);
  std::ofstream& log = LogStream();
  if (log.is_open() && LogKeeps(level)) {
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
