// The text-table writer: writes a table as a text table of version 2, 3 or 4
// with its comment and warning lines, CR LF line ends.
#pragma once

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

// 0, or 9 when the file cannot be created ("Unable to open file ").
int OpenTxtOutput(int version, const char* name, MessageFn msg);
// 0, or the code of the first failure.
int WriteTxtTable(TableDb* db, MessageFn msg);
// 0, or 6 when a write or the close failed ("Error writing ").
int FinishTxtOutput(const char* name, MessageFn msg);
// Closes the stream and frees the name tables after a failed write, without
// claiming success.
void AbandonTxtOutput();
