// Localised names of a table held apart from the rest of it. A split turns
// a resource script into a keyed script (.itf) in which every system,
// section and field name is replaced by a "LOCALIZED_" key, and a string
// table (.itr) that gives each key its text; a merge puts the two back
// together. Both report on the standard error stream: they run inside
// conversions that have no message callback of their own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "qvdf/resource/keytable.h"
#include "qvdf/resource/split.h"
#include "qvdf/resource/textfile.h"
#include "qvutil/types.h"

// Helpers shared by the two families.
namespace localized {
// Makes a new, empty temporary file with `prefix` in the temporary
// directory. True with *path, or false after a message on `warn`.
bool MakeTempFile(const char* prefix, std::FILE* warn, std::string* path);
// The line without its line end, for messages.
std::string_view Shown(std::string_view line);
// The lead bytes of the code page, looked up once per run rather than once
// per byte.
struct LeadBytes {
  bool is[256] = {};
  bool any = false;  // false for a single-byte code page
  void Load();
};
// Position of pat in s from `from`, stepping over double-byte characters;
// npos when absent.
size_t Find(const LeadBytes& lead, std::string_view s, std::string_view pat, size_t from = 0);
// True when the line's text after its opening quote begins with keyword.
inline bool IsKeywordLine(std::string_view line, std::string_view keyword) {
  return line.size() > keyword.size() && line.compare(1, keyword.size(), keyword) == 0;
}

// Warnings gathered and written in large pieces: the standard error stream
// is unbuffered, and a split may warn about thousands of lines. The owner
// flushes before anything else is written to the same stream.
class WarningQueue {
 public:
  // Appends s up to its first NUL, as "%s" prints it.
  void Add(std::string_view s);
  // Ends a warning with a line end; writes the queue out once it is large.
  void End(std::FILE* f);
  // Writes out everything queued.
  void Flush(std::FILE* f);

 private:
  std::string text_;
};
}  // namespace localized

// A field key's byte for each plain byte: an ASCII byte that begins a
// character, kept, upper-cased or made "_"; NUL for every other byte.
struct FieldKeyBytes {
  char to[256] = {};
  void Load(const localized::LeadBytes& lead);
};

// Names, open files and two flags; both converter families embed one.
struct FileSet {
  static constexpr int kSlots = 6;
  std::string names[kSlots];  // the files opened
  std::string shown[kSlots];  // what messages call them, when not their names
  const std::string& Shown(int i) const { return shown[i].empty() ? names[i] : shown[i]; }
  TextFile files[kSlots];
  uint32_t flags[2] = {0, 0};

  // Closes every open file. True when every write and close succeeded;
  // each file that failed is named on `warn`.
  bool CloseAll(std::FILE* warn);
};

// Calls the table converter that the caller handed in.
class TableConverter {
 public:
  explicit TableConverter(ConvertFn fn) : fn_(fn) {}
  virtual ~TableConverter() = default;
  // True when `in` was converted into `out`; false on failure or without a
  // converter.
  bool Run(const std::string& in, FileKind inKind, const std::string& out, FileKind outKind,
           const std::string& shownAs = std::string()) const {
    return fn_ != nullptr && fn_(in.c_str(), inKind, out.c_str(), outKind,
                                 shownAs.empty() ? nullptr : shownAs.c_str());
  }

 private:
  ConvertFn fn_;
};

// Section type names, by the type number of a script line; null outside 0-9.
const char* SectionTypeName(std::string_view type);

// The split of a resource script into the .itf and .itr files. Slot 0 holds
// the script to split, slot 2 the .itf, slot 3 the .itr.
class SplitConverter {
 public:
  explicit SplitConverter(ConvertFn convert) : converter_(convert) {}
  // Closes the files and removes the temporary script.
  virtual ~SplitConverter();

  // Takes the names, and the files the .itf and .itr are written to (their
  // names when empty). When the kinds differ, the script is a new temporary
  // file and `source` the table it is converted from; the script calls
  // itself after the .itf. True, or false when no temporary file could be
  // made (reported).
  virtual bool Prepare(const std::string& source, const std::string& itfName,
                       const std::string& itrName, const std::string& itfPath = std::string(),
                       const std::string& itrPath = std::string());
  // Opens the script for reading, then the .itf and .itr for writing. 1, or
  // 0 after "Error opening %s file.\n".
  virtual int OpenFiles();
  // Converts the table into the script when the kinds differ. True, or
  // false after "Error converting from %s to %s.\n".
  virtual bool Convert();
  // Closes every file. True, or false when a write or close failed (named).
  virtual bool CloseFiles();
  // Writes the .itf and .itr from the script. True, or false when the
  // script could not be read to its end or a write failed.
  virtual bool Split() = 0;

  void SetKinds(FileKind source, FileKind intermediate) {
    sourceKind_ = source;
    intermediateKind_ = intermediate;
  }
  // Where warnings go (the standard error stream unless a test says else).
  void SetWarningStream(std::FILE* f) { warn_ = f; }

