// The text-table reader: opens a .txt, then reads records through any
// GetValueFn (text, resource script or module form) into a table.
#pragma once

#include "qvdf/store/tabledb.h"
#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

// 0 with *getter set, or 9.
int OpenTxtInput(int version, const char* name, GetValueFn* getter, MessageFn msg);
// 0, a record reader's nonzero result, or 4.
int ReadTxtTable(TableDb* db, GetValueFn getter, MessageFn msg);
int CloseTxtInput(const char* name, MessageFn msg);

// The value getter of .txt files.
int GetTxtValue(const char* key, char* buf, int size, MessageFn msg);
