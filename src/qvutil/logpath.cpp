// The error log's path, with its default beside the program.
#include "qvutil/logpath.h"

#include "platform/platform.h"

namespace {
std::string g_log_path;
}  // namespace

void SetLogFilePath(const std::string& path) { g_log_path = path; }

std::string GetLogFilePath() {
  if (g_log_path.empty()) g_log_path = platform::Env::Get()->ProgramDirectory() + "ZmTrace.log";
  return g_log_path;
}

void SetLogFileName(const std::string& name) {
  platform::Env* env = platform::Env::Get();
  platform::PathParts parts = env->SplitPath(GetLogFilePath());
  g_log_path = parts.drive + parts.dir + name;
}
