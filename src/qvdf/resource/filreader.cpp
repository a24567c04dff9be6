// The module reader: takes the table resource out of a module (by its full
// path, as data; nothing in it is run) and hands its lines to ReadTxtTable.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qvdf/resource/fil.h"
#include "qvdf/resource/linevalue.h"
#include "qvdf/resource/rc2.h"

namespace {

constexpr int kErrBadFormat = 4;
constexpr int kErrNotFound = 9;
constexpr int kResourceTypeRcdata = 10;

// One module input at a time: the resource's bytes and the read position.
struct FilState {
  std::vector<char> data;
  size_t end = 0;  // first zero byte, or the resource's size
  size_t pos = 0;
  bool open = false;
  std::string line;  // the line the cursor sees
  LineCursor cursor;
};
FilState& Fil() {
  static FilState state;
  return state;
}

void Release(FilState& f) {
  f.data.clear();
  f.data.shrink_to_fit();
  f.end = 0;
  f.pos = 0;
  f.open = false;
  f.cursor = LineCursor();
}

int NextFilLine(std::string_view* line, bool* plain, MessageFn) {
  FilState& f = Fil();
  int got = ReadFilLine(&f.line);
  *line = f.line;
  *plain = false;
  return got;
}

}  // namespace

int OpenFilInput(int version, const char* name, GetValueFn* getter, MessageFn msg) {
  FilState& f = Fil();
  Release(f);
  platform::Env* env = platform::Env::Get();
  platform::FileAttributes attrs;
  if (!env->GetAttributes(name, &attrs)) {
    SendMessage(msg, kLevelError, (std::string("File \"") + name + "\" not found.").c_str());
    return kErrNotFound;
  }
  // By full path, so that no other module of that name is picked up.
  std::string path = env->AbsolutePath(name);
  std::vector<char> data;
  if (env->LoadModuleResource(path, kTableResourceName, kResourceTypeRcdata, &data) != 0)
    return kErrBadFormat;
  f.data = std::move(data);
  const void* zero = f.data.empty() ? nullptr : std::memchr(f.data.data(), '\0', f.data.size());
  f.end = zero ? static_cast<size_t>(static_cast<const char*>(zero) - f.data.data()) : f.data.size();
  f.open = true;
  BeginTxtInput(version);
  *getter = GetFilValue;
  return 0;
}

int ReadFilLine(std::string* line) {
  FilState& f = Fil();
  if (!f.open) return 0;
  const size_t i = f.pos;
  // A line counts only once its LF is read; text after the last LF is not
  // delivered, and the position stays at the end of the data.
  const void* hit = i < f.end ? std::memchr(f.data.data() + i, '\n', f.end - i) : nullptr;
  if (!hit) {
    f.pos = f.end;
    return 0;
  }
  size_t lf = static_cast<size_t>(static_cast<const char*>(hit) - f.data.data());
  line->clear();
  for (size_t k = i; k < lf; ++k)
    if (f.data[k] != '\r') line->push_back(f.data[k]);
  f.pos = lf + 1;
  return 1;
}

int GetFilValue(const char* key, char* buf, int size, MessageFn msg) {
  return GetLineValue(&Fil().cursor, NextFilLine, key, buf, size, msg);
}

int CloseFilInput(const char* name, MessageFn msg) {
  (void)name;
  (void)msg;
  Release(Fil());
  return 0;
}
