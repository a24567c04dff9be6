// The import. nlohmann's parser hands over each record object as it ends;
// the record goes into the table and the object is dropped, so the JSON is
// never held whole. Members are strict: an unknown name, a number out of
// its field's range or a character outside the byte mapping is an error
// that names its place ("fieldLists[3].fields[7].szName").
#include "tbltool/import.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <vector>

#include "qvdf/store/store.h"
#include "tbltool/bytes.h"
#include "tbltool/cli.h"
#include "tbltool/fields.h"
#include "tbltool/source.h"

namespace tbltool {

namespace {

using nlohmann::json;

const char kHelp[] =
    "Usage: tbltool import IN.json [-2|-3|-4] OUT [-f]\n"
    "Writes the table of an export (see docs/json.md) as OUT, in the form its\n"
    "extension names (.itb, .txt, .rc2, .itr), as tblconv writes it; -3 or -2\n"
    "before OUT chooses an older version, -f replaces an existing OUT.\n"
    "Exit: 0 written, 2 the JSON is not a table or OUT could not be written.\n";

struct ImportError {
  std::string where;
  std::string text;
};

[[noreturn]] void Fail(const std::string& where, const std::string& text) {
  throw ImportError{where, text};
}

std::string Join(const std::string& where, std::string_view member) {
  return where + "." + std::string(member);
}

int64_t Integer(const json& v, const std::string& where) {
  if (v.is_number_unsigned()) {
    uint64_t u = v.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) Fail(where, "number out of range");
    return static_cast<int64_t>(u);
  }
  if (!v.is_number_integer()) Fail(where, "must be an integer");
  return v.get<int64_t>();
}

std::string Range(FieldKind k) {
  switch (k) {
    case FieldKind::kI16:
    case FieldKind::kI16Array:
      return "-32768 to 32767";
    case FieldKind::kU16:
      return "0 to 65535";
    case FieldKind::kI32:
      return "-2147483648 to 2147483647";
    case FieldKind::kU32:
    case FieldKind::kU32Array:
      return "0 to 4294967295";
    default:
      return "0 to 255";
  }
}

// The bytes of a JSON text under the byte mapping.
std::string Bytes(const json& v, const std::string& where) {
  if (!v.is_string()) Fail(where, "must be a string");
  std::string bytes;
  char32_t bad = 0;
  if (!TextToBytes(v.get_ref<const std::string&>(), &bytes, &bad))
    Fail(where, bad == 0xFFFFFFFF ? std::string("is not UTF-8")
                                  : "character " + CharName(bad) +
                                        " has no byte in the mapping (see docs/json.md)");
  return bytes;
}

std::string HexBytes(const json& v, const std::string& where, size_t max) {
  if (!v.is_string()) Fail(where, "must be a string of hexadecimal digits");
  std::string bytes;
  if (!FromHex(v.get_ref<const std::string&>(), &bytes))
    Fail(where, "must be pairs of hexadecimal digits");
  if (bytes.size() > max)
    Fail(where, std::to_string(bytes.size()) + " bytes do not fit in " + std::to_string(max));
  return bytes;
}

// Fills the fields of d in rec (zeroed) from the members of obj; the names
// in `extra` are the caller's.
void ReadFields(const json& obj, const RecordDesc& d, void* rec, const std::string& where,
                std::initializer_list<std::string_view> extra) {
  if (!obj.is_object()) Fail(where, "must be an object");
  char* p = static_cast<char*>(rec);
  struct Tail {
    const FieldDesc* f;
    std::string bytes;
    std::string where;
  };
  std::vector<Tail> tails;
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    const std::string& key = it.key();
    if (std::find(extra.begin(), extra.end(), key) != extra.end()) continue;
    const std::string at = Join(where, key);
    const FieldDesc* f = FindField(d, key);
    const json& v = it.value();
    if (!f) {
      // "<text>Tail" and "cTypeHigh" travel beside their field.
      std::string_view k = key;
      const FieldDesc* base = nullptr;
      if (k.size() > 4 && k.substr(k.size() - 4) == "Tail")
        base = FindField(d, k.substr(0, k.size() - 4));
      if (base && base->kind == FieldKind::kText) {
        tails.push_back({base, HexBytes(v, at, base->size), at});
        continue;
      }
      if (k.size() > 4 && k.substr(k.size() - 4) == "High")
        base = FindField(d, k.substr(0, k.size() - 4));
      if (base && base->kind == FieldKind::kCType) {
        int64_t hi = Integer(v, at);
        if (hi < 0 || hi > 255) Fail(at, "must be an integer from 0 to 255");
        p[base->offset + 1] = static_cast<char>(hi);
        continue;
      }
      Fail(where, "unknown member \"" + key + "\"");
    }
    switch (f->kind) {
      case FieldKind::kI16:
      case FieldKind::kU16:
      case FieldKind::kI32:
      case FieldKind::kU32: {
        int64_t n = Integer(v, at);
        if (!FitsNumber(f->kind, n)) Fail(at, "must be an integer from " + Range(f->kind));
        SetNumber(rec, *f, n);
        break;
      }
      case FieldKind::kText: {
        std::string bytes = Bytes(v, at);
        if (bytes.find('\0') != std::string::npos)
          Fail(at, "holds U+0000; bytes after a text's end go in " + key + "Tail");
        if (bytes.size() > f->size)
          Fail(at,
               std::to_string(bytes.size()) + " bytes do not fit in " + std::to_string(f->size));
        std::memcpy(p + f->offset, bytes.data(), bytes.size());
        break;
      }
      case FieldKind::kChar:
      case FieldKind::kCType: {
        std::string bytes = Bytes(v, at);
        if (bytes.size() > 1) Fail(at, "must be one character, or empty for none");
        p[f->offset] = bytes.empty() ? '\0' : bytes[0];
        break;
      }
      case FieldKind::kReserved: {
        std::string bytes = HexBytes(v, at, f->size);
        std::memcpy(p + f->offset, bytes.data(), bytes.size());
        break;
      }
      case FieldKind::kI16Array:
      case FieldKind::kU32Array: {
        const size_t n = ArrayCount(*f);
        if (!v.is_array() || v.size() != n)
          Fail(at, "must be an array of " + std::to_string(n) + " integers");
        for (size_t k = 0; k < n; ++k) {
          int64_t x = Integer(v[k], at + "[" + std::to_string(k) + "]");
          if (!FitsNumber(f->kind, x))
            Fail(at + "[" + std::to_string(k) + "]", "must be an integer from " + Range(f->kind));
          SetNumber(rec, *f, x, k);
        }
        break;
      }
      case FieldKind::kBytes: {
        std::string bytes = HexBytes(v, at, f->size);
        if (bytes.size() != f->size) Fail(at, "must be " + std::to_string(f->size) + " bytes");
        std::memcpy(p + f->offset, bytes.data(), bytes.size());
        break;
      }
    }
  }
  for (const Tail& t : tails) {
    size_t len = TextOf(rec, *t.f).size();
    if (len + 1 + t.bytes.size() > t.f->size)
      Fail(t.where, "the text and its tail do not fit in " + std::to_string(t.f->size) + " bytes");
    std::memcpy(p + t.f->offset + len + 1, t.bytes.data(), t.bytes.size());
  }
}

