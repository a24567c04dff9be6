// The command line of tbltool: the command, its options and its files, the
// usage texts, and the program's exit codes.
#pragma once

#include <string>
#include <vector>

namespace tbltool {

// Exit codes shared by the commands.
constexpr int kExitOk = 0;
constexpr int kExitFindings = 1;  // check: problems found; diff: tables differ
constexpr int kExitTrouble = 2;   // usage errors, unreadable files, failed writes

// Options a command accepts.
enum OptionBits : unsigned {
  kOptJson = 1,
  kOptOutput = 2,  // -o FILE
  kOptForce = 4,   // -f: replace an existing output
};

struct CommandLine {
  bool json = false;
  bool help = false;
  bool version = false;
  bool force = false;
  std::string output;
  struct File {
    std::string name;
    int version = 0;  // -2, -3 or -4 right before it; 0 for none
  };
  std::vector<File> files;
};

// Parses the arguments after the command name. 0, or kExitTrouble after a
// message on stderr naming the command.
int ParseCommandLine(const char* command, int argc, char** argv, unsigned allowed, CommandLine* cl);
// "tbltool CMD: text" and the hint to --help, on stderr; returns kExitTrouble.
int UsageError(const char* command, const std::string& text);
// Prints text to stdout; returns kExitOk.
int ShowHelp(const char* text);
// Prints "tbltool VERSION"; returns kExitOk.
int ShowVersion();
// An error of the command, on stderr: "tbltool: text".
void Complain(const std::string& text);

// Reads the named table whole for a command that needs all of it: 0, or
// kExitTrouble after saying on stderr why not (the reader's messages
// compiler style). The reader's warnings go to stderr either way.
class LoadedTable;
int LoadReadable(const std::string& name, int version, LoadedTable* t);

// The commands; each takes the arguments after its name.
int RunCheck(int argc, char** argv);
int RunInfo(int argc, char** argv);
int RunDiff(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunImport(int argc, char** argv);

// The whole program.
int RunTbltool(int argc, char** argv);

}  // namespace tbltool
