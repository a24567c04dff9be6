// The built-in error log. Each entry opens the log for appending, writes one
// text and closes it again, so that several processes can share the file; a
// log that has grown past "ErrLogMaxSize" is rotated into .bk0 ... .bkf by
// whichever process takes the named mutex first.
//
// The product's external logging library (ZmSSLog.dll) is deliberately not
// supported: loading it by a bare name would run whatever library of that
// name is found first. The entry table stays, so the built-in entries are
// the only ones ever bound.
#include "qvutil/errlog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/platform.h"
#include "qvutil/logpath.h"
#include "qvutil/options.h"
#include "qvutil/status.h"

namespace {

constexpr const char* kRotationMutex = "<Zelm MusicalBackupsToControlLogFileSize Mutex>";
constexpr int kOpenRetries = 60;
constexpr int kRetryPauseMs = 50;
constexpr int kMaxBackups = 16;

struct State {
  bool started = false;
  long max_size = 500000;
  int backup_setting = 0;
  int backup_count = 1;
  int failed_opens = 0;
  std::string returned_path;  // keeps GetLogFilePath's text alive
};
State g;

platform::Env* E() { return platform::Env::Get(); }

// "Mon Jan 07 09:05:03 2002": 24 characters of local date and time.
std::string LongTime() {
  std::time_t now = std::time(nullptr);
  char buf[32] = "";
  if (const std::tm* tm = std::localtime(&now))
    std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", tm);
  return buf;
}

// "09:05:03.042": local time with milliseconds.
std::string TraceTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char hms[16] = "";
  if (const std::tm* tm = std::localtime(&secs)) std::strftime(hms, sizeof hms, "%H:%M:%S", tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s.%03d", hms, ms);
  return buf;
}

int64_t SizeOf(const std::string& path) {
  platform::FileAttributes a;
  return E()->GetAttributes(path, &a) ? static_cast<int64_t>(a.size) : 0;
}

bool Exists(const std::string& path) {
  platform::FileAttributes a;
  return E()->GetAttributes(path, &a);
}

void StartUp() {
  if (g.started) return;
  g.started = true;
  GetLogFilePath();  // sets the default when none is set
  g.max_size = ReadOptionInt("General", "ErrLogMaxSize", 500000);
  g.backup_setting = ReadOptionInt("General", "ErrLogBackups", 0);
  g.backup_count = g.backup_setting >= 1 ? g.backup_setting : 1;
}

int BuiltinMusicalBackups(const char* path, int count);

// Rotates the log unless another process holds the mutex or has already
// rotated it. 0 when the log is now empty, -1 otherwise. The mutex lives
// beside the log: the processes that share a log are the ones that must
// share its lock.
int RotateUnderMutex(const std::string& path) {
  platform::PathParts parts = E()->SplitPath(path);
  std::unique_ptr<platform::NamedMutex> mutex =
      E()->NewNamedMutex(kRotationMutex, parts.drive + parts.dir);
  if (!mutex) return kFailed;
  if (!mutex->TryLock()) return kFailed;
  int result;
  int64_t size = SizeOf(path);
  if (size < g.max_size)
    result = size == 0 ? 0 : -1;
  else
    result = BuiltinMusicalBackups(path.c_str(), g.backup_count);
  mutex->Unlock();
  return result;
}

bool WriteAll(platform::FileHandle h, const std::string& text) {
  return E()->WriteFile(h, text.data(), text.size()) == static_cast<long>(text.size());
}

// Opens the log for one entry, writing the banner and the retry and
// lost-entry notes that are due. 0 with *h open, or the open's error code.
int OpenErrorLog(platform::FileHandle* h) {
  StartUp();
  std::string path = GetLogFilePath();
  int64_t size = SizeOf(path);
  if (size >= g.max_size && RotateUnderMutex(path) == 0) size = 0;

  int err = E()->OpenFile(path, platform::Access::kWrite, platform::Disposition::kAppend, h);
  int retries = 0;
  while (err != 0 && retries < kOpenRetries) {
    E()->SleepMs(kRetryPauseMs);
    ++retries;
    err = E()->OpenFile(path, platform::Access::kWrite, platform::Disposition::kAppend, h);
  }
  if (err != 0) {
    ++g.failed_opens;
    return err;
  }
  if (size == 0)
    WriteAll(*h, LongTime().substr(0, 24) + " -- Zelm Technology Corvane Log File --\r\n\r\n");
  if (retries > 0) {
    WriteAll(*h,
             "\r\n\r\n** " + std::to_string(retries) + " QV_OPEN Retries Were Required **\r\n\r\n");
  }
  if (g.failed_opens > 0) {
    WriteAll(*h, "\r\n\r\n** The previous " + std::to_string(g.failed_opens) +
                     " logging attempts were thwarted by 'OpenErrorLog' failures **\r\n\r\n");
    g.failed_opens = 0;
  }
  return 0;
}

// Appends one entry; 0 or the open's error code.
int WriteEntry(const std::string& text) {
  platform::FileHandle h;
  int err = OpenErrorLog(&h);
  if (err != 0) return err;
  WriteAll(h, text);
  E()->CloseFile(h);
  return 0;
}

int BuiltinError(const char* source, int line, int a, int b) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.24s: Error %d.%d at %.256s line %d%s", LongTime().c_str(), a, b,
                source, line, "\r\n");
  WriteEntry(buf);
  return b;
}