const json& Member(const json& obj, const char* name, const std::string& where) {
  auto it = obj.find(name);
  if (it == obj.end()) Fail(where, std::string("has no \"") + name + "\"");
  return *it;
}

int Id(const json& obj, const char* name, const std::string& where, int lo, int hi) {
  int64_t id = Integer(Member(obj, name, where), Join(where, name));
  if (id < lo || id > hi)
    Fail(Join(where, name), "must be from " + std::to_string(lo) + " to " + std::to_string(hi));
  return static_cast<int>(id);
}

std::string Code(int rc) {
  switch (rc) {
    case 13:
      return "code 13: the ID is outside what the table takes, or given twice";
    case 51:
      return "code 51: a list or record it needs is missing";
    default:
      return "code " + std::to_string(rc);
  }
}

struct PendingMap {
  int id;
  ConfigRecord config;
  bool hasRecord;
  std::vector<char> rec;  // the fixed part
  std::vector<int16_t> entries;
  std::string where;
};

class Importer {
 public:
  Importer(TableDb* db, const std::string& name, std::FILE* errors)
      : db_(db), name_(name), errors_(errors) {}

  // One record object of the array `array`, at its index.
  void Record(const std::string& array, size_t index, const json& obj) {
    std::string where = array + "[" + std::to_string(index) + "]";
    if (array == "systems") return System(obj, where);
    if (array == "fieldLists") return List(obj, where);
    if (array == "fieldMaps") return Map(obj, where);
    if (array == "charMaps") return CharMap(obj, where);
    Fail(where, "is in no array of records");
  }
  void Table(const json& obj) {
    TableHeader h{};
    static const FieldDesc kTableFields[] = {
        {"nMainSystem", offsetof(TableHeader, nMainSystem), 2, FieldKind::kI16},
        {"nMainClass", offsetof(TableHeader, nMainClass), 2, FieldKind::kI16},
        {"dwProductID", offsetof(TableHeader, dwProductID), 4, FieldKind::kU32},
        {"nBundledFlag", offsetof(TableHeader, nBundledFlag), 2, FieldKind::kI16},
        {"reserved1", offsetof(TableHeader, reserved1), 2, FieldKind::kReserved},
        {"reserved2", offsetof(TableHeader, reserved2), 78, FieldKind::kReserved},
    };
    static const RecordDesc kTable{"table", kTableFields, 6, sizeof(TableHeader)};
    ReadFields(obj, kTable, &h, "table", {});
    // The header's reserved bytes are not written: tblconv does not carry
    // them into a table it writes either.
    SetMainSystem(db_, h.nMainSystem);
    SetMainClass(db_, h.nMainClass);
    SetProductID(db_, h.dwProductID);
    SetBundledFlag(db_, h.nBundledFlag);
  }
  // Adds the field maps, whose lists may have come after them: the ones
  // with records first, then those that share one.
  void Finish() {
    std::sort(maps_.begin(), maps_.end(),
              [](const PendingMap& a, const PendingMap& b) { return a.id < b.id; });
    for (int pass = 0; pass < 2; ++pass) {
      for (PendingMap& m : maps_) {
        if (m.hasRecord != (pass == 0)) continue;
        if (FieldMapExists(db_, m.id))
          Fail(m.where, "field map " + std::to_string(m.id) + " is given twice");
        int rc;
        if (m.hasRecord) {
          FieldMapRecord head;
          std::memcpy(&head, m.rec.data(), sizeof head);
          int n = GetFieldListCount(db_, head.nSourceList);
          if (n < 0)
            Fail(m.where,
                 "its source list " + std::to_string(head.nSourceList) + " is not in the table");
          if (m.entries.size() > static_cast<size_t>(n))
            std::fprintf(errors_,
                         "tbltool: %s: %s: %zu map entries past the %d fields of source list %d "
                         "are left out\n",
                         name_.c_str(), m.where.c_str(), m.entries.size() - static_cast<size_t>(n),
                         n, head.nSourceList);
          std::vector<char> rec(static_cast<size_t>(FieldMapRecordSize(n)));
          std::memcpy(rec.data(), m.rec.data(), kFieldMapFixedSize);
          FieldMapRecord* r = reinterpret_cast<FieldMapRecord*>(rec.data());
          // Entries a short record lacks are unmapped, as the store pads them.
          for (int e = 0; e < n; ++e)
            SetMapEntry(
                r, e,
                static_cast<size_t>(e) < m.entries.size() ? m.entries[static_cast<size_t>(e)] : -1);
          rc = AddFieldMap(db_, m.id, &m.config, r);
        } else {
          rc = AddFieldMap(db_, m.id, &m.config, nullptr);
        }
        if (rc != 0)
          Fail(m.where,
               "field map " + std::to_string(m.id) + " cannot be stored (" + Code(rc) + ")");
      }
    }
  }

