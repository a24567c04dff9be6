// The text-table reader: opens a .txt, then reads records through any
// GetValueFn (text, resource script or module form) into a table.
#pragma once

#include "qvdf/store/tabledb.h"
#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

// Opens a .txt input of version 2, 3 or 4 and restarts the reader state:
// 0 with *getter set, or 9 after "File \"name\" not found." or
// "Unable to open file name".
int OpenTxtInput(int version, const char* name, GetValueFn* getter, MessageFn msg);
// Reads every block through getter into db, adding or replacing records:
// 0; a record reader's nonzero result; -1 when the getter failed; or 4 for a
// missing block line. Every stop ends with "Processing aborted due to error
// code " + the result (0 for a missing block line).
int ReadTxtTable(TableDb* db, GetValueFn getter, MessageFn msg);
// Closes the .txt input; always 0 ("Error c closing name" when the close
// failed).
int CloseTxtInput(const char* name, MessageFn msg);

// The value getter of .txt files (see GetValueFn). -1 after "***ERROR: Line
// too long" for a line longer than kMaxLineLength.
int GetTxtValue(const char* key, char* buf, int size, MessageFn msg);

// Record readers, each for one group of lines. 0 on success; -1 after a
// level-100 message for a bad or missing value; a store code after its
// "***ERROR: code " message when deleting the old or adding the new record
// failed; the character-map reader returns 12, silently, when its buffer
// cannot be had.
int QVTBUGetText3System(TableDb* db, GetValueFn getter, MessageFn msg);
// Reads SECTION line i into section i of rec, whose buffer holds it: 0 or -1.
int QVTBUGetText3Section(SystemRecord* rec, int i, GetValueFn getter, MessageFn msg);
int QVTBUGetText3FieldList(TableDb* db, GetValueFn getter, MessageFn msg);
// Reads FIELD line j of its list into f: 0 or -1.
int QVTBUGetText3Field(int j, FieldRecord* f, GetValueFn getter, MessageFn msg);
int QVTBUGetText3FieldMap(TableDb* db, GetValueFn getter, MessageFn msg);
int QVTBUGetText3CharMap(TableDb* db, GetValueFn getter, MessageFn msg);
