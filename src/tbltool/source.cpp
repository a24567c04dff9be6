// Reading any table form into a TableDb with places. Text-based forms go
// through tblconv's own inputs and ReadTxtTable, so values arrive exactly as
// tblconv reads them; a value source in between notes the line of every
// record, and the message callback the line of every message.
// The raw checks of the bytes are in rawscan.cpp, the rest of source.h in
// tablefiles.cpp.
#include "tbltool/source.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/resource/fil.h"
#include "qvdf/resource/localized.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/resource/split.h"
#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"
#include "qvutil/status.h"
#include "tbltool/source_internal.h"

namespace tbltool {

using source::Env;
using source::ScanStringTable;
using source::ScanTextFile;
using source::TempName;

namespace {

uint32_t Find(const std::map<int, uint32_t>& m, int id) {
  auto it = m.find(id);
  return it == m.end() ? 0 : it->second;
}
uint32_t FindAt(const std::map<int, std::vector<uint32_t>>& m, int id, int index) {
  auto it = m.find(id);
  if (it == m.end() || index < 0 || static_cast<size_t>(index) >= it->second.size()) return 0;
  return it->second[static_cast<size_t>(index)];
}

}  // namespace

uint32_t Places::SystemLine(int id) const { return Find(systems, id); }
uint32_t Places::SectionLine(int system, int index) const {
  return FindAt(sections, system, index);
}
uint32_t Places::ListLine(int id) const { return Find(lists, id); }
uint32_t Places::FieldLine(int list, int index) const { return FindAt(fields, list, index); }
uint32_t Places::MapLine(int id) const { return Find(maps, id); }
uint32_t Places::CharMapLine(int id) const { return Find(charmaps, id); }

namespace {

// The read in progress: the message callback is a plain function, so it
// finds it here. One read at a time.
struct PlacedRead {
  LoadedTable* out = nullptr;
  const LineSource* lines = nullptr;
  bool keyed = false;  // a merged split pair: names may still hold keys
  int system = -1, list = -1;
};
PlacedRead* g_read = nullptr;

int16_t Id(const char* value) {
  std::string_view v(value);
  return static_cast<int16_t>(ParseDecimal(v.substr(0, v.find(','))));
}

// A name that still holds its "LOCALIZED_" key: the .itr had no text for it.
void NoteMissingKey(PlacedRead& r, const char* value, uint32_t at) {
  std::string_view v(value);
  size_t key = v.find("LOCALIZED_");
  if (key == std::string_view::npos) return;
  size_t end = v.find_first_of("\",", key);
  std::string k(v.substr(key, (end == std::string_view::npos ? v.size() : end) - key));
  r.out->raw.push_back({r.out->places.file, at, false,
                        "key " + k + " has no text in " + r.out->file.name +
                            "; the table keeps the key as the name"});
}

// Where the record whose first line was just taken begins.
void Note(PlacedRead& r, const char* key, const char* value) {
  Places& p = r.out->places;
  const uint32_t at = static_cast<uint32_t>(r.lines->LineNumber());
  auto first = [&](std::map<int, uint32_t>& m, const char* kind, int id) {
    auto [it, added] = m.emplace(id, at);
    if (!added) {
      p.again.push_back({kind, id, it->second, at});
      it->second = at;
    }
  };
  switch (key[0]) {
    case 'S':
      if (std::strcmp(key, "SYSTEM") == 0) {
        r.system = static_cast<uint16_t>(Id(value));
        first(p.systems, "system", r.system);
        p.sections[r.system].clear();
        if (r.keyed) NoteMissingKey(r, value, at);
      } else if (std::strcmp(key, "SECTION") == 0) {
        p.sections[r.system].push_back(at);
        if (r.keyed) NoteMissingKey(r, value, at);
      }
      break;
    case 'L':
      if (std::strcmp(key, "LISTID") == 0) {
        r.list = ParseDecimal(std::string_view(value));
        first(p.lists, "field list", r.list);
        p.fields[r.list].clear();
      }
      break;
    case 'F':
      if (std::strcmp(key, "FIELD") == 0) {
        p.fields[r.list].push_back(at);
        if (r.keyed) NoteMissingKey(r, value, at);
      }
      break;
    case 'M':
      if (std::strcmp(key, "MAPID") == 0) p.maps[ParseDecimal(std::string_view(value))] = at;
      if (std::strcmp(key, "MAINSYSTEM") == 0) p.mainSystemLine = at;
      break;
    case 'C':
      if (std::strcmp(key, "CHARMAP") == 0) p.charmaps[Id(value)] = at;
      break;
    case 'T':
      if (std::strcmp(key, "TYPE") == 0 && std::strcmp(value, "TABLE") == 0) p.tableLine = at;
      break;
    default:
      break;
  }
}

// The library's line source, with the place of every record noted on the way.
class PlacedSource : public ValueSource {
 public:
  PlacedSource(LineSource& lines, PlacedRead& read, int version) : lines_(lines), read_(read) {
    Begin(version);
  }
  int GetValue(const char* key, char* buf, int size, MessageFn msg) override {
    int got = lines_.GetValue(key, buf, size, msg);
    if (got == kValueFound && key && *key && buf) Note(read_, key, buf);
    return got;
  }

