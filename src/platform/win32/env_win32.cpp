// Windows environment: construction, files by numeric handle (a table of
// CreateFileA handles; other processes may read an open file meanwhile),
// module resources through LoadLibraryExA as a data file, sleeping.
#include "platform/win32/env_win32.h"

#include <climits>

#include "platform/env_internal.h"

namespace platform {

namespace {

thread_local int t_last_error = 0;

// Largest single transfer handed to ReadFile/WriteFile.
constexpr size_t kMaxChunk = 1u << 30;

OVERLAPPED At(uint64_t off) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(off & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(off >> 32);
  return ov;
}

// Whether [bytes, bytes + size) lies within the first file_size bytes of
// the view that LoadLibraryExA made of a module loaded as a data file (its
// handle is the view's address with the low bits marking the kind of load).
bool InsideView(HMODULE mod, uint64_t file_size, const char* bytes, size_t size) {
  const char* base =
      reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(mod) & ~static_cast<uintptr_t>(3));
  MEMORY_BASIC_INFORMATION mbi;
  if (VirtualQuery(base, &mbi, sizeof mbi) != sizeof mbi || mbi.BaseAddress != base ||
      mbi.State != MEM_COMMIT)
    return false;
  uint64_t view = file_size < mbi.RegionSize ? file_size : mbi.RegionSize;
  if (bytes < base) return false;
  uint64_t at = static_cast<uint64_t>(bytes - base);
  return at <= view && size <= view - at;
}

}  // namespace

int SaveLastError() {
  DWORD e = GetLastError();
  t_last_error = e ? static_cast<int>(e) : ERROR_GEN_FAILURE;
  return t_last_error;
}

int SetLastErrorCode(int code) {
  t_last_error = code;
  return code;
}

Win32Env::Win32Env() {
  // Slots 0-2 stay unused so that no file handle looks like a standard stream.
  handles_.assign(3, INVALID_HANDLE_VALUE);
}

Env* DefaultEnv() {
  static Win32Env* env = new Win32Env;  // never destroyed: used until exit
  return env;
}

// The code page is the system's own; there is nothing to re-read.
void ReloadDefaultEnvSettings() {}

HANDLE Win32Env::Lookup(FileHandle h) {
  AcquireSRWLockShared(&handles_lock_);
  HANDLE os =
      h >= 0 && static_cast<size_t>(h) < handles_.size() ? handles_[h] : INVALID_HANDLE_VALUE;
  ReleaseSRWLockShared(&handles_lock_);
  if (os == INVALID_HANDLE_VALUE) SetLastErrorCode(ERROR_INVALID_HANDLE);
  return os;
}

int Win32Env::OpenFile(const std::string& path, Access access, Disposition disp, FileHandle* out) {
  *out = kInvalidHandle;
  DWORD want = 0;
  if (access != Access::kWrite) want |= GENERIC_READ;
  if (disp == Disposition::kAppend) {
    // Append data only (no FILE_WRITE_DATA): every write lands at the end of
    // the file in one step, however many processes share it.
    want |= FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  } else if (access != Access::kRead) {
    want |= GENERIC_WRITE;
  }
  DWORD create = OPEN_EXISTING;
  switch (disp) {
    case Disposition::kOpenExisting:
      create = OPEN_EXISTING;
      break;
    case Disposition::kCreateAlways:
      create = CREATE_ALWAYS;
      break;
    case Disposition::kOpenAlways:
    case Disposition::kAppend:
      create = OPEN_ALWAYS;
      break;
  }
  // A temporary file may be removed by an interrupt while it is open.
  DWORD share = FILE_SHARE_READ | (temporary_files::Holds(path) ? FILE_SHARE_DELETE : 0);
  HANDLE os =
      CreateFileA(path.c_str(), want, share, nullptr, create, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (os == INVALID_HANDLE_VALUE) return SaveLastError();
  AcquireSRWLockExclusive(&handles_lock_);
  size_t slot = 3;
  while (slot < handles_.size() && handles_[slot] != INVALID_HANDLE_VALUE) ++slot;
  bool room = slot < static_cast<size_t>(INT_MAX);
  if (room) {
    if (slot == handles_.size()) handles_.push_back(INVALID_HANDLE_VALUE);
    handles_[slot] = os;
  }
  ReleaseSRWLockExclusive(&handles_lock_);
  if (!room) {
    CloseHandle(os);
    return SetLastErrorCode(ERROR_TOO_MANY_OPEN_FILES);
  }
  *out = static_cast<FileHandle>(slot);
  return 0;
}

long Win32Env::ReadFile(FileHandle h, void* buf, size_t n) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  size_t done = 0;
  while (done < n && done < static_cast<size_t>(LONG_MAX)) {
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk), got = 0;
    if (!::ReadFile(os, static_cast<char*>(buf) + done, want, &got, nullptr)) {
      if (GetLastError() == ERROR_HANDLE_EOF || GetLastError() == ERROR_BROKEN_PIPE) break;
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<long>(done);
}

long Win32Env::WriteFile(FileHandle h, const void* buf, size_t n) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  size_t done = 0;
  while (done < n && done < static_cast<size_t>(LONG_MAX)) {
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk), put = 0;
    if (!::WriteFile(os, static_cast<const char*>(buf) + done, want, &put, nullptr) || put == 0) {
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    done += put;
  }
  return static_cast<long>(done);
}

