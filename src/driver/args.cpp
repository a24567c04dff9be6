// Command-line parsing. Every argument is an option or a file name; options
// give the next file name its role (input, output, modifier, log) or forced
// table version. A first pass counts the files of each role (a wildcard
// input counts its non-empty matches), a second pass stores them into lists
// of exactly that size.
#include "driver/args.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/split.h"
#include "qvutil/status.h"

namespace {

enum Role { kNone = 0, kInput = 1, kOutput = 2, kModifier = 3, kLog = 4 };

constexpr const char* kExpectedName = "Error: Option %d (%.80s) expected filename to follow\n";
constexpr const char* kNotRecognized = "Error: argument %d (%.80s) not recognized\n";
constexpr const char* kInputNotFound = "Error: argument %d (%.80s) Input File Not Found\n";
constexpr const char* kModifierNotFound = "Error: argument %d (%.80s) Modifier File Not Found\n";
constexpr const char* kOutputExists = "Error: argument %d (%.80s) Output File already exists.\n";
constexpr const char* kNameTooLong = "Error: argument %d (%.80s) file name too long\n";
constexpr const char* kAlsoInput = "Error: argument %d (%.80s) is also an input file\n";
constexpr const char* kAlsoOutput = "Error: argument %d (%.80s) is also an output file\n";

// Gives the list one block holding n entry pointers followed by n entries.
bool Allocate(FileList* list, int n) {
  size_t bytes = static_cast<size_t>(n) * (sizeof(FileEntry*) + sizeof(FileEntry));
  list->block.reset(new (std::nothrow) unsigned char[bytes]);
  if (!list->block) return false;
  list->entries = reinterpret_cast<FileEntry**>(list->block.get());
  unsigned char* first = list->block.get() + static_cast<size_t>(n) * sizeof(FileEntry*);
  for (int i = 0; i < n; ++i) list->entries[i] = new (first + i * sizeof(FileEntry)) FileEntry{};
  list->capacity = n;
  list->count = 0;
  return true;
}

void Release(FileList* list) {
  if (!list) return;
  list->block.reset();
  list->entries = nullptr;
  list->count = 0;
  list->capacity = 0;
}

class Parser {
 public:
  Parser(int argc, char** argv, MessageFn msg, UsageFn usage, uint32_t* flags)
      : argc_(argc),
        argv_(argv),
        msg_(msg),
        usage_(usage),
        flags_(flags),
        env_(platform::Env::Get()),
        role_(argc + 1, kNone),
        forced_(argc + 1, 0),
        multiple_(argc + 1, false) {}

  int Parse(FileList* inputs, FileList* modifiers, FileList* outputs, FileList* logs);

 private:
  bool Force() const { return (*flags_ & kFlagForce) != 0; }
  int Fail() {
    if (usage_) usage_(argv_[0]);
    return kFailed;
  }
  void Say(int level, const char* fmt, int n) {
    char buf[kMaxPath];
    std::snprintf(buf, sizeof buf, fmt, n, argv_[n]);
    SendMessage(msg_, level, buf);
  }
  bool Exists(const char* name) {
    platform::FileAttributes a;
    return env_->GetAttributes(name, &a);
  }
  // Says fmt of argument n with another name in the argument's place.
  void SayName(int level, const char* fmt, int n, const std::string& name) {
    char buf[kMaxPath];
    std::snprintf(buf, sizeof buf, fmt, n, name.c_str());
    SendMessage(msg_, level, buf);
  }
  bool IsOption(const char* arg) {
    if (arg[0] == '-') return true;
    return arg[0] == '/' && env_->IsOptionArgument(arg);
  }
  // A match that can be a table: not a directory, not empty, readable.
  bool Usable(const platform::FindMatch& m) {
    if (m.is_directory || m.size == 0) return false;
    platform::File f;
    return f.Open(m.name, platform::Access::kRead, platform::Disposition::kOpenExisting) == 0;
  }
  // The files an output of this name writes: the name, and beside an .itr
  // its .itf.
  std::vector<std::string> OutputFiles(int i) {
    std::vector<std::string> files{argv_[i]};
    FileKind kind = ClassifyFile(argv_[i], forced_[i]);
    if (kind == FileKind::ItrV3 || kind == FileKind::ItrV4) files.push_back(ItfNameFor(argv_[i]));
    return files;
  }
  int CheckOutput(int i);
  int FirstPass();
  int HandleOption(int i);
  int CountFile(int i);
  void ApplyLastFileNameRule();
  void CollectInputPaths();
  int SecondPass();
  int StoreFound(int i, FileList* list, FileKind kind, bool classify, const char* notFound,
                 const char* tooMany);
  int StoreOne(FileList* list, const std::string& name, FileKind kind, int i, const char* tooMany);

