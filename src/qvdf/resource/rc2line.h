// One line of a resource script in each direction: a text-table line made
// into a script line, and a script line made back into a text-table line.
// Double-byte characters pass through whole in both directions, so a trail
// byte that looks like a quote or backslash is never escaped or unescaped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The literal's ending: backslash r, backslash n, quote, comma.
constexpr const char kRc2LineTerminator[] = "\\r\\n\",";

// Most bytes the script form of an n-byte text line takes: every byte
// doubled, the quote, the terminator and CR LF.
constexpr size_t Rc2ScriptRoom(size_t n) { return 2 * n + 16; }

// Writes the script form of one text-table line (with CR LF, LF or no line
// end) to dst, which has room for Rc2ScriptRoom(line.size()) bytes, and
// returns the end of what it wrote. A comment line ("#" or ";" first) becomes
// "//" + the rest of it; a data line its leading white space, then a quoted
// literal with quotes and backslashes doubled and the terminator; either
// ends with CR LF. A line with nothing before its line end writes nothing.
char* EncodeRc2ScriptLine(std::string_view line, char* dst);
// The same, appended to *out.
void AppendRc2ScriptLine(std::string_view txtLine, std::string* out);

// Decodes one raw script line (line end included or not). Returns true with
// the text line, ended by CR LF, appended to *out; a "//" comment becomes a
// "#" line. Returns false for the end-of-data line ("0," before any quote);
// *out is then unchanged.
bool DecodeRc2ScriptLine(std::string_view raw, std::string* out);

// White space that may indent a script line (as TrimLeading sees it).
bool IsRc2Space(char c);
