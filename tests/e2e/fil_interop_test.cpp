// Modules built by the real toolchain: scripts written by tblconv are
// compiled with llvm-rc and linked with lld-link, then read back as .fil.
// Also checks the compiled resource bytes, modules without the table
// resource, and a corpus of damaged modules that must be refused cleanly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using e2e::Contains;

constexpr char kBadFormat[] = "Error: Bad file format or a resource missing.";

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

uint32_t U32(const std::string& b, size_t off) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(b[off + static_cast<size_t>(i)]);
  return v;
}
uint16_t U16(const std::string& b, size_t off) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[off]) |
                               (static_cast<unsigned char>(b[off + 1]) << 8));
}
void PutU32(std::string* b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[off + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

// One entry of a compiled .res file; names as ASCII, ids as "#n".
struct ResEntry {
  std::string type, name, data;
};

// Reads a UTF-16 name or an 0xFFFF id at *off and moves past it.
std::string ResName(const std::string& b, size_t* off) {
  if (U16(b, *off) == 0xFFFF) {
    std::string id = "#" + std::to_string(U16(b, *off + 2));
    *off += 4;
    return id;
  }
  std::string s;
  while (U16(b, *off) != 0) {
    s.push_back(static_cast<char>(U16(b, *off)));
    *off += 2;
  }
  *off += 2;
  return s;
}

std::vector<ResEntry> ParseRes(const std::string& b) {
  std::vector<ResEntry> v;
  size_t off = 0;
  while (off + 8 <= b.size()) {
    uint32_t dataSize = U32(b, off), headerSize = U32(b, off + 4);
    if (headerSize < 8 || off + headerSize + dataSize > b.size()) {
      ADD_FAILURE() << "malformed .res at " << off;
      break;
    }
    size_t p = off + 8;
    ResEntry e;
    e.type = ResName(b, &p);
    e.name = ResName(b, &p);
    e.data = b.substr(off + headerSize, dataSize);
    if (!(dataSize == 0 && e.type == "#0")) v.push_back(e);
    off = (off + headerSize + dataSize + 3) & ~size_t{3};
  }
  return v;
}

class FilInteropTest : public e2e::ToolTest {
 protected:
  void SetUp() override {
    e2e::ToolTest::SetUp();
    if (!HaveTool("llvm-rc-14") || !HaveTool("lld-link-14")) {
      const char* skip = std::getenv("TBLCONV_ALLOW_SKIP");
      if (skip && std::string(skip) == "1") GTEST_SKIP() << "llvm-rc-14 or lld-link-14 missing";
      FAIL() << "llvm-rc-14 and lld-link-14 are needed (scripts/bootstrap installs llvm-14 and "
                "lld-14); set TBLCONV_ALLOW_SKIP=1 to skip these tests";
    }
  }

  // Runs a shell command in the test directory; false with its output
  // reported when it fails.
  bool Sh(const std::string& cmd) {
    std::string full = "cd '" + dir() + "' && " + cmd + " > tool.log 2>&1";
    int rc = std::system(full.c_str());
    if (rc != 0) ADD_FAILURE() << cmd << " failed:\n" << ReadFile("tool.log");
    std::remove(Path("tool.log").c_str());
    return rc == 0;
  }
  // script.rc2 -> stem.res -> stem.fil
  bool Build(const std::string& script, const std::string& stem) {
    return Sh("llvm-rc-14 /fo " + stem + ".res " + script) &&
           Sh("lld-link-14 /dll /noentry /machine:x64 /out:" + stem + ".fil " + stem + ".res");
  }

  // tests/data/rc2/source.txt as the writer's text of `version`, as name.
  std::string Canonical(int version, const std::string& name) {
    WriteFile("source.txt", e2e::SourceFile("tests/data/rc2/source.txt"));
    e2e::RunResult r = version == 3 ? Run({"source.txt", "/3", name}) : Run({"source.txt", name});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    std::remove(Path("source.txt").c_str());
    return ReadFile(name);
  }
  e2e::RunResult Convert(const std::string& from, const std::string& to, int version) {
    if (version == 3) return Run({"/3", from, "/3", to});
    return Run({from, to});
  }
  // A module built from the sample in `version`, as stem.fil.
  std::string Module(int version, const std::string& stem) {
    Canonical(version, "m.txt");
    EXPECT_EQ(Convert("m.txt", stem + ".rc2", version).exit_code, 0);
    std::remove(Path("m.txt").c_str());
    EXPECT_TRUE(Build(stem + ".rc2", stem));
    return ReadFile(stem + ".fil");
  }
  // Reads a module; expects exit 255 with the bad-format message.
  void ExpectRefused(const std::string& fil) {
    e2e::RunResult r = Run({"/3", fil, "/3", "out.txt"});
    EXPECT_EQ(r.exit_code, e2e::kExitFail) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out + r.err, kBadFormat)) << r.out << r.err;
    EXPECT_FALSE(Exists("out.txt"));
  }
};

