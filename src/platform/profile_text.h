// The text of a profile file ("[section]" lines and "key=value" lines) as
// GetPrivateProfileStringA and WritePrivateProfileStringA treat it: sections
// and keys match without regard to case, values lose surrounding blanks and
// quotes, and a write leaves every other line as it was. Pure string work,
// so the platforms without those calls can share it.
#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of key in the first matching section, trimmed of blanks and
// then of one pair of matching double or single quotes around it; nullopt
// when the section or key is missing.
std::optional<std::string> ProfileLookup(const std::string& text, const std::string& section,
                                         const std::string& key);

// The text with key set to value: its line replaced in place, else a new line
// after the last non-blank line of the section, else a new section at the
// end. New lines end with CR LF unless the text uses bare LF.
std::string ProfileUpdate(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& value);

}  // namespace platform