 private:
  void System(const json& obj, const std::string& where) {
    const json& secs = Member(obj, "sections", where);
    if (!secs.is_array()) Fail(Join(where, "sections"), "must be an array");
    if (secs.size() > kMaxSections)
      Fail(Join(where, "sections"), "a system has at most 113 sections");
    const int n = static_cast<int>(secs.size());
    std::vector<char> buf(static_cast<size_t>(SystemRecordSize(n)), 0);
    Id(obj, "nSystemID", where, 1, 65535);
    ReadFields(obj, kSystemDesc, buf.data(), where, {"sections"});
    SystemRecord* s = reinterpret_cast<SystemRecord*>(buf.data());
    s->nSections = static_cast<int16_t>(n);
    for (int i = 0; i < n; ++i)
      ReadFields(secs[static_cast<size_t>(i)], kSectionDesc, &SystemSections(s)[i],
                 Join(where, "sections[" + std::to_string(i) + "]"), {});
    if (s->nSystemID >= 255) {
      // Only a binary table's index reaches so far, and tblconv does not
      // read such systems out of one either.
      std::fprintf(errors_,
                   "tbltool: %s: %s: system %d is left out: tables carry system IDs 1 to 254\n",
                   name_.c_str(), where.c_str(), s->nSystemID);
      return;
    }
    if (SystemExists(db_, s->nSystemID))
      Fail(where, "system " + std::to_string(s->nSystemID) + " is given twice");
    if (int rc = AddSystem(db_, s->nSystemID, s))
      Fail(where,
           "system " + std::to_string(s->nSystemID) + " cannot be stored (" + Code(rc) + ")");
  }

