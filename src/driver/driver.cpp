// One run of the tool: parse the command line, build an empty intermediate
// table in a temporary file, read every input into it, apply every modifier,
// write every output, then close and delete it. The driver's own messages go
// to the console only; everything else goes through ConsoleMessageFn.
#include "driver/driver.h"

#include <cstring>
#include <string>
#include <vector>

#include "driver/args.h"
#include "driver/dispatch.h"
#include "driver/message.h"
#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvutil/status.h"

namespace {

int ExitMessage(int code) {
  ConsoleLine(code == 4 ? "Error: Bad file format or a resource missing." : "Error: Exit");
  return kFailed;
}

void ReportCode(const char* head, int code, const char* middle, const std::string& name) {
  std::string text = head + std::to_string(code) + middle + name;
  ConsoleLine(text.c_str());
}

void DeleteTempFile(const std::string& path) {
  if (platform::Env::Get()->RemoveFile(path) != 0) {
    std::string text =
        "Error deleting Temporary file " + path + " Manual cleanup may be necessary. ";
    ConsoleLine(text.c_str());
  }
}

// The file lists of one run, released however the run ends.
struct RunLists {
  FileList inputs, modifiers, outputs, logs;
  ~RunLists() { ReleaseArgs(&inputs, &modifiers, &outputs, &logs); }
};

// A stopped run leaves no copy of the user's table behind.
int Stop(TableDb* db, const std::string& tablePath, int code) {
  if (IsTableOpen(db)) AbortTable(db, code);
  DeleteTempFile(tablePath);
  CloseLogStream();
  return ExitMessage(code);
}

}  // namespace

int RunDriver(int argc, char** argv) {
  // The one word that is no table command line.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    ConsoleLine("tblconv " TBLCONV_VERSION);
    return 0;
  }
  SetUpConsole();
  // An interrupt leaves no temporary table and no half-written output.
  platform::RemoveTemporaryFilesOnInterrupt();
  Rc2Carry carry{};
  RunLists lists;
  int rc = ParseArgs(argc, argv, ConsoleMessageFn, ShowUsage, &lists.inputs, &lists.modifiers,
                     &lists.outputs, &lists.logs, &g_RunFlags);
  if (rc != 0) return ExitMessage(rc);
  if (lists.logs.count > 0) OpenLogStream(lists.logs.entries[0]->szName);

  platform::Env* env = platform::Env::Get();
  std::string tempDir = env->TempDirectory();
  std::string tablePath;
  platform::FileHandle h = platform::kInvalidHandle;
  if (tempDir.empty() || tempDir.size() >= static_cast<size_t>(kMaxPath) ||
      env->CreateUniqueFile(tempDir, "ITB", &tablePath, &h) != 0) {
    CloseLogStream();
    return ExitMessage(-1);
  }
  env->CloseFile(h);

  TableDb db;
  rc = CreateTable(tablePath.c_str());
  if (rc != 0) {
    ReportCode("Error ", rc, " trying to create ", tablePath);
    return Stop(&db, tablePath, rc);
  }
  rc = OpenTable(tablePath.c_str(), &db, 1);
  if (rc != 0) {
    ReportCode("Error ", rc, " trying to open ", tablePath);
    return Stop(&db, tablePath, rc);
  }

  for (int i = 0; i < lists.inputs.count; ++i) {
    const FileEntry* e = lists.inputs.entries[i];
    rc = ReadTableFile(tablePath.c_str(), &db, e->szName, e->kind, ConsoleMessageFn, g_RunFlags,
                       &carry);
    if (rc != 0 && rc != 16) return Stop(&db, tablePath, rc);
  }

  // A failing modifier or writer does not stop the run, but the exit code
  // tells scripts that something was not done. Outputs are not written from
  // a table that a modifier failed to change: they would look finished.
  bool failed = false;
  for (int i = 0; i < lists.modifiers.count; ++i) {
    const FileEntry* e = lists.modifiers.entries[i];
    if (ApplyModifierFile(tablePath.c_str(), &db, e->szName, e->kind, ConsoleMessageFn,
                          g_RunFlags) != 0)
      failed = true;
  }
  std::vector<std::string> unwritten;
  for (int i = 0; i < lists.outputs.count; ++i) {
    const FileEntry* e = lists.outputs.entries[i];
    if (failed || WriteTableFile(tablePath.c_str(), &db, e->szName, e->kind, ConsoleMessageFn,
                                 g_RunFlags, &carry) != 0)
      unwritten.push_back(e->szName);
  }
  if (!unwritten.empty()) failed = true;

  if (db.bUnusable) {
    failed = true;
  } else {
    rc = CloseTable(&db);
    if (rc != 0) {
      ReportCode("## Error ", rc, " closing ", tablePath);
      failed = true;
    }
  }
  DeleteTempFile(tablePath);
  for (const std::string& name : unwritten)
    ConsoleMessageFn(kLevelError, ("Error: output file " + name + " not written").c_str());
  ReleaseArgs(&lists.inputs, &lists.modifiers, &lists.outputs, &lists.logs);
  CloseLogStream();
  return failed ? ExitMessage(kFailed) : 0;
}