// The text table's data lines, each ended by CR LF, as the compiler stores them.
std::string DataLines(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    std::string line = text.substr(pos, end - pos);
    pos = end == std::string::npos ? text.size() : end + 2;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    out += line + "\r\n";
  }
  return out;
}

TEST_F(FilInteropTest, CompiledScriptsReadBackAsModules) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::string text = Canonical(version, "t.txt");
    ASSERT_EQ(Convert("t.txt", "t.rc2", version).exit_code, 0);
    ASSERT_TRUE(Build("t.rc2", "t"));

    std::vector<ResEntry> res = ParseRes(ReadFile("t.res"));
    ASSERT_EQ(res.size(), version == 3 ? 1u : 2u);
    EXPECT_EQ(res[0].type, "#10");
    EXPECT_EQ(res[0].name, "_ZELM_ITB_TABLE_");
    EXPECT_EQ(res[0].data, DataLines(text) + std::string(2, '\0'));
    if (version == 4) {
      EXPECT_EQ(res[1].type, "#10");
      EXPECT_EQ(res[1].name, "_ZELM_ITB_ENABLED_PRODUCTS_");
      // The count 8, the words of the ENABLEDPRODUCTS line, eight zero bytes.
      std::string expect(44, '\0');
      PutU32(&expect, 0, 8);
      size_t at = text.find("ENABLEDPRODUCTS=8L");
      ASSERT_NE(at, std::string::npos);
      const char* p = text.c_str() + at + 18;
      for (size_t k = 0; k < 8; ++k) {
        ASSERT_EQ(std::strncmp(p, ",0X", 3), 0);
        char* end = nullptr;
        PutU32(&expect, 4 + 4 * k, static_cast<uint32_t>(std::strtoul(p + 3, &end, 16)));
        p = end + 1;  // past the L
      }
      EXPECT_EQ(res[1].data, expect);
      // Word 0 joins both systems' flags; word 7 comes from system 1.
      EXPECT_EQ(U32(expect, 4), 3u);
      EXPECT_EQ(U32(expect, 32), 0x80000000u);
    }

    std::remove(Path("t.txt").c_str());
    e2e::RunResult r = Convert("t.fil", "t.txt", version);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile("t.txt"), text);
    for (const char* f : {"t.txt", "t.rc2", "t.res", "t.fil", "t.lib"})
      std::remove(Path(f).c_str());
  }
}

TEST_F(FilInteropTest, ModulesWithoutTheTableResourceAreRefused) {
  // A suffixed name is another resource.
  const std::string text = Canonical(4, "t.txt");
  ASSERT_EQ(Convert("t.txt", "t.rc2", 4).exit_code, 0);
  std::string script = ReadFile("t.rc2");
  WriteFile("named.rc2", "_ZELM_ITB_TABLE_X" + script.substr(16));
  ASSERT_TRUE(Build("named.rc2", "named"));
  ASSERT_EQ(ParseRes(ReadFile("named.res"))[0].name, "_ZELM_ITB_TABLE_X");
  ExpectRefused("named.fil");

  WriteFile("other.rc2",
            "OTHER RCDATA BEGIN\r\n\"TYPE=SYSTEM\\r\\n\",\r\n0,\r\nEND\r\n"
            "7 RCDATA BEGIN\r\n1,2\r\nEND\r\n");
  ASSERT_TRUE(Build("other.rc2", "other"));
  ExpectRefused("other.fil");
}

// Where the first resource's data entry lies in a module, by walking the
// first entry of the type, name and language directories.
struct RsrcLayout {
  size_t rsrc = 0;       // file offset of the resource directory
  size_t dataEntry = 0;  // file offset of the first data entry
};

