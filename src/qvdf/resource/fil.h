// The module form: a text table carried as the RCDATA resource
// "_ZELM_ITB_TABLE_" of a Windows module, read as data (never run).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qvdf/text/getvalue.h"
#include "qvutil/types.h"

// One module input: the resource's bytes and the read position.
class FilInput : public LineSource {
 protected:
  // The next line of the resource data without its CR LF: 1, or 0 at the
  // first zero byte, at the end of the resource, or when the data ends
  // without a line feed.
  int NextLine(std::string_view* line, MessageFn msg) override;

 private:
  friend int OpenFilInput(FilInput* f, int version, const char* name, MessageFn msg);
  friend int CloseFilInput(FilInput* f, const char* name, MessageFn msg);
  void Release();

  std::vector<char> data_;
  size_t end_ = 0;  // first zero byte, or the resource's size
  size_t pos_ = 0;
  bool open_ = false;
  std::string line_;  // the line handed out last
};

// 0, with the reader state started afresh; 9 when the file is missing; 4
// when it is not a module, is damaged or lacks the resource (no message).
int OpenFilInput(FilInput* f, int version, const char* name, MessageFn msg);
// Releases the resource data. Always 0.
int CloseFilInput(FilInput* f, const char* name, MessageFn msg);
