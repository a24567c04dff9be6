// The resource-script form: a text table carried as the string literals of
// an RCDATA resource. The writer converts a temporary text table line by
// line; the reader turns the literals back into text lines for ReadTxtTable.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/text/getvalue.h"
#include "qvdf/text/txtwriter.h"
#include "qvutil/fileio.h"
#include "qvutil/types.h"

// Resource names; the carry's suffix is appended to both, upper-cased.
constexpr const char kTableResourceName[] = "_ZELM_ITB_TABLE_";
constexpr const char kEnabledProductsResourceName[] = "_ZELM_ITB_ENABLED_PRODUCTS_";

// One script output: the temporary text table it is made from. Steps:
// OpenRc2Output, then WriteTxtTable on text(), then FinishRc2Output (or
// AbandonRc2Output when WriteTxtTable failed).
class Rc2Output {
 public:
  ~Rc2Output() { RemoveTemp(); }
  TxtOutput* text() { return &text_; }

 private:
  friend int OpenRc2Output(Rc2Output* w, int version, const char* name, MessageFn msg);
  friend int FinishRc2Output(Rc2Output* w, const char* name, const char* path, MessageFn msg,
                             Rc2Carry* carry);
  friend void AbandonRc2Output(Rc2Output* w);
  void RemoveTemp();

  TxtOutput text_;
  std::string tempPath_;
  int version_ = 4;
};

// 0 with a temporary text table open, or -1 (no temporary name, or the text
// output could not be opened; nothing is left behind). The text table calls
// itself after the output `name` with the extension ".txt", so that a
// script names no temporary file.
int OpenRc2Output(Rc2Output* w, int version, const char* name, MessageFn msg);
// Finishes the temporary text table and converts it into the output `name`,
// written to `path` (name when null). 0, or -1 after "Processing aborted
// due to error code ". The temporary file is removed either way.
int FinishRc2Output(Rc2Output* w, const char* name, const char* path, MessageFn msg,
                    Rc2Carry* carry);
// Closes the temporary text table after a failed WriteTxtTable and removes it.
void AbandonRc2Output(Rc2Output* w);
// Converts the text table open on `src` into the script open on `dst`; a
// version above 3 adds the enabled-products resource. 0; 4006 after
// "Failure writing target rc2 file "; 4 after "***ERROR: Line too long".
int ConvertTxtToRc2(platform::FileHandle src, platform::FileHandle dst, int version, MessageFn msg,
                    const Rc2Carry* carry);

// One script input: the literals of its table resource as text lines.
class Rc2Input : public LineSource {
 protected:
  // The next decoded line: 1; 0 at the "0," line or at the end of the file
  // ("Premature end of source rc2 file ", sent again by every read at the
  // end); -1 for a raw line longer than the line limit ("***ERROR: Line too
  // long"). After the "0," line or -1 every call returns 0.
  int NextLine(std::string_view* line, MessageFn msg) override;

 public:
  // Lines of the script, its header included.
  uint64_t LineNumber() const override { return in_.count(); }

 private:
  friend int OpenRc2Input(Rc2Input* r, int version, const char* name, MessageFn msg,
                          Rc2Carry* carry);
  friend int CloseRc2Input(Rc2Input* r, const char* name, MessageFn msg);
  int ScanHeader(const char* name, MessageFn msg, Rc2Carry* carry);

  platform::File file_;
  LineReader in_;
  std::string line_;    // the decoded line handed out last
  bool ended_ = false;  // end of data seen; nothing more is read
  bool atEnd_ = false;  // the file ended before the end of data
  int failure_ = 0;     // what CloseRc2Input reports
};

// 0, with the reader state started afresh; 4 for a resource-name suffix
// longer than 127 characters or a header line too long; 6 when no
// "RCDATA ... BEGIN" is found; 9 when the file is missing or cannot be
// opened. Empties the carry, then stores the suffix found after
// "_zelm_itb_table_" (lower case).
int OpenRc2Input(Rc2Input* r, int version, const char* name, MessageFn msg, Rc2Carry* carry);
// 0; 6 when the script ended before its "0," line; 4 after a line too long.
int CloseRc2Input(Rc2Input* r, const char* name, MessageFn msg);
