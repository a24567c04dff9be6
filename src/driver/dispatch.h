// The three dispatchers between the driver and the format code, and the
// file-to-file converter built on them. The only module that knows every
// format.
#pragma once

#include <cstdint>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// Reads one input into db by its kind. 0, or 16 when it was read with
// warnings; 9 when the file is missing, 51 for a kind that is no input, 53
// for an unsupported .itb version, else the reader's code. A table marked
// unusable is not touched: its last error (17 if none) is returned.
int ReadTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                  MessageFn msg, uint32_t flags, Rc2Carry* carry);
// Applies one modifier file to db. 0 when it was applied or skipped as a
// kind that is no modifier; the subset operation's code when it failed (db
// then still holds the unchanged table, or is marked unusable).
int ApplyModifierFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                      MessageFn msg, uint32_t flags);
// Writes db as one output by its kind. The output is written beside its name
// and put in its place only when it is complete, so a failed output leaves
// no partial file and an old file of that name as it was. 0, or the
// writer's code; 51 for a kind that cannot be written, 53 for an unsupported
// .itb version. Outputs that close the table (.itb, .itr) reopen it before
// returning, or mark it unusable when they cannot.
int WriteTableFile(const char* tablePath, TableDb* db, const char* name, FileKind kind,
                   MessageFn msg, uint32_t flags, Rc2Carry* carry);

// Converts one table file into another through a temporary table, which is
// removed on every path; true on success, false on any failure. Reports
// through StderrMessageFn. The output's own text (a script's comment line)
// and the messages call it shownAs, or out when that is null.
bool ConvertTableFile(const char* in, FileKind inKind, const char* out, FileKind outKind,
                      const char* shownAs = nullptr);
// Prints messages above level 50 to the standard error stream.
void StderrMessageFn(int level, const char* text);
