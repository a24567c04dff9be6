// The read, modifier and write dispatchers and the file-to-file converter.
#include "driver/dispatch.h"

int ReadTableFile(const char*, TableDb*, const char*, FileKind, MessageFn, uint32_t, Rc2Carry*) {
  return 51;
}
int ApplyModifierFile(const char*, TableDb*, const char*, FileKind, MessageFn, uint32_t) {
  return 0;
}
int WriteTableFile(const char*, TableDb*, const char*, FileKind, MessageFn, uint32_t, Rc2Carry*) {
  return 51;
}
bool ConvertTableFile(const char*, FileKind, const char*, FileKind) { return false; }
void StderrMessageFn(int, const char*) {}
