// The run's message callback: console and log file by level and Verbose.
#pragma once

#include <cstdint>

// The process-wide run flags (Verbose, Force).
extern uint32_t g_RunFlags;

// Called once before anything is written: declares which levels
// ConsoleMessageFn keeps, for MessageWanted.
void SetUpConsole();
// Shows text on the console when Verbose is set or level > 50, and writes
// it to the open log when level > 25 or Verbose is set; each followed by a
// newline and a flush.
void ConsoleMessageFn(int level, const char* text);
// Writes text, a newline and a flush to the console only, whatever the flags.
void ConsoleLine(const char* text);
// Opens the log stream with truncation; a failure leaves it closed, silently.
void OpenLogStream(const char* path);
// Closes the log stream if it is open.
void CloseLogStream();
