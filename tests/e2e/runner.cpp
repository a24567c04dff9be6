// Runs the case files in tests/cases/*.case: each case is one gtest test
// named <file>.<case>, run in a private directory through the harness.
//
// A case file is a list of lines; "#" starts a comment line. A case:
//
//   case SmallTableToText                  starts a case (a C identifier)
//   not-windows <reason>                   skipped against the Windows build
//   write in.txt crlf <<END                an input file from the lines up
//   TYPE=SYSTEM                              to END; flags: crlf (lines end in
//   END                                      CR LF), noeol (no line end after
//                                            the last), esc (see below)
//   write empty.txt ""                     an input from a quoted string
//   copy in.txt examples/sample.txt        a copy of a source-tree file
//   gen in.txt 7 small                     a table made by tblgen (seed, profile)
//   mkdir dir   rm file   chmod 0500 dir   the test directory itself;
//   symlink link target                      (a link whose text is target)
//   replace f "from" "to" [N]              every occurrence in a file; with N,
//                                            there must be exactly N
//   cut f "text"                           f cut just before the first "text"
//   env NAME=VALUE                         set for the runs after it
//   merge-streams                          stderr goes to stdout from now on
//   run in.txt /3 out.txt                  runs tblconv; words split at blanks,
//                                            "..." holds blanks and escapes
//
// What must hold after the run before it (checked where it stands):
//
//   exit 255                               the exit code; a run followed by no
//                                            "exit" line must exit with 0
//   stdout <<END ... END                   the exact text of standard output
//   stdout has <<END ... END               ... or a part of it; also: lacks,
//   stderr ""                                starts, ends; stderr likewise
//   file out.txt crlf <<END ... END        a file's exact bytes (same modes)
//   text run.log has "..."                 a file written as text (the log):
//                                            CR LF read as LF on Windows
//   file a.txt same-as b.txt [ignore "# QVTB file name:"]...
//                                          equal bytes, apart from the lines
//                                            that start with an ignored text
//   absent out.txt   exists out.txt        a file is not there, or is
//
// A case also fails when a run left a file in its TMPDIR.
//
//   define usage <<END ... END             a text for the cases of this file
//   template refused ... end               lines for cases of one shape, with
//   case NoId = refused "SYSTEM=0," 7        {$1}, {$2}... for the words after
//                                            its name (quotes taken off)
//
// Expansions everywhere: {abs:in.txt} is the absolute name of a file of the
// test directory as the program takes it, {path:in.txt} as this machine
// names it (for env); {N*text} is text N times; {=usage}
// is the defined text (a define may stand before the first case). Quoted
// strings, and blocks with the esc flag, take \\ \" \r \n \t \xHH.
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "harness.h"

namespace e2e {
namespace {

struct Step {
  int line = 0;
  std::vector<std::string> words;  // the directive split into words
  bool has_block = false;
  std::string block;  // the text of a <<TAG block, flags applied
};

using Defines = std::map<std::string, std::string>;

struct Case {
  std::string file, name, not_windows;
  int line = 0;
  std::vector<Step> steps;
  std::shared_ptr<Defines> defines;  // the file's "define" texts
};

// Backslash escapes of quoted strings and esc blocks.
std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'r')
      out += '\r';
    else if (c == 'n')
      out += '\n';
    else if (c == 't')
      out += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else
      out += c;
  }
  return out;
}

// Splits a directive into words: blanks separate, "..." is one word with
// escapes. A quoted word keeps a leading '"' marker so that "" is a word.
// Raw, quoted words keep their quotes and escapes as written.
std::vector<std::string> Words(const std::string& line, bool raw = false) {
  std::vector<std::string> v;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string w;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) w += line[i++];
        w += line[i];
      }
      ++i;
      v.push_back(raw ? w : "\"" + Unescape(w));
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') w += line[i++];
      v.push_back(w);
    }
  }
  return v;
}

std::string Plain(const std::string& word) {
  return word.size() && word[0] == '"' ? word.substr(1) : word;
}

