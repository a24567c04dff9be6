// The text-table reader's entry points (bodies follow in this task).
#include "qvdf/text/txtreader.h"

int OpenTxtInput(int, const char*, GetValueFn*, MessageFn) { return 9; }
int ReadTxtTable(TableDb*, GetValueFn, MessageFn) { return 4; }
int CloseTxtInput(const char*, MessageFn) { return 0; }
int GetTxtValue(const char*, char*, int, MessageFn) { return kValueEnd; }
