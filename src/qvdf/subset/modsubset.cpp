// ModSubset: builds the subset table in a second temporary file and swaps it
// in under the working table's name. The swap rolls back on every failure:
// the working table ends open under its name, either with its old contents
// or with the new ones, and the new temporary file never outlives the call
// unless it became the working table. Only a failed close or reopen of the
// working table leaves it unusable.
#include <string>

#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvdf/subset/subset.h"
#include "qvutil/status.h"

namespace {

const char kManualCleanup[] = "Manual cleanup may be necessary. ";

void Send(MessageFn msg, const std::string& text, int level = kLevelError) {
  SendMessage(msg, level, text.c_str());
}

void SendAbort(MessageFn msg, int status) {
  Send(msg, "Processing aborted due to error code " + std::to_string(status));
}

// A new unique file in the temporary directory. 0, or the OS code after the
// failure has been reported.
int TempName(std::string* path, MessageFn msg) {
  platform::Env* env = platform::Env::Get();
  std::string dir = env->TempDirectory();
  int rc = env->CreateUniqueFile(dir, "ITB", path, nullptr);
  if (rc != 0) Send(msg, "Error " + std::to_string(rc) + " creating a temporary file in " + dir);
  return rc;
}

// Reopens the working table after a step that closed it failed. Returns
// false and marks the table unusable when that is impossible.
bool Reopen(const std::string& workPath, TableDb* db, MessageFn msg) {
  int rc = OpenTable(workPath.c_str(), db, 1);
  if (rc == 0) return true;
  Send(msg, "Error " + std::to_string(rc) + " trying to open " + workPath);
  db->bUnusable = true;
  return false;
}

// The swap, once the new table is complete and closed at newPath. Returns 0
// with db open on the new contents, or -1 (messages sent).
int Swap(const std::string& workPath, TableDb* db, const std::string& newPath, MessageFn msg) {
  platform::Env* env = platform::Env::Get();
  int rc = CloseTable(db);
  if (rc != 0) {
    // The old contents may not have reached the disk whole: nothing can be
    // trusted to reopen.
    Send(msg, "Error " + std::to_string(rc) + " closing " + workPath);
    SendAbort(msg, rc);
    db->bUnusable = true;
    return kFailed;
  }

  std::string backup;
  if (TempName(&backup, msg) != 0) {
    Reopen(workPath, db, msg);
    return kFailed;
  }
  if (env->RemoveFile(backup) != 0) {
    Send(msg, "Error deleting Temporary file " + backup + " " + kManualCleanup);
    SendAbort(msg, 0);
    Reopen(workPath, db, msg);
    return kFailed;
  }
  if (env->RenameFile(workPath, backup) != 0) {
    Send(msg, "Error renaming original working file from " + workPath + " to " + backup +
                  " Failed.\n" + kManualCleanup);
    SendAbort(msg, 0);
    Reopen(workPath, db, msg);
    return kFailed;
  }
  if (env->RenameFile(newPath, workPath) != 0) {
    Send(msg, "Error renaming subset working file " + newPath + " to working filename " + workPath +
                  "\n " + kManualCleanup);
    SendAbort(msg, 0);
    if (env->RenameFile(backup, workPath) != 0) {
      // The old contents stay in the backup file for a manual repair.
      Send(msg, "Error renaming original working file from " + backup + " to " + workPath +
                    " Failed.\n" + kManualCleanup);
      db->bUnusable = true;
      return kFailed;
    }
    Reopen(workPath, db, msg);
    return kFailed;
  }
  if (env->RemoveFile(backup) != 0) {
    Send(msg, "Error deleting Temporary file " + backup + " " + kManualCleanup);
  }
  if (!Reopen(workPath, db, msg)) return kFailed;
  return 0;
}

}  // namespace

int ModSubset(const char* workPath, TableDb* db, const char* subsetName, MessageFn msg) {
  if (db->bUnusable || !IsTableOpen(db)) {
    Send(msg, "Error " + std::to_string(kErrMode) + " trying to open " + workPath);
    return kFailed;
  }
  platform::Env* env = platform::Env::Get();
  std::string newPath;
  if (TempName(&newPath, msg) != 0) return kFailed;

  int rc = CreateTable(newPath.c_str());
  if (rc != 0) {
    Send(msg, "Error " + std::to_string(rc) + " trying to create " + newPath);
    env->RemoveFile(newPath);
    return kFailed;
  }
  TableDb fresh;
  rc = OpenTable(newPath.c_str(), &fresh, 1);
  if (rc != 0) {
    Send(msg, "Error " + std::to_string(rc) + " trying to open " + newPath);
    env->RemoveFile(newPath);
    return kFailed;
  }

  rc = CreateSubset(db, &fresh, subsetName, msg);
  if (rc != 0) {
    Send(msg, "Processing aborted due to error code in CreateSubset" + std::to_string(rc));
  } else if ((rc = CloseTable(&fresh)) != 0) {
    Send(msg, "Error " + std::to_string(rc) + " closing " + newPath);
  } else {
    rc = Swap(workPath, db, newPath, msg);
    if (rc == 0) {
      Send(msg, "ModSubset Processing completed successfully", kLevelProgress);
      return 0;
    }
    // The swap has reported. Where the new file took the working name this
    // finds nothing to delete.
    env->RemoveFile(newPath);
    return kFailed;
  }
  SendAbort(msg, rc);
  if (IsTableOpen(&fresh)) CloseTable(&fresh);
  env->RemoveFile(newPath);
  return kFailed;
}
