// The read, modifier and write dispatchers: one row per file kind says
// which form and version it is and what each phase says and does with it;
// each dispatcher announces the step and runs the reader, modifier or
// writer of the form. ConvertTableFile runs one input through a temporary
// table into one output; the split pair uses it to pass a table between its
// intermediate forms.
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
#include "qvutil/status.h"

namespace {

enum class Form { kNone, kItb, kTxt, kRc2, kFil, kItr, kModifier };

// What a phase says of a kind it cannot handle: prefix + name + suffix, and
// the code it returns.
struct Refusal {
  const char* prefix;
  const char* suffix;
  int code;
};

// What the modifier phase does with a kind.
enum class Modify { kApply, kUnsupported, kMisplaced, kUnrecognised };

struct KindRow {
  FileKind kind;
  Form form;
  int version;
  const char* readStep;  // "%.80s" step line, or null: refused
  Refusal readRefusal;
  const char* writeStep;  // "%.80s" step line, or null: refused
  Refusal writeRefusal;
  Modify modify;
};

constexpr Refusal kNone{nullptr, nullptr, kOk};
constexpr Refusal kModifierRead{"\nError: Modifier file ", " wound up in read table file request. ",
                                kErrWrongKind};
constexpr Refusal kModifierWrite{"\nError: Modifier file ", " wound up in Write file request. ",
                                 kErrWrongKind};
constexpr Refusal kUnknownRead{"\nInternal Error: unrecognised filetype attempting to read file ",
                               "", kErrWrongKind};
constexpr Refusal kUnknownWrite{"\nInternal Error: unrecognized filetype attempting to write file ",
                                "", kErrWrongKind};

constexpr KindRow kRows[] = {
    {FileKind::ItbV2,
     Form::kItb,
     2,
     nullptr,
     {"\nError: Version 2 ITB files not supported (file ", " )", kErrVersion},
     nullptr,
     {"Output to Version 2 Binary table file not supported (filename ", " )", kErrVersion},
     Modify::kMisplaced},
    {FileKind::ItbV3,
     Form::kItb,
     3,
     nullptr,
     {"\nError: Version 3 ITB files not supported (file ", " )", kErrVersion},
     nullptr,
     {"Output to Version 3 Binary table file not supported (filename ", " )", kErrVersion},
     Modify::kMisplaced},
    {FileKind::ItbV4, Form::kItb, 4, "\nReading Version 4 ITB table file %.80s\n", kNone,
     "\nWriting Version 4 ITB table file %.80s\n", kNone, Modify::kUnrecognised},
    {FileKind::TxtV2, Form::kTxt, 2, "\nReading Version 2 TXT table file %.80s\n", kNone,
     "\nWriting Version 2 TXT table file %.80s\n", kNone, Modify::kMisplaced},
    {FileKind::TxtV3, Form::kTxt, 3, "\nReading Version 3 TXT table file %.80s\n", kNone,
     "\nWriting Version 3 TXT table file %.80s\n", kNone, Modify::kMisplaced},
    {FileKind::TxtV4, Form::kTxt, 4, "\nReading Version 4 TXT table file %.80s\n", kNone,
     "\nWriting Version 4 TXT table file %.80s\n", kNone, Modify::kUnrecognised},
    {FileKind::Rc2V3, Form::kRc2, 3, "\nReading Version 3 RC2 table file %.80s\n", kNone,
     "\nWriting Version 3 RC2 table file %.80s\n", kNone, Modify::kMisplaced},
    {FileKind::Rc2V4, Form::kRc2, 4, "\nReading Version 4 RC2 table file %.80s\n", kNone,
     "\nWriting Version 4 RC2 table file %.80s\n", kNone, Modify::kUnrecognised},
    {FileKind::FilV3,
     Form::kFil,
     3,
     "\nReading Version 3 FIL table %.80s\n",
     kNone,
     nullptr,
     {"\nOutput to Version 3 Binary (Resource) file not supported (filename ", " )", kErrWrongKind},
     Modify::kMisplaced},
    {FileKind::FilV4,
     Form::kFil,
     4,
     "\nReading Version 4 FIL table %.80s\n",
     kNone,
     nullptr,
     {"\nOutput to Version 4 Binary (Resource) file not supported (filename ", " )", kErrWrongKind},
     Modify::kUnrecognised},
    {FileKind::Subset, Form::kModifier, 4, nullptr, kModifierRead, nullptr, kModifierWrite,
     Modify::kApply},
    {FileKind::Modifier14, Form::kModifier, 4, nullptr, kModifierRead, nullptr, kModifierWrite,
     Modify::kUnsupported},
    {FileKind::Modifier15, Form::kModifier, 4, nullptr, kModifierRead, nullptr, kModifierWrite,
     Modify::kUnsupported},
    {FileKind::ItrV3, Form::kItr, 3, "\nReading Version 3 ITR table file %.80s\n", kNone,
     "\nWriting Version 3 ITR table file %.80s\n", kNone, Modify::kUnrecognised},
    {FileKind::ItrV4, Form::kItr, 4, "\nReading Version 4 ITR table file %.80s\n", kNone,
     "\nWriting Version 4 ITR table file %.80s\n", kNone, Modify::kUnrecognised},
};
// Every other kind (Unknown, LogFile, codes no name has).
constexpr KindRow kOther{FileKind::Unknown, Form::kNone,          4, nullptr, kUnknownRead, nullptr,
                         kUnknownWrite,     Modify::kUnrecognised};

const KindRow& RowOf(FileKind kind) {
  for (const KindRow& r : kRows)
    if (r.kind == kind) return r;
  return kOther;
}

// A step line: the name printed with at most 80 characters.
void Step(MessageFn msg, const char* fmt, const char* name) {
  if (!msg) return;
  char buf[kMaxPath];
  std::snprintf(buf, sizeof buf, fmt, name);
  msg(kLevelStep, buf);
}

void Error(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

int Refuse(MessageFn msg, const Refusal& r, const char* name) {
  Error(msg, std::string(r.prefix) + name + r.suffix);
  return r.code;
}

// A table whose close or reopen failed must not be touched again.
bool Unusable(TableDb* db, const char* tablePath, MessageFn msg, int* code) {
  if (!db->bUnusable) return false;
  *code = GetError(db) != 0 ? GetError(db) : kErrMode;
  Error(msg, "Error " + std::to_string(*code) + " trying to open " + tablePath);
  return true;
}

// An output file written beside its name and put in its place when done: a
// failed output leaves nothing of itself, and an old file of that name stays
// as it was until its successor is complete. The temporary file goes on
// every path that does not commit it.
class PendingOutput {
 public:
  explicit PendingOutput(const std::string& name) : name_(name) {
    platform::Env* env = platform::Env::Get();
    platform::PathParts parts = env->SplitPath(name);
    std::string dir = parts.drive + parts.dir;
    if (dir.empty()) dir.push_back('.');
    // Where no file can be made beside it, or the name is a directory, the
    // writer meets the trouble with the name itself and says so as always.
    platform::FileAttributes a;
    if (env->GetAttributes(name, &a) && a.is_directory) return;
    if (env->CreateUniqueFile(dir, "TBL", &temp_, nullptr) != 0) temp_.clear();
  }
  ~PendingOutput() {
    if (!temp_.empty()) platform::Env::Get()->RemoveFile(temp_);
  }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Where the writer writes.
  const char* path() const { return temp_.empty() ? name_.c_str() : temp_.c_str(); }
  // Puts the finished file in the place of its name: 0, or 6 after
  // "Unable to complete output file " + name.
  int Commit(MessageFn msg) {
    if (temp_.empty()) return kOk;
    platform::Env* env = platform::Env::Get();
    env->MakeOrdinary(temp_);
    if (env->ReplaceFile(temp_, name_) != 0) {
      Error(msg, "Unable to complete output file " + name_);
      return kErrIo;
    }
    temp_.clear();
    return kOk;
  }

 private:
  std::string name_;
  std::string temp_;
};

// Runs open, ReadTxtTable and close on one input of a text-carrying form;
// each step only after the one before it succeeded, except that an opened
// input is always closed again.
template <typename Input, typename Open, typename Close>
int ReadThrough(TableDb* db, MessageFn msg, Input* in, Open open, Close close) {
  int rc = open(in);
  if (rc != 0) return rc;
  rc = ReadTxtTable(db, *in, msg);
  int closed = close(in);
  return rc != 0 ? rc : closed;
}

int ReadSplitPair(TableDb* db, const char* name, int version, MessageFn msg) {
  char tempTable[kMaxPath] = {0};
  int rc = ReadSplitTableFile(version, name, tempTable, msg, ConvertTableFile);
  if (rc == kOk || rc == kReadWithWarnings) {
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
int WriteSplitPair(const char* tablePath, TableDb* db, const char* name, const char* itrPath,
                   const char* itfPath, int version, MessageFn msg) {
  int rc = CloseTable(db);
  if (rc != 0) {
    Error(msg, "## Error " + std::to_string(rc) + " closing " + tablePath);
    db->bUnusable = true;
    return rc;
  }
  int split = SplitTableFile(version, tablePath, name, itrPath, itfPath, msg, ConvertTableFile);
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

int ReadByKind(const char* tablePath, TableDb* db, const char* name, FileKind kind, MessageFn msg,
               Rc2Carry* carry) {
  platform::FileAttributes attrs;
  if (!platform::Env::Get()->GetAttributes(name, &attrs)) {
    Error(msg, std::string("File \"") + name + "\" not found.");
    return kErrNotFound;
  }
  const KindRow& row = RowOf(kind);
  if (!row.readStep) return Refuse(msg, row.readRefusal, name);
  Step(msg, row.readStep, name);
  int rc = 0;
  if (Unusable(db, tablePath, msg, &rc)) return rc;
  const int v = row.version;
  switch (row.form) {
    case Form::kItb:
      return ReadItb(db, name, msg);
    case Form::kTxt: {
      TxtInput in;
      return ReadThrough(
          db, msg, &in, [&](TxtInput* i) { return OpenTxtInput(i, v, name, msg); },
          [&](TxtInput* i) { return CloseTxtInput(i, name, msg); });
    }
    case Form::kRc2: {
      Rc2Input in;
      return ReadThrough(
          db, msg, &in, [&](Rc2Input* i) { return OpenRc2Input(i, v, name, msg, carry); },
          [&](Rc2Input* i) { return CloseRc2Input(i, name, msg); });
    }
    case Form::kFil: {
      FilInput in;
      return ReadThrough(
          db, msg, &in, [&](FilInput* i) { return OpenFilInput(i, v, name, msg); },
          [&](FilInput* i) { return CloseFilInput(i, name, msg); });
    }
    case Form::kItr:
      return ReadSplitPair(db, name, v, msg);
    default:
      return Refuse(msg, kUnknownRead, name);
  }
}

}  // namespace

int ReadTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                  MessageFn msg, uint32_t /*flags*/, Rc2Carry* carry) {
  int rc = ReadByKind(tablePath, db, name, kind, msg, carry);
  if (rc != kOk && rc != kReadWithWarnings) return rc;
  // The table holds the last records in memory; a file that cannot take them
  // must fail this input, as a failed record write would have.
  if (int synced = SyncTable(db)) {
    Error(msg, "Processing aborted due to error code " + std::to_string(synced));
    return synced;
  }
  if (int compacted = CompactWhenWasteful(tablePath, db)) {
    Error(msg, "Error " + std::to_string(compacted) + " trying to open " + tablePath);
    return compacted;
  }
  return rc;
}

int ApplyModifierFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                      MessageFn msg, uint32_t /*flags*/) {
  int rc = 0;
  switch (RowOf(kind).modify) {
    case Modify::kApply:
      Step(msg, "\nApplying Table Modifier file %.80s\n", name);
      if (Unusable(db, tablePath, msg, &rc)) return rc;
      return ModSubset(tablePath, db, name, msg);
    case Modify::kUnsupported:
      if (msg) {
        char buf[kMaxPath];
        std::snprintf(buf, sizeof buf, "\nModifier File type not supported - file %.80s\n", name);
        msg(kLevelError, buf);
      }
      return kOk;
    case Modify::kMisplaced:
      Error(msg, std::string("\nInternal Error: Input/Output file ") + name +
                     " wound up in modifier queue. ");
      return kOk;
    case Modify::kUnrecognised:
      break;
  }
  Refuse(msg, kUnknownRead, name);
  return kOk;
}

namespace {

// Writes db as the output `name` (which the output's text and the messages
// call `shown`) through a temporary file beside it.
int WriteOutput(const char* tablePath, TableDb* db, const char* shown, const char* name,
                FileKind kind, MessageFn msg, Rc2Carry* carry) {
  const KindRow& row = RowOf(kind);
  if (!row.writeStep) return Refuse(msg, row.writeRefusal, shown);
  Step(msg, row.writeStep, shown);
  int rc = 0;
  if (Unusable(db, tablePath, msg, &rc)) return rc;
  const int v = row.version;
  PendingOutput file(name);
  switch (row.form) {
    case Form::kItb:
      rc = WriteItb(tablePath, db, shown, file.path(), msg);
      break;
    case Form::kTxt: {
      TxtOutput out;
      rc = OpenTxtOutput(&out, v, shown, file.path(), msg);
      if (rc != 0) return rc;
      rc = WriteTxtTable(db, &out, msg);
      if (rc != 0) {
        AbandonTxtOutput(&out);
        return rc;
      }
      rc = FinishTxtOutput(&out, shown, msg);
      break;
    }
    case Form::kRc2: {
      Rc2Output out;
      rc = OpenRc2Output(&out, v, shown, msg);
      if (rc != 0) return rc;
      rc = WriteTxtTable(db, out.text(), msg);
      if (rc != 0) {
        AbandonRc2Output(&out);  // closes and removes the temporary text table
        return rc;
      }
      rc = FinishRc2Output(&out, shown, file.path(), msg, carry);
      break;
    }
    case Form::kItr: {
      PendingOutput itf(ItfNameFor(name));
      rc = WriteSplitPair(tablePath, db, shown, file.path(), itf.path(), v, msg);
      if (rc == 0) rc = itf.Commit(msg);
      break;
    }
    default:
      return Refuse(msg, kUnknownWrite, shown);
  }
  return rc != 0 ? rc : file.Commit(msg);
}

}  // namespace

int WriteTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                   MessageFn msg, uint32_t /*flags*/, Rc2Carry* carry) {
  return WriteOutput(tablePath, db, name, name, kind, msg, carry);
}

namespace {
bool StderrKeeps(int level) { return level > 50; }
}  // namespace

void StderrMessageFn(int level, const char* text) {
  if (StderrKeeps(level) && text) std::fprintf(stderr, "%s\n", text);
}

bool ConvertTableFile(const char* in, FileKind inKind, const char* out, FileKind outKind,
                      const char* shownAs) {
  platform::Env* env = platform::Env::Get();
  std::string dir = env->TempDirectory();
  std::string tablePath;
  if (dir.empty() || env->CreateUniqueFile(dir, "ITB", &tablePath, nullptr) != 0) return false;

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
    ok =
        ReadTableFile(path, &db, in, inKind, StderrMessageFn, 0, &carry) == 0 &&
        WriteOutput(path, &db, shownAs ? shownAs : out, out, outKind, StderrMessageFn, &carry) == 0;
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