std::vector<Case> Load(const std::string& path, const std::string& stem) {
  // The file's lines with their numbers; a case made from a template puts
  // the template's lines, numbered as the case line, in front of the rest.
  std::deque<std::pair<int, std::string>> lines;
  {
    std::ifstream in(path);
    int number = 0;
    for (std::string l; std::getline(in, l);) lines.emplace_back(++number, l);
  }
  std::map<std::string, std::vector<std::string>> templates;
  std::vector<Case> cases;
  auto defines = std::make_shared<Defines>();
  std::string text;
  int n = 0;
  auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), n, why.c_str());
    std::exit(2);
  };
  auto next = [&]() {
    if (lines.empty()) return false;
    n = lines.front().first;
    text = lines.front().second;
    lines.pop_front();
    return true;
  };
  while (next()) {
    if (text.empty() || text[0] == '#') continue;
    Step s;
    s.line = n;
    size_t tag_at = text.rfind(" <<");
    std::string tag;
    if (tag_at != std::string::npos && text.find(' ', tag_at + 3) == std::string::npos) {
      tag = text.substr(tag_at + 3);
      text.resize(tag_at);
    }
    s.words = Words(text);
    if (s.words.empty()) continue;
    if (s.words[0] == "template") {
      if (s.words.size() != 2) fail("template NAME");
      std::vector<std::string>& body = templates[s.words[1]];
      while (next() && text != "end") body.push_back(text);
      continue;
    }
    if (s.words[0] == "case") {
      if (s.words.size() < 2 || !std::regex_match(s.words[1], std::regex("[A-Za-z][A-Za-z0-9_]*")))
        fail("a case needs a name of letters, digits and _");
      if (s.words.size() > 2) {
        std::vector<std::string> args = Words(text, true);
        if (args.size() < 4 || args[2] != "=" || !templates.count(args[3]))
          fail("expected: case NAME = TEMPLATE ARGS...");
        const std::vector<std::string>& body = templates[args[3]];
        for (auto it = body.rbegin(); it != body.rend(); ++it) {
          std::string l = *it;
          for (size_t k = 4; k < args.size() + 5; ++k) {
            std::string key = "{$" + std::to_string(k - 3) + "}";
            std::string value = k < args.size() ? args[k] : "";
            for (size_t at; (at = l.find(key)) != std::string::npos;)
              l.replace(at, key.size(), value);
          }
          lines.emplace_front(n, l);
        }
      }
      cases.push_back({stem, s.words[1], "", n, {}, defines});
      continue;
    }
    if (cases.empty() && s.words[0] != "define") fail("directive before the first case");
    if (s.words[0] == "not-windows") {
      cases.back().not_windows = text.substr(text.find("not-windows") + 12);
      continue;
    }
    if (!tag.empty()) {
      s.has_block = true;
      std::vector<std::string> block;
      for (;;) {
        if (!next()) fail("no line " + tag + " ends the block");
        if (text == tag) break;
        block.push_back(text);
      }
      auto flag = [&](const char* f) {
        for (auto it = s.words.begin() + 1; it != s.words.end(); ++it)
          if (*it == f) {
            s.words.erase(it);
            return true;
          }
        return false;
      };
      bool crlf = flag("crlf"), noeol = flag("noeol"), esc = flag("esc");
      for (size_t i = 0; i < block.size(); ++i) {
        s.block += esc ? Unescape(block[i]) : block[i];
        if (i + 1 < block.size() || !noeol) s.block += crlf ? "\r\n" : "\n";
      }
    }
    if (s.words[0] == "define") {
      if (s.words.size() != 2 || !s.has_block) fail("define NAME [flags] <<TAG");
      (*defines)[s.words[1]] = s.block;
    } else {
      cases.back().steps.push_back(s);
    }
  }
  return cases;
}

class CaseTest : public ToolTest {
 public:
  explicit CaseTest(const Case* c) : case_(c) {}
  void TestBody() override;

