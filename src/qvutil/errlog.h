// The error log: time-stamped error and trace entries appended to a shared
// log file, rotated into numbered backups under a named mutex. Entries are a
// table of function pointers so that an external logging library could
// replace them; the built-in ones are complete.
#pragma once

#include <string>

// Front functions; each runs the start-up first.
// Writes an "Error a.b" entry; returns b (also when the entry is lost).
int ErrorLogError(const char* source, int line, int a, int b);
// Writes an "Error text.code" entry; returns code (also when lost).
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

// The fifteen entries, in their fixed order. Results as the front functions
// above; Error_L and Error_SL return their last argument, the Trace entries
// 0 or the failure of the open.
struct ErrorLogEntries {
  int (*Error)(const char* source, int line, int a, int b);
  long (*Error_L)(const char* source, int line, long a, long b);
  int (*Error_S)(const char* source, int line, const char* text, int code);
  int (*Error_SL)(const char* source, int line, const char* text, long n, int code);
  int (*ErrorLogDelete)();
  int (*MusicalBackups)(const char* path, int count);
  int (*Trace0)(const char* text);
  int (*Trace00)(const char* text);
  int (*Trace1)(const char* source, int line, const char* text);
  void (*SetLogFileName)(const char* name);
  void (*SetLogFilePath)(const char* path);
  const char* (*GetLogFilePath)();
  int (*BackupLogFile)();
  void (*SetProfileID)(const char* id);
  const char* (*GetProfileID)();
};
// The table after the start-up has run.
const ErrorLogEntries& ErrorLogTable();

// Test hook: forget the start-up, the settings read, the lost-entry count
// and the kept options path, so a test can point the log at a fresh
// directory (set the path after this call).
void ErrorLogResetForTesting();
