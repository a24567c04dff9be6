// The info command. Systems are read whole (they are few); of field lists
// and maps only the counts the index keeps are looked at, so info costs
// little more than opening the table.
#include "tbltool/info.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tbltool/cli.h"
#include "tbltool/fields.h"
#include "tbltool/findings.h"
#include "tbltool/itblayout.h"
#include "tbltool/source.h"
#include "tbltool/tables.h"

namespace tbltool {

namespace {

const char kHelp[] =
    "Usage: tbltool info [--json] [-2|-3|-4] FILE\n"
    "Shows the table's form and version, the counts of its records, the\n"
    "table-wide values, every system with its ID, name and sections, and for\n"
    "a binary table its size, root slots, waste and what its blocks hold.\n"
    "  --json     the same as one JSON object\n"
    "Exit: 0 shown, 2 the table could not be read whole.\n";

using nlohmann::json;

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

}  // namespace

int RunInfo(int argc, char** argv) {
  CommandLine cl;
  if (int rc = ParseCommandLine("info", argc, argv, kOptJson, &cl)) return rc;
  if (cl.help) return ShowHelp(kHelp);
  if (cl.version) return ShowVersion();
  if (cl.files.size() != 1)
    return UsageError("info", cl.files.empty() ? "no file given" : "one file at a time");
  LoadedTable t;
  if (int rc = LoadReadable(cl.files[0].name, cl.files[0].version, &t)) return rc;
  TableDb* db = &t.db;
  const TableFile& f = t.file;

  int fields = 0;
  for (int id : ListIds(db)) fields += std::max(0, GetFieldListCount(db, id));
  json j;
  j["file"] = Utf8(f.name);
  j["form"] = FormTag(f.form);
  j["version"] = f.version;
  if (!t.rc2Suffix.empty()) j["rc2Suffix"] = Utf8(t.rc2Suffix);
  j["counts"] = {{"systems", CountSystems(db)},
                 {"fieldLists", CountFieldLists(db)},
                 {"fields", fields},
                 {"fieldMaps", CountFieldMaps(db)},
                 {"charMaps", CountCharMaps(db)}};
  j["table"] = {{"nMainSystem", GetMainSystem(db)},
                {"nMainClass", GetMainClass(db)},
                {"dwProductID", GetProductID(db)},
                {"nBundledFlag", GetBundledFlag(db)},
                {"nLastBaseMap", GetLastBaseMap(db)}};

  static const FieldDesc& kName = *FindField(kSystemDesc, "szName");
  static const FieldDesc& kTranslator = *FindField(kSystemDesc, "szTranslator");
  static const FieldDesc& kSecName = *FindField(kSectionDesc, "szName");
  json systems = json::array();
  std::string text;
  RecordBuf rec;
  for (int id : SystemIds(db)) {
    if (int rc = ReadSystemRec(db, id, &rec)) {
      Complain(f.name + ": system " + std::to_string(id) + " cannot be read (code " +
               std::to_string(rc) + ")");
      return kExitTrouble;
    }
    const SystemRecord* s = rec.as<SystemRecord>();
    std::string_view name = TextOf(s, kName), tr = TextOf(s, kTranslator);
    json sj = {{"nSystemID", id},
               {"szName", Utf8(name)},
               {"szTranslator", Utf8(tr)},
               {"nClass", s->nClass},
               {"nType", s->nType}};
    const int n = SectionCount(rec);
    text += "  " + std::to_string(id) + " \"" + std::string(name) + "\"";
    if (!tr.empty()) text += " [" + std::string(tr) + "]";
    text += ", class " + std::to_string(s->nClass) + ", type " + std::to_string(s->nType) + ", " +
            std::to_string(n) + (n == 1 ? " section\n" : " sections\n");
    json secs = json::array();
    for (int i = 0; i < n; ++i) {
      const SectionRecord& sec = SystemSections(s)[i];
      std::string_view sname = TextOf(&sec, kSecName);
      const char* type = SectionTypeKeyName(sec.nSecType);
      secs.push_back(
          {{"nSectionID", sec.nSectionID}, {"nSecType", sec.nSecType}, {"szName", Utf8(sname)}});
      text += "      section " + std::to_string(sec.nSectionID) + ": type " +
              std::to_string(sec.nSecType) +
              (type ? std::string(" (") + type + ")" : std::string()) + " \"" + std::string(sname) +
              "\"\n";
    }
    sj["sections"] = std::move(secs);
    systems.push_back(std::move(sj));
  }
  j["systems"] = std::move(systems);

  ItbLayout layout;
  std::vector<Finding> findings;
  uint64_t count[kBlockKinds] = {}, bytes[kBlockKinds] = {};
  if (f.form == Form::Itb) {
    std::string error;
    if (CheckItbStructure(f.name, &layout, &findings, &error) != 0) {
      Complain(f.name + ": " + error);
      return kExitTrouble;
    }
    uint32_t largest = 0;
    for (const ItbBlock& b : layout.blocks) {
      ++count[static_cast<int>(b.kind)];
      bytes[static_cast<int>(b.kind)] += b.len;
      largest = std::max(largest, b.len);
    }
    uint32_t inUse = 0;
    for (const auto& b : layout.blocks) inUse += b.kind != BlockKind::kUnreferenced;
    json kinds = json::object();
    for (int k = 0; k < kBlockKinds; ++k) {
      if (!count[k]) continue;
      kinds[BlockKindName(static_cast<BlockKind>(k), true)] = {{"blocks", count[k]},
                                                               {"bytes", bytes[k]}};
    }
    j["itb"] = {{"size", layout.fileSize},
                {"rootSlots", layout.file.dwRootSlots},
                {"rootsInUse", layout.file.dwRootsInUse},
                {"blocks", layout.blocks.size()},
                {"blocksInUse", inUse},
                {"largestBlock", largest},
                {"dwWastedBytes", layout.file.dwWastedBytes},
                {"unreferencedBytes", layout.unreferencedBytes},
                {"problems", findings.size()},
                {"kinds", std::move(kinds)}};
  }

  if (cl.json) {
    std::printf("%s\n", j.dump(2).c_str());
    return kExitOk;
  }
  const json& c = j["counts"];
  std::printf("%s: %s, version %d\n", f.name.c_str(), FormName(f.form), f.version);
  if (!t.rc2Suffix.empty()) std::printf("resource name suffix: %s\n", t.rc2Suffix.c_str());
  std::printf("systems %d, field lists %d (%d fields), field maps %d, charmaps %d\n",
              c["systems"].get<int>(), c["fieldLists"].get<int>(), fields,
              c["fieldMaps"].get<int>(), c["charMaps"].get<int>());
  std::printf(
      "main system %d, main class %d, product ID %u (%s), bundled flag %d, last base map %u\n",
      GetMainSystem(db), GetMainClass(db), GetProductID(db), Hex(GetProductID(db)).c_str(),
      GetBundledFlag(db), GetLastBaseMap(db));
  if (f.form == Form::Itb) {
    const json& i = j["itb"];
    std::printf(
        "size %llu bytes, %u root slots (%u in use), %zu blocks (%u in use, largest %u bytes)\n",
        static_cast<unsigned long long>(layout.fileSize), layout.file.dwRootSlots,
        layout.file.dwRootsInUse, layout.blocks.size(), i["blocksInUse"].get<uint32_t>(),
        i["largestBlock"].get<uint32_t>());
    std::printf("waste %u bytes (unreferenced blocks hold %llu)\n", layout.file.dwWastedBytes,
                static_cast<unsigned long long>(layout.unreferencedBytes));
    std::string kinds;
    for (int k = 0; k < kBlockKinds; ++k) {
      if (!count[k]) continue;
      kinds += std::string(kinds.empty() ? " " : ", ") +
               BlockKindName(static_cast<BlockKind>(k), true) + " " + std::to_string(count[k]) +
               " (" + std::to_string(bytes[k]) + " bytes)";
    }
    std::printf("blocks:%s\n", kinds.c_str());
    if (!findings.empty())
      std::printf("%zu structural problems: see tbltool check\n", findings.size());
  }
  std::printf("systems:\n%s", text.c_str());
  return kExitOk;
}

}  // namespace tbltool
