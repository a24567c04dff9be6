// The error log: time-stamped error and trace entries appended to a shared
// log file, rotated into numbered backups under a named mutex. Entries are a
// table of function pointers so that an external logging library could
// replace them; the built-in ones are complete.
#pragma once

#include <string>

// Front functions; each runs the start-up first.
// Writes an "Error a.b" entry; returns b.
int ErrorLogError(const char* source, int line, int a, int b);
// Writes an "Error text.code" entry; returns code.
int ErrorLogErrorS(const char* source, int line, const char* text, int code);
// Rotates path into path's .bk0 ... backups, keeping at most min(count,16).
// 0 or -1.
int ErrorLogMusicalBackups(const char* path, int count);
// Writes text + "\r\n". 0, or the failure of the open.
int ErrorLogTrace00(const char* text);
// Moves the log to its backups (deletes it with backup setting 0). 0 or -1.
int ErrorLogDelete();
// Log path, set to the default (program directory + "ZmTrace.log") if empty.
std::string ErrorLogGetPath();
void ErrorLogSetPath(const std::string& path);

// Test hook: forget the start-up and the settings read, so a test can point
// the log at a fresh directory.
void ErrorLogResetForTesting();
