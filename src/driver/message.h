// The run's message callback: console and log file by level and Verbose.
#pragma once

#include <cstdint>

// The process-wide run flags (Verbose, Force).
extern uint32_t g_RunFlags;

void ConsoleMessageFn(int level, const char* text);
// Opens the log stream with truncation; a failure leaves it closed.
void OpenLogStream(const char* path);
void CloseLogStream();
