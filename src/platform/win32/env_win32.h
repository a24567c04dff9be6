// The Windows implementation of the platform interface, over the real Win32
// calls (CreateFileA, GetTempFileNameA, FindFirstFileA, GlobalAlloc,
// CreateMutexA, GetPrivateProfileStringA, LoadLibraryExA, ...). Its methods
// are spread over a few files by service; this header is shared by them only.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/platform.h"

namespace platform {

class Win32Env : public Env {
 public:
  Win32Env();

  // files by handle (env_win32.cpp)
  int OpenFile(const std::string& path, Access access, Disposition disp, FileHandle* out) override;
  long ReadFile(FileHandle h, void* buf, size_t n) override;
  long WriteFile(FileHandle h, const void* buf, size_t n) override;
  long ReadAt(FileHandle h, uint64_t off, void* buf, size_t n) override;
  long WriteAt(FileHandle h, uint64_t off, const void* buf, size_t n) override;
  int64_t Seek(FileHandle h, int64_t off, SeekFrom from) override;
  int64_t FileSize(FileHandle h) override;
  int CloseFile(FileHandle h) override;
  int LastError() override;

  // names and attributes (files_win32.cpp)
  std::string TempDirectory() override;
  int CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* path,
                       FileHandle* h) override;
  bool GetAttributes(const std::string& path, FileAttributes* attrs) override;
  std::string ToOemPath(const std::string& path) override;
  int RemoveFile(const std::string& path) override;
  int RenameFile(const std::string& from, const std::string& to) override;
  int ReplaceFile(const std::string& from, const std::string& to) override;
  void MakeOrdinary(const std::string& path) override;
  std::string FileIdentity(const std::string& path) override;
  std::vector<FindMatch> FindFiles(const std::string& pattern) override;
  std::string AbsolutePath(const std::string& path) override;
  bool MakeDirectories(const std::string& path) override;

  // paths, code page, program location (paths_win32.cpp)
  PathParts SplitPath(const std::string& path) override;
  std::string JoinPath(const PathParts& parts) override;
  bool IsSeparator(char c) override;
  bool IsOptionArgument(const std::string& arg) override;
  bool IsLeadByte(unsigned char c) override;
  void LowerCase(char* s) override;
  void UpperCase(char* s) override;
  std::string ProgramDirectory() override;
  std::string SystemConfigDirectory() override;

  // movable memory (memory_win32.cpp)
  MemHandle MemAllocMovable(size_t n) override;
  MemHandle MemReAllocMovable(MemHandle h, size_t n) override;
  void* MemLock(MemHandle h) override;
  bool MemUnlock(MemHandle h) override;
  unsigned MemLockCount(MemHandle h) override;
  void MemFreeMovable(MemHandle h) override;

  // mutex and profile files (sync_win32.cpp)
  std::unique_ptr<NamedMutex> NewNamedMutex(const std::string& name,
                                            const std::string& dir) override;
  std::string ReadProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& def) override;
  bool WriteProfileString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value) override;

  // module resources (env_win32.cpp)
  int LoadModuleResource(const std::string& path, const std::string& name, int type,
                         std::vector<char>* data) override;

  void SleepMs(int ms) override;

 private:
  // The OS handle behind a numeric one, or INVALID_HANDLE_VALUE.
  HANDLE Lookup(FileHandle h);

  SRWLOCK handles_lock_ = SRWLOCK_INIT;
  std::vector<HANDLE> handles_;  // indexed by FileHandle; free slots hold INVALID_HANDLE_VALUE
};

// Records GetLastError() (never 0) as the thread's last error and returns it.
int SaveLastError();
// Records a given error code as the thread's last error and returns it.
int SetLastErrorCode(int code);

// exe_dir (with its "\") when a file can be created there; else
// %LOCALAPPDATA%\tblconv\ (or the temporary directory), created on demand.
std::string ProgramDirectoryFrom(const std::string& exe_dir);

}  // namespace platform
