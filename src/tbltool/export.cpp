// The export: records read one at a time and written as they are read, so
// that memory stays that of one record whatever the table's size.
#include "tbltool/export.h"

#include "tbltool/cli.h"
#include "tbltool/fields.h"
#include "tbltool/findings.h"
#include "tbltool/jsonout.h"
#include "tbltool/source.h"
#include "tbltool/tables.h"

namespace tbltool {

namespace {

const char kHelp[] =
    "Usage: tbltool export [-2|-3|-4] FILE [-o OUT.json [-f]]\n"
    "Writes the table as JSON to standard output, or to OUT.json (-f replaces\n"
    "an existing one). Every record with every value under its field name;\n"
    "texts are code-page bytes, each byte one character (see docs/json.md).\n"
    "tbltool import reads it back.\n"
    "Exit: 0 written, 2 the table could not be read whole or not be written.\n";

void WriteFields(JsonOut& j, const RecordDesc& d, const void* rec) {
  const char* p = static_cast<const char*>(rec);
  for (size_t i = 0; i < d.count; ++i) {
    const FieldDesc& f = d.fields[i];
    switch (f.kind) {
      case FieldKind::kI16:
      case FieldKind::kU16:
      case FieldKind::kI32:
      case FieldKind::kU32:
        j.Key(f.name);
        j.Int(GetNumber(rec, f));
        break;
      case FieldKind::kText: {
        j.Key(f.name);
        std::string_view text = TextOf(rec, f);
        j.Text(text);
        if (HasTail(rec, f, text.size())) {
          j.Key(std::string(f.name) + "Tail");
          j.Hex(TailOf(rec, f));
        }
        break;
      }
      case FieldKind::kChar: {
        j.Key(f.name);
        char c = p[f.offset];
        j.Text(c ? std::string_view(&c, 1) : std::string_view());
        break;
      }
      case FieldKind::kCType: {
        int64_t v = GetNumber(rec, f);
        char c = static_cast<char>(v & 0xFF);
        j.Key(f.name);
        j.Text(c ? std::string_view(&c, 1) : std::string_view());
        if (v >> 8) {
          j.Key(std::string(f.name) + "High");
          j.Int(v >> 8);
        }
        break;
      }
      case FieldKind::kReserved:
        if (!AllZero(rec, f)) {
          j.Key(f.name);
          j.Hex(std::string_view(p + f.offset, f.size));
        }
        break;
      case FieldKind::kI16Array:
      case FieldKind::kU32Array:
        j.Key(f.name);
        j.BeginArray();
        for (size_t k = 0; k < ArrayCount(f); ++k) j.Int(GetNumber(rec, f, k));
        j.EndArray();
        break;
      case FieldKind::kBytes:
        j.Key(f.name);
        j.Hex(std::string_view(p + f.offset, f.size));
        break;
    }
  }
}

// "key": [ {fields of each of the n records} ].
template <typename Rec>
void WriteArray(JsonOut& j, const char* key, const RecordDesc& d, const Rec* recs, int n) {
  j.Key(key);
  j.BeginArray();
  for (int i = 0; i < n; ++i) {
    j.BeginObject();
    WriteFields(j, d, &recs[i]);
    j.EndObject();
  }
  j.EndArray();
}

int Fail(int rc) { return rc != 0 ? rc : kErrBadFormat; }

}  // namespace

int ExportTable(TableDb* db, const std::string& rc2Suffix, std::FILE* f) {
  JsonOut j(f);
  RecordBuf rec;
  j.BeginObject();
  j.Break();
  j.Key("format");
  j.String("tbltool-table");
  j.Key("formatVersion");
  j.Int(1);
  if (!rc2Suffix.empty()) {
    j.Break();
    j.Key("rc2Suffix");
    j.Text(rc2Suffix);
  }
  j.Break();
  j.Key("table");
  j.BeginObject();
  j.Key("nMainSystem");
  j.Int(GetMainSystem(db));
  j.Key("nMainClass");
  j.Int(GetMainClass(db));
  j.Key("dwProductID");
  j.Int(GetProductID(db));
  j.Key("nBundledFlag");
  j.Int(GetBundledFlag(db));
  // Kept in the file's header only; shown when a file holds any.
  const TableHeader& h = db->header;
  for (const auto& r :
       {std::pair<const char*, std::string_view>{
            "reserved1", {reinterpret_cast<const char*>(h.reserved1), sizeof h.reserved1}},
        std::pair<const char*, std::string_view>{
            "reserved2", {reinterpret_cast<const char*>(h.reserved2), sizeof h.reserved2}}}) {
    if (r.second.find_first_not_of('\0') != std::string_view::npos) {
      j.Key(r.first);
      j.Hex(r.second);
    }
  }
  j.EndObject();

  j.Break();
  j.Key("systems");
  j.BeginArray();
  for (int id : SystemIds(db)) {
    if (int rc = ReadSystemRec(db, id, &rec)) return Fail(rc);
    j.Break();
    j.BeginObject();
    WriteFields(j, kSystemDesc, rec.bytes.data());
    WriteArray(j, "sections", kSectionDesc, SystemSections(rec.as<SystemRecord>()),
               SectionCount(rec));
    j.EndObject();
  }
  j.Break();
  j.EndArray();

  j.Break();
  j.Key("fieldLists");
  j.BeginArray();
  for (int id : ListIds(db)) {
    if (int rc = ReadListRec(db, id, &rec)) return Fail(rc);
    j.Break();
    j.BeginObject();
    j.Key("id");
    j.Int(id);
    WriteFields(j, kListDesc, rec.bytes.data());
    char mark = static_cast<char>(GetFieldListMark(db, id));
    j.Key("cMark");
    j.Text(mark ? std::string_view(&mark, 1) : std::string_view());
    WriteArray(j, "fields", kFieldDesc, ListFields(rec.as<FieldListRecord>()), FieldCount(rec));
    j.EndObject();
  }
  j.Break();
  j.EndArray();

  j.Break();
  j.Key("fieldMaps");
  j.BeginArray();
  ConfigRecord config;
  bool own = false;
  for (int id : MapIds(db)) {
    if (int rc = ReadMapRec(db, id, &config, &rec, &own)) return Fail(rc);
    j.Break();
    j.BeginObject();
    WriteFields(j, kConfigDesc, &config);
    // An entry that shares another's record carries none of its own.
    if (own) {
      WriteFields(j, kMapDesc, rec.bytes.data());
      j.Key("anMap");
      j.BeginArray();
      const FieldMapRecord* m = rec.as<FieldMapRecord>();
      for (int e = 0; e < MapEntries(rec); ++e) j.Int(GetMapEntry(m, e));
      j.EndArray();
    }
    j.EndObject();
  }
  j.Break();
  j.EndArray();

  j.Break();
  j.Key("charMaps");
  j.BeginArray();
  for (int id : CharMapIds(db)) {
    if (int rc = ReadCharMapRec(db, id, &rec)) return Fail(rc);
    j.Break();
    j.BeginObject();
    j.Key("id");
    j.Int(id);
    WriteFields(j, kCharMapDesc, rec.bytes.data());
    j.EndObject();
  }
  j.Break();
  j.EndArray();
  j.Break();
  j.EndObject();
  if (!j.Flush() || std::fputc('\n', f) == EOF) return -1;
  return 0;
}

int RunExport(int argc, char** argv) {
  CommandLine cl;
  if (int rc = ParseCommandLine("export", argc, argv, kOptOutput | kOptForce, &cl)) return rc;
  if (cl.help) return ShowHelp(kHelp);
  if (cl.version) return ShowVersion();
  if (cl.files.size() != 1)
    return UsageError("export", cl.files.empty() ? "no file given" : "one file at a time");
  LoadedTable t;
  if (int rc = LoadReadable(cl.files[0].name, cl.files[0].version, &t)) return rc;

  std::FILE* out = stdout;
  if (!cl.output.empty()) {
    if (!cl.force && FileExists(cl.output)) {
      Complain(cl.output + " exists; -f replaces it");
      return kExitTrouble;
    }
    out = std::fopen(cl.output.c_str(), "wb");
    if (!out) {
      Complain(cl.output + ": cannot be created");
      return kExitTrouble;
    }
  }
  int rc = ExportTable(&t.db, t.rc2Suffix, out);
  bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
  if (rc != 0 || !closed) {
    if (rc > 0)
      Complain(cl.files[0].name + ": a record cannot be read (code " + std::to_string(rc) + ")");
    else
      Complain((cl.output.empty() ? std::string("standard output") : cl.output) +
               ": writing failed");
    if (!cl.output.empty()) RemoveFileIfAny(cl.output);
    return kExitTrouble;
  }
  return kExitOk;
}

}  // namespace tbltool