 private:
  // {abs:x}, {path:x}, {N*text} and {=name} in a word or block.
  std::string Expand(const std::string& s) const {
    static const std::regex kExp(
        "\\{(abs:([^{}]*)|([0-9]+)\\*([^{}]*)|=([A-Za-z0-9_]+)|path:([^{}]*))\\}");
    std::string out;
    auto begin = std::sregex_iterator(s.begin(), s.end(), kExp);
    size_t last = 0;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
      const std::smatch& m = *it;
      out += s.substr(last, m.position() - last);
      if (m[5].matched && !case_->defines->count(m[5])) ADD_FAILURE() << "no define " << m[5];
      if (m[5].matched)
        out += case_->defines->count(m[5]) ? Expand(case_->defines->at(m[5])) : "";
      else if (m[2].matched)
        out += ArgPath(m[2]);
      else if (m[6].matched)
        out += Path(m[6]);
      else
        for (int k = std::stoi(m[3]); k > 0; --k) out += m[4];
      last = m.position() + m.length();
    }
    return out + s.substr(last);
  }
  void Fail(const Step& s, const std::string& why) const {
    ADD_FAILURE_AT((SourceDir() + "/tests/cases/" + case_->file + ".case").c_str(), s.line) << why;
  }
  void Check(const Step& s, const std::string& what, const std::string& got, size_t at);
  void EndRun() {
    if (ran_ && !exit_checked_ && last_.exit_code != 0)
      Fail(*run_step_, "exit " + std::to_string(last_.exit_code) + ", expected 0\nstdout:\n" +
                           last_.out.substr(0, 3000) + "\nstderr:\n" + last_.err.substr(0, 3000));
    exit_checked_ = false;
  }

  const Case* case_;
  std::map<std::string, std::string> env_;
  RunResult last_;
  const Step* run_step_ = nullptr;
  bool ran_ = false, exit_checked_ = false;
};

// Checks `got` against the expectation in s, whose mode word (if any)
// stands at s.words[at].
void CaseTest::Check(const Step& s, const std::string& what, const std::string& got, size_t at) {
  std::string mode = "is";
  if (at < s.words.size() && std::regex_match(s.words[at], std::regex("is|has|lacks|starts|ends")))
    mode = s.words[at++];
  std::string want;
  if (s.has_block)
    want = s.block;
  else if (at < s.words.size())
    want = Plain(s.words[at++]);
  else
    return Fail(s, "no expected text");
  want = Expand(want);
  bool ok = mode == "is"       ? got == want
            : mode == "has"    ? got.find(want) != std::string::npos
            : mode == "lacks"  ? got.find(want) == std::string::npos
            : mode == "starts" ? got.compare(0, want.size(), want) == 0
                               : got.size() >= want.size() &&
                                     got.compare(got.size() - want.size(), want.size(), want) == 0;
  if (ok) return;
  if (mode == "is") return Fail(s, what + ": " + Difference(got, want));
  Fail(s, what + " " + mode + " \"" + want.substr(0, 2000) + "\"\n--- is:\n" + got.substr(0, 4000));
}

