// Where the error log lives. Kept apart from the error log itself because the
// options file lies in the log's directory and the error log reads its
// settings from the options file: both sit above this module.
#pragma once

#include <string>

// Sets the full path of the error log.
void SetLogFilePath(const std::string& path);
// The error log's path; when none is set, first sets the default: the
// program's directory + "ZmTrace.log". Never empty.
std::string GetLogFilePath();
// Keeps the drive and directory of the current path and replaces the rest.
void SetLogFileName(const std::string& name);
