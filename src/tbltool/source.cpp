// Reading any table form into a TableDb with places. Text-based forms go
// through ReadTxtTable with a value getter of our own over a line source of
// our own, which counts lines, so that every reader message and every
// record can be tied to a line of the file the user has. The getter keeps
// the library's contract (GetLineValue) so that values arrive exactly as
// tblconv's readers deliver them.
#include "tbltool/source.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "driver/args.h"
#include "driver/dispatch.h"
#include "platform/platform.h"
#include "qvdf/resource/linevalue.h"
#include "qvdf/resource/localized.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/resource/split.h"
#include "qvdf/resource/textfile.h"
#include "qvdf/store/store.h"
#include "qvdf/text/lineread.h"
#include "qvdf/text/textstr.h"
#include "qvdf/text/txtreader.h"

namespace tbltool {

bool IdentifyFile(const std::string& name, int forcedVersion, TableFile* f) {
  f->name = name;
  f->kind = ClassifyFile(name.c_str(), forcedVersion);
  switch (f->kind) {
    case FileKind::ItbV4: f->form = Form::Itb; f->version = 4; return true;
    case FileKind::TxtV2: f->form = Form::Txt; f->version = 2; return true;
    case FileKind::TxtV3: f->form = Form::Txt; f->version = 3; return true;
    case FileKind::TxtV4: f->form = Form::Txt; f->version = 4; return true;
    case FileKind::Rc2V3: f->form = Form::Rc2; f->version = 3; return true;
    case FileKind::Rc2V4: f->form = Form::Rc2; f->version = 4; return true;
    case FileKind::FilV3: f->form = Form::Fil; f->version = 3; return true;
    case FileKind::FilV4: f->form = Form::Fil; f->version = 4; return true;
    case FileKind::ItrV3: f->form = Form::Itr; f->version = 3; return true;
    case FileKind::ItrV4: f->form = Form::Itr; f->version = 4; return true;
    default: f->form = Form::Unknown; return false;
  }
}

const char* FormName(Form form) {
  switch (form) {
    case Form::Itb: return "binary table";
    case Form::Txt: return "text table";
    case Form::Rc2: return "resource script";
    case Form::Fil: return "module";
    case Form::Itr: return "split pair";
    default: return "unknown";
  }
}

const char* FormTag(Form form) {
  switch (form) {
    case Form::Itb: return "itb";
    case Form::Txt: return "txt";
    case Form::Rc2: return "rc2";
    case Form::Fil: return "fil";
    case Form::Itr: return "itr";
    default: return "";
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
uint32_t Places::SectionLine(int system, int index) const { return FindAt(sections, system, index); }
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

constexpr char kBomText[] = "byte-order mark at the start of the file; the readers take it for text";

// A source of text-table lines: 1 with the line (valid until the next
// call), its number in the file and whether it is plain (see LineSourceFn);
// 0 at the end; -1 when reading cannot go on (already reported).
class Lines {
 public:
  virtual ~Lines() = default;
  virtual int Next(std::string_view* line, bool* plain, uint32_t* number, MessageFn msg) = 0;
};

// The lines of a .txt, with the raw checks made on the way.
class TxtLines : public Lines {
 public:
  TxtLines(platform::FileHandle h, std::string file, std::vector<RawFinding>* raw)
      : in_(h), file_(std::move(file)), raw_(raw) {}

  int Next(std::string_view* line, bool* plain, uint32_t* number, MessageFn msg) override {
    if (failed_) return -1;
    if (ended_) return 0;
    int r = ReadTextView(&in_, line);
    if (r == kLineTooLong) {
      SendMessage(msg, kLevelError, kLineTooLongMessage);
      failed_ = true;
      return -1;
    }
    if (r == kLineNone) {
      ended_ = true;
      return 0;
    }
    *number = next_;
    Inspect(*line);
    size_t n = line->size();
    *plain = n >= 2 && (*line)[n - 2] == '\r' && (*line)[n - 1] == '\n' && in_.stop() == n - 2;
    return 1;
  }
  // Reads the rest for the raw checks alone, then reports what they found.
  void Finish() {
    std::string_view line;
    while (!failed_ && !ended_) {
      int r = ReadTextView(&in_, &line);
      if (r != kLineRead) break;
      Inspect(line);
    }
    if (noCr_ > 0) {
      std::string text = "line ends in LF without CR; the reader keeps the LF in its value";
      if (noCr_ > 1)
        text += " (and " + std::to_string(noCr_ - 1) + (noCr_ == 2 ? " more line)" : " more lines)");
      raw_->push_back({file_, firstNoCr_, true, text});
    }
  }

 private:
  void Inspect(std::string_view line) {
    if (next_ == 1 && first_) {
      first_ = false;
      if (HasBom(line)) raw_->push_back({file_, 1, true, kBomText});
    }
    size_t n = line.size();
    if (n > 0 && line[n - 1] == '\n') {
      if (n < 2 || line[n - 2] != '\r') {
        if (noCr_++ == 0) firstNoCr_ = next_;
      }
      ++next_;
    }
  }

  TextInput in_;
  std::string file_;
  std::vector<RawFinding>* raw_;
  uint32_t next_ = 1;
  bool first_ = true;
  bool ended_ = false, failed_ = false;
  uint32_t noCr_ = 0, firstNoCr_ = 0;
};

constexpr char kPremature[] = "Premature end of source rc2 file ";
constexpr char kNameMarker[] = "_zelm_itb_table_";

// The text lines of a resource script's table data, numbered by the script
// line they were decoded from.
class Rc2Lines : public Lines {
 public:
  Rc2Lines(platform::FileHandle h, std::string file, std::vector<RawFinding>* raw)
      : in_(h), file_(std::move(file)), raw_(raw) {}

  // Reads up to the line that opens the resource data, as the script
  // reader does. 0; 6 when there is none; 4 for a line too long or a
  // resource-name suffix longer than the carry area.
  int ScanHeader(MessageFn msg, std::string* suffix) {
    bool sawRcdata = false;
    std::string line;
    for (;;) {
      int got = ReadTextLine(&in_, &line);
      if (got == kLineNone) {
        SendMessage(msg, kLevelError, kPremature);
        return 6;
      }
      ++number_;
      if (number_ == 1 && HasBom(line)) raw_->push_back({file_, 1, false, kBomText});
      if (got == kLineTooLong) {
        SendMessage(msg, kLevelError, kLineTooLongMessage);
        return 4;
      }
      std::vector<char> copy(line.begin(), line.end());
      copy.push_back('\0');
      TrimLeading(copy.data());
      Env()->LowerCase(copy.data());
      const char* test = copy.data();
      if (std::strncmp(test, "\\\\", 2) == 0) continue;
      if (const char* at = TxtFindSubstring(test, kNameMarker)) {
        const char* s = at + sizeof(kNameMarker) - 1;
        size_t len = std::strcspn(s, " \t\r\n");
        if (len >= sizeof(Rc2Carry::szSuffix)) {
          SendMessage(msg, kLevelError, "Invalid resource name in rc2 file");
          return 4;
        }
        suffix->assign(s, len);
      }
      if (TxtFindSubstring(test, "rcdata")) sawRcdata = true;
      if (sawRcdata && TxtFindSubstring(test, "begin")) return 0;
    }
  }

  int Next(std::string_view* line, bool* plain, uint32_t* number, MessageFn msg) override {
    if (ended_) return 0;
    std::string_view raw;
    int got = ReadTextView(&in_, &raw);
    if (got == kLineTooLong) {
      SendMessage(msg, kLevelError, kLineTooLongMessage);
      ended_ = true;
      failure_ = 4;
      return -1;
    }
    if (got == kLineNone) {
      // Said once: every later read meets the same end.
      SendMessage(msg, kLevelError, kPremature);
      ended_ = true;
      failure_ = 6;
      return 0;
    }
    ++number_;
    size_t end = raw.size();
    while (end > 0 && (raw[end - 1] == '\n' || raw[end - 1] == '\r')) --end;
    const bool isPlain = in_.stop() >= end;
    text_.clear();
    if (!DecodeRc2ScriptLine(raw, &text_, isPlain)) {
      ended_ = true;
      return 0;
    }
    *line = text_;
    *plain = isPlain;
    *number = number_;
    return 1;
  }
  // 0, or the code the script reader gives a script that ended early (6)
  // or held a line too long (4).
  int failure() const { return failure_; }

 private:
  TextInput in_;
  std::string file_;
  std::vector<RawFinding>* raw_;
  std::string text_;
  uint32_t number_ = 0;
  bool ended_ = false;
  int failure_ = 0;
};

// The lines of a module's table resource, as the module reader cuts them:
// each ended by its LF, CRs dropped, the data ending at its first zero byte.
class FilLines : public Lines {
 public:
  explicit FilLines(std::vector<char> data) : data_(std::move(data)) {
    const void* zero = data_.empty() ? nullptr : std::memchr(data_.data(), '\0', data_.size());
    end_ = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data_.data()) : data_.size();
  }
  int Next(std::string_view* line, bool* plain, uint32_t* number, MessageFn) override {
    const void* hit = pos_ < end_ ? std::memchr(data_.data() + pos_, '\n', end_ - pos_) : nullptr;
    if (!hit) {
      pos_ = end_;
      return 0;
    }
    size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - data_.data());
    line_.clear();
    for (size_t k = pos_; k < lf; ++k)
      if (data_[k] != '\r') line_.push_back(data_[k]);
    pos_ = lf + 1;
    *line = line_;
    *plain = false;
    *number = ++number_;
    return 1;
  }

 private:
  std::vector<char> data_;
  size_t end_ = 0, pos_ = 0;
  std::string line_;
  uint32_t number_ = 0;
};

// The read in progress: the getter and the message callback are plain
// functions, so they find it here. One read at a time.
struct PlacedRead {
  LoadedTable* out = nullptr;
  Lines* lines = nullptr;
  LineCursor cursor;
  uint32_t lastLine = 0;
  bool atEnd = false;
  int system = -1, list = -1;
  // The .itf lines that keep a key the .itr has no text for.
  bool keysLeft = false;
};
PlacedRead* g_read = nullptr;

int NextLine(std::string_view* line, bool* plain, MessageFn msg) {
  PlacedRead& r = *g_read;
  uint32_t number = 0;
  int got = r.lines->Next(line, plain, &number, msg);
  if (got == 1) {
    r.lastLine = number;
  } else {
    r.atEnd = true;
  }
  return got;
}

int16_t Id(const char* value) {
  std::string_view v(value);
  return static_cast<int16_t>(ParseDecimal(v.substr(0, v.find(','))));
}

// Where the record whose first line was just taken begins.
void Note(PlacedRead& r, const char* key, const char* value) {
  Places& p = r.out->places;
  const uint32_t at = r.lastLine;
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
      } else if (std::strcmp(key, "SECTION") == 0) {
        p.sections[r.system].push_back(at);
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
      if (std::strcmp(key, "FIELD") == 0) p.fields[r.list].push_back(at);
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

int PlacedGetValue(const char* key, char* buf, int size, MessageFn msg) {
  PlacedRead& r = *g_read;
  int got = GetLineValue(&r.cursor, NextLine, key, buf, size, msg);
  if (got == kValueFound && key && *key) Note(r, key, buf);
  return got;
}

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
  m.line = r.lastLine;
  m.atEnd = r.atEnd && !r.cursor.current;
  // The line under test, or, when it was taken with the right key and the
  // wrong value (a TYPE line), that line: the view stays until the next read.
  if (!m.atEnd && r.lastLine != 0 && !r.cursor.line.empty()) {
    std::string_view l = r.cursor.line;
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.remove_suffix(1);
    m.hasCurrent = true;
    m.current.assign(l.substr(0, 200));
  }
  r.out->messages.push_back(std::move(m));
}

// Runs ReadTxtTable over `lines` into out->db.
int ReadPlaced(LoadedTable* out, Lines* lines, int version) {
  PlacedRead r;
  r.out = out;
  r.lines = lines;
  g_read = &r;
  DeclareMessageFilter(Collect, Keeps);
  BeginTxtInput(version);
  int rc = ReadTxtTable(&out->db, PlacedGetValue, Collect);
  g_read = nullptr;
  return rc;
}

// A script: the header up to the resource data, then the table in it.
int ReadScript(LoadedTable* out, Rc2Lines* script, Lines* lines, int version) {
  PlacedRead header;
  header.out = out;
  g_read = &header;
  int scan = script->ScanHeader(Collect, &out->rc2Suffix);
  g_read = nullptr;
  if (scan != 0) return scan;
  int rc = ReadPlaced(out, lines, version);
  return rc != 0 ? rc : script->failure();
}

int OpenForReading(const std::string& name, platform::FileHandle* h, std::string* error) {
  platform::FileAttributes a;
  if (!Env()->GetAttributes(name, &a)) {
    *error = "no such file";
    return 2;
  }
  if (a.is_directory) {
    *error = "is a directory";
    return 2;
  }
  if (Env()->OpenFile(name, platform::Access::kRead, platform::Disposition::kOpenExisting, h) != 0) {
    *error = "cannot be opened for reading";
    return 2;
  }
  return 0;
}

class Handle {
 public:
  platform::FileHandle h = platform::kInvalidHandle;
  ~Handle() {
    if (h != platform::kInvalidHandle) Env()->CloseFile(h);
  }
};

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
      raw->push_back({itr, number, false,
                      "line holds no key with a quoted text; the merge passes it over"});
      continue;
    }
    std::string_view key = line.substr(kb, (ke == std::string_view::npos ? line.size() : ke) - kb);
    std::string_view text = line.substr(q1 + 1, q2 - q1 - 1);
    std::string_view after = line.substr(q2 + 1);
    if (after.find_first_not_of(" \t\r\n") != std::string_view::npos)
      raw->push_back({itr, number, false,
                      "text ends at its second quote; the rest of the line is not read"});
    auto [it, added] = seen.emplace(hash(key), Seen{number, hash(text)});
    if (added) continue;
    if (it->second.text != hash(text)) {
      raw->push_back({itr, number, false,
                      "key " + std::string(key) + " was given another text at line " +
                          std::to_string(it->second.line) + "; the merge keeps that one"});
    }
  }
}

