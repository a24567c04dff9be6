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

bool Verbose() { return (g_RunFlags & kFlagVerbose) != 0; }
bool ConsoleKeeps(int level) { return Verbose() || level > 50; }
bool LogKeeps(int level) { return Verbose() || level > 25; }
bool Keeps(int level) { return ConsoleKeeps(level) || (LogStream().is_open() && LogKeeps(level)); }

}  // namespace

void SetUpConsole() { DeclareMessageFilter(ConsoleMessageFn, Keeps); }

// Every line is out before the next is made, so a run that is killed or
// crashes has shown everything it said.
void ConsoleLine(const char* text) {
  std::fputs(text, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
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
