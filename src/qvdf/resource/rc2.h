// The resource-script form: a text table carried as the string literals of
// an RCDATA resource. The writer converts a temporary text table line by
// line; the reader turns the literals back into text lines for ReadTxtTable.
#pragma once

#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

// Writer: OpenRc2Output, then WriteTxtTable, then FinishRc2Output.
int OpenRc2Output(int version, const char* name, MessageFn msg);  // 0 or -1
int FinishRc2Output(const char* name, MessageFn msg, Rc2Carry* carry);  // 0 or -1
// Converts the text table at txtPath into the script at rc2Path.
int ConvertTxtToRc2(const char* txtPath, const char* rc2Path, MessageFn msg, Rc2Carry* carry);

// Reader: 0, 4 (bad resource name), 6 or 9.
int OpenRc2Input(int version, const char* name, GetValueFn* getter, MessageFn msg, Rc2Carry* carry);
int GetRc2Value(const char* key, char* buf, int size, MessageFn msg);
// 0, or 6 when the script ended before its end-of-data line.
int CloseRc2Input(const char* name, MessageFn msg);
