// Resource scripts through the built program: text to script to text for
// versions 3 and 4, escaping, comments, the carried resource-name suffix,
// truncated scripts, and the module reader's failures that need no toolchain.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace {

constexpr char kBadFormat[] = "Error: Bad file format or a resource missing.";

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }
bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// A script with its temporary-file-name comment dropped and the resource
// names without suffix, for comparing scripts of different runs.
std::string Plain(std::string script) {
  size_t line = script.find("\r\n// QVTB file name:  ");
  if (line != std::string::npos) script.erase(line, script.find("\r\n", line + 2) - line);
  for (size_t at; (at = script.find("ABC RCDATA BEGIN")) != std::string::npos;) script.erase(at, 3);
  return script;
}

class Rc2Test : public e2e::ToolTest {
 protected:
  // The writer's own text form of the sample table, written as `name`.
  std::string Canonical(int version, const std::string& name) {
    WriteFile("source.txt", e2e::SourceFile("tests/data/rc2/source.txt"));
    std::vector<std::string> args = {"source.txt"};
    if (version == 3) args.push_back("/3");
    args.push_back(name);
    e2e::RunResult r = Run(args);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Remove("source.txt");
    std::string text = ReadFile(name);
    EXPECT_TRUE(Contains(text, "TYPE=CHARMAP")) << text;
    return text;
  }
  // The sample as a script of `version`, written as `name`.
  std::string Script(int version, const std::string& name) {
    Canonical(version, "c.txt");
    e2e::RunResult r = Convert("c.txt", name, version);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    Remove("c.txt");
    return ReadFile(name);
  }
  e2e::RunResult Convert(const std::string& from, const std::string& to, int version) {
    std::vector<std::string> args;
    if (version == 3) args.push_back("/3");
    args.push_back(from);
    if (version == 3) args.push_back("/3");
    args.push_back(to);
    return Run(args);
  }
  void Remove(const std::string& rel) { std::remove(Path(rel).c_str()); }
};

TEST_F(Rc2Test, TextToScriptToTextIsByteForByte) {
  for (int version : {3, 4}) {
    SCOPED_TRACE(version);
    const std::string text = Canonical(version, "t.txt");
    e2e::RunResult r = Convert("t.txt", "t.rc2", version);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_TRUE(TempFiles().empty());
    const std::string script = ReadFile("t.rc2");
    Remove("t.txt");
    r = Convert("t.rc2", "t.txt", version);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile("t.txt"), text);

    // Quotes and backslashes are doubled inside the literals; comments
    // become "//" lines.
    EXPECT_EQ(script.rfind("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n// QVTB file name:  ", 0), 0u);
    EXPECT_TRUE(Contains(script, "\r\n\"TYPE=SYSTEM\\r\\n\",\r\n"));
    EXPECT_TRUE(Contains(script, "\"\"Org \"\"A\"\" \\\\x\"\""));
    EXPECT_TRUE(Contains(script, "C:\\\\dir\\\\,"));
    EXPECT_TRUE(Contains(script, "\"NAME=List \"\"0\"\" \\\\ x\\r\\n\",\r\n"));
    EXPECT_FALSE(Contains(script, "\r\n#"));
    if (version == 3) {
      EXPECT_TRUE(EndsWith(script, "\r\n0,\r\nEND\r\n"));
      EXPECT_FALSE(Contains(script, "ENABLED_PRODUCTS"));
    } else {
      EXPECT_TRUE(Contains(script, "\r\n0,\r\nEND\r\n_ZELM_ITB_ENABLED_PRODUCTS_ RCDATA BEGIN\r\n8L,0X"));
      EXPECT_TRUE(EndsWith(script, "L\r\n0,0,0,0\r\nEND\r\n"));
    }
    Remove("t.txt");
    Remove("t.rc2");
  }
}

