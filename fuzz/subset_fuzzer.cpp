// Subset files applied to a small table (the sample, read once): the bytes
// are the subset file, the table is copied fresh for every run.
#include "fuzz_util.h"
#include "qvdf/subset/subset.h"

namespace {

const std::string& Template() {
  static const std::string path = [] {
    fuzz::WorkTable t("template.itb");
    Rc2Carry carry{};
    std::string sample = std::string(TBLCONV_SOURCE_DIR) + "/examples/sample.txt";
    if (ReadTableFile(t.path(), t.db(), sample.c_str(), FileKind::TxtV4, nullptr, 0, &carry) != 0)
      std::abort();
    std::string keep = fuzz::ScratchPath("template-kept.itb");
    if (CloseTable(t.db()) != 0) std::abort();
    std::filesystem::copy_file(t.path(), keep, std::filesystem::copy_options::overwrite_existing);
    return keep;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& templ = Template();
  std::string work = fuzz::ScratchPath("work.itb");
  std::filesystem::copy_file(templ, work, std::filesystem::copy_options::overwrite_existing);
  std::string name = fuzz::WriteScratch("in.sub", data, size);
  TableDb db;
  if (OpenTable(work.c_str(), &db, 1) != 0) std::abort();
  int rc = ApplyModifierFile(work.c_str(), &db, name.c_str(), FileKind::Subset, fuzz::Sink, 0);
  if (rc == 0 && !db.bUnusable) {
    Rc2Carry carry{};
    std::string out = fuzz::ScratchPath("out.txt");
    WriteTableFile(work.c_str(), &db, out.c_str(), FileKind::TxtV4, fuzz::Sink, 0, &carry);
    std::remove(out.c_str());
  }
  if (IsTableOpen(&db)) CloseTable(&db);
  std::remove(work.c_str());
  return 0;
}
