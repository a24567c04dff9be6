// The module form: a text table carried as the RCDATA resource
// "_ZELM_ITB_TABLE_" of a Windows module, read as data (never run).
#pragma once

#include "qvdf/text/lineread.h"
#include "qvutil/types.h"

int OpenFilInput(int version, const char* name, GetValueFn* getter, MessageFn msg);  // 0, 4 or 9
int GetFilValue(const char* key, char* buf, int size, MessageFn msg);
int CloseFilInput(const char* name, MessageFn msg);  // 0
