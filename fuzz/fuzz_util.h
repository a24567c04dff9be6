// Shared scaffolding of the fuzz targets: a private scratch directory (in
// memory where the system offers one), input bytes written to a real file,
// a fresh intermediate table per run, and a message sink that reads every
// text to its end so an unterminated message shows up under the sanitizer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "driver/dispatch.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/errlog.h"
#include "qvutil/logpath.h"

namespace fuzz {

// Made once per process; the error log and the options file live there too,
// so a run never writes beside the program.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path base =
        fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string templ;
    for (std::random_device rd;;) {
      templ = (base / ("tblconv-fuzz-" + std::to_string(rd()))).string();
      if (fs::create_directory(templ, ec)) break;
      if (ec) std::abort();
    }
    setenv("TMPDIR", templ.c_str(), 1);
    setenv("TMP", templ.c_str(), 1);
    ErrorLogResetForTesting();
    SetLogFilePath(templ + "/ZmTrace.log");
    return templ;
  }();
  return dir;
}

inline std::string ScratchPath(const char* name) { return ScratchDir() + "/" + name; }

// Writes bytes to the scratch file `name` and returns its path.
inline std::string WriteScratch(const char* name, const uint8_t* data, size_t size) {
  std::string path = ScratchPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

inline volatile size_t g_message_bytes = 0;
inline void Sink(int level, const char* text) {
  if (level != 20 && level != 40 && level != 60 && level != 80 && level != 100) std::abort();
  if (text) g_message_bytes = g_message_bytes + std::strlen(text);
}

// A fresh, empty, open intermediate table for one run.
class WorkTable {
 public:
  explicit WorkTable(const char* name = "work.itb") : path_(ScratchPath(name)) {
    std::remove(path_.c_str());
    if (CreateTable(path_.c_str()) != 0 || OpenTable(path_.c_str(), &db_, 1) != 0) std::abort();
  }
  ~WorkTable() {
    if (IsTableOpen(&db_)) CloseTable(&db_);
    std::remove(path_.c_str());
  }
  WorkTable(const WorkTable&) = delete;
  WorkTable& operator=(const WorkTable&) = delete;
  TableDb* db() { return &db_; }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
  TableDb db_;
};

// Reads `name` into the table by kind, then, when the read took, writes the
// table back out as a version-4 text table so the writer sees every value a
// reader let through. Returns the read's code.
inline int ReadThenWrite(WorkTable* t, const std::string& name, FileKind kind) {
  Rc2Carry carry{};
  int rc = ReadTableFile(t->path(), t->db(), name.c_str(), kind, Sink, 0, &carry);
  if ((rc == 0 || rc == 16) && !t->db()->bUnusable) {
    std::string out = ScratchPath("out.txt");
    WriteTableFile(t->path(), t->db(), out.c_str(), FileKind::TxtV4, Sink, 0, &carry);
    std::remove(out.c_str());
  }
  return rc;
}

}  // namespace fuzz
