// The text-table reader: a .txt input, and ReadTxtTable, which reads the
// records of a text table through any value source (text file, resource
// script, module) into a table.
#pragma once

#include <string_view>

#include "platform/platform.h"
#include "qvdf/store/tabledb.h"
#include "qvdf/text/getvalue.h"
#include "qvutil/fileio.h"
#include "qvutil/types.h"

// A .txt input: its lines through the shared value getter.
class TxtInput : public LineSource {
 public:
  // Opens a .txt of version 2, 3 or 4 with the reader state started
  // afresh: 0, or 9 after "File \"name\" not found." or "Unable to open
  // file name". The file is closed when the TxtInput goes.
  friend int OpenTxtInput(TxtInput* in, int version, const char* name, MessageFn msg);
  // Closes the file; always 0 ("Error c closing name" when that failed).
  friend int CloseTxtInput(TxtInput* in, const char* name, MessageFn msg);

 protected:
  // A line longer than kMaxLineLength fails the read after "***ERROR: Line
  // too long"; a 0x1A at the start of a line ends the input. The first line
  // with a line end sets the file's convention: after a CR LF line, a line
  // that ends in LF alone is handed out without its LF; a first line that
  // ends in LF alone keeps its LF (as every such line does) and sends
  // kLfWarning once.
  int NextLine(std::string_view* line, MessageFn msg) override;

 public:
  // Lines of the file read so far (a warning about a line counts it).
  uint64_t LineNumber() const override { return in_.count(); }

 private:
  enum class LineEnds { kUnknown, kCrLf, kLf };

  platform::File file_;
  LineReader in_;
  bool ended_ = false;
  bool failed_ = false;
  LineEnds ends_ = LineEnds::kUnknown;
};

// Sent (level 80) for a .txt input whose first line ends in LF alone.
inline constexpr char kLfWarning[] =
    "***WARNING: Text tables need CR LF line ends; the lines of this file end in LF alone";

int OpenTxtInput(TxtInput* in, int version, const char* name, MessageFn msg);
int CloseTxtInput(TxtInput* in, const char* name, MessageFn msg);

// Reads every block through src into db, adding or replacing records: 0; a
// record reader's nonzero result; -1 when the source failed; or 4 for a
// missing block line. Every stop ends with "Processing aborted due to error
// code " + the result (0 for a missing block line).
int ReadTxtTable(TableDb* db, ValueSource& src, MessageFn msg);
// The same through a plain getter, read as a table of `version`.
int ReadTxtTable(TableDb* db, GetValueFn getter, int version, MessageFn msg);

// Record readers, each for one group of lines. 0 on success; -1 after a
// level-100 message for a bad or missing value; a store code after its
// "***ERROR: code " message when deleting the old or adding the new record
// failed; the character-map reader returns 12, silently, when its buffer
// cannot be had.
int QVTBUGetText3System(TableDb* db, ValueSource& src, MessageFn msg);
// Reads SECTION line i into section i of rec, whose buffer holds it: 0 or -1.
int QVTBUGetText3Section(SystemRecord* rec, int i, ValueSource& src, MessageFn msg);
int QVTBUGetText3FieldList(TableDb* db, ValueSource& src, MessageFn msg);
// Reads FIELD line j of its list into f: 0 or -1.
int QVTBUGetText3Field(int j, FieldRecord* f, ValueSource& src, MessageFn msg);
int QVTBUGetText3FieldMap(TableDb* db, ValueSource& src, MessageFn msg);
int QVTBUGetText3CharMap(TableDb* db, ValueSource& src, MessageFn msg);
