// The operating-system boundary. Everything the tool takes from the OS (files
// by handle, temporary names, attributes, wildcard search, code-page
// services, movable memory, named mutexes, profile files, module resources)
// goes through the abstract Env below; posix/ and win32/ implement it and no
// other directory includes an OS header. Tests swap in an EnvWrapper subclass
// to make single operations fail on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Numeric file handle, as the handle-based file routines use; -1 is invalid.
using FileHandle = int;
constexpr FileHandle kInvalidHandle = -1;

enum class Access { kRead, kWrite, kReadWrite };
enum class Disposition {
  kOpenExisting,  // fail when missing
  kCreateAlways,  // create or truncate
  kOpenAlways,    // open, create when missing
  kAppend,        // open, create when missing; every write goes to the end,
                  // atomically, so processes can share one log file
};
enum class SeekFrom { kBegin, kCurrent, kEnd };

struct FileAttributes {
  bool is_directory = false;
  bool read_only = false;  // "not writable" on POSIX
  uint64_t size = 0;
};

struct FindMatch {
  std::string name;  // the pattern's directory part + the matched name
  uint64_t size = 0;
  bool is_directory = false;
};

struct PathParts {
  std::string drive;  // "C:" on Windows, always empty on POSIX
  std::string dir;    // with its trailing separator, or empty
  std::string base;   // file name without extension
  std::string ext;    // from the last "." of the file name, or empty
};

// A named mutex shared between processes. Owned; released on destruction.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  virtual bool TryLock() = 0;  // true when taken without waiting
  virtual void Unlock() = 0;
};

// Movable memory block handle (GlobalAlloc's HGLOBAL on Windows); 0 is none.
using MemHandle = uintptr_t;

class Env {
 public:
  virtual ~Env() = default;

  // The process-wide environment; tests may replace it (nullptr restores the
  // default). The caller keeps ownership of what it installs. Installing or
  // restoring also makes the default re-read its settings from the process
  // environment (TBLCONV_CODEPAGE), which is otherwise read once.
  static Env* Get();
  static void SetForTesting(Env* env);

  // ---- files by handle
  // Opens a file; other processes may read it meanwhile. Returns 0 and sets
  // *out, or returns the OS error code (nonzero) and sets *out to -1.
  virtual int OpenFile(const std::string& path, Access access, Disposition disp,
                       FileHandle* out) = 0;
  // Bytes transferred, or -1. Short counts only at end of file / on error.
  virtual long ReadFile(FileHandle h, void* buf, size_t n) = 0;
  virtual long WriteFile(FileHandle h, const void* buf, size_t n) = 0;
  // Positional transfers: do not move the sequential position's meaning for
  // callers that only use these. Bytes transferred, or -1.
  virtual long ReadAt(FileHandle h, uint64_t off, void* buf, size_t n) = 0;
  virtual long WriteAt(FileHandle h, uint64_t off, const void* buf, size_t n) = 0;
  // New position from the start, or -1.
  virtual int64_t Seek(FileHandle h, int64_t off, SeekFrom from) = 0;
  virtual int64_t FileSize(FileHandle h) = 0;  // -1 on failure
  virtual int CloseFile(FileHandle h) = 0;     // 0 or -1
  // The OS error code of the last failed call on this thread.
  virtual int LastError() = 0;

