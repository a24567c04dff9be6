// The table files of tbltool besides the read with places: a file's form
// from its name, temporary tables, a file's bytes by position, the few
// calls to the operating system the commands make, and the write of a
// table in any form through tblconv's own dispatchers.
#include <cstdio>
#include <string_view>

#include "driver/args.h"
#include "driver/dispatch.h"
#include "tbltool/source.h"
#include "tbltool/source_internal.h"

namespace tbltool {

using source::Env;
using source::TempName;

bool IdentifyFile(const std::string& name, int forcedVersion, TableFile* f) {
  f->name = name;
  f->kind = ClassifyFile(name.c_str(), forcedVersion);
  switch (f->kind) {
    case FileKind::ItbV4:
      f->form = Form::Itb;
      f->version = 4;
      return true;
    case FileKind::TxtV2:
      f->form = Form::Txt;
      f->version = 2;
      return true;
    case FileKind::TxtV3:
      f->form = Form::Txt;
      f->version = 3;
      return true;
    case FileKind::TxtV4:
      f->form = Form::Txt;
      f->version = 4;
      return true;
    case FileKind::Rc2V3:
      f->form = Form::Rc2;
      f->version = 3;
      return true;
    case FileKind::Rc2V4:
      f->form = Form::Rc2;
      f->version = 4;
      return true;
    case FileKind::FilV3:
      f->form = Form::Fil;
      f->version = 3;
      return true;
    case FileKind::FilV4:
      f->form = Form::Fil;
      f->version = 4;
      return true;
    case FileKind::ItrV3:
      f->form = Form::Itr;
      f->version = 3;
      return true;
    case FileKind::ItrV4:
      f->form = Form::Itr;
      f->version = 4;
      return true;
    default:
      f->form = Form::Unknown;
      return false;
  }
}

const char* FormName(Form form) {
  switch (form) {
    case Form::Itb:
      return "binary table";
    case Form::Txt:
      return "text table";
    case Form::Rc2:
      return "resource script";
    case Form::Fil:
      return "module";
    case Form::Itr:
      return "split pair";
    default:
      return "unknown";
  }
}

const char* FormTag(Form form) {
  switch (form) {
    case Form::Itb:
      return "itb";
    case Form::Txt:
      return "txt";
    case Form::Rc2:
      return "rc2";
    case Form::Fil:
      return "fil";
    case Form::Itr:
      return "itr";
    default:
      return "";
  }
}

namespace source {

std::string TempName(const char* prefix, std::string* error) {
  std::string path;
  if (Env()->CreateUniqueFile(Env()->TempDirectory(), prefix, &path, nullptr) != 0) {
    *error = "no temporary file can be made in " + Env()->TempDirectory();
    return "";
  }
  return path;
}

}  // namespace source

TempTable::~TempTable() {
  if (IsTableOpen(&db)) AbortTable(&db, 0);
  if (!path_.empty()) Env()->RemoveFile(path_);
}

int TempTable::Create(std::string* error) {
  path_ = TempName("ITB", error);
  if (path_.empty()) return -1;
  int rc = CreateTable(path_.c_str());
  if (rc == 0) rc = OpenTable(path_.c_str(), &db, 1);
  if (rc != 0) *error = "no temporary table can be made (code " + std::to_string(rc) + ")";
  return rc;
}

int TempTable::Close() { return CloseTable(&db); }

bool FileExists(const std::string& path) {
  platform::FileAttributes a;
  return Env()->GetAttributes(path, &a);
}

void RemoveFileIfAny(const std::string& path) {
  if (FileExists(path)) Env()->RemoveFile(path);
}

bool IsLeadByte(unsigned char c) { return c >= 0x80 && Env()->IsLeadByte(c); }

RawFile::~RawFile() {
  if (h_ != platform::kInvalidHandle) Env()->CloseFile(h_);
}

bool RawFile::Open(const std::string& path) {
  if (Env()->OpenFile(path, platform::Access::kRead, platform::Disposition::kOpenExisting, &h_) !=
      0)
    return false;
  int64_t size = Env()->FileSize(h_);
  if (size < 0) return false;
  size_ = static_cast<uint64_t>(size);
  return true;
}

long RawFile::ReadAt(uint64_t off, void* dst, size_t n) { return Env()->ReadAt(h_, off, dst, n); }

namespace {

// What the read and the write said; shown only when one of them fails, as
// the text writer reports its counts at the level of an error.
std::vector<std::string> g_said;

void Remember(int level, const char* text) {
  if (level < kLevelWarning || !text) return;
  std::string_view t(text);
  while (!t.empty() && t.front() == '\n') t.remove_prefix(1);
  g_said.emplace_back(t);
}
bool RememberKeeps(int level) { return level >= kLevelWarning; }

int Said(const TableFile& out, int rc) {
  if (rc != 0)
    for (const std::string& m : g_said)
      std::fprintf(stderr, "tbltool: %s: %s\n", out.name.c_str(), m.c_str());
  g_said.clear();
  return rc;
}

}  // namespace

int WriteTableAs(const std::string& itbPath, const TableFile& out, const std::string& rc2Suffix) {
  DeclareMessageFilter(Remember, RememberKeeps);
  g_said.clear();
  TempTable t;
  std::string error;
  if (int rc = t.Create(&error)) {
    std::fprintf(stderr, "tbltool: %s\n", error.c_str());
    return rc;
  }
  Rc2Carry carry{};
  if (int rc = ReadTableFile(t.path().c_str(), &t.db, itbPath.c_str(), FileKind::ItbV4, Remember, 0,
                             &carry))
    return Said(out, rc);
  std::snprintf(carry.szSuffix, sizeof carry.szSuffix, "%s", rc2Suffix.c_str());
  return Said(out, WriteTableFile(t.path().c_str(), &t.db, out.name.c_str(), out.kind, Remember, 0,
                                  &carry));
}

}  // namespace tbltool
