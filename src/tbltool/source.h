// Reads one table file of any form into an open TableDb, noting where every
// record began and what the reader said, and where (source.cpp, with the raw
// checks of the bytes in rawscan.cpp); and what else the commands need from
// below the record operations: a file's form by its name, temporary tables,
// a file's bytes by position and the write of a table in any form
// (tablefiles.cpp). The one place in tbltool that reaches into the readers
// themselves; every other file sees only the record operations (store.h,
// tabledb.h), the dispatchers (dispatch.h) and, for the structural check,
// the data-file layout (datafile.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

namespace tbltool {

enum class Form { Unknown, Itb, Txt, Rc2, Fil, Itr };

// A table file named on the command line: its form from the extension and
// its version (forced, or the form's default, 4).
struct TableFile {
  std::string name;
  Form form = Form::Unknown;
  int version = 4;
  FileKind kind = FileKind::Unknown;
};

// Fills *f for name; false when the extension is no table form, or the
// version is one the form does not have (.itb is version 4 only).
bool IdentifyFile(const std::string& name, int forcedVersion, TableFile* f);
// "binary table", "text table", ... for messages and info.
const char* FormName(Form form);
// "itb", "txt", "rc2", "fil", "itr".
const char* FormTag(Form form);

// What a reader reported, with the line of the record line it had fetched
// last (0 when it had none), the line under test when it was not consumed
// (an "expected" message names it), and whether the input had ended.
struct ReaderMessage {
  int level = 0;
  std::string text;
  std::string file;  // the file the line counts in (.itf for a split pair)
  uint32_t line = 0;
  bool hasCurrent = false;
  std::string current;  // without its line end
  bool atEnd = false;
};

// A problem found in the raw bytes (byte-order mark, line without CR) or in
// a split pair's string table, before any record was made of them.
struct RawFinding {
  std::string file;
  uint32_t line = 0;
  bool error = true;
  std::string text;
};

// Where the records of a text-based file began; lines count from 1 in
// `file`. Empty for an .itb, whose places are block addresses (itblayout.h).
struct Places {
  std::string file;
  std::map<int, uint32_t> systems, lists, maps, charmaps;
  std::map<int, std::vector<uint32_t>> sections;  // system -> line of each SECTION
  std::map<int, std::vector<uint32_t>> fields;    // list -> line of each FIELD
  uint32_t tableLine = 0;                         // TYPE=TABLE
  uint32_t mainSystemLine = 0;
  // A system or field list read a second time replaces the first.
  struct Again {
    const char* kind;
    int id;
    uint32_t first, again;
  };
  std::vector<Again> again;
  // The line of a record, 0 when unknown.
  uint32_t SystemLine(int id) const;
  uint32_t SectionLine(int system, int index) const;
  uint32_t ListLine(int id) const;
  uint32_t FieldLine(int list, int index) const;
  uint32_t MapLine(int id) const;
  uint32_t CharMapLine(int id) const;
};

// A table read from a file: an .itb opened where it lies, read-only; any
// other form read into a temporary table that goes with this object.
class LoadedTable {
 public:
  LoadedTable() = default;
  ~LoadedTable();
  LoadedTable(const LoadedTable&) = delete;
  LoadedTable& operator=(const LoadedTable&) = delete;

  TableFile file;
  TableDb db;
  bool open = false;      // db holds the table (possibly read only in part)
  int readResult = 0;     // the reader's code: 0 read whole, else where it stopped
  int openResult = 0;     // an .itb that OpenTable refused: its code
  std::string rc2Suffix;  // resource-name suffix of an .rc2 (lower case)
  Places places;
  std::vector<ReaderMessage> messages;  // levels 80 and 100
  std::vector<RawFinding> raw;

  // Closes the table and removes the temporary file.
  void Release();

 private:
  friend int LoadTable(const TableFile& f, LoadedTable* out, std::string* error);
  std::string temp_;
};

// Reads f into *out. 0 when the file could be read at all (out->readResult
// and out->messages say how far and what the reader reported); 2 with
// *error when it cannot: missing, unopenable, not a module, no temporary
// table to read it into.
int LoadTable(const TableFile& f, LoadedTable* out, std::string* error);

// A new, empty, open temporary table of its own file, removed on release.
class TempTable {
 public:
  TempTable() = default;
  ~TempTable();
  TempTable(const TempTable&) = delete;
  TempTable& operator=(const TempTable&) = delete;
  // 0, or a store code / -1 with *error.
  int Create(std::string* error);
  // Closes it (written back whole); 0 or the code.
  int Close();
  TableDb db;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The operating system as the commands need it besides reading tables,
// kept here with the rest of what reaches below the record operations.
bool FileExists(const std::string& path);
void RemoveFileIfAny(const std::string& path);
// Whether c begins a double-byte character in the code page in use.
bool IsLeadByte(unsigned char c);

// A file's bytes by position, for the structural check of binary tables.
class RawFile {
 public:
  RawFile() = default;
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;
  // False when the file cannot be opened or its size had.
  bool Open(const std::string& path);
  uint64_t size() const { return size_; }
  // Bytes read, or -1.
  long ReadAt(uint64_t off, void* dst, size_t n);

 private:
  int h_ = -1;
  uint64_t size_ = 0;
};

// Reads the closed table file `itbPath` into `into` as tblconv reads an
// .itb input, then writes `into` as `out` in its form; messages of level 80
// and up go to stderr prefixed with the output name. 0, or the failing
// step's code after its message.
int WriteTableAs(const std::string& itbPath, const TableFile& out, const std::string& rc2Suffix);

}  // namespace tbltool