  // ---- names and attributes
  // Temporary directory with a trailing separator (GetTempPathA): TMPDIR or
  // TMP, else /tmp/ on POSIX.
  virtual std::string TempDirectory() = 0;
  // Creates a new file named dir + prefix (first 3 chars) + hex + ".tmp",
  // atomically and exclusively (mode 0600), and returns it open for writing
  // in *h (or closed when h is null). 0 on success, else an OS error code.
  // The file counts as temporary (TemporaryFiles below) until RemoveFile or
  // ReplaceFile takes it away; RenameFile moves it, still temporary.
  virtual int CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* path,
                               FileHandle* h) = 0;
  // false when the path's attributes cannot be read (it does not exist).
  virtual bool GetAttributes(const std::string& path, FileAttributes* attrs) = 0;
  // The path in the OEM code page (CharToOemA), as some attribute queries
  // take it; unchanged on POSIX and when it cannot be converted.
  virtual std::string ToOemPath(const std::string& path) = 0;
  virtual int RemoveFile(const std::string& path) = 0;  // 0 or OS error code
  // Fails when `to` exists (MoveFileA). 0 or OS error code.
  virtual int RenameFile(const std::string& from, const std::string& to) = 0;
  // Renames from over to in one step, replacing `to` if it exists: how a
  // finished output takes the place of the old one. 0 or OS error code.
  virtual int ReplaceFile(const std::string& from, const std::string& to) = 0;
  // Gives a file that CreateUniqueFile made (owner-only) the permissions a
  // newly created file of the user gets, for a file that becomes an output.
  virtual void MakeOrdinary(const std::string& path) = 0;
  // The same text for every name of one existing file (its device and file
  // number); for a path that does not exist, the path made absolute with
  // every link resolved as far as it exists.
  virtual std::string FileIdentity(const std::string& path) = 0;
  // Matches of '*' and '?' in the last component, in sorted byte order of
  // their names on every platform. An empty result means nothing matched.
  virtual std::vector<FindMatch> FindFiles(const std::string& pattern) = 0;
  // The path made absolute and normalised, for "same file" comparisons.
  virtual std::string AbsolutePath(const std::string& path) = 0;
  // Makes a directory and its parents; true when it exists afterwards.
  virtual bool MakeDirectories(const std::string& path) = 0;

  // ---- paths (pure string work; the separators depend on the platform)
  virtual PathParts SplitPath(const std::string& path) = 0;
  virtual std::string JoinPath(const PathParts& parts) = 0;
  virtual bool IsSeparator(char c) = 0;
  // Whether "/x..." on the command line is an option (see the README).
  virtual bool IsOptionArgument(const std::string& arg) = 0;

  // ---- code page (TBLCONV_CODEPAGE=932/936/949/950 on POSIX)
  virtual bool IsLeadByte(unsigned char c) = 0;
  virtual void LowerCase(char* s) = 0;  // in place, double-byte aware
  virtual void UpperCase(char* s) = 0;

  // ---- program location
  // Where the program keeps its error log and options file, with a trailing
  // separator: its own directory when that is writable and not a system
  // one; else the per-user state directory (created on demand). On POSIX a
  // program in a usr/bin, usr/sbin, usr/local/bin or usr/local/sbin
  // directory (or /bin, /sbin) is installed and always uses the state
  // directory: $XDG_STATE_HOME/tblconv/, else ~/.local/state/tblconv/.
  virtual std::string ProgramDirectory() = 0;
  // The directory of settings an administrator gives every user
  // ("/etc/tblconv/" on POSIX), or "" where there is none (Windows).
  virtual std::string SystemConfigDirectory() = 0;

  // ---- movable memory (GlobalAlloc family)
  virtual MemHandle MemAllocMovable(size_t n) = 0;  // 0 on failure or for n 0
  // Resizes an unlocked block (its contents kept, its pointer may change):
  // the handle, or 0 on failure (locked, unknown, n 0, no memory) with h
  // still valid.
  virtual MemHandle MemReAllocMovable(MemHandle h, size_t n) = 0;
  // Adds a lock and returns the block's pointer; null for an unknown handle.
  virtual void* MemLock(MemHandle h) = 0;
  // Removes a lock; false when the block was not locked.
  virtual bool MemUnlock(MemHandle h) = 0;
  virtual unsigned MemLockCount(MemHandle h) = 0;  // GlobalFlags low byte
  virtual void MemFreeMovable(MemHandle h) = 0;

  // ---- named mutex, profile files
  // Creates or opens the mutex (not yet taken); null on failure. On POSIX
  // it is a lock file in `dir` (with its trailing separator, or empty for
  // the current directory) named after the mutex, made owner-only: every
  // process that passes the same directory shares it. Windows' named
  // mutexes need no directory and ignore it.
  virtual std::unique_ptr<NamedMutex> NewNamedMutex(const std::string& name,
                                                    const std::string& dir) = 0;
  // GetPrivateProfileStringA: sections and keys match without regard to case.
  virtual std::string ReadProfileString(const std::string& file, const std::string& section,
                                        const std::string& key, const std::string& def) = 0;
  // WritePrivateProfileStringA: keeps every other line; creates the file.
  virtual bool WriteProfileString(const std::string& file, const std::string& section,
                                  const std::string& key, const std::string& value) = 0;

  // ---- module resources (LoadLibraryExA as data file + FindResourceA)
  // Reads resource `name` of `type` from the module at `path` (full path).
  // 0 with *data filled; 9 when the file cannot be opened; 4 when it is not a
  // module, is malformed, or lacks the resource.
  virtual int LoadModuleResource(const std::string& path, const std::string& name, int type,
                                 std::vector<char>* data) = 0;

  // ---- time
  virtual void SleepMs(int ms) = 0;
};

