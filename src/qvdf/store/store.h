// Record operations of a table: systems with their sections, table-wide
// values, field lists, field maps with their configurations, charmaps.
// Every operation takes the open TableDb first; codes as in datafile.h; a
// failing operation stores its code as the table's last error. On a closed
// table every operation fails with 17 without touching memory.
//
// Iteration: run the ID upward from its first value (0 for field lists, 1
// otherwise) up to the index capacity, stopping after Count* records met.
#pragma once

#include <cstdint>

#include "qvdf/store/records.h"
#include "qvdf/store/tabledb.h"

// ---- systems and sections
int CountSystems(TableDb* db);
int SystemSlots(TableDb* db);                      // nSystemSlots
bool SystemExists(TableDb* db, int id);
int GetSystemSize(TableDb* db, int id);            // 0 when absent
int ReadSystem(TableDb* db, int id, void* buf, int size);
int AddSystem(TableDb* db, int id, const SystemRecord* rec);
int ReplaceSystem(TableDb* db, int id, const SystemRecord* rec);
int DeleteSystem(TableDb* db, int id);
int DeleteSystemAll(TableDb* db, int id);          // with its lists and maps
int DeleteSection(TableDb* db, int systemId, int sectionId);

int16_t GetMainSystem(TableDb* db);
int SetMainSystem(TableDb* db, int16_t v);
int16_t GetMainClass(TableDb* db);
int SetMainClass(TableDb* db, int16_t v);
uint32_t GetProductID(TableDb* db);
int SetProductID(TableDb* db, uint32_t v);
int16_t GetBundledFlag(TableDb* db);
int SetBundledFlag(TableDb* db, int16_t v);
uint16_t GetLastBaseMap(TableDb* db);

// ---- field lists
int CountFieldLists(TableDb* db);
int FieldListSlots(TableDb* db);                   // nFieldListSlots
bool FieldListExists(TableDb* db, int id);
int GetFieldListSize(TableDb* db, int id);
int FirstFreeFieldListID(TableDb* db);             // -1 on failure
int ReadFieldList(TableDb* db, int id, void* buf, int size);
int AddFieldList(TableDb* db, int id, const FieldListRecord* rec);
int DeleteFieldList(TableDb* db, int id);
uint16_t GetFieldListApp(TableDb* db, int id);     // 0xFFFF when absent
uint16_t GetFieldListSecType(TableDb* db, int id); // 0xFFFF when absent
int GetFieldListCount(TableDb* db, int id);        // -1 when absent
int GetFieldListChecksum(TableDb* db, int id);     // -1 when absent
int GetFieldListMark(TableDb* db, int id);         // -1 when absent
int MarkFieldList(TableDb* db, int id);

// ---- field maps
int CountFieldMaps(TableDb* db);
int FieldMapSlots(TableDb* db);                    // nFieldMapSlots
bool FieldMapExists(TableDb* db, int id);
int ResolveFieldMap(TableDb* db, int id);
int GetFieldMapSize(TableDb* db, int id);
// config and/or buf may be null.
int ReadFieldMap(TableDb* db, int id, ConfigRecord* config, void* buf, int size);
// config and/or rec may be null (a shared map has a config and no record).
int AddFieldMap(TableDb* db, int id, const ConfigRecord* config, const FieldMapRecord* rec);
int DeleteFieldMap(TableDb* db, int id);
int DeleteFieldMapAll(TableDb* db, int id);

// ---- charmaps
int CountCharMaps(TableDb* db);
int CharMapSlots(TableDb* db);                     // nCharMapSlots
bool CharMapExists(TableDb* db, int id);
int GetCharMapSize(TableDb* db, int id);
int ReadCharMap(TableDb* db, int id, void* buf, int size);
int AddCharMap(TableDb* db, int id, const CharMapRecord* rec);
int DeleteCharMap(TableDb* db, int id);
