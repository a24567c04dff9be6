// The read, modifier and write dispatchers: each picks the reader, modifier
// or writer for a file's kind and announces the step. ConvertTableFile runs
// one input through a temporary table into one output; the split pair uses
// it to pass a table between its intermediate forms.
#include "driver/dispatch.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "qvdf/resource/fil.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/split.h"
#include "qvdf/store/itb.h"
#include "qvdf/subset/subset.h"
#include "qvdf/text/txtreader.h"
#include "qvdf/text/txtwriter.h"

namespace {

// A step line: the name printed with at most 80 characters.
void Step(MessageFn msg, const char* fmt, const char* name) {
  if (!msg) return;
  char buf[kMaxPath];
  std::snprintf(buf, sizeof buf, fmt, name);
  msg(kLevelStep, buf);
}

void Error(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

// A table whose close or reopen failed must not be touched again.
bool Unusable(TableDb* db, const char* tablePath, MessageFn msg, int* code) {
  if (!db->bUnusable) return false;
  *code = GetError(db) != 0 ? GetError(db) : 17;
  Error(msg, "Error " + std::to_string(*code) + " trying to open " + tablePath);
  return true;
}

int Version(FileKind kind) {
  switch (kind) {
    case FileKind::TxtV2: return 2;
    case FileKind::TxtV3: case FileKind::Rc2V3: case FileKind::FilV3: case FileKind::ItrV3:
      return 3;
    default: return 4;
  }
}

// Runs open, ReadTxtTable and close; each step only after the one before it
// succeeded, except that an opened input is always closed again.
template <typename Open, typename Close>
int ReadThroughGetter(TableDb* db, MessageFn msg, Open open, Close close) {
  GetValueFn getter = nullptr;
  int rc = open(&getter);
  if (rc != 0) return rc;
  rc = ReadTxtTable(db, getter, msg);
  int closed = close();
  return rc != 0 ? rc : closed;
}

int ReadSplitPair(TableDb* db, const char* name, FileKind kind, MessageFn msg) {
  char tempTable[kMaxPath] = {0};
  int rc = ReadSplitTableFile(Version(kind), name, tempTable, msg, ConvertTableFile);
  if (rc == 0 || rc == 16) {
    int merged = ReadItb(db, tempTable, msg);
    if (merged != 0) rc = merged;
  }
  // The temporary table is the run's own; it is not needed after the merge.
  if (tempTable[0] != '\0') {
    platform::FileAttributes a;
    if (platform::Env::Get()->GetAttributes(tempTable, &a))
      platform::Env::Get()->RemoveFile(tempTable);
  }
  return rc;
}

// The split pair is made from the table file on disk, so the table is closed
// for the split and reopened on every path after it.
int WriteSplitPair(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                   MessageFn msg) {
  int rc = CloseTable(db);
  if (rc != 0) {
    Error(msg, "## Error " + std::to_string(rc) + " closing " + tablePath);
    db->bUnusable = true;
    return rc;
  }
  int split = SplitTableFile(Version(kind), tablePath, name, msg, ConvertTableFile);
  if (split != 0)
    Error(msg, "Error " + std::to_string(split) + " trying to split .itf/.itr " + tablePath);
  rc = OpenTable(tablePath, db, 1);
  if (rc != 0) {
    Error(msg, "Error " + std::to_string(rc) + " trying to open " + tablePath);
    db->bUnusable = true;
    return split != 0 ? split : rc;
  }
  return split;
}

}  // namespace

namespace {

int ReadByKind(const char* tablePath, TableDb* db, const char* name, FileKind kind, MessageFn msg,
               Rc2Carry* carry) {
  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Error(msg, std::string("File \"") + name + "\" not found.");
    return 9;
  }
  int rc = 0;
  int v = Version(kind);
  switch (kind) {
    case FileKind::ItbV2:
      Error(msg, std::string("\nError: Version 2 ITB files not supported (file ") + name + " )");
      return 53;
    case FileKind::ItbV3:
      Error(msg, std::string("\nError: Version 3 ITB files not supported (file ") + name + " )");
      return 53;
    case FileKind::ItbV4:
      Step(msg, "\nReading Version 4 ITB table file %.80s\n", name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ReadItb(db, name, msg);
    case FileKind::TxtV2:
    case FileKind::TxtV3:
    case FileKind::TxtV4:
      Step(msg,
           v == 2   ? "\nReading Version 2 TXT table file %.80s\n"
           : v == 3 ? "\nReading Version 3 TXT table file %.80s\n"
                    : "\nReading Version 4 TXT table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ReadThroughGetter(
          db, msg, [&](GetValueFn* g) { return OpenTxtInput(v, name, g, msg); },
          [&] { return CloseTxtInput(name, msg); });
    case FileKind::Rc2V3:
    case FileKind::Rc2V4:
      Step(msg,
           v == 3 ? "\nReading Version 3 RC2 table file %.80s\n"
                  : "\nReading Version 4 RC2 table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ReadThroughGetter(
          db, msg, [&](GetValueFn* g) { return OpenRc2Input(v, name, g, msg, carry); },
          [&] { return CloseRc2Input(name, msg); });
    case FileKind::FilV3:
    case FileKind::FilV4:
      Step(msg,
           v == 3 ? "\nReading Version 3 FIL table %.80s\n"
                  : "\nReading Version 4 FIL table %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ReadThroughGetter(
          db, msg, [&](GetValueFn* g) { return OpenFilInput(v, name, g, msg); },
          [&] { return CloseFilInput(name, msg); });
    case FileKind::Subset:
    case FileKind::Modifier14:
    case FileKind::Modifier15:
      Error(msg, std::string("\nError: Modifier file ") + name +
                     " wound up in read table file request. ");
      return 51;
    case FileKind::ItrV3:
    case FileKind::ItrV4:
      Step(msg,
           v == 3 ? "\nReading Version 3 ITR table file %.80s\n"
                  : "\nReading Version 4 ITR table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ReadSplitPair(db, name, kind, msg);
    default:
      Error(msg,
            std::string("\nInternal Error: unrecognised filetype attempting to read file ") + name);
      return 51;
  }
}

}  // namespace

int ReadTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                  MessageFn msg, uint32_t /*flags*/, Rc2Carry* carry) {
  int rc = ReadByKind(tablePath, db, name, kind, msg, carry);
  if (rc != 0 && rc != 16) return rc;
  // The table holds the last records in memory; a file that cannot take them
  // must fail this input, as a failed record write would have.
  if (int flushed = Flush(&db->file)) {
    Error(msg, "Processing aborted due to error code " + std::to_string(flushed));
    return flushed;
  }
  return rc;
}

int ApplyModifierFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                      MessageFn msg, uint32_t /*flags*/) {
  int rc = 0;
  switch (kind) {
    case FileKind::Subset:
      Step(msg, "\nApplying Table Modifier file %.80s\n", name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ModSubset(tablePath, db, name, msg);
    case FileKind::Modifier14:
    case FileKind::Modifier15:
      if (msg) {
        char buf[kMaxPath];
        std::snprintf(buf, sizeof buf, "\nModifier File type not supported - file %.80s\n", name);
        msg(kLevelError, buf);
      }
      return 0;
    case FileKind::ItbV2:
    case FileKind::ItbV3:
    case FileKind::TxtV2:
    case FileKind::TxtV3:
    case FileKind::Rc2V3:
    case FileKind::FilV3:
      Error(msg, std::string("\nInternal Error: Input/Output file ") + name +
                     " wound up in modifier queue. ");
      return 0;
    default:
      Error(msg,
            std::string("\nInternal Error: unrecognised filetype attempting to read file ") + name);
      return 0;
  }
}

int WriteTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                   MessageFn msg, uint32_t /*flags*/, Rc2Carry* carry) {
  int rc = 0;
  int v = Version(kind);
  switch (kind) {
    case FileKind::ItbV2:
      Error(msg, std::string("Output to Version 2 Binary table file not supported (filename ") +
                     name + " )");
      return 53;
    case FileKind::ItbV3:
      Error(msg, std::string("Output to Version 3 Binary table file not supported (filename ") +
                     name + " )");
      return 53;
    case FileKind::ItbV4:
      Step(msg, "\nWriting Version 4 ITB table file %.80s\n", name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return WriteItb(tablePath, db, name, msg);
    case FileKind::TxtV2:
    case FileKind::TxtV3:
    case FileKind::TxtV4:
      Step(msg,
           v == 2   ? "\nWriting Version 2 TXT table file %.80s\n"
           : v == 3 ? "\nWriting Version 3 TXT table file %.80s\n"
                    : "\nWriting Version 4 TXT table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      rc = OpenTxtOutput(v, name, msg);
      if (rc != 0) return rc;
      rc = WriteTxtTable(db, msg);
      if (rc != 0) {
        AbandonTxtOutput();  // the next text output starts from a closed stream
        return rc;
      }
      return FinishTxtOutput(name, msg);
    case FileKind::Rc2V3:
    case FileKind::Rc2V4:
      Step(msg,
           v == 3 ? "\nWriting Version 3 RC2 table file %.80s\n"
                  : "\nWriting Version 4 RC2 table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      rc = OpenRc2Output(v, name, msg);
      if (rc != 0) return rc;
      rc = WriteTxtTable(db, msg);
      if (rc != 0) {
        AbandonRc2Output();  // closes and removes the temporary text table
        return rc;
      }
      return FinishRc2Output(name, msg, carry);
    case FileKind::FilV3:
      Error(msg, std::string("\nOutput to Version 3 Binary (Resource) file not supported "
                             "(filename ") +
                     name + " )");
      return 51;
    case FileKind::FilV4:
      Error(msg, std::string("\nOutput to Version 4 Binary (Resource) file not supported "
                             "(filename ") +
                     name + " )");
      return 51;
    case FileKind::Subset:
    case FileKind::Modifier14:
    case FileKind::Modifier15:
      Error(msg, std::string("\nError: Modifier file ") + name + " wound up in Write file request. ");
      return 51;
    case FileKind::ItrV3:
    case FileKind::ItrV4:
      Step(msg,
           v == 3 ? "\nWriting Version 3 ITR table file %.80s\n"
                  : "\nWriting Version 4 ITR table file %.80s\n",
           name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return WriteSplitPair(tablePath, db, name, kind, msg);
    default:
      Error(msg, std::string("\nInternal Error: unrecognized filetype attempting to write file ") +
                     name);
      return 51;
  }
}

namespace {
bool StderrKeeps(int level) { return level > 50; }
}  // namespace

void StderrMessageFn(int level, const char* text) {
  if (StderrKeeps(level) && text) std::fprintf(stderr, "%s\n", text);
}

bool ConvertTableFile(const char* in, FileKind inKind, const char* out, FileKind outKind) {
  platform::Env* env = platform::Env::Get();
  std::string dir = env->TempDirectory();
  std::string tablePath;
  platform::FileHandle h = platform::kInvalidHandle;
  if (dir.empty() || env->CreateUniqueFile(dir, "ITB", &tablePath, &h) != 0) return false;
  env->CloseFile(h);

  TableDb db;
  const char* path = tablePath.c_str();
  bool ok = false;
  int rc = CreateTable(path);
  if (rc != 0) {
    std::fprintf(stderr, "Error %d tring to create %s\n", rc, path);
  } else if ((rc = OpenTable(path, &db, 1)) != 0) {
    std::fprintf(stderr, "Error %d tring to open %s\n", rc, path);
  } else {
    Rc2Carry carry{};
    DeclareMessageFilter(StderrMessageFn, StderrKeeps);
    ok = ReadTableFile(path, &db, in, inKind, StderrMessageFn, 0, &carry) == 0 &&
         WriteTableFile(path, &db, out, outKind, StderrMessageFn, 0, &carry) == 0;
    // The temporary table is closed and removed on every path.
    if (!ok) {
      if (IsTableOpen(&db)) AbortTable(&db, 0);
    } else if ((rc = CloseTable(&db)) != 0) {
      std::fprintf(stderr, "Error %d closing %s\n", rc, path);
    }
  }
  if (env->RemoveFile(tablePath) != 0)
    std::fprintf(stderr, "Error deleting Temporary file %s Manual cleanup may be necessary.\n",
                 path);
  return ok;
}