// Forwards every call to a target; override single methods to inject faults.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : t_(target) {}
  int OpenFile(const std::string& p, Access a, Disposition d, FileHandle* o) override {
    return t_->OpenFile(p, a, d, o);
  }
  long ReadFile(FileHandle h, void* b, size_t n) override { return t_->ReadFile(h, b, n); }
  long WriteFile(FileHandle h, const void* b, size_t n) override { return t_->WriteFile(h, b, n); }
  long ReadAt(FileHandle h, uint64_t o, void* b, size_t n) override {
    return t_->ReadAt(h, o, b, n);
  }
  long WriteAt(FileHandle h, uint64_t o, const void* b, size_t n) override {
    return t_->WriteAt(h, o, b, n);
  }
  int64_t Seek(FileHandle h, int64_t o, SeekFrom f) override { return t_->Seek(h, o, f); }
  int64_t FileSize(FileHandle h) override { return t_->FileSize(h); }
  int CloseFile(FileHandle h) override { return t_->CloseFile(h); }
  int LastError() override { return t_->LastError(); }
  std::string TempDirectory() override { return t_->TempDirectory(); }
  int CreateUniqueFile(const std::string& d, const std::string& p, std::string* path,
                       FileHandle* h) override {
    return t_->CreateUniqueFile(d, p, path, h);
  }
  bool GetAttributes(const std::string& p, FileAttributes* a) override {
    return t_->GetAttributes(p, a);
  }
  std::string ToOemPath(const std::string& p) override { return t_->ToOemPath(p); }
  int RemoveFile(const std::string& p) override { return t_->RemoveFile(p); }
  int RenameFile(const std::string& f, const std::string& t) override {
    return t_->RenameFile(f, t);
  }
  int ReplaceFile(const std::string& f, const std::string& t) override {
    return t_->ReplaceFile(f, t);
  }
  void MakeOrdinary(const std::string& p) override { t_->MakeOrdinary(p); }
  std::string FileIdentity(const std::string& p) override { return t_->FileIdentity(p); }
  std::vector<FindMatch> FindFiles(const std::string& p) override { return t_->FindFiles(p); }
  std::string AbsolutePath(const std::string& p) override { return t_->AbsolutePath(p); }
  bool MakeDirectories(const std::string& p) override { return t_->MakeDirectories(p); }
  PathParts SplitPath(const std::string& p) override { return t_->SplitPath(p); }
  std::string JoinPath(const PathParts& p) override { return t_->JoinPath(p); }
  bool IsSeparator(char c) override { return t_->IsSeparator(c); }
  bool IsOptionArgument(const std::string& a) override { return t_->IsOptionArgument(a); }
  bool IsLeadByte(unsigned char c) override { return t_->IsLeadByte(c); }
  void LowerCase(char* s) override { t_->LowerCase(s); }
  void UpperCase(char* s) override { t_->UpperCase(s); }
  std::string ProgramDirectory() override { return t_->ProgramDirectory(); }
  std::string SystemConfigDirectory() override { return t_->SystemConfigDirectory(); }
  MemHandle MemAllocMovable(size_t n) override { return t_->MemAllocMovable(n); }
  MemHandle MemReAllocMovable(MemHandle h, size_t n) override {
    return t_->MemReAllocMovable(h, n);
  }
  void* MemLock(MemHandle h) override { return t_->MemLock(h); }
  bool MemUnlock(MemHandle h) override { return t_->MemUnlock(h); }
  unsigned MemLockCount(MemHandle h) override { return t_->MemLockCount(h); }
  void MemFreeMovable(MemHandle h) override { t_->MemFreeMovable(h); }
  std::unique_ptr<NamedMutex> NewNamedMutex(const std::string& n, const std::string& d) override {
    return t_->NewNamedMutex(n, d);
  }
  std::string ReadProfileString(const std::string& f, const std::string& s, const std::string& k,
                                const std::string& d) override {
    return t_->ReadProfileString(f, s, k, d);
  }
  bool WriteProfileString(const std::string& f, const std::string& s, const std::string& k,
                          const std::string& v) override {
    return t_->WriteProfileString(f, s, k, v);
  }
  int LoadModuleResource(const std::string& p, const std::string& n, int t,
                         std::vector<char>* d) override {
    return t_->LoadModuleResource(p, n, t, d);
  }
  void SleepMs(int ms) override { t_->SleepMs(ms); }

 protected:
  Env* target() const { return t_; }

 private:
  Env* t_;
};

// Owner of one open file handle, closed when the owner goes. Move-only, so
// that no handle is closed twice or forgotten on an early return.
class File {
 public:
  File() = default;
  explicit File(FileHandle h) : h_(h) {}
  ~File() { Close(); }
  File(File&& o) noexcept : h_(o.release()) {}
  File& operator=(File&& o) noexcept {
    if (this != &o) {
      Close();
      h_ = o.release();
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens path through Env::Get(), closing what was open before: 0, or the
  // OS error code with the file left closed.
  int Open(const std::string& path, Access access, Disposition disp);
  FileHandle get() const { return h_; }
  bool is_open() const { return h_ != kInvalidHandle; }
  // Gives the handle up without closing it.
  FileHandle release() {
    FileHandle h = h_;
    h_ = kInvalidHandle;
    return h;
  }
  // 0, or -1 when the OS could not close it; the File is closed either way.
  // A closed File gives 0.
  int Close();

 private:
  FileHandle h_ = kInvalidHandle;
};

// The build's own implementation (posix/ or win32/).
Env* DefaultEnv();

// The temporary files the process has made and not yet removed, kept so
// that an interrupt can remove them. Safe to read from a signal handler.
namespace temporary_files {
void Add(const std::string& path);
void Forget(const std::string& path);
void Move(const std::string& from, const std::string& to);
bool Holds(const std::string& path);
// Calls fn with every one; only what a signal handler may do.
void ForEach(void (*fn)(const char* path));
}  // namespace temporary_files

// From now on SIGINT and SIGTERM (console control events on Windows) remove
// every temporary file and end the process with 130 or 143.
void RemoveTemporaryFilesOnInterrupt();

}  // namespace platform
