// Matching a file name against a pattern of '*' (any run of characters) and
// '?' (any one character); every other character stands for itself, so
// brackets and backslashes in names need no escaping.
#pragma once

#include <string>

namespace platform {

// true when name matches pattern as a whole; false otherwise.
bool WildcardMatch(const std::string& pattern, const std::string& name);

}  // namespace platform
