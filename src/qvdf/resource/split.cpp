// The split pair's writer and reader: the table goes through a resource
// script of the pair's version, which the localised-name classes split into
// the .itf/.itr pair or merge back from it.
#include "qvdf/resource/split.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "qvdf/resource/localized.h"
#include "qvutil/status.h"

namespace {

FileKind ScriptKind(int version) { return version == 3 ? FileKind::Rc2V3 : FileKind::Rc2V4; }

}  // namespace

std::string ItfNameFor(const std::string& itrName) {
  platform::Env* env = platform::Env::Get();
  platform::PathParts parts = env->SplitPath(itrName);
  const std::string& dir = parts.dir;
  for (size_t at = dir.find("rc."); at != std::string::npos; at = dir.find("rc.", at + 1)) {
    if (at == 0 || env->IsSeparator(dir[at - 1])) {
      parts.dir.resize(at);
      break;
    }
  }
  parts.ext = ".itf";
  return env->JoinPath(parts);
}

int SplitTableFile(int version, const char* source, const char* itrName, const char* itrPath,
                   const char* itfPath, MessageFn /*msg*/, ConvertFn convert) {
  if ((version != 3 && version != 4) || !source || !itrName) return kErrSplitPair;
  const std::string itr = itrName;
  const std::string itf = ItfNameFor(itr);
  LocalizedSplitter splitter(convert);
  splitter.SetKinds(FileKind::ItbV4, ScriptKind(version));
  // The destructor closes the files and removes the intermediate script.
  if (!splitter.Prepare(source, itf, itr, itfPath ? itfPath : itf, itrPath ? itrPath : itr) ||
      !splitter.Convert() || splitter.OpenFiles() != 1)
    return kErrSplitPair;
  bool split = splitter.Split();
  bool closed = splitter.CloseFiles();
  return split && closed ? 0 : 1;
}

int ReadSplitTableFile(int version, const char* itrName, char* outName, MessageFn msg,
                       ConvertFn convert) {
  if (outName) outName[0] = '\0';
  if ((version != 3 && version != 4) || !itrName || !outName) return kErrSplitPair;
  std::string table;
  if (!localized::MakeTempFile("itb", stderr, &table)) return kErrSplitPair;
  if (table.size() >= static_cast<size_t>(kMaxPath)) {
    std::fprintf(stderr, "Error: temporary name %s is too long.\n", table.c_str());
    platform::Env::Get()->RemoveFile(table);
    return kErrSplitPair;
  }

  const std::string itr = itrName;
  int opened = 0;
  bool ok, missing = false;
  {
    LocalizedMerger merger(convert);
    merger.SetKinds(ScriptKind(version), FileKind::ItbV4);
    ok = merger.Prepare(ItfNameFor(itr), itr, table);
    if (ok) opened = merger.OpenFiles(msg);
    ok = ok && opened != 0 && merger.LoadStrings() == 1 && merger.Merge() && merger.CloseFiles() &&
         merger.Convert();
    missing = merger.MissingKeys() > 0;
    // Cleanup runs as the merger goes: files closed, merged script removed.
  }
  if (!ok) {
    platform::Env::Get()->RemoveFile(table);
    return kErrSplitPair;
  }
  std::memcpy(outName, table.c_str(), table.size() + 1);
  return opened == kReadWithWarnings || missing ? kReadWithWarnings : 0;
}
