// The check command: the reader's own messages, the raw-byte checks, the
// structural check of a binary table and the record checks, in the order of
// their places.
#include "tbltool/check.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "tbltool/cli.h"
#include "tbltool/itblayout.h"
#include "tbltool/tablechecks.h"

namespace tbltool {

namespace {

const char kHelp[] =
    "Usage: tbltool check [--json] [-2|-3|-4] FILE...\n"
    "Reports every problem of each table, one per line:\n"
    "  FILE:LINE: error: TEXT                 for text tables, scripts, modules, pairs\n"
    "  FILE: block 0xADDR (RECORD): error: TEXT   for binary tables\n"
    "What the readers report (a read stops at its first error; what came before\n"
    "it is reported too), byte-order marks and lines without CR, maps whose lists\n"
    "or systems are missing or whose entries run past their target list, item\n"
    "numbers out of order, charmaps and systems that are referred to but absent,\n"
    "names the text form or the split pair cannot carry or would key twice, and\n"
    "for a binary table every block, index, checksum, reference count and the\n"
    "waste total.\n"
    "  --json     all findings as one JSON object\n"
    "Exit: 0 nothing found, 1 findings, 2 a file could not be read at all.\n";

class TextPlacer : public Placer {
 public:
  explicit TextPlacer(const Places& p) : p_(p) {}
  void Place(Finding* f, RecKind kind, int id, int sub) const override {
    f->file = p_.file;
    uint32_t line = 0;
    switch (kind) {
      case RecKind::kSystem:
        line = p_.SystemLine(id);
        break;
      case RecKind::kSection:
        line = p_.SectionLine(id, sub);
        if (!line) line = p_.SystemLine(id);
        break;
      case RecKind::kList:
        line = p_.ListLine(id);
        break;
      case RecKind::kField:
        line = p_.FieldLine(id, sub);
        if (!line) line = p_.ListLine(id);
        break;
      case RecKind::kMap:
        line = p_.MapLine(id);
        break;
      case RecKind::kCharMap:
        line = p_.CharMapLine(id);
        break;
      case RecKind::kTable:
        line = p_.mainSystemLine ? p_.mainSystemLine : p_.tableLine;
        break;
    }
    f->line = line;
  }

 private:
  const Places& p_;
};

class ItbPlacer : public Placer {
 public:
  ItbPlacer(const ItbLayout& l, const std::string& file) : l_(l), file_(file) {}
  void Place(Finding* f, RecKind kind, int id, int sub) const override {
    (void)sub;
    f->file = file_;
    uint32_t addr = 0;
    BlockKind k = BlockKind::kUnreferenced;
    switch (kind) {
      case RecKind::kSystem:
      case RecKind::kSection:
        addr = l_.SystemBlock(id);
        k = BlockKind::kSystem;
        break;
      case RecKind::kList:
      case RecKind::kField:
        addr = l_.ListBlock(id);
        k = BlockKind::kList;
        break;
      case RecKind::kMap:
        addr = l_.MapBlock(id);
        k = BlockKind::kMap;
        break;
      case RecKind::kCharMap:
        addr = l_.CharMapBlock(id);
        k = BlockKind::kCharMap;
        break;
      case RecKind::kTable:
        if (!l_.blocks.empty() && l_.file.dwRootArrayOffset) {
          for (const ItbBlock& b : l_.blocks)
            if (b.kind == BlockKind::kTableHeader) addr = b.addr;
        }
        f->hasBlock = addr != 0;
        f->block = addr;
        f->where = "table header";
        return;
    }
    f->hasBlock = addr != 0;
    f->block = addr;
    f->where = std::string(BlockKindName(k)) + " " + std::to_string(id);
  }

