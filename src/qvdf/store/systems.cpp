// System records with their sections, their dependent deletions, and the
// table-wide values kept in the table header.
#include "qvdf/store/store.h"

int CountSystems(TableDb*) { return 0; }
int SystemSlots(TableDb*) { return 0; }
bool SystemExists(TableDb*, int) { return false; }
int GetSystemSize(TableDb*, int) { return 0; }
int ReadSystem(TableDb*, int, void*, int) { return kErrMode; }
int AddSystem(TableDb*, int, const SystemRecord*) { return kErrMode; }
int ReplaceSystem(TableDb*, int, const SystemRecord*) { return kErrMode; }
int DeleteSystem(TableDb*, int) { return kErrMode; }
int DeleteSystemAll(TableDb*, int) { return kErrMode; }
int DeleteSection(TableDb*, int, int) { return kErrMode; }
int16_t GetMainSystem(TableDb*) { return 0; }
int SetMainSystem(TableDb*, int16_t) { return kErrMode; }
int16_t GetMainClass(TableDb*) { return 0; }
int SetMainClass(TableDb*, int16_t) { return kErrMode; }
uint32_t GetProductID(TableDb*) { return 0; }
int SetProductID(TableDb*, uint32_t) { return kErrMode; }
int16_t GetBundledFlag(TableDb*) { return 0; }
int SetBundledFlag(TableDb*, int16_t) { return kErrMode; }
uint16_t GetLastBaseMap(TableDb*) { return 0; }
