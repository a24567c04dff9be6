// Reading any table form into a TableDb with places. Text-based forms go
// through tblconv's own inputs and ReadTxtTable, so values arrive exactly as
// tblconv reads them; a value source in between notes the line of every
// record, and the message callback the line of every message.
#include "tbltool/source.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "driver/args.h"
#include "driver/dispatch.h"
#include "platform/platform.h"
#include "qvdf/resource/fil.h"
#include "qvdf/resource/localized.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/resource/split.h"
#include "qvdf/resource/textfile.h"
#include "qvdf/store/store.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"
#include "qvutil/fileio.h"
#include "qvutil/status.h"

namespace tbltool {

bool IdentifyFile(const std::string& name, int forcedVersion, TableFile* f) {
  f->name = name;
  f->kind = ClassifyFile(name.c_str(), forcedVersion);
  switch (f->kind) {
    case FileKind::ItbV4:
      f->form = Form::Itb;
      f->version = 4;
      return true;
    case FileKind::TxtV2:
      f->form = Form::Txt;
      f->version = 2;
      return true;
    case FileKind::TxtV3:
      f->form = Form::Txt;
      f->version = 3;
      return true;
    case FileKind::TxtV4:
      f->form = Form::Txt;
      f->version = 4;
      return true;
    case FileKind::Rc2V3:
      f->form = Form::Rc2;
      f->version = 3;
      return true;
    case FileKind::Rc2V4:
      f->form = Form::Rc2;
      f->version = 4;
      return true;
    case FileKind::FilV3:
      f->form = Form::Fil;
      f->version = 3;
      return true;
    case FileKind::FilV4:
      f->form = Form::Fil;
      f->version = 4;
      return true;
    case FileKind::ItrV3:
      f->form = Form::Itr;
      f->version = 3;
      return true;
    case FileKind::ItrV4:
      f->form = Form::Itr;
      f->version = 4;
      return true;
    default:
      f->form = Form::Unknown;
      return false;
  }
}

const char* FormName(Form form) {
  switch (form) {
    case Form::Itb:
      return "binary table";
    case Form::Txt:
      return "text table";
    case Form::Rc2:
      return "resource script";
    case Form::Fil:
      return "module";
    case Form::Itr:
      return "split pair";
    default:
      return "unknown";
  }
}

const char* FormTag(Form form) {
  switch (form) {
    case Form::Itb:
      return "itb";
    case Form::Txt:
      return "txt";
    case Form::Rc2:
      return "rc2";
    case Form::Fil:
      return "fil";
    case Form::Itr:
      return "itr";
    default:
      return "";
  }
}

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

platform::Env* Env() { return platform::Env::Get(); }

bool HasBom(std::string_view s) {
  return (s.size() >= 3 && s.compare(0, 3, "\xEF\xBB\xBF") == 0) ||
         (s.size() >= 2 && (s.compare(0, 2, "\xFF\xFE") == 0 || s.compare(0, 2, "\xFE\xFF") == 0));
}

constexpr char kBomText[] =
    "byte-order mark at the start of the file; the readers take it for text";

// The raw checks of a .txt the reader does not make: a byte-order mark, and
// lines that end in LF alone in a file whose lines end in CR LF (the reader
// takes them as CR LF; a file whose first line ends in LF alone is the
// reader's own warning).
void ScanTextFile(const std::string& name, std::vector<RawFinding>* raw) {
  platform::FileHandle h = platform::kInvalidHandle;
  if (Env()->OpenFile(name, platform::Access::kRead, platform::Disposition::kOpenExisting, &h) != 0)
    return;
  platform::File file(h);
  LineReader in(h);
  std::string_view line;
  bool crlf = false, known = false;
  uint64_t lfOnly = 0, first = 0;
  while (in.Next(&line) == kLineRead) {
    if (in.count() == 1 && HasBom(line)) raw->push_back({name, 1, true, kBomText});
    if (line.empty() || line.back() != '\n') continue;
    const bool cr = line.size() >= 2 && line[line.size() - 2] == '\r';
    if (!known) {
      known = true;
      crlf = cr;
    } else if (crlf && !cr && lfOnly++ == 0) {
      first = in.count();
    }
  }
  if (lfOnly == 0) return;
  std::string text = "line ends in LF without CR";
  if (lfOnly > 1)
    text += " (and " + std::to_string(lfOnly - 1) + (lfOnly == 2 ? " more line)" : " more lines)");
  raw->push_back({name, static_cast<uint32_t>(first), false, text});
}

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

std::string TempName(const char* prefix, std::string* error) {
  std::string path;
  if (Env()->CreateUniqueFile(Env()->TempDirectory(), prefix, &path, nullptr) != 0) {
    *error = "no temporary file can be made in " + Env()->TempDirectory();
    return "";
  }
  return path;
}

// Problems of the string table itself, which the merge passes over or
// resolves silently: lines without a key and quoted text, keys given twice.
void ScanStringTable(const std::string& itr, std::vector<RawFinding>* raw) {
  TextFile f;
  if (f.Open(itr, platform::Access::kRead, platform::Disposition::kOpenExisting) != 0) return;
  // By a 64-bit hash of each key: a string table holds a key per field.
  struct Seen {
    uint32_t line;
    size_t text;
  };
  std::unordered_map<size_t, Seen> seen;
  std::hash<std::string_view> hash;
  std::string_view line;
  uint32_t number = 0;
  while (f.ReadLine(&line) == kLineRead) {
    ++number;
    if (number == 1 && HasBom(line)) raw->push_back({itr, 1, false, kBomText});
    size_t kb = line.find_first_not_of(" \t\r\n");
    if (kb == std::string_view::npos) continue;
    size_t ke = line.find_first_of(" \t\r\n", kb);
    size_t q1 = line.find('"');
    size_t q2 = q1 == std::string_view::npos ? q1 : line.find('"', q1 + 1);
    if (q2 == std::string_view::npos || q2 == q1 + 1 || ke == kb) {
      raw->push_back(
          {itr, number, false, "line holds no key with a quoted text; the merge passes it over"});
      continue;
    }
    std::string_view key = line.substr(kb, (ke == std::string_view::npos ? line.size() : ke) - kb);
    std::string_view text = line.substr(q1 + 1, q2 - q1 - 1);
    std::string_view after = line.substr(q2 + 1);
    if (after.find_first_not_of(" \t\r\n") != std::string_view::npos)
      raw->push_back(
          {itr, number, false, "text ends at its second quote; the rest of the line is not read"});
    auto [it, added] = seen.emplace(hash(key), Seen{number, hash(text)});
    if (added) continue;
    if (it->second.text != hash(text)) {
      raw->push_back({itr, number, false,
                      "key " + std::string(key) + " was given another text at line " +
                          std::to_string(it->second.line) + "; the merge keeps that one"});
    }
  }
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

TempTable::~TempTable() {
  if (IsTableOpen(&db)) AbortTable(&db, 0);
  if (!path_.empty()) Env()->RemoveFile(path_);
}

int TempTable::Create(std::string* error) {
  path_ = TempName("ITB", error);
  if (path_.empty()) return -1;
  int rc = CreateTable(path_.c_str());
  if (rc == 0) rc = OpenTable(path_.c_str(), &db, 1);
  if (rc != 0) *error = "no temporary table can be made (code " + std::to_string(rc) + ")";
  return rc;
}

int TempTable::Close() { return CloseTable(&db); }

bool FileExists(const std::string& path) {
  platform::FileAttributes a;
  return Env()->GetAttributes(path, &a);
}

void RemoveFileIfAny(const std::string& path) {
  if (FileExists(path)) Env()->RemoveFile(path);
}

bool IsLeadByte(unsigned char c) { return c >= 0x80 && Env()->IsLeadByte(c); }

RawFile::~RawFile() {
  if (h_ != platform::kInvalidHandle) Env()->CloseFile(h_);
}

bool RawFile::Open(const std::string& path) {
  if (Env()->OpenFile(path, platform::Access::kRead, platform::Disposition::kOpenExisting, &h_) !=
      0)
    return false;
  int64_t size = Env()->FileSize(h_);
  if (size < 0) return false;
  size_ = static_cast<uint64_t>(size);
  return true;
}

long RawFile::ReadAt(uint64_t off, void* dst, size_t n) { return Env()->ReadAt(h_, off, dst, n); }

namespace {

// What the read and the write said; shown only when one of them fails, as
// the text writer reports its counts at the level of an error.
std::vector<std::string> g_said;

void Remember(int level, const char* text) {
  if (level < kLevelWarning || !text) return;
  std::string_view t(text);
  while (!t.empty() && t.front() == '\n') t.remove_prefix(1);
  g_said.emplace_back(t);
}
bool RememberKeeps(int level) { return level >= kLevelWarning; }

int Said(const TableFile& out, int rc) {
  if (rc != 0)
    for (const std::string& m : g_said)
      std::fprintf(stderr, "tbltool: %s: %s\n", out.name.c_str(), m.c_str());
  g_said.clear();
  return rc;
}

}  // namespace

int WriteTableAs(const std::string& itbPath, const TableFile& out, const std::string& rc2Suffix) {
  DeclareMessageFilter(Remember, RememberKeeps);
  g_said.clear();
  TempTable t;
  std::string error;
  if (int rc = t.Create(&error)) {
    std::fprintf(stderr, "tbltool: %s\n", error.c_str());
    return rc;
  }
  Rc2Carry carry{};
  if (int rc = ReadTableFile(t.path().c_str(), &t.db, itbPath.c_str(), FileKind::ItbV4, Remember, 0,
                             &carry))
    return Said(out, rc);
  std::snprintf(carry.szSuffix, sizeof carry.szSuffix, "%s", rc2Suffix.c_str());
  return Said(out, WriteTableFile(t.path().c_str(), &t.db, out.name.c_str(), out.kind, Remember, 0,
                                  &carry));
}

}  // namespace tbltool
