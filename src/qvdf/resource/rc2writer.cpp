// The resource-script writer: the table is first written as a text table
// into a temporary file, which is then converted line by line into the
// script and removed.
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "qvdf/resource/rc2.h"
#include "qvdf/resource/rc2line.h"
#include "qvdf/text/lineread.h"
#include "qvdf/text/txtwriter.h"
#include "qvutil/options.h"
#include "qvutil/writebehind.h"

namespace {

constexpr int kErrWriteTarget = 4006;
constexpr int kErrBadLine = 4;
constexpr char kModule[] = "qvdf\\rc2writer";
constexpr char kEnabledPrefix[] = "ENABLEDPRODUCTS=";
constexpr size_t kEnabledPrefixLength = sizeof(kEnabledPrefix) - 1;
// Output is written in pieces of about this size.
constexpr size_t kFlushSize = 1024 * 1024;

// One script output at a time: the temporary text table and its version.
struct WriterState {
  std::string tempPath;
  int version = 4;
};
WriterState& Writer() {
  static WriterState state;
  return state;
}

void Send(MessageFn msg, const std::string& text) { SendMessage(msg, kLevelError, text.c_str()); }

void RemoveTemp() {
  WriterState& w = Writer();
  if (!w.tempPath.empty()) platform::Env::Get()->RemoveFile(w.tempPath);
  w.tempPath.clear();
}

// Pending script output: a fixed buffer with room for a chunk and one more
// line of the longest kind, so a line is encoded straight into it.
class ScriptOut {
 public:
  ScriptOut() : buf_(new char[kCapacity]), cap_(kCapacity) {}
  size_t size() const { return used_; }
  void Append(std::string_view s) {
    std::memcpy(buf_.get() + used_, s.data(), s.size());
    used_ += s.size();
  }
  void AppendLine(std::string_view txtLine) {
    used_ = static_cast<size_t>(EncodeRc2ScriptLine(txtLine, buf_.get() + used_) - buf_.get());
  }
  // Sends everything pending to be written behind; false when an earlier
  // write put out fewer bytes.
  bool Flush(platform::FileHandle dst) {
    if (used_ == 0) return true;
    bool ok = behind_.Pass(dst, &buf_, &cap_, used_);
    used_ = 0;
    if (!buf_) {
      buf_.reset(new char[kCapacity]);
      cap_ = kCapacity;
    }
    return ok;
  }
  // Writes everything and waits; false when any write put out fewer bytes.
  bool Finish(platform::FileHandle dst) {
    bool ok = Flush(dst);
    return behind_.Wait() && ok;
  }

  // Room for the chunk, the longest line and everything written after the
  // last line: the closing lines, a suffix and the enabled products line.
  static constexpr size_t kCapacity = kFlushSize + Rc2ScriptRoom(kMaxLineLength) + 1024;

 private:
  std::unique_ptr<char[]> buf_;
  size_t cap_;
  size_t used_ = 0;
  WriteBehind behind_;
};

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

int OpenRc2Output(int version, const char* name, MessageFn msg) {
  (void)name;
  platform::Env* env = platform::Env::Get();
  RemoveTemp();
  std::string dir = env->TempDirectory();
  if (dir.empty()) return -1;
  std::string path;
  // The exclusive file is kept and opened again with truncation, so that no
  // other process can take its name in between.
  if (env->CreateUniqueFile(dir, "TXT", &path, nullptr) != 0) return -1;
  WriterState& w = Writer();
  w.tempPath = path;
  w.version = version;
  if (OpenTxtOutput(version, path.c_str(), msg) != 0) {
    RemoveTemp();
    return -1;
  }
  return 0;
}

void AbandonRc2Output() {
  AbandonTxtOutput();
  RemoveTemp();
}

int FinishRc2Output(const char* name, MessageFn msg, Rc2Carry* carry) {
  WriterState& w = Writer();
  const std::string temp = w.tempPath;
  platform::FileHandle src = platform::kInvalidHandle;
  platform::FileHandle dst = platform::kInvalidHandle;
  int code = 0;

  int rc = FinishTxtOutput(temp.c_str(), msg);
  if (rc != 0) {
    std::ostringstream text;
    text << "Unable to complete intermediate file " << temp << " Error Code=" << rc;
    Send(msg, text.str());
    code = rc;
  }
  int status = 0;
  if (code == 0) {
    code = OpenFileMode(temp.c_str(), kModeRead, &status, &src, kModule, __LINE__);
    if (code != 0) Send(msg, "Unable to open file " + temp);
  }
  if (code == 0) {
    code = OpenFileMode(name, kModeWrite, &status, &dst, kModule, __LINE__);
    if (code != 0) Send(msg, std::string("Unable to open file ") + name);
  }
  if (code == 0) {
    code = ConvertTxtToRc2(src, dst, w.version, msg, carry);
    if (code != 0) {
      std::ostringstream text;
      text << "Failure to convert from Txt to Rc2, error= " << code;
      Send(msg, text.str());
    }
  }

  if (code == 0) {
    CloseWithReport(src, "source", msg);
    CloseWithReport(dst, "target", msg);
    RemoveTemp();
    return 0;
  }
  std::ostringstream text;
  text << "Processing aborted due to error code " << code;
  Send(msg, text.str());
  if (src != platform::kInvalidHandle) CloseFileHandle(src, kModule, __LINE__);
  if (dst != platform::kInvalidHandle) CloseFileHandle(dst, kModule, __LINE__);
  RemoveTemp();
  return -1;
}

int ConvertTxtToRc2(platform::FileHandle src, platform::FileHandle dst, int version,
                    MessageFn msg, const Rc2Carry* carry) {
  const std::string suffix = UpperSuffix(carry);
  ScriptOut out;
  out.Append(kTableResourceName);
  out.Append(suffix);
  out.Append(" RCDATA BEGIN\r\n");

  TextInput in(src);
  std::string_view line;  // in the reader's buffer: copied only into the script
  std::string enabled;
  bool ok = true;
  for (;;) {
    int r = ReadTextView(&in, &line);
    if (r == kLineNone) break;
    if (r == kLineTooLong) {
      SendMessage(msg, kLevelError, "***ERROR: Line too long");
      return kErrBadLine;
    }
    if (line.compare(0, kEnabledPrefixLength, kEnabledPrefix) == 0) {
      size_t end = line.find_first_of("\r\n");
      if (end == std::string_view::npos) end = line.size();
      enabled.assign(line, kEnabledPrefixLength, end - kEnabledPrefixLength).append("\r\n");
    }
    out.AppendLine(line);
    if (out.size() >= kFlushSize && !out.Flush(dst)) {
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
    ok = out.Finish(dst);
  }
  if (!ok) {
    SendMessage(msg, kLevelError, "Failure writing target rc2 file ");
    return kErrWriteTarget;
  }
  return 0;
}