TEST_F(Rc2Test, ScriptCommentsAreSkipped) {
  const std::string text = Canonical(4, "t.txt");
  std::string script = Script(4, "in.rc2");
  // Comments that would end or derail the data if they were taken as data.
  const std::string noise = "//0,\r\n  // TYPE=SYSTEM\r\n//\r\n\r\n";
  size_t at = script.find("\"TYPE=FIELDS");
  ASSERT_NE(at, std::string::npos);
  script.insert(at, noise);
  script.insert(script.find("\r\n") + 2, noise);
  WriteFile("in.rc2", script);
  Remove("t.txt");
  e2e::RunResult r = Run({"in.rc2", "t.txt"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile("t.txt"), text);
}

TEST_F(Rc2Test, ResourceNameSuffixIsCarriedToTheOutput) {
  std::string script = Script(4, "plain.rc2");
  const std::string header = "_ZELM_ITB_TABLE_ RCDATA BEGIN";
  ASSERT_EQ(script.rfind(header, 0), 0u);
  WriteFile("named.rc2", "_zelm_itb_table_Abc RCDATA BEGIN" + script.substr(header.size()));

  e2e::RunResult r = Run({"named.rc2", "out.rc2"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  std::string out = ReadFile("out.rc2");
  EXPECT_EQ(out.rfind("_ZELM_ITB_TABLE_ABC RCDATA BEGIN\r\n", 0), 0u);
  EXPECT_TRUE(Contains(out, "\r\nEND\r\n_ZELM_ITB_ENABLED_PRODUCTS_ABC RCDATA BEGIN\r\n"));
  EXPECT_EQ(Plain(out), Plain(script));

  // The last script read decides: a plain one after it clears the suffix.
  r = Run({"named.rc2", "plain.rc2", "out2.rc2"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile("out2.rc2").rfind("_ZELM_ITB_TABLE_ RCDATA BEGIN\r\n", 0), 0u);
}

TEST_F(Rc2Test, TruncatedScriptStopsTheRun) {
  std::string script = Script(4, "in.rc2");
  // Cut inside the maps, and where only the optional last block is lost.
  for (const char* cut : {"\"TYPE=MAPS", "\"TYPE=TABLE"}) {
    SCOPED_TRACE(cut);
    ASSERT_NE(script.find(cut), std::string::npos);
    WriteFile("in.rc2", script.substr(0, script.find(cut)));
    e2e::RunResult r = Run({"in.rc2", "out.txt"});
    EXPECT_EQ(r.exit_code, e2e::kExitFail);
    EXPECT_TRUE(Contains(r.out + r.err, "Premature end of source rc2 file ")) << r.out << r.err;
    EXPECT_FALSE(Exists("out.txt"));
    EXPECT_TRUE(TempFiles().empty());
  }

  WriteFile("in.rc2", "// no resource here\r\n\"TYPE=SYSTEM\\r\\n\",\r\n");
  e2e::RunResult r = Run({"in.rc2", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out + r.err, "Premature end of source rc2 file ")) << r.out << r.err;
}

TEST_F(Rc2Test, OverlongNamesAndLinesAreRefused) {
  std::string script = Script(4, "in.rc2");
  size_t at = script.find("\"TYPE=FIELDS");
  WriteFile("in.rc2", script.substr(0, at) + "\"X=" + std::string(70000, 'x') + "\\r\\n\",\r\n" +
                          script.substr(at));
  e2e::RunResult r = Run({"in.rc2", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out + r.err, "***ERROR: Line too long")) << r.out.substr(0, 2000);
  EXPECT_FALSE(Exists("out.txt"));

  WriteFile("in.rc2", "_ZELM_ITB_TABLE_" + std::string(128, 'n') + " RCDATA BEGIN\r\n0,\r\nEND\r\n");
  r = Run({"in.rc2", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out + r.err, "Invalid resource name in rc2 file in.rc2")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out + r.err, kBadFormat));
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(Rc2Test, MissingScriptAndUnwritableOutput) {
  e2e::RunResult r = Run({"none.rc2", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);

  Canonical(4, "t.txt");
  r = Run({"t.txt", "no/such/dir/out.rc2"});
  EXPECT_TRUE(Contains(r.out + r.err, "Unable to open file no/such/dir/out.rc2")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out + r.err, "Processing aborted due to error code ")) << r.out << r.err;
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(Rc2Test, ModuleFailuresWithoutToolchain) {
  // A missing module is already refused by the command line.
  e2e::RunResult r = Run({"none.fil", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);

  // A script is not a module.
  WriteFile("t.fil", Script(4, "s.rc2"));
  r = Run({"t.fil", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out + r.err, kBadFormat)) << r.out << r.err;
  WriteFile("empty.fil", "");
  r = Run({"empty.fil", "out.txt"});
  EXPECT_EQ(r.exit_code, e2e::kExitFail);
  EXPECT_TRUE(Contains(r.out + r.err, kBadFormat)) << r.out << r.err;
  EXPECT_FALSE(Exists("out.txt"));
}

TEST_F(Rc2Test, DoubleByteTrailBytesAreNotEscaped) {
  // In code page 932, 0x83 0x5C is one character whose second byte is a
  // backslash: it must pass through the literal unchanged.
  std::string source = e2e::SourceFile("tests/data/rc2/source.txt");
  size_t at = source.find("\"Second\"");
  ASSERT_NE(at, std::string::npos);
  source.replace(at, 8, "\"S\x83\x5C\"");
  WriteFile("source.txt", source);
  const std::map<std::string, std::string> env = {{"TBLCONV_CODEPAGE", "932"}};
  ASSERT_EQ(Run({"source.txt", "t.txt"}, env).exit_code, 0);
  const std::string text = ReadFile("t.txt");
  ASSERT_TRUE(Contains(text, ",\"S\x83\x5C\","));
  e2e::RunResult r = Run({"t.txt", "t.rc2"}, env);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(ReadFile("t.rc2"), ",\"\"S\x83\x5C\"\",")) << ReadFile("t.rc2");
  Remove("t.txt");
  r = Run({"t.rc2", "t.txt"}, env);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(ReadFile("t.txt"), text);
}

}  // namespace