  int argc_;
  char** argv_;
  MessageFn msg_;
  UsageFn usage_;
  uint32_t* flags_;
  platform::Env* env_;
  std::vector<int> role_;
  std::vector<int> forced_;
  std::vector<bool> multiple_;  // a pattern that matched several files
  int total_[5] = {0, 0, 0, 0, 0};
  FileList* lists_[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  // Identities (Env::FileIdentity) of the files the run reads and writes.
  std::set<std::string> inputIds_;
  std::set<std::string> outputIds_;
};

int Parser::Parse(FileList* inputs, FileList* modifiers, FileList* outputs, FileList* logs) {
  SendMessage(msg_, kLevelProgress, "Parsing Args....\n");
  if (argc_ < 2) {
    SendMessage(msg_, kLevelError, "Error: Not enough arguments\n");
    return Fail();
  }
  if (FirstPass() != 0) return kFailed;

  int last = argc_ - 1;
  if (role_[argc_] != kNone || forced_[argc_] != 0) {
    Say(kLevelError, kExpectedName, last);
    if (!Force()) return Fail();
  }
  ApplyLastFileNameRule();
  if (total_[kOutput] == 0 || total_[kInput] == 0) {
    Say(kLevelError, kExpectedName, last);
    SendMessage(msg_, kLevelError,
                "Can not continue without a valid input file, and an output filename");
    return Fail();
  }

  lists_[kInput] = inputs;
  lists_[kOutput] = outputs;
  lists_[kModifier] = modifiers;
  lists_[kLog] = logs;
  for (int r = kInput; r <= kLog; ++r) {
    if (total_[r] == 0) continue;
    if (!Allocate(lists_[r], total_[r])) {
      SendMessage(msg_, kLevelError, "Error: Out of memory\n");
      return kFailed;
    }
  }
  CollectInputPaths();
  return SecondPass();
}

int Parser::FirstPass() {
  for (int i = 1; i < argc_; ++i) {
    const char* arg = argv_[i];
    if (std::strcmp(arg, "?") == 0 && !Force()) return Fail();
    if (std::strcmp(arg, "?") != 0 && IsOption(arg)) {
      if (HandleOption(i) != 0) return kFailed;
      continue;
    }
    if (role_[i] == kNone) role_[i] = kInput;
    // A name that does not fit a file entry is never cut into another path.
    if (std::strlen(arg) >= static_cast<size_t>(kMaxPath)) {
      Say(kLevelError, kNameTooLong, i);
      return Fail();
    }
    total_[role_[i]] += CountFile(i);
  }
  return 0;
}

int Parser::HandleOption(int i) {
  if (role_[i] != kNone || forced_[i] != 0) {
    Say(kLevelError, kExpectedName, i - 1);
    if (!Force()) return Fail();
    // The position holds an option, so it is no file of the second pass.
    role_[i] = kNone;
    forced_[i] = 0;
  }
  char c[2] = {argv_[i][1], '\0'};
  if (c[0] != '\0') env_->LowerCase(c);
  switch (c[0]) {
    case '2':
    case '3':
    case '4':
      forced_[i + 1] = c[0] - '0';
      break;
    case 'e':
    case 'l':
      role_[i + 1] = kLog;
      break;
    case 's':
      role_[i + 1] = kModifier;
      break;
    case 'i':
      role_[i + 1] = kInput;
      break;
    case 'o':
      role_[i + 1] = kOutput;
      break;
    case '?':
    case 'h':
      return Fail();
    case 'q':
      *flags_ &= ~kFlagVerbose;
      break;
    case 'v':
      *flags_ |= kFlagVerbose;
      break;
    case 'f':
      *flags_ |= kFlagForce;
      break;
    default:
      Say(kLevelError, kNotRecognized, i);
      if (!Force()) return Fail();
      break;
  }
  return 0;
}

int Parser::CountFile(int i) {
  const char* name = argv_[i];
  if (Exists(name)) return 1;
  if (role_[i] != kInput && role_[i] != kModifier) return 1;
  int n = 0;
  for (const auto& m : env_->FindFiles(name))
    if (Usable(m)) ++n;
  multiple_[i] = n > 1;
  return n > 0 ? n : 1;
}

// With no output named, the last input named after the first argument is
// the output; it keeps its forced version. A pattern that matched several
// files names inputs, never an output: then there is none.
void Parser::ApplyLastFileNameRule() {
  if (total_[kOutput] != 0 || total_[kInput] <= 1) return;
  for (int i = argc_ - 1; i >= 2; --i) {
    if (role_[i] != kInput) continue;
    if (multiple_[i]) return;
    role_[i] = kOutput;
    --total_[kInput];
    ++total_[kOutput];
    return;
  }
}

// Outputs and log files are opened for writing; none may be a file the run
// reads, and a log none of the outputs, whatever Force says. Files are
// compared as what they are, not as they are named (links, "..").
void Parser::CollectInputPaths() {
  for (int i = 1; i < argc_; ++i) {
    if (role_[i] == kOutput) {
      for (const std::string& f : OutputFiles(i)) outputIds_.insert(env_->FileIdentity(f));
      continue;
    }
    if (role_[i] != kInput && role_[i] != kModifier) continue;
    const char* name = argv_[i];
    if (Exists(name)) {
      inputIds_.insert(env_->FileIdentity(name));
      continue;
    }
    for (const auto& m : env_->FindFiles(name))
      if (Usable(m)) inputIds_.insert(env_->FileIdentity(m.name));
  }
}

// An output: none of its files may be read by the run; one that exists is
// refused, or with Force replaced once its successor is complete.
int Parser::CheckOutput(int i) {
  const std::vector<std::string> files = OutputFiles(i);
  for (const std::string& f : files) {
    if (inputIds_.count(env_->FileIdentity(f)) != 0) {
      SayName(kLevelError, kAlsoInput, i, f);
      return kFailed;
    }
  }
  for (const std::string& f : files) {
    if (!Exists(f.c_str())) continue;
    SayName(kLevelError, kOutputExists, i, f);
    if (!Force()) return Fail();
    char buf[kMaxPath];
    std::snprintf(buf, sizeof buf, "Forcing output.  Deleting pre-existing output file %.80s.\n",
                  f.c_str());
    SendMessage(msg_, kLevelWarning, buf);
  }
  return 0;
}

int Parser::SecondPass() {
  for (int i = 1; i < argc_; ++i) {
    const char* name = argv_[i];
    int rc = 0;
    switch (role_[i]) {
      case kInput:
        rc = StoreFound(i, lists_[kInput], FileKind::Unknown, true, kInputNotFound,
                        "Error: more input files found than originally detected.  "
                        "Rerun when files are stable\n");
        break;
      case kModifier:
        rc = StoreFound(i, lists_[kModifier], FileKind::Subset, false, kModifierNotFound,
                        "Error: more modifier files found than originally detected.  "
                        "Rerun when files are stable\n");
        break;
      case kOutput:
      case kLog: {
        if (role_[i] == kLog) {
          const std::string id = env_->FileIdentity(name);
          if (inputIds_.count(id) != 0) {
            Say(kLevelError, kAlsoInput, i);
            return kFailed;
          }
          if (outputIds_.count(id) != 0) {
            Say(kLevelError, kAlsoOutput, i);
            return kFailed;
          }
          rc = StoreOne(lists_[kLog], name, FileKind::LogFile, i,
                        "Error: more error logging files found than originally detected.  "
                        "Rerun when files are stable\n");
          break;
        }
        rc = CheckOutput(i);
        if (rc != 0) return rc;
        rc = StoreOne(lists_[kOutput], name, ClassifyFile(name, forced_[i]), i,
                      "Error: more output files found than originally detected.  "
                      "Rerun when files are stable\n");
        break;
      }
      default:
        break;
    }
    if (rc != 0) return rc;
  }
  return 0;
}

// An input or modifier: the file itself, else every non-empty match of the
// name as a pattern, named with the pattern's directory.
int Parser::StoreFound(int i, FileList* list, FileKind kind, bool classify, const char* notFound,
                       const char* tooMany) {
  const char* name = argv_[i];
  if (Exists(name))
    return StoreOne(list, name, classify ? ClassifyFile(name, forced_[i]) : kind, i, tooMany);
  // A pattern none of whose matches can be a table (and a name that is a
  // link to nothing) finds nothing.
  int stored = 0;
  for (const auto& m : env_->FindFiles(name)) {
    if (!Usable(m)) continue;
    if (m.name.size() >= static_cast<size_t>(kMaxPath)) {
      Say(kLevelError, kNameTooLong, i);
      return Fail();
    }
    FileKind k = classify ? ClassifyFile(m.name.c_str(), forced_[i]) : kind;
    int rc = StoreOne(list, m.name, k, i, tooMany);
    if (rc != 0) return rc;
    ++stored;
  }
  if (stored == 0) {
    Say(kLevelError, notFound, i);
    return Force() ? 0 : Fail();
  }
  return 0;
}

// Files that appear between the passes must never be stored past the lists.
int Parser::StoreOne(FileList* list, const std::string& name, FileKind kind, int i,
                     const char* tooMany) {
  if (list->count >= list->capacity) {
    SendMessage(msg_, kLevelError, tooMany);
    return kFailed;
  }
  if (name.size() >= static_cast<size_t>(kMaxPath)) {
    Say(kLevelError, kNameTooLong, i);
    return Fail();
  }
  FileEntry* e = list->entries[list->count++];
  e->kind = kind;
  std::memcpy(e->szName, name.c_str(), name.size() + 1);
  return 0;
}

}  // namespace

int ParseArgs(int argc, char** argv, MessageFn msg, UsageFn usage, FileList* inputs,
              FileList* modifiers, FileList* outputs, FileList* logs, uint32_t* flags) {
  Parser parser(argc, argv, msg, usage, flags);
  int rc = parser.Parse(inputs, modifiers, outputs, logs);
  if (rc != 0) ReleaseArgs(inputs, modifiers, outputs, logs);
  return rc;
}

FileKind ClassifyFile(const char* name, int forcedVersion) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || std::strlen(dot) != 4) return FileKind::Unknown;
  char ext[5];
  std::memcpy(ext, dot, 5);
  platform::Env::Get()->LowerCase(ext);
  bool v2 = forcedVersion == 2, v3 = forcedVersion == 3;
  if (std::strcmp(ext, ".txt") == 0)
    return v2 ? FileKind::TxtV2 : v3 ? FileKind::TxtV3 : FileKind::TxtV4;
  if (std::strcmp(ext, ".itb") == 0)
    return v2 ? FileKind::ItbV2 : v3 ? FileKind::ItbV3 : FileKind::ItbV4;
  if (std::strcmp(ext, ".rc2") == 0) return v3 ? FileKind::Rc2V3 : FileKind::Rc2V4;
  if (std::strcmp(ext, ".fil") == 0) return v3 ? FileKind::FilV3 : FileKind::FilV4;
  if (std::strcmp(ext, ".itr") == 0) return v3 ? FileKind::ItrV3 : FileKind::ItrV4;
  return FileKind::Unknown;
}

