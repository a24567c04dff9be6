// The text-table writer: writes a table as a text table of version 2, 3 or 4
// with its comment and warning lines, CR LF line ends. Three steps, each on
// one TxtOutput: open, write the table, finish (or abandon after a failed
// write).
#pragma once

#include <memory>

#include "qvdf/store/tabledb.h"
#include "qvutil/types.h"

namespace txtw {
class Writer;
}

// One text output; the file is closed when it goes.
class TxtOutput {
 public:
  TxtOutput();
  ~TxtOutput();
  TxtOutput(const TxtOutput&) = delete;
  TxtOutput& operator=(const TxtOutput&) = delete;
  txtw::Writer& writer() { return *w_; }

 private:
  std::unique_ptr<txtw::Writer> w_;
};

// Opens the output `name` (written to `path`, or to name when path is null;
// the file's first line and the messages name it `name`). 0, or 9 when the
// file cannot be created ("Unable to open file name").
int OpenTxtOutput(TxtOutput* out, int version, const char* name, const char* path, MessageFn msg);
// 0, or the code of the first failure.
int WriteTxtTable(TableDb* db, TxtOutput* out, MessageFn msg);
// 0, or 6 when a write or the close failed ("Error writing ").
int FinishTxtOutput(TxtOutput* out, const char* name, MessageFn msg);
// Closes the file after a failed write, without claiming success.
void AbandonTxtOutput(TxtOutput* out);