 protected:
  // Writes the .itr line of key and text; warns when the key was emitted
  // before with another text.
  void EmitString(std::string_view key, std::string_view text);
  // Sends the current line to the .itf with the name from nameAt up to
  // restAt replaced by the quoted key.
  void WriteKeyed(size_t nameAt, std::string_view key, size_t restAt);
  // Sends the current line unchanged to the .itf.
  void PassLine();
  // Sends the current line unchanged to the .itf with a warning.
  void PassLine(const char* warning);

  FileSet files_;
  std::string_view line_;  // the current line, in the script's read buffer
  std::string systemKey_;
  std::string sectionType_;
  std::string sectionNumber_;
  std::string key_;  // the key being built
  FileKind sourceKind_ = FileKind::ItbV4;
  FileKind intermediateKind_ = FileKind::Rc2V4;
  std::string tableFile_;
  TableConverter converter_;
  std::string tempScript_;  // made by Prepare, removed by the destructor
  KeyTable emitted_;        // each key written, with its first text
  std::string out_;         // the .itr line being built
  localized::LeadBytes lead_;
  FieldKeyBytes keyBytes_;
  localized::WarningQueue warnings_;
  std::FILE* warn_ = stderr;
};

class LocalizedSplitter : public SplitConverter {
 public:
  using SplitConverter::SplitConverter;
  ~LocalizedSplitter() override = default;
  bool Split() override;

 private:
  void SplitSystem();
  void SplitSection();
  void SplitField();
  // Warns that the name of the key just written is long.
  void LengthWarning(const char* what, std::string_view name);

  // The mapped start of the field keys of the current list, made again
  // when its system, section or type changes; plain when it is ASCII only.
  std::string fieldPrefix_;
  bool prefixStale_ = true;
  bool prefixPlain_ = false;
};

// The merge of an .itf and .itr pair into a resource script. Slot 0 holds
// the .itf, slot 1 the .itr, slot 2 the script being built; flags 0 and 1
// note an .itf or .itr that could only be opened for reading.
class MergeConverter {
 public:
  explicit MergeConverter(ConvertFn convert) : converter_(convert) {}
  // Runs Cleanup.
  virtual ~MergeConverter();

  // The default attribute text of "@IGNORE_LOCAL@" fields: 0X1200000.
  virtual void SetDefaultAttr();
  // Closes every file, removes the temporary script when there is one and
  // forgets the strings.
  virtual void Cleanup();
  // Takes the names. When the kinds differ, the script is a new temporary
  // file and `target` the table it becomes. True, or false when no
  // temporary file could be made (reported).
  virtual bool Prepare(const std::string& itfName, const std::string& itrName,
                       const std::string& target);
  // Opens the .itf and .itr (for reading only when they cannot be written,
  // with level-20 messages) and the script for writing. 1; 16 when the .itf
  // or .itr is read-only; 0 after "Error opening %s file for read-only.\n"
  // or "Error opening %s file.\n".
  virtual int OpenFiles(MessageFn msg);
  // Converts the script into the target when the kinds differ. True, or
  // false after "Error converting from %s to %s.\n".
  virtual bool Convert();
  // Closes every file. True, or false when a write or close failed (named).
  virtual bool CloseFiles();
  // Reads the .itr into the string map. 1, or 0 when it could not be read
  // to its end.
  virtual int LoadStrings();
  // True with the text of the first entry with exactly this key; false
  // when there is none.
  virtual bool FindString(std::string_view key, std::string_view* text) const;
  // Takes the key of the current system, section or field line as the
  // current key: the "LOCALIZED_" text that begins its name subfield (after
  // a "" pair, when there is one) up to a quote or the subfield's end. Its
  // length, or -1 when the line holds none there.
  virtual int ExtractKey();
  // Writes the current line unchanged to the script.
  virtual void CopyLine();
  // Writes the script from the .itf and the strings; a key the strings lack
  // stays as the name, with "WARNING MISSING KEY: " and the key (once per
  // key). True, or false when the .itf could not be read to its end, a
  // write failed, or a text holds a comma ("Error: the text of %s holds a
  // comma.\n").
  virtual bool Merge() = 0;
  // The keys of the .itf that the .itr lacks, each counted once.
  size_t MissingKeys() const { return missing_.size(); }

  void SetKinds(FileKind source, FileKind target) {
    sourceKind_ = source;
    targetKind_ = target;
  }
  void SetWarningStream(std::FILE* f) { warn_ = f; }

 protected:
  std::string_view line_;   // the current line, in the .itf's read buffer
  std::string_view key_;    // within line_
  bool keyQuoted_ = false;  // a "" pair stands right before key_
  size_t nameAt_ = 0;       // where key_'s subfield begins in line_
  size_t restAt_ = 0;       // the "," that ends it
  std::unordered_set<std::string> missing_;
  FileSet files_;
  KeyTable strings_;  // key -> the text of its first entry
  FileKind sourceKind_ = FileKind::Rc2V4;
  FileKind targetKind_ = FileKind::ItbV4;
  std::string target_;
  TableConverter converter_;
  std::string defaultAttr_;
  std::string tempScript_;
  localized::LeadBytes lead_;
  localized::WarningQueue warnings_;
  std::FILE* warn_ = stderr;
};

class LocalizedMerger : public MergeConverter {
 public:
  using MergeConverter::MergeConverter;
  ~LocalizedMerger() override = default;
  bool Merge() override;
};
