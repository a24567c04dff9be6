// The resource-script writer: the table is first written as a text table
// into a temporary file, which is then converted line by line into the
// script and removed.
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/text/txtwriter.h"
#include "qvutil/fileio.h"
#include "qvutil/options.h"
#include "qvutil/status.h"

namespace {

constexpr char kModule[] = "qvdf\\rc2writer";
constexpr char kEnabledPrefix[] = "ENABLEDPRODUCTS=";
constexpr size_t kEnabledPrefixLength = sizeof(kEnabledPrefix) - 1;

void Send(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

// The carry's suffix, bounded and upper-cased.
std::string UpperSuffix(const Rc2Carry* carry) {
  char suffix[sizeof(carry->szSuffix) + 1] = {};
  if (carry) std::memcpy(suffix, carry->szSuffix, sizeof(carry->szSuffix));
  platform::Env::Get()->UpperCase(suffix);
  return suffix;
}

void CloseWithReport(platform::FileHandle h, const char* what, MessageFn msg) {
  int rc = CloseFileHandle(h, kModule, __LINE__);
  if (rc != 0) {
    std::ostringstream text;
    text << "Unable to close " << what << " file, RC = " << rc;
    Send(msg, text.str());
  }
}

}  // namespace

void Rc2Output::RemoveTemp() {
  if (!tempPath_.empty()) platform::Env::Get()->RemoveFile(tempPath_);
  tempPath_.clear();
}

int OpenRc2Output(Rc2Output* w, int version, const char* name, MessageFn msg) {
  platform::Env* env = platform::Env::Get();
  w->RemoveTemp();
  std::string dir = env->TempDirectory();
  if (dir.empty()) return kFailed;
  std::string path;
  // The exclusive file is kept and opened again with truncation, so that no
  // other process can take its name in between.
  if (env->CreateUniqueFile(dir, "TXT", &path, nullptr) != 0) return kFailed;
  w->tempPath_ = path;
  w->version_ = version;
  platform::PathParts shown = env->SplitPath(name);
  shown.ext = ".txt";
  if (OpenTxtOutput(&w->text_, version, env->JoinPath(shown).c_str(), path.c_str(), msg) != 0) {
    w->RemoveTemp();
    return kFailed;
  }
  return 0;
}

void AbandonRc2Output(Rc2Output* w) {
  AbandonTxtOutput(&w->text_);
  w->RemoveTemp();
}

int FinishRc2Output(Rc2Output* w, const char* name, const char* path, MessageFn msg,
                    Rc2Carry* carry) {
  if (!path) path = name;
  const std::string temp = w->tempPath_;
  platform::File src, dst;
  int code = 0;

  int rc = FinishTxtOutput(&w->text_, temp.c_str(), msg);
  if (rc != 0) {
    std::ostringstream text;
    text << "Unable to complete intermediate file " << temp << " Error Code=" << rc;
    Send(msg, text.str());
    code = rc;
  }
  int status = 0;
  platform::FileHandle h = platform::kInvalidHandle;
  if (code == 0) {
    code = OpenFileMode(temp.c_str(), kModeRead, &status, &h, kModule, __LINE__);
    src = platform::File(h);
    if (code != 0) Send(msg, "Unable to open file " + temp);
  }
  if (code == 0) {
    code = OpenFileMode(path, kModeWrite, &status, &h, kModule, __LINE__);
    dst = platform::File(h);
    if (code != 0) Send(msg, std::string("Unable to open file ") + name);
  }
  if (code == 0) {
    code = ConvertTxtToRc2(src.get(), dst.get(), w->version_, msg, carry);
    if (code != 0) {
      std::ostringstream text;
      text << "Failure to convert from Txt to Rc2, error= " << code;
      Send(msg, text.str());
    }
  }

  if (code == 0) {
    CloseWithReport(src.release(), "source", msg);
    CloseWithReport(dst.release(), "target", msg);
    w->RemoveTemp();
    return 0;
  }
  std::ostringstream text;
  text << "Processing aborted due to error code " << code;
  Send(msg, text.str());
  src.Close();
  dst.Close();
  w->RemoveTemp();
  return kFailed;
}

int ConvertTxtToRc2(platform::FileHandle src, platform::FileHandle dst, int version, MessageFn msg,
                    const Rc2Carry* carry) {
  const std::string suffix = UpperSuffix(carry);
  OutputBuffer out;
  out.Start(dst);
  out.Append(kTableResourceName);
  out.Append(suffix);
  out.Append(" RCDATA BEGIN\r\n");

  LineReader in(src);
  std::string_view line;  // in the reader's buffer: copied only into the script
  std::string enabled;
  bool ok = true;
  for (;;) {
    int r = in.Next(&line);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      SendMessage(msg, kLevelError, "***ERROR: Line too long");
      return kErrBadFormat;
    }
    if (line.compare(0, kEnabledPrefixLength, kEnabledPrefix) == 0) {
      size_t end = line.find_first_of("\r\n");
      if (end == std::string_view::npos) end = line.size();
      enabled.assign(line, kEnabledPrefixLength, end - kEnabledPrefixLength).append("\r\n");
    }
    out.Commit(EncodeRc2ScriptLine(line, out.Room(Rc2ScriptRoom(line.size()))));
    if (!out.FlushIfFull()) {
      ok = false;
      break;
    }
  }
  if (ok) {
    out.Append("0,\r\nEND\r\n");
    if (version > 3) {
      out.Append(kEnabledProductsResourceName);
      out.Append(suffix);
      out.Append(" RCDATA BEGIN\r\n");
      out.Append(enabled);
      out.Append("0,0,0,0\r\nEND\r\n");
    }
    ok = out.Finish();
  }
  if (!ok) {
    SendMessage(msg, kLevelError, "Failure writing target rc2 file ");
    return kErrScriptWrite;
  }
  return 0;
}