// A merged script line that still holds a key: its name stays the key.
class MergedLines : public Lines {
 public:
  MergedLines(Rc2Lines* inner, std::string itf, std::string itr, std::vector<RawFinding>* raw)
      : inner_(inner), itf_(std::move(itf)), itr_(std::move(itr)), raw_(raw) {}
  int Next(std::string_view* line, bool* plain, uint32_t* number, MessageFn msg) override {
    int got = inner_->Next(line, plain, number, msg);
    if (got == 1 && (line->substr(0, 7) == "SYSTEM=" || line->substr(0, 8) == "SECTION=" ||
                     line->substr(0, 6) == "FIELD=")) {
      size_t at = line->find("LOCALIZED_");
      if (at != std::string_view::npos) {
        size_t end = line->find_first_of("\",", at);
        std::string key(line->substr(at, (end == std::string_view::npos ? line->size() : end) - at));
        raw_->push_back({itf_, *number, false,
                         "key " + key + " has no text in " + itr_ +
                             "; the table keeps the key as the name"});
      }
    }
    return got;
  }

 private:
  Rc2Lines* inner_;
  std::string itf_, itr_;
  std::vector<RawFinding>* raw_;
};

int LoadPair(const TableFile& f, LoadedTable* out, std::string* error) {
  const std::string itf = ItfNameFor(f.name);
  platform::FileAttributes a;
  for (const std::string& n : {f.name, itf}) {
    if (!Env()->GetAttributes(n, &a)) {
      *error = n == f.name ? "no such file" : "its .itf " + itf + " is missing";
      return 2;
    }
  }
  std::string script = TempName("TXT", error);
  if (script.empty()) return 2;
  // The merge warns on a stream of its own; check reports those cases itself.
  std::FILE* quiet = std::tmpfile();
  bool merged;
  {
    LocalizedMerger merger(nullptr);
    merger.SetKinds(FileKind::Rc2V4, FileKind::Rc2V4);
    if (quiet) merger.SetWarningStream(quiet);
    merged = merger.Prepare(itf, f.name, script) && merger.OpenFiles(nullptr) != 0 &&
             merger.LoadStrings() == 1 && merger.Merge() && merger.CloseFiles();
  }
  if (quiet) std::fclose(quiet);
  if (!merged) {
    Env()->RemoveFile(script);
    *error = "the pair cannot be merged (unreadable .itf or .itr, or a line too long)";
    return 2;
  }
  ScanStringTable(f.name, &out->raw);
  Handle h;
  int rc = OpenForReading(script, &h.h, error);
  if (rc != 0) {
    Env()->RemoveFile(script);
    return rc;
  }
  out->places.file = itf;
  Rc2Lines lines(h.h, itf, &out->raw);
  MergedLines keyed(&lines, itf, f.name, &out->raw);
  out->readResult = ReadScript(out, &lines, &keyed, f.version);
  out->rc2Suffix.clear();
  Env()->CloseFile(h.h);
  h.h = platform::kInvalidHandle;
  Env()->RemoveFile(script);
  return 0;
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
      Handle h;
      if (int bad = OpenForReading(f.name, &h.h, error)) return bad;
      TxtLines lines(h.h, f.name, &out->raw);
      out->readResult = ReadPlaced(out, &lines, f.version);
      lines.Finish();
      return 0;
    }
    case Form::Rc2: {
      Handle h;
      if (int bad = OpenForReading(f.name, &h.h, error)) return bad;
      Rc2Lines lines(h.h, f.name, &out->raw);
      out->readResult = ReadScript(out, &lines, &lines, f.version);
      return 0;
    }
    case Form::Fil: {
      platform::FileAttributes a;
      if (!Env()->GetAttributes(f.name, &a)) {
        *error = "no such file";
        return 2;
      }
      std::vector<char> data;
      int got = Env()->LoadModuleResource(Env()->AbsolutePath(f.name), kTableResourceName, 10, &data);
      if (got == 9) {
        *error = "cannot be opened for reading";
        return 2;
      }
      if (got != 0) {
        out->messages.push_back({kLevelError,
                                 "not a module with a _ZELM_ITB_TABLE_ resource, or a damaged one",
                                 f.name, 0, false, "", false});
        out->readResult = 4;
        return 0;
      }
      FilLines lines(std::move(data));
      out->readResult = ReadPlaced(out, &lines, f.version);
      return 0;
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
  if (Env()->OpenFile(path, platform::Access::kRead, platform::Disposition::kOpenExisting, &h_) != 0) return false;
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
    for (const std::string& m : g_said) std::fprintf(stderr, "tbltool: %s: %s\n", out.name.c_str(), m.c_str());
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
  if (int rc = ReadTableFile(t.path().c_str(), &t.db, itbPath.c_str(), FileKind::ItbV4, Remember, 0, &carry))
    return Said(out, rc);
  std::snprintf(carry.szSuffix, sizeof carry.szSuffix, "%s", rc2Suffix.c_str());
  return Said(out, WriteTableFile(t.path().c_str(), &t.db, out.name.c_str(), out.kind, Remember, 0, &carry));
}

}  // namespace tbltool