  void List(const json& obj, const std::string& where) {
    int id = Id(obj, "id", where, 0, 32767);
    const json& fields = Member(obj, "fields", where);
    if (!fields.is_array()) Fail(Join(where, "fields"), "must be an array");
    if (fields.size() > 32767) Fail(Join(where, "fields"), "a field list has at most 32767 fields");
    const int n = static_cast<int>(fields.size());
    std::vector<char> buf(static_cast<size_t>(FieldListRecordSize(n)), 0);
    ReadFields(obj, kListDesc, buf.data(), where, {"id", "cMark", "fields"});
    FieldListRecord* l = reinterpret_cast<FieldListRecord*>(buf.data());
    l->nFields = static_cast<int16_t>(n);
    for (int k = 0; k < n; ++k)
      ReadFields(fields[static_cast<size_t>(k)], kFieldDesc, &ListFields(l)[k],
                 Join(where, "fields[" + std::to_string(k) + "]"), {});
    std::string mark;
    if (auto it = obj.find("cMark"); it != obj.end()) mark = Bytes(*it, Join(where, "cMark"));
    if (mark.size() > 1) Fail(Join(where, "cMark"), "must be one character, or empty for none");
    if (FieldListExists(db_, id))
      Fail(where, "field list " + std::to_string(id) + " is given twice");
    if (int rc = AddFieldList(db_, id, l))
      Fail(where, "field list " + std::to_string(id) + " cannot be stored (" + Code(rc) + ")");
    // Only the store's own mark can be set; tblconv carries no other.
    if (mark == "1") MarkFieldList(db_, id);
  }

  void Map(const json& obj, const std::string& where) {
    PendingMap m;
    m.where = where;
    m.id = Id(obj, "nConfigID", where, 1, 32766);
    m.config = ConfigRecord{};
    m.hasRecord = false;
    for (size_t i = 0; i < kMapDesc.count && !m.hasRecord; ++i)
      m.hasRecord = obj.contains(std::string(kMapDesc.fields[i].name));
    m.hasRecord = m.hasRecord || obj.contains("anMap");
    ReadFields(obj, kConfigDesc, &m.config, where,
               {"nSourceList", "nTargetList", "szName", "szNameTail", "dwAttribs", "anMap"});
    m.config.nConfigID = static_cast<uint16_t>(m.id);
    if (m.hasRecord) {
      m.rec.assign(kFieldMapFixedSize, 0);
      json recPart = json::object();
      for (auto it = obj.begin(); it != obj.end(); ++it)
        if (!FindField(kConfigDesc, it.key()) && it.key() != "anMap")
          recPart[it.key()] = it.value();
      ReadFields(recPart, kMapDesc, m.rec.data(), where, {});
      if (auto it = obj.find("anMap"); it != obj.end()) {
        if (!it->is_array()) Fail(Join(where, "anMap"), "must be an array of integers");
        for (size_t e = 0; e < it->size(); ++e) {
          std::string at = Join(where, "anMap[" + std::to_string(e) + "]");
          int64_t v = Integer((*it)[e], at);
          if (!FitsNumber(FieldKind::kI16, v)) Fail(at, "must be an integer from -32768 to 32767");
          m.entries.push_back(static_cast<int16_t>(v));
        }
      }
    }
    maps_.push_back(std::move(m));
  }

  void CharMap(const json& obj, const std::string& where) {
    int id = Id(obj, "id", where, 1, 32767);
    CharMapRecord c{};
    ReadFields(obj, kCharMapDesc, &c, where, {"id"});
    if (CharMapExists(db_, id)) Fail(where, "charmap " + std::to_string(id) + " is given twice");
    if (int rc = AddCharMap(db_, id, &c))
      Fail(where, "charmap " + std::to_string(id) + " cannot be stored (" + Code(rc) + ")");
  }

  TableDb* db_;
  const std::string& name_;
  std::FILE* errors_;
  std::vector<PendingMap> maps_;
};

}  // namespace

