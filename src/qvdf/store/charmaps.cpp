// Charmap records: 256-entry character translation tables found through the
// charmap index by ID (from 1).
#include "qvdf/store/store.h"

int CountCharMaps(TableDb*) { return 0; }
int CharMapSlots(TableDb*) { return 0; }
bool CharMapExists(TableDb*, int) { return false; }
int GetCharMapSize(TableDb*, int) { return 0; }
int ReadCharMap(TableDb*, int, void*, int) { return kErrMode; }
int AddCharMap(TableDb*, int, const CharMapRecord*) { return kErrMode; }
int DeleteCharMap(TableDb*, int) { return kErrMode; }
