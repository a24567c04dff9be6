// Field-list records: the fields of one section of one system, found through
// the field-list index by ID (from 0).
#include "qvdf/store/store.h"

int CountFieldLists(TableDb*) { return 0; }
int FieldListSlots(TableDb*) { return 0; }
bool FieldListExists(TableDb*, int) { return false; }
int GetFieldListSize(TableDb*, int) { return 0; }
int FirstFreeFieldListID(TableDb*) { return -1; }
int ReadFieldList(TableDb*, int, void*, int) { return kErrMode; }
int AddFieldList(TableDb*, int, const FieldListRecord*) { return kErrMode; }
int DeleteFieldList(TableDb*, int) { return kErrMode; }
uint16_t GetFieldListApp(TableDb*, int) { return 0xFFFF; }
uint16_t GetFieldListSecType(TableDb*, int) { return 0xFFFF; }
int GetFieldListCount(TableDb*, int) { return -1; }
int GetFieldListChecksum(TableDb*, int) { return -1; }
int GetFieldListMark(TableDb*, int) { return -1; }
int MarkFieldList(TableDb*, int) { return kErrMode; }
