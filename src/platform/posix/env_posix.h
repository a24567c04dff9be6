// The POSIX implementation of the platform interface. Its methods are spread
// over a few files by service (files, paths, memory, mutex, profile files);
// this header is shared by them only.
#pragma once

#include <mutex>
#include <unordered_map>

#include "platform/platform.h"

namespace platform {

class PosixEnv : public Env {
 public:
  PosixEnv();

  // files (env_posix.cpp)
  int OpenFile(const std::string& path, Access access, Disposition disp, FileHandle* out) override;
  long ReadFile(FileHandle h, void* buf, size_t n) override;
  long WriteFile(FileHandle h, const void* buf, size_t n) override;
  long ReadAt(FileHandle h, uint64_t off, void* buf, size_t n) override;
  long WriteAt(FileHandle h, uint64_t off, const void* buf, size_t n) override;
  int64_t Seek(FileHandle h, int64_t off, SeekFrom from) override;
  int64_t FileSize(FileHandle h) override;
  int CloseFile(FileHandle h) override;
  int LastError() override;

  // names and attributes (files_posix.cpp)
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

  // paths, code page, program location (paths_posix.cpp)
  PathParts SplitPath(const std::string& path) override;
  std::string JoinPath(const PathParts& parts) override;
  bool IsSeparator(char c) override;
  bool IsOptionArgument(const std::string& arg) override;
  bool IsLeadByte(unsigned char c) override;
  void LowerCase(char* s) override;
  void UpperCase(char* s) override;
  std::string ProgramDirectory() override;
  std::string SystemConfigDirectory() override;

  // movable memory (memory_posix.cpp)
  MemHandle MemAllocMovable(size_t n) override;
  MemHandle MemReAllocMovable(MemHandle h, size_t n) override;
  void* MemLock(MemHandle h) override;
  bool MemUnlock(MemHandle h) override;
  unsigned MemLockCount(MemHandle h) override;
  void MemFreeMovable(MemHandle h) override;

  // mutex (mutex_posix.cpp), profile files (profile_posix.cpp)
  std::unique_ptr<NamedMutex> NewNamedMutex(const std::string& name,
                                            const std::string& dir) override;
  std::string ReadProfileString(const std::string& file, const std::string& section,
                                const std::string& key, const std::string& def) override;
  bool WriteProfileString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& value) override;

  // module resources (env_posix.cpp, over pe_resource)
  int LoadModuleResource(const std::string& path, const std::string& name, int type,
                         std::vector<char>* data) override;

  void SleepMs(int ms) override;

  // Re-reads TBLCONV_CODEPAGE.
  void LoadCodePage();

 private:
  struct Block {
    void* ptr = nullptr;
    size_t size = 0;
    unsigned locks = 0;
  };

  // Lead-byte table of the selected code page; all false for none.
  bool lead_[256] = {};
  std::mutex mem_mu_;
  std::unordered_map<MemHandle, Block> blocks_;
  MemHandle next_handle_ = 0x10;
};

// Records errno as the thread's last error and returns it.
int SaveLastError();

// exe_dir (with its "/") when files can be written there; else
// $XDG_STATE_HOME/tblconv/ or ~/.local/state/tblconv/, created on demand.
std::string ProgramDirectoryFrom(const std::string& exe_dir);

}  // namespace platform