bool FindRsrc(const std::string& pe, RsrcLayout* out) {
  if (pe.size() < 0x40) return false;
  size_t nt = U32(pe, 0x3C);
  if (nt + 24 > pe.size()) return false;
  size_t sections = U16(pe, nt + 6), optSize = U16(pe, nt + 20);
  size_t table = nt + 24 + optSize;
  for (size_t i = 0; i < sections; ++i) {
    size_t s = table + 40 * i;
    if (s + 40 > pe.size()) return false;
    if (pe.compare(s, 5, ".rsrc") != 0) continue;
    out->rsrc = U32(pe, s + 20);
    size_t dir = out->rsrc;
    for (int level = 0; level < 2; ++level) {
      uint32_t to = U32(pe, dir + 16 + 4);
      if (!(to & 0x80000000u)) return false;
      dir = out->rsrc + (to & 0x7FFFFFFFu);
    }
    uint32_t to = U32(pe, dir + 16 + 4);
    out->dataEntry = out->rsrc + to;
    return true;
  }
  return false;
}

TEST_F(FilInteropTest, DamagedModulesAreRefusedWithoutCrashing) {
  // Version 3: the table is the module's only resource, so the first entry
  // at every level is the table's.
  const std::string good = Module(3, "good");
  ASSERT_FALSE(good.empty());
  RsrcLayout at;
  ASSERT_TRUE(FindRsrc(good, &at));

  // Hand-made faults, each refused with the bad-format message.
  std::vector<std::string> refused;
  std::string loop = good;  // the root's first entry points at the root
  PutU32(&loop, at.rsrc + 20, 0x80000000u);
  refused.push_back(loop);
  std::string deep = good;  // the language level points back to the name level
  {
    size_t nameDir = at.rsrc + (U32(good, at.rsrc + 20) & 0x7FFFFFFFu);
    size_t langDir = at.rsrc + (U32(good, nameDir + 20) & 0x7FFFFFFFu);
    PutU32(&deep, langDir + 20, U32(good, at.rsrc + 20));
  }
  refused.push_back(deep);
  std::string past = good;  // directory offset past the end of the file
  PutU32(&past, at.rsrc + 20, 0xFFFFFFF0u);
  refused.push_back(past);
  std::string rva = good;  // data far outside every section
  PutU32(&rva, at.dataEntry, 0x7FFFFFF0u);
  refused.push_back(rva);
  std::string size = good;  // data longer than the file
  PutU32(&size, at.dataEntry + 4, 0xFFFFFFF0u);
  refused.push_back(size);
  std::string nt = good;  // the PE header offset past the end
  PutU32(&nt, 0x3C, 0x7FFFFFF0u);
  refused.push_back(nt);
  refused.push_back(good.substr(0, U32(good, 0x3C) + 10));
  refused.push_back(good.substr(0, at.rsrc + 8));
  for (size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE("fault " + std::to_string(i));
    WriteFile("bad.fil", refused[i]);
    ExpectRefused("bad.fil");
  }

  // Every truncation and a sweep of overwritten bytes: the run ends with
  // success or a clean failure, never a crash.
  std::vector<std::string> corpus;
  std::string count = good;  // more entries than the section holds
  count[at.rsrc + 14] = '\xff';
  count[at.rsrc + 15] = '\xff';
  corpus.push_back(count);
  for (size_t n = 0; n < good.size(); n += (n < 0x200 ? 11 : 97))
    corpus.push_back(good.substr(0, n));
  for (size_t off = 0; off < good.size();
       off += (off >= at.rsrc && off < at.rsrc + 0x100 ? 2 : 29)) {
    std::string bad = good;
    bad[off] = static_cast<char>(bad[off] ^ 0xA5);
    corpus.push_back(bad);
  }
  for (size_t i = 0; i < corpus.size(); ++i) {
    WriteFile("bad.fil", corpus[i]);
    e2e::RunResult r = Run({"/3", "bad.fil", "/3", "out.txt"});
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == e2e::kExitFail)
        << "sample " << i << " exit " << r.exit_code << "\n"
        << r.out << r.err;
    std::remove(Path("out.txt").c_str());
  }
}

}  // namespace
