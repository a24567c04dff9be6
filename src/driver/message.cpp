// The run's message callback: console and log stream by level and Verbose.
#include "driver/message.h"

uint32_t g_RunFlags = 0;

void ConsoleMessageFn(int, const char*) {}
void OpenLogStream(const char*) {}
void CloseLogStream() {}