long Win32Env::ReadAt(FileHandle h, uint64_t off, void* buf, size_t n) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  size_t done = 0;
  while (done < n && done < static_cast<size_t>(LONG_MAX)) {
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk), got = 0;
    OVERLAPPED ov = At(off + done);
    if (!::ReadFile(os, static_cast<char*>(buf) + done, want, &got, &ov)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<long>(done);
}

long Win32Env::WriteAt(FileHandle h, uint64_t off, const void* buf, size_t n) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  size_t done = 0;
  while (done < n && done < static_cast<size_t>(LONG_MAX)) {
    DWORD want = static_cast<DWORD>(n - done < kMaxChunk ? n - done : kMaxChunk), put = 0;
    OVERLAPPED ov = At(off + done);
    if (!::WriteFile(os, static_cast<const char*>(buf) + done, want, &put, &ov) || put == 0) {
      SaveLastError();
      return done ? static_cast<long>(done) : -1;
    }
    done += put;
  }
  return static_cast<long>(done);
}

int64_t Win32Env::Seek(FileHandle h, int64_t off, SeekFrom from) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  DWORD method = from == SeekFrom::kBegin     ? FILE_BEGIN
                 : from == SeekFrom::kCurrent ? FILE_CURRENT
                                              : FILE_END;
  LARGE_INTEGER dist, pos;
  dist.QuadPart = off;
  if (!SetFilePointerEx(os, dist, &pos, method)) {
    SaveLastError();
    return -1;
  }
  return pos.QuadPart;
}

int64_t Win32Env::FileSize(FileHandle h) {
  HANDLE os = Lookup(h);
  if (os == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(os, &size)) {
    SaveLastError();
    return -1;
  }
  return size.QuadPart;
}

int Win32Env::CloseFile(FileHandle h) {
  AcquireSRWLockExclusive(&handles_lock_);
  HANDLE os = INVALID_HANDLE_VALUE;
  if (h >= 0 && static_cast<size_t>(h) < handles_.size()) {
    os = handles_[h];
    handles_[h] = INVALID_HANDLE_VALUE;
  }
  ReleaseSRWLockExclusive(&handles_lock_);
  if (os == INVALID_HANDLE_VALUE) {
    SetLastErrorCode(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (!CloseHandle(os)) {
    SaveLastError();
    return -1;
  }
  return 0;
}

int Win32Env::LastError() { return t_last_error; }

int Win32Env::LoadModuleResource(const std::string& path, const std::string& name, int type,
                                 std::vector<char>* data) {
  FileAttributes attrs;
  if (!GetAttributes(path, &attrs)) return 9;
  if (attrs.is_directory) {
    SetLastErrorCode(ERROR_ACCESS_DENIED);
    return 9;  // no file to open, as with a missing one
  }
  // A bare name would be looked for along the DLL search path; a full path
  // names exactly the file asked for.
  std::string full = AbsolutePath(path);
  // LOAD_LIBRARY_AS_DATAFILE: mapped for its resources, none of its code runs.
  HMODULE mod = LoadLibraryExA(full.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!mod) {
    SaveLastError();
    return 4;
  }
  int rc = 4;
  HRSRC res = FindResourceA(mod, name.c_str(), MAKEINTRESOURCEA(type));
  if (!res) SaveLastError();
  // The loader takes every offset from the module as it stands, and a
  // damaged module can point them anywhere: the resource's entry (which
  // SizeofResource reads) and its data must lie inside the file's own view.
  if (res && !InsideView(mod, attrs.size, reinterpret_cast<const char*>(res),
                         sizeof(IMAGE_RESOURCE_DATA_ENTRY))) {
    SetLastErrorCode(ERROR_RESOURCE_DATA_NOT_FOUND);
    res = nullptr;
  }
  if (res) {
    HGLOBAL loaded = LoadResource(mod, res);
    DWORD size = SizeofResource(mod, res);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes && InsideView(mod, attrs.size, bytes, size)) {
      data->assign(bytes, bytes + size);
      rc = 0;
    } else {
      SetLastErrorCode(ERROR_RESOURCE_DATA_NOT_FOUND);
    }
  }
  FreeLibrary(mod);
  return rc;
}

void Win32Env::SleepMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

namespace {

void RemoveOne(const char* path) { DeleteFileA(path); }

// Runs on a thread of its own: the temporary files are opened with delete
// sharing, so they go even while the run still holds them.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  temporary_files::ForEach(RemoveOne);
  static const char kNote[] = "Error: Interrupted\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kNote, sizeof kNote - 1, &written, nullptr);
  ExitProcess(type == CTRL_C_EVENT ? 130 : 143);
  return TRUE;
}

}  // namespace

void RemoveTemporaryFilesOnInterrupt() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace platform