 private:
  const ItbLayout& l_;
  const std::string& file_;
};

bool HasErrors(const std::vector<Finding>& v, size_t from) {
  for (size_t i = from; i < v.size(); ++i)
    if (v[i].severity == Severity::kError) return true;
  return false;
}

}  // namespace

// Keeps where each record finding belongs until the places are known.
class DeferredPlacer : public Placer {
 public:
  struct At {
    RecKind kind;
    int id, sub;
  };
  void Place(Finding*, RecKind kind, int id, int sub) const override {
    at.push_back({kind, id, sub});
  }
  mutable std::vector<At> at;
};

bool CheckFile(const TableFile& f, std::vector<Finding>* out, std::string* error) {
  LoadedTable t;
  if (LoadTable(f, &t, error) != 0) return false;
  if (f.form == Form::Itb) {
    // The walk over the blocks reads the file on its own: it runs beside
    // the record checks, which read through the store.
    ItbLayout layout;
    std::vector<Finding> structure;
    std::string walkError;
    int walked = 0;
    std::thread walk([&] { walked = CheckItbStructure(f.name, &layout, &structure, &walkError); });
    std::vector<Finding> records;
    DeferredPlacer deferred;
    if (t.open) {
      LoadedTable helper;
      std::string unused;
      bool two = LoadTable(f, &helper, &unused) == 0 && helper.open;
      CheckRecords(&t.db, deferred, &records, true, two ? &helper.db : nullptr);
    }
    walk.join();
    if (walked != 0) {
      *error = walkError;
      return false;
    }
    out->insert(out->end(), structure.begin(), structure.end());
    if (!t.open) {
      if (!HasErrors(structure, 0))
        out->push_back({f.name, 0, false, 0, "", Severity::kError,
                        "the table cannot be opened (code " + std::to_string(t.openResult) + ")"});
    } else if (layout.tableOk) {
      ItbPlacer placer(layout, f.name);
      for (size_t i = 0; i < records.size(); ++i) {
        const DeferredPlacer::At& a = deferred.at[i];
        placer.Place(&records[i], a.kind, a.id, a.sub);
        out->push_back(std::move(records[i]));
      }
    }
  } else {
    for (const ReaderMessage& m : t.messages) out->push_back(FromReaderMessage(m));
    for (const RawFinding& r : t.raw) out->push_back(FromRaw(r));
    for (const Places::Again& a : t.places.again) {
      Finding w;
      w.file = t.places.file;
      w.line = a.again;
      w.severity = Severity::kWarning;
      w.text = std::string(a.kind) + " " + std::to_string(a.id) + " is read again (first at line " +
               std::to_string(a.first) + "); this one replaces it";
      out->push_back(std::move(w));
    }
    // A read that stopped leaves later records out: checking the part read
    // would report them missing.
    if (t.readResult == 0) CheckRecords(&t.db, TextPlacer(t.places), out, false);
  }
  return true;
}

int RunCheck(int argc, char** argv) {
  CommandLine cl;
  if (int rc = ParseCommandLine("check", argc, argv, kOptJson, &cl)) return rc;
  if (cl.help) return ShowHelp(kHelp);
  if (cl.version) return ShowVersion();
  if (cl.files.empty()) return UsageError("check", "no file given");

  bool unreadable = false;
  int errors = 0, warnings = 0;
  nlohmann::json files = nlohmann::json::array();
  for (const CommandLine::File& file : cl.files) {
    TableFile tf;
    std::vector<Finding> findings;
    std::string error;
    bool ok = IdentifyFile(file.name, file.version, &tf);
    if (!ok) error = "is no table form (.itb, .txt, .rc2, .fil, .itr)";
    if (ok) ok = CheckFile(tf, &findings, &error);
    if (!ok) {
      unreadable = true;
      if (cl.json)
        files.push_back({{"file", Utf8(file.name)}, {"error", error}});
      else
        std::fprintf(stderr, "tbltool: %s: %s\n", file.name.c_str(), error.c_str());
      continue;
    }
    SortFindings(&findings);
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) {
      (f.severity == Severity::kError ? errors : warnings)++;
      if (cl.json)
        list.push_back(FindingJson(f));
      else
        std::printf("%s\n", FormatFinding(f).c_str());
    }
    if (cl.json)
      files.push_back({{"file", Utf8(file.name)},
                       {"form", FormTag(tf.form)},
                       {"version", tf.version},
                       {"findings", std::move(list)}});
  }
  if (cl.json) {
    nlohmann::json report = {
        {"files", std::move(files)}, {"errors", errors}, {"warnings", warnings}};
    std::printf("%s\n", report.dump(2).c_str());
  }
  std::fflush(stdout);
  if (unreadable) return kExitTrouble;
  return errors + warnings > 0 ? kExitFindings : kExitOk;
}

}  // namespace tbltool