long BuiltinErrorL(const char* source, int line, long a, long b) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.24s: Error 0x%lx.%ld.0x%lx.%d at %.256s line %d%s",
                LongTime().c_str(), static_cast<unsigned long>(a), a, static_cast<unsigned long>(b),
                static_cast<int>(b), source, line, "\r\n");
  WriteEntry(buf);
  return b;
}

int BuiltinErrorS(const char* source, int line, const char* text, int code) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.24s: Error %.150s.%d at %.256s line %d%s", LongTime().c_str(),
                text, code, source, line, "\r\n");
  WriteEntry(buf);
  return code;
}

int BuiltinErrorSL(const char* source, int line, const char* text, long n, int code) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.24s: Error %.150s.%ld.%d at %.256s line %d%s",
                LongTime().c_str(), text, n, code, source, line, "\r\n");
  WriteEntry(buf);
  return code;
}

int BuiltinErrorLogDelete() {
  std::string path = GetLogFilePath();
  if (!Exists(path)) return 0;
  return BuiltinMusicalBackups(path.c_str(), g.backup_setting);
}

int BuiltinMusicalBackups(const char* path, int count) {
  platform::Env* env = E();
  platform::PathParts parts = env->SplitPath(path);
  auto backup = [&](int i) {
    char ext[16];
    std::snprintf(ext, sizeof ext, ".bk%x", i);
    return env->JoinPath(platform::PathParts{parts.drive, parts.dir, parts.base, ext});
  };
  int k = count < kMaxBackups ? count : kMaxBackups;
  int result = 0;
  bool moved = false;
  for (int i = k; i >= 1; --i) {
    std::string target = backup(i - 1);
    std::string source = i == 1 ? std::string(path) : backup(i - 2);
    result = 0;
    if (Exists(target) && env->RemoveFile(target) != 0) result = -1;
    if (Exists(source)) {
      if (env->RenameFile(source, target) != 0)
        result = -1;
      else if (i == 1)
        moved = true;
    }
  }
  // Delete the log only when it was not moved: once renamed, a file at its
  // path is a new log that another process has just started writing.
  if (!moved && Exists(path)) return env->RemoveFile(path) == 0 ? 0 : -1;
  return result;
}

int BuiltinTrace0(const char* text) {
  char buf[640];
  std::snprintf(buf, sizeof buf, "%s: %.490s%s", TraceTime().c_str(), text, "\r\n");
  return WriteEntry(buf);
}

int BuiltinTrace00(const char* text) { return WriteEntry(std::string(text) + "\r\n"); }

int BuiltinTrace1(const char* source, int line, const char* text) {
  char buf[640];
  std::snprintf(buf, sizeof buf, "%s: %.190s at %.256s line %d%s", TraceTime().c_str(), text,
                source, line, "\r\n");
  return WriteEntry(buf);
}

void BuiltinSetLogFileName(const char* name) { SetLogFileName(name); }
void BuiltinSetLogFilePath(const char* path) { SetLogFilePath(path); }
const char* BuiltinGetLogFilePath() {
  g.returned_path = GetLogFilePath();
  return g.returned_path.c_str();
}
int BuiltinBackupLogFile() { return 0; }
void BuiltinSetProfileID(const char*) {}
const char* BuiltinGetProfileID() { return ""; }

const ErrorLogEntries kBuiltins = {
    BuiltinError,          BuiltinErrorL,         BuiltinErrorS,         BuiltinErrorSL,
    BuiltinErrorLogDelete, BuiltinMusicalBackups, BuiltinTrace0,         BuiltinTrace00,
    BuiltinTrace1,         BuiltinSetLogFileName, BuiltinSetLogFilePath, BuiltinGetLogFilePath,
    BuiltinBackupLogFile,  BuiltinSetProfileID,   BuiltinGetProfileID,
};

}  // namespace

const ErrorLogEntries& ErrorLogTable() {
  StartUp();
  return kBuiltins;
}

int ErrorLogError(const char* source, int line, int a, int b) {
  return ErrorLogTable().Error(source, line, a, b);
}

int ErrorLogErrorS(const char* source, int line, const char* text, int code) {
  return ErrorLogTable().Error_S(source, line, text, code);
}

int ErrorLogMusicalBackups(const char* path, int count) {
  return ErrorLogTable().MusicalBackups(path, count);
}

int ErrorLogTrace00(const char* text) { return ErrorLogTable().Trace00(text); }

int ErrorLogDelete() { return ErrorLogTable().ErrorLogDelete(); }

std::string ErrorLogGetPath() { return ErrorLogTable().GetLogFilePath(); }

void ErrorLogSetPath(const std::string& path) { SetLogFilePath(path); }

void ErrorLogResetForTesting() {
  g = State();
  OptionsResetForTesting();
}
