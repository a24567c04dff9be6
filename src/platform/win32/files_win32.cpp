// Windows file names and attributes: GetTempPathA, GetTempFileNameA,
// GetFileAttributesExA, CharToOemA, DeleteFileA, MoveFileA (which never
// replaces), FindFirstFileA/FindNextFileA, GetFullPathNameA and
// CreateDirectoryA.
#include <algorithm>
#include <string>

#include "platform/win32/env_win32.h"

namespace platform {

namespace {

// Where a path's last component starts: after its last "\", "/" or drive colon.
size_t NameStart(const std::string& path) {
  size_t at = path.find_last_of("\\/");
  size_t name = at == std::string::npos ? 0 : at + 1;
  if (name == 0 && path.size() >= 2 && path[1] == ':') name = 2;
  return name;
}

}  // namespace

std::string Win32Env::TempDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0 || n >= sizeof buf) {
    SaveLastError();
    return std::string();
  }
  return std::string(buf, n);
}

int Win32Env::CreateUniqueFile(const std::string& dir, const std::string& prefix, std::string* path,
                               FileHandle* h) {
  char buf[MAX_PATH];
  // Unique number 0: the call picks a free name and creates the empty file.
  if (GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buf) == 0) return SaveLastError();
  std::string name = buf;
  temporary_files::Add(name);
  if (h) {
    int rc = OpenFile(name, Access::kReadWrite, Disposition::kOpenExisting, h);
    if (rc != 0) {
      DeleteFileA(name.c_str());
      temporary_files::Forget(name);
      return SetLastErrorCode(rc);
    }
  }
  *path = name;
  return 0;
}

bool Win32Env::GetAttributes(const std::string& path, FileAttributes* attrs) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    SaveLastError();
    return false;
  }
  attrs->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  attrs->read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  attrs->size = attrs->is_directory
                    ? 0
                    : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

std::string Win32Env::ToOemPath(const std::string& path) {
  std::string oem(path.size() + 1, '\0');
  if (!CharToOemA(path.c_str(), oem.data())) return path;
  oem.resize(path.size());
  return oem;
}

int Win32Env::RemoveFile(const std::string& path) {
  if (!DeleteFileA(path.c_str())) return SaveLastError();
  temporary_files::Forget(path);
  return 0;
}

int Win32Env::RenameFile(const std::string& from, const std::string& to) {
  if (!MoveFileA(from.c_str(), to.c_str())) return SaveLastError();
  temporary_files::Move(from, to);
  return 0;
}

int Win32Env::ReplaceFile(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return SaveLastError();
  temporary_files::Forget(from);
  return 0;
}

// A new file takes the permissions of its directory on Windows already.
void Win32Env::MakeOrdinary(const std::string&) {}

std::string Win32Env::FileIdentity(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (ok)
      return "file " + std::to_string(info.dwVolumeSerialNumber) + ":" +
             std::to_string((static_cast<uint64_t>(info.nFileIndexHigh) << 32) |
                            info.nFileIndexLow);
  }
  return "path " + AbsolutePath(path);
}

std::vector<FindMatch> Win32Env::FindFiles(const std::string& pattern) {
  std::vector<FindMatch> out;
  std::string dir = pattern.substr(0, NameStart(pattern));
  if (dir.size() == pattern.size()) return out;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA(pattern.c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) {
    SaveLastError();
    return out;
  }
  do {
    std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    FindMatch m;
    m.name = dir + name;
    m.is_directory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    m.size = m.is_directory ? 0 : (static_cast<uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    out.push_back(std::move(m));
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  std::sort(out.begin(), out.end(),
            [](const FindMatch& a, const FindMatch& b) { return a.name < b.name; });
  return out;
}

std::string Win32Env::AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
  std::vector<char> full(MAX_PATH);
  DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n >= full.size()) {
    full.resize(n + 1);
    n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (n == 0 || n >= full.size()) return path;
  // Short (8.3) names and the long names of one file compare equal only in
  // their long form; names differ in case only on paper.
  std::vector<char> longer(n + 1);
  DWORD m = GetLongPathNameA(full.data(), longer.data(), static_cast<DWORD>(longer.size()));
  if (m >= longer.size()) {
    longer.resize(m + 1);
    m = GetLongPathNameA(full.data(), longer.data(), static_cast<DWORD>(longer.size()));
  }
  std::string abs =
      m > 0 && m < longer.size() ? std::string(longer.data(), m) : std::string(full.data(), n);
  for (char& c : abs)
    if (c == '/') c = '\\';
  LowerCase(abs.data());
  return abs;
}

bool Win32Env::MakeDirectories(const std::string& path) {
  if (path.empty()) return false;
  DWORD a = GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::string p = path;
  while (p.size() > 1 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  size_t name = NameStart(p);
  if (name > 0) {
    std::string parent = p.substr(0, name);
    // A drive root ("C:\") or a bare drive exists or not on its own.
    bool root = parent.size() <= 3 && parent.size() >= 2 && parent[1] == ':';
    if (!root && !MakeDirectories(parent)) return false;
  }
  if (!CreateDirectoryA(p.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    SaveLastError();
    return false;
  }
  a = GetFileAttributesA(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace platform