void CaseTest::TestBody() {
  if (IsWindowsBuild() && !case_->not_windows.empty())
    GTEST_SKIP() << "not on Windows: " << case_->not_windows;
  for (const Step& s : case_->steps) {
    const std::string& verb = s.words[0];
    size_t n = s.words.size();
    std::string arg1 = n > 1 ? Expand(Plain(s.words[1])) : "";
    auto text = [&](size_t at) {
      return s.has_block ? s.block : n > at ? Expand(Plain(s.words[at])) : "";
    };
    if (verb == "run") {
      EndRun();
      std::vector<std::string> args;
      for (size_t i = 1; i < n; ++i) args.push_back(Expand(Plain(s.words[i])));
      last_ = Run(args, env_);
      run_step_ = &s;
      ran_ = true;
    } else if (verb == "exit") {
      exit_checked_ = true;
      if (last_.exit_code != std::stoi(arg1))
        Fail(s, "exit " + std::to_string(last_.exit_code) + ", expected " + arg1 + "\nstdout:\n" +
                    last_.out.substr(0, 3000) + "\nstderr:\n" + last_.err.substr(0, 3000));
    } else if (verb == "stdout" || verb == "stderr") {
      Check(s, verb, verb == "stdout" ? last_.out : last_.err, 1);
    } else if (verb == "file" || verb == "text") {
      if (!Exists(arg1)) {
        Fail(s, arg1 + " does not exist");
      } else if (n > 2 && s.words[2] == "same-as") {
        std::vector<std::string> ignored;
        for (size_t i = 4; i < n; i += 2) {
          if (s.words[i] != "ignore" || i + 1 == n)
            Fail(s, "expected: ignore \"text\"");
          else
            ignored.push_back(Expand(Plain(s.words[i + 1])));
        }
        auto strip = [&](const std::string& t) {
          std::string out;
          for (size_t a = 0; a < t.size();) {
            size_t e = t.find('\n', a);
            e = e == std::string::npos ? t.size() : e + 1;
            bool drop = false;
            for (const auto& p : ignored) drop = drop || t.compare(a, p.size(), p) == 0;
            if (!drop) out += t.substr(a, e - a);
            a = e;
          }
          return out;
        };
        std::string other = Expand(Plain(s.words[3]));
        std::string got = strip(ReadFile(arg1)), want = strip(ReadFile(other));
        if (!Exists(other))
          Fail(s, other + " does not exist");
        else if (got != want)
          Fail(s, arg1 + " is not the same as " + other + ": " + Difference(got, want));
      } else {
        Check(s, arg1, verb == "text" ? ReadText(arg1) : ReadFile(arg1), 2);
      }
    } else if (verb == "absent" || verb == "exists") {
      if (Exists(arg1) != (verb == "exists"))
        Fail(s, arg1 + (verb == "exists" ? " is missing" : " exists"));
    } else if (verb == "write") {
      WriteFile(arg1, Expand(text(2)));
    } else if (verb == "copy") {
      WriteFile(arg1, SourceFile(Plain(s.words[2])));
    } else if (verb == "gen") {
      if (!Generate(std::stoul(s.words[2]), s.words[3], arg1)) Fail(s, "tblgen failed");
    } else if (verb == "mkdir") {
      mkdir(Path(arg1).c_str(), 0700);
    } else if (verb == "chmod") {
      chmod(Path(Expand(Plain(s.words[2]))).c_str(), std::stoi(s.words[1], nullptr, 8));
    } else if (verb == "rm") {
      std::remove(Path(arg1).c_str());
    } else if (verb == "symlink") {
      if (symlink(Expand(Plain(s.words[2])).c_str(), Path(arg1).c_str()) != 0)
        Fail(s, "cannot make the link " + arg1);
    } else if (verb == "replace" || verb == "cut") {
      std::string f = ReadFile(arg1), from = Expand(Plain(s.words[2]));
      if (verb == "cut") {
        size_t at = f.find(from);
        if (at == std::string::npos)
          Fail(s, "no \"" + from + "\" in " + arg1);
        else
          f.resize(at);
      } else {
        std::string to = Expand(Plain(s.words[3]));
        int count = 0;
        for (size_t at = 0; (at = f.find(from, at)) != std::string::npos; at += to.size(), ++count)
          f.replace(at, from.size(), to);
        if (count == 0 || (n > 4 && count != std::stoi(s.words[4])))
          Fail(s, std::to_string(count) + " times \"" + from + "\" in " + arg1);
      }
      WriteFile(arg1, f);
    } else if (verb == "env") {
      size_t eq = arg1.find('=');
      env_[arg1.substr(0, eq)] = arg1.substr(eq + 1);
    } else if (verb == "merge-streams") {
      MergeStreams();
    } else {
      Fail(s, "unknown directive " + verb);
    }
  }
  EndRun();
  if (!TempFiles().empty()) ADD_FAILURE() << "temporary files left: " << TempFiles()[0];
}

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  static std::vector<e2e::Case> all;
  std::string dir = e2e::SourceDir() + "/tests/cases";
  std::vector<std::string> files;
  for (const std::string& f : e2e::ListFiles(dir))
    if (f.size() > 5 && f.compare(f.size() - 5, 5, ".case") == 0) files.push_back(f);
  for (const std::string& f : files) {
    std::vector<e2e::Case> c = e2e::Load(dir + "/" + f, f.substr(0, f.size() - 5));
    all.insert(all.end(), c.begin(), c.end());
  }
  if (all.empty()) {
    std::fprintf(stderr, "no cases in %s\n", dir.c_str());
    return 2;
  }
  for (const e2e::Case& c : all) {
    const e2e::Case* p = &c;
    ::testing::RegisterTest(c.file.c_str(), c.name.c_str(), nullptr, nullptr,
                            (dir + "/" + c.file + ".case").c_str(), c.line,
                            [p]() -> e2e::ToolTest* { return new e2e::CaseTest(p); });
  }
  return RUN_ALL_TESTS();
}