int ImportTable(std::FILE* f, const std::string& name, TableDb* db, std::string* rc2Suffix,
                std::FILE* errors) {
  Importer imp(db, name, errors);
  std::string member;  // the root member being read
  size_t index = 0;    // of the next record in it
  bool sawFormat = false, sawTable = false;
  bool inArray = false;  // the root member is an array (of records)
  try {
    json::parser_callback_t cb = [&](int depth, json::parse_event_t event, json& parsed) {
      if (depth == 0 && event == json::parse_event_t::object_start) return true;
      if (depth == 1 && event == json::parse_event_t::array_start) inArray = true;
      if (depth == 1 && event == json::parse_event_t::object_start) inArray = false;
      if (depth == 1 && event == json::parse_event_t::key) {
        member = parsed.get<std::string>();
        index = 0;
        return true;
      }
      if (depth == 1 && event == json::parse_event_t::value) {
        if (member == "format") {
          if (!parsed.is_string() || parsed.get<std::string>() != "tbltool-table")
            Fail("format", "is not \"tbltool-table\": not a table export");
          sawFormat = true;
        } else if (member == "formatVersion") {
          if (!parsed.is_number_integer() || parsed.get<int64_t>() != 1)
            Fail("formatVersion", "only version 1 is known");
        } else if (member == "rc2Suffix") {
          *rc2Suffix = Bytes(parsed, "rc2Suffix");
          if (rc2Suffix->size() > 127) Fail("rc2Suffix", "at most 127 characters");
        } else {
          Fail(member, "is no member of a table export");
        }
        return false;
      }
      if (depth == 1 && event == json::parse_event_t::object_end) {
        if (member != "table") Fail(member, "is no member of a table export");
        imp.Table(parsed);
        sawTable = true;
        return false;
      }
      if (depth == 2 && event == json::parse_event_t::object_end && inArray) {
        imp.Record(member, index++, parsed);
        return false;
      }
      if (depth == 2 && inArray &&
          (event == json::parse_event_t::value || event == json::parse_event_t::array_end))
        Fail(member, "must hold record objects");
      return true;
    };
    json rest = json::parse(f, cb);
    if (!rest.is_object()) Fail("(top)", "must be an object");
    if (!sawFormat) Fail("(top)", "has no \"format\": not a table export");
    if (!sawTable) Fail("(top)", "has no \"table\"");
    imp.Finish();
  } catch (const ImportError& e) {
    std::fprintf(errors, "tbltool: %s: %s: %s\n", name.c_str(), e.where.c_str(), e.text.c_str());
    return kExitTrouble;
  } catch (const json::exception& e) {
    std::string what = e.what();
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ..."
    size_t at = what.find("] ");
    std::fprintf(errors, "tbltool: %s: %s\n", name.c_str(),
                 (at == std::string::npos ? what : what.substr(at + 2)).c_str());
    return kExitTrouble;
  }
  return 0;
}

int RunImport(int argc, char** argv) {
  CommandLine cl;
  if (int rc = ParseCommandLine("import", argc, argv, kOptForce, &cl)) return rc;
  if (cl.help) return ShowHelp(kHelp);
  if (cl.version) return ShowVersion();
  if (cl.files.size() != 2) return UsageError("import", "give the JSON and the table to write");
  const std::string& in = cl.files[0].name;
  TableFile out;
  if (!IdentifyFile(cl.files[1].name, cl.files[1].version, &out))
    return UsageError(
        "import",
        cl.files[1].name + " is no table form that can be written (.itb, .txt, .rc2, .itr)");
  if (out.form == Form::Fil) return UsageError("import", "a module (.fil) cannot be written");
  if (!cl.force && FileExists(out.name)) {
    Complain(out.name + " exists; -f replaces it");
    return kExitTrouble;
  }
  std::FILE* f = std::fopen(in.c_str(), "rb");
  if (!f) {
    Complain(in + ": cannot be opened for reading");
    return kExitTrouble;
  }
  TempTable table;
  std::string error;
  if (table.Create(&error) != 0) {
    std::fclose(f);
    Complain(error);
    return kExitTrouble;
  }
  std::string suffix;
  int rc = ImportTable(f, in, &table.db, &suffix, stderr);
  std::fclose(f);
  if (rc != 0) return rc;
  if (int closed = table.Close()) {
    Complain("the temporary table cannot be written (code " + std::to_string(closed) + ")");
    return kExitTrouble;
  }
  if (int wrote = WriteTableAs(table.path(), out, suffix)) {
    Complain(out.name + ": cannot be written (code " + std::to_string(wrote) + ")");
    return kExitTrouble;
  }
  return kExitOk;
}

}  // namespace tbltool
