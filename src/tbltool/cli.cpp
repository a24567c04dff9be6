// Command dispatch and the options every command shares.
#include "tbltool/cli.h"

#include <cstdio>
#include <cstring>

#include "tbltool/findings.h"
#include "tbltool/source.h"

#ifndef TBLTOOL_VERSION
#define TBLTOOL_VERSION "0"
#endif

namespace tbltool {

namespace {

const char kUsage[] =
    "Usage: tbltool COMMAND [OPTIONS] FILE...\n"
    "Check, inspect, compare and export the tables tblconv converts\n"
    "(.itb, .txt, .rc2, .fil, .itr with its .itf).\n"
    "\n"
    "Commands:\n"
    "  check FILE...        report every problem of each table, one per line\n"
    "  info FILE            form, version, counts, systems and table-wide values\n"
    "  diff A B             what differs between two tables, in any forms\n"
    "  export FILE          the table as JSON, on stdout or into -o FILE\n"
    "  import IN.json OUT   a table from JSON, written in OUT's form\n"
    "\n"
    "Options:\n"
    "  --json               machine-readable output (check, info, diff)\n"
    "  -2, -3, -4           the table version of the file name after it\n"
    "                       (text tables, scripts, modules, split pairs; default 4)\n"
    "  -o FILE              where export writes (default: standard output)\n"
    "  -f, --force          replace an output file that exists\n"
    "  -h, --help           this text, or a command's own with the command\n"
    "  --version            the version\n"
    "\n"
    "Exit codes: 0 success (check: clean; diff: the same), 1 check found problems\n"
    "or diff found differences, 2 trouble (usage, unreadable file, failed write).\n"
    "See tbltool(1).\n";

}  // namespace

int UsageError(const char* command, const std::string& text) {
  if (command && *command)
    std::fprintf(stderr, "tbltool %s: %s\nTry 'tbltool %s --help'.\n", command, text.c_str(),
                 command);
  else
    std::fprintf(stderr, "tbltool: %s\nTry 'tbltool --help'.\n", text.c_str());
  return kExitTrouble;
}

int ShowHelp(const char* text) {
  std::fputs(text, stdout);
  return kExitOk;
}

int ShowVersion() {
  std::printf("tbltool %s\n", TBLTOOL_VERSION);
  return kExitOk;
}

void Complain(const std::string& text) { std::fprintf(stderr, "tbltool: %s\n", text.c_str()); }

int ParseCommandLine(const char* command, int argc, char** argv, unsigned allowed,
                     CommandLine* cl) {
  int version = 0;
  bool options = true;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (options && a[0] == '-' && a[1] != '\0') {
      if (std::strcmp(a, "--") == 0) {
        options = false;
      } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
        cl->help = true;
      } else if (std::strcmp(a, "--version") == 0) {
        cl->version = true;
      } else if (std::strcmp(a, "--json") == 0 && (allowed & kOptJson)) {
        cl->json = true;
      } else if ((std::strcmp(a, "-f") == 0 || std::strcmp(a, "--force") == 0) &&
                 (allowed & kOptForce)) {
        cl->force = true;
      } else if (std::strcmp(a, "-o") == 0 && (allowed & kOptOutput)) {
        if (i + 1 >= argc) return UsageError(command, "-o needs a file name");
        if (!cl->output.empty()) return UsageError(command, "-o given twice");
        cl->output = argv[++i];
      } else if ((std::strcmp(a, "-2") == 0 || std::strcmp(a, "-3") == 0 ||
                  std::strcmp(a, "-4") == 0)) {
        if (version != 0) return UsageError(command, "two versions for one file");
        version = a[1] - '0';
      } else {
        return UsageError(command, std::string("unknown option ") + a);
      }
      continue;
    }
    cl->files.push_back({a, version});
    version = 0;
  }
  if (version != 0) return UsageError(command, "a version option must stand before a file name");
  return 0;
}

int LoadReadable(const std::string& name, int version, LoadedTable* t) {
  TableFile f;
  if (!IdentifyFile(name, version, &f)) {
    Complain(name + ": is no table form (.itb, .txt, .rc2, .fil, .itr)");
    return kExitTrouble;
  }
  std::string error;
  if (LoadTable(f, t, &error) != 0) {
    Complain(name + ": " + error);
    return kExitTrouble;
  }
  if (f.form == Form::Itb && !t->open) {
    Complain(name + ": cannot be opened as a table (code " + std::to_string(t->openResult) +
             "); 'tbltool check' tells why");
    return kExitTrouble;
  }
  PrintReaderMessages(*t);
  if (t->readResult != 0) {
    Complain(name + ": the table cannot be read whole (code " + std::to_string(t->readResult) +
             ")");
    return kExitTrouble;
  }
  return 0;
}

int RunTbltool(int argc, char** argv) {
  if (argc < 2) return UsageError("", "no command given");
  const char* cmd = argv[1];
  if (std::strcmp(cmd, "--help") == 0 || std::strcmp(cmd, "-h") == 0 ||
      std::strcmp(cmd, "help") == 0)
    return ShowHelp(kUsage);
  if (std::strcmp(cmd, "--version") == 0) return ShowVersion();
  struct Command {
    const char* name;
    int (*run)(int, char**);
  };
  static const Command kCommands[] = {{"check", RunCheck},
                                      {"info", RunInfo},
                                      {"diff", RunDiff},
                                      {"export", RunExport},
                                      {"import", RunImport}};
  for (const Command& c : kCommands)
    if (std::strcmp(cmd, c.name) == 0) return c.run(argc - 2, argv + 2);
  return UsageError("", std::string("unknown command ") + cmd);
}

}  // namespace tbltool
