// Checks of a table's records against each other, made after the read, of
// what the readers let through and only bites later: maps whose lists or
// systems are missing, map entries past the end of their target list, item
// numbers out of order, charmaps that systems use but the table lacks,
// aliases and field lists of missing systems, and texts the text form or
// the split pair cannot carry or would key twice.
#pragma once

#include <vector>

#include "qvdf/store/tabledb.h"
#include "tbltool/findings.h"

namespace tbltool {

enum class RecKind { kSystem, kSection, kList, kField, kMap, kCharMap, kTable };

// Puts a finding about a record (and, for a section or field, its index
// within the record) in its place in the file.
class Placer {
 public:
  virtual ~Placer() = default;
  virtual void Place(Finding* f, RecKind kind, int id, int sub) const = 0;
};

// Appends the findings of every record of db. With storeChecks, also what
// only a binary table can get wrong: field-list checksums and the copies of
// a list's keys in the index. `helper`, a second open copy of the same
// table, lets half of the field lists be checked on a thread of its own;
// the findings are the same, in the same order.
void CheckRecords(TableDb* db, const Placer& placer, std::vector<Finding>* out, bool storeChecks,
                  TableDb* helper = nullptr);

}  // namespace tbltool
