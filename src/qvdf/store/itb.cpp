// Writing an .itb (a compacted copy of the intermediate table) and merging an
// .itb input into the intermediate table.
#include "qvdf/store/itb.h"

int WriteItb(const char*, TableDb*, const char*, MessageFn) { return kErrMode; }
int CompactCopy(const char*, const char*) { return kErrMode; }
int ReadItb(TableDb*, const char*, MessageFn) { return kErrMode; }
int CopySystem(TableDb*, TableDb*, int, uint32_t, uint32_t, MessageFn, const char*, int,
               const int*) { return kErrMode; }
int CopyFieldLists(TableDb*, TableDb*, bool, MessageFn) { return kErrMode; }
int CopyFieldMaps(TableDb*, TableDb*, bool, MessageFn) { return kErrMode; }
int CopyCharMap(TableDb*, TableDb*, int, MessageFn) { return kErrMode; }