void ReleaseArgs(FileList* inputs, FileList* modifiers, FileList* outputs, FileList* logs) {
  Release(inputs);
  Release(modifiers);
  Release(outputs);
  Release(logs);
}

void ShowUsage(const char* programPath) {
  std::string prog =
      programPath ? platform::Env::Get()->SplitPath(programPath).base : std::string();
  const char* p = prog.c_str();
  std::printf(
      "Usage:\n"
      "%s  [options] fname1 ... fnameN\n"
      "Combine and Convert between various Table formats.\n"
      "  Last filename specified defaults to the output file.\n"
      "  Wildcards are accepted for input filenames\n"
      "  All input files are read in, then modifications done, \n"
      "  then output is generated.\n"
      "Valid Filetypes:\n"
      "  Input files may be of type .itb, .itr, .txt, .rc2, or .fil.\n"
      "  Modifier files may be of type .txt\n"
      "  Output files may be of type .itb, .itr, .txt, or .rc2\n"
      "Valid Options:\n"
      "  /n fname   - Force table version N (eg. 2, 3, where valid)\n"
      "  /e fname   - Specify log filename\n"
      "  /l fname   - Specify log filename\n"
      "  /s fname   - Specify subset file\n"
      "  /i fname   - force file as input (must still have an output file)\n"
      "  /o fname   - force file as output\n"
      "  /?, /h     - Display this help\n"
      "  /q         - Quiet mode\n"
      "  /v         - Verbose mode\n"
      "Sample usage:  \n"
      "  %s tableold.itb *.fil tablenew.itb\n"
      "    Generate a new table from old, plus all table info in .fil files\n"
      "  %s table.txt table.itb\n"
      "    Convert from TXT table format to ITB table format\n"
      "  %s tableold.itb /s subset.txt tablenew.itb\n"
      "    read in tableold, subset according to subset.txt, and write out tablenew\n"
      "\n",
      p, p, p, p);
  std::fflush(stdout);
}
