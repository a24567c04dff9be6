// Field maps: a configuration entry in the field-map index and a map record
// in the data file's root slot of the same ID; entries may share a record.
#include "qvdf/store/store.h"

int CountFieldMaps(TableDb*) { return 0; }
int FieldMapSlots(TableDb*) { return 0; }
bool FieldMapExists(TableDb*, int) { return false; }
int ResolveFieldMap(TableDb*, int id) { return id; }
int GetFieldMapSize(TableDb*, int) { return 0; }
int ReadFieldMap(TableDb*, int, ConfigRecord*, void*, int) { return kErrMode; }
int AddFieldMap(TableDb*, int, const ConfigRecord*, const FieldMapRecord*) { return kErrMode; }
int DeleteFieldMap(TableDb*, int) { return kErrMode; }
int DeleteFieldMapAll(TableDb*, int) { return kErrMode; }
