// One line of a resource script in each direction: a text-table line made
// into a script line, and a script line made back into a text-table line.
// Double-byte characters pass through whole in both directions, so a trail
// byte that looks like a quote or backslash is never escaped or unescaped.
#pragma once

#include <string>

// The literal's ending: backslash r, backslash n, quote, comma.
constexpr const char kRc2LineTerminator[] = "\\r\\n\",";

// Appends the script form of one text-table line (with CR LF, LF or no line
// end) to *out, ended by CR LF: a comment line ("#" or ";" first) as "//" +
// the rest of it; a data line as its leading white space, then a quoted
// literal with quotes and backslashes doubled and the terminator. A line
// with nothing before its line end adds nothing.
void AppendRc2ScriptLine(const std::string& txtLine, std::string* out);

// Decodes one raw script line (line end included or not). Returns true with
// *out replaced by the text line ended by CR LF; a "//" comment becomes a
// "#" line. Returns false for the end-of-data line ("0," before any quote);
// *out is then unchanged.
bool DecodeRc2ScriptLine(const std::string& raw, std::string* out);

// White space that may indent a script line (as TrimLeading sees it).
bool IsRc2Space(char c);
