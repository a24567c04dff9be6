// Wildcard matching with one backtrack point per '*': linear in practice,
// never exponential, whatever the pattern.
#include "platform/wildcard.h"

namespace platform {

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0;
  size_t star = std::string::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace platform