 private:
  LineSource& lines_;
  PlacedRead& read_;
};

bool Keeps(int level) { return level >= kLevelWarning; }

void Collect(int level, const char* text) {
  if (!g_read || level < kLevelWarning || !text) return;
  // The code and abort lines only repeat the message before them.
  if (std::strncmp(text, "***ERROR: Code = ", 17) == 0 ||
      std::strncmp(text, "Processing aborted due to error code ", 37) == 0)
    return;
  PlacedRead& r = *g_read;
  ReaderMessage m;
  m.level = level;
  m.text = text;
  m.file = r.out->places.file;
  if (r.lines) {
    m.line = static_cast<uint32_t>(r.lines->LineNumber());
    m.atEnd = r.lines->Ended() && !r.lines->HasCurrent();
    // The line under test, or, when it was taken with the right key and the
    // wrong value (a TYPE line), that line: the view stays until the next read.
    std::string_view l = r.lines->LastLine();
    if (!m.atEnd && m.line != 0 && !l.empty()) {
      while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.remove_suffix(1);
      m.hasCurrent = true;
      m.current.assign(l.substr(0, 200));
    }
  }
  r.out->messages.push_back(std::move(m));
}

// Opens an input through `open` and reads it with ReadTxtTable into
// out->db; `close` gives the input's own failure (a script that ended
// early). 0, or 2 with *error when the file cannot be opened at all.
template <typename Input, typename Open, typename Close>
int ReadPlaced(LoadedTable* out, Input* in, int version, bool keyed, Open open, Close close,
               std::string* error) {
  PlacedRead r;
  r.out = out;
  r.lines = in;
  r.keyed = keyed;
  g_read = &r;
  DeclareMessageFilter(Collect, Keeps);
  int rc = open(Collect);
  if (rc == kErrNotFound) {
    g_read = nullptr;
    *error = "cannot be opened for reading";
    return 2;
  }
  if (rc == 0) {
    PlacedSource placed(*in, r, version);
    rc = ReadTxtTable(&out->db, placed, Collect);
    int failure = close(Collect);
    if (rc == 0) rc = failure;
  }
  g_read = nullptr;
  out->readResult = rc;
  return 0;
}

// 0 when name is a file that can be opened for reading; 2 with *error.
int CheckReadable(const std::string& name, std::string* error) {
  platform::FileAttributes a;
  if (!Env()->GetAttributes(name, &a)) {
    *error = "no such file";
    return 2;
  }
  if (a.is_directory) {
    *error = "is a directory";
    return 2;
  }
  platform::FileHandle h = platform::kInvalidHandle;
  if (Env()->OpenFile(name, platform::Access::kRead, platform::Disposition::kOpenExisting, &h) !=
      0) {
    *error = "cannot be opened for reading";
    return 2;
  }
  platform::File close(h);
  return 0;
}

int ReadScript(LoadedTable* out, const std::string& path, int version, bool keyed,
               std::string* error) {
  Rc2Input in;
  Rc2Carry carry;
  int rc = ReadPlaced(
      out, &in, version, keyed,
      [&](MessageFn msg) { return OpenRc2Input(&in, version, path.c_str(), msg, &carry); },
      [&](MessageFn msg) { return CloseRc2Input(&in, path.c_str(), msg); }, error);
  out->rc2Suffix = keyed ? "" : carry.szSuffix;
  return rc;
}

int LoadPair(const TableFile& f, LoadedTable* out, std::string* error) {
  const std::string itf = ItfNameFor(f.name);
  if (CheckReadable(f.name, error) != 0) return 2;
  if (CheckReadable(itf, error) != 0) {
    *error = "its .itf " + itf + " " + *error;
    return 2;
  }
  std::string script = TempName("TXT", error);
  if (script.empty()) return 2;
  // The merge warns on a stream of its own; check reports those cases
  // itself, and a merge that fails says why.
  std::FILE* said = std::tmpfile();
  bool merged;
  {
    LocalizedMerger merger(nullptr);
    merger.SetKinds(FileKind::Rc2V4, FileKind::Rc2V4);
    if (said) merger.SetWarningStream(said);
    merged = merger.Prepare(itf, f.name, script) && merger.OpenFiles(nullptr) != 0 &&
             merger.LoadStrings() == 1 && merger.Merge() && merger.CloseFiles();
  }
  std::string why;
  if (said) {
    std::rewind(said);
    char line[512];
    if (std::fgets(line, sizeof line, said)) why = line;
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r')) why.pop_back();
    std::fclose(said);
  }
  if (!merged) {
    Env()->RemoveFile(script);
    *error = "the pair cannot be merged (" +
             (why.empty() ? std::string("unreadable .itf or .itr, or a line too long") : why) + ")";
    return 2;
  }
  ScanStringTable(f.name, &out->raw);
  out->places.file = itf;
  int rc = ReadScript(out, script, f.version, true, error);
  Env()->RemoveFile(script);
  return rc;
}

}  // namespace

LoadedTable::~LoadedTable() { Release(); }

void LoadedTable::Release() {
  if (open) {
    // A temporary table is thrown away: nothing needs writing back.
    if (temp_.empty())
      CloseTable(&db);
    else
      AbortTable(&db, 0);
    open = false;
  }
  if (!temp_.empty()) {
    Env()->RemoveFile(temp_);
    temp_.clear();
  }
}

int LoadTable(const TableFile& f, LoadedTable* out, std::string* error) {
  out->file = f;
  out->places.file = f.name;
  if (f.form == Form::Itb) {
    platform::FileAttributes a;
    if (!Env()->GetAttributes(f.name, &a)) {
      *error = "no such file";
      return 2;
    }
    int rc = OpenTable(f.name.c_str(), &out->db, 0);
    if (rc == kErrNotFound) {
      *error = "cannot be opened for reading";
      return 2;
    }
    out->openResult = rc;
    out->open = rc == 0;
    return 0;
  }
  if (f.form == Form::Unknown) {
    *error = "is no table form (.itb, .txt, .rc2, .fil, .itr)";
    return 2;
  }

  out->temp_ = TempName("ITB", error);
  if (out->temp_.empty()) return 2;
  int rc = CreateTable(out->temp_.c_str());
  if (rc == 0) rc = OpenTable(out->temp_.c_str(), &out->db, 1);
  if (rc != 0) {
    *error = "no temporary table can be made (code " + std::to_string(rc) + ")";
    return 2;
  }
  out->open = true;

  switch (f.form) {
    case Form::Txt: {
      if (CheckReadable(f.name, error) != 0) return 2;
      TxtInput in;
      int rc = ReadPlaced(
          out, &in, f.version, false,
          [&](MessageFn msg) { return OpenTxtInput(&in, f.version, f.name.c_str(), msg); },
          [&](MessageFn msg) { return CloseTxtInput(&in, f.name.c_str(), msg); }, error);
      ScanTextFile(f.name, &out->raw);
      return rc;
    }
    case Form::Rc2:
      if (CheckReadable(f.name, error) != 0) return 2;
      return ReadScript(out, f.name, f.version, false, error);
    case Form::Fil: {
      if (CheckReadable(f.name, error) != 0) return 2;
      FilInput in;
      bool notModule = false;
      int rc = ReadPlaced(
          out, &in, f.version, false,
          [&](MessageFn msg) {
            int opened = OpenFilInput(&in, f.version, f.name.c_str(), msg);
            notModule = opened == kErrBadFormat;
            return opened;
          },
          [&](MessageFn msg) { return CloseFilInput(&in, f.name.c_str(), msg); }, error);
      if (notModule)
        out->messages.push_back({kLevelError,
                                 "not a module with a _ZELM_ITB_TABLE_ resource, or a damaged one",
                                 f.name, 0, false, "", false});
      return rc;
    }
    case Form::Itr:
      return LoadPair(f, out, error);
    default:
      return 2;
  }
}

}  // namespace tbltool
