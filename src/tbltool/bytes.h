// Code-page bytes as Unicode and back. Every byte value has exactly one
// character: Windows-1252 where it defines one, and the C1 control of the
// same number for the five bytes it leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D), so that any text a table holds survives JSON unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tbltool {

// The character of byte b.
char32_t ByteToChar(unsigned char b);
// The byte of character c; false when no byte has it.
bool CharToByte(char32_t c, unsigned char* b);

// Appends the bytes as a JSON string body (no quotes): each byte's
// character in UTF-8, with '"', '\\' and the controls escaped.
void AppendJsonText(std::string* out, std::string_view bytes);
// The same into dst, which has room for 6 bytes per input byte; returns the
// end of what it wrote.
char* PutJsonText(char* dst, std::string_view bytes);
// Turns UTF-8 text back into bytes. False with *bad set to the first
// character that no byte has (or to 0xFFFFFFFF for text that is no UTF-8).
bool TextToBytes(std::string_view utf8, std::string* bytes, char32_t* bad);
// "U+20AC" for messages.
std::string CharName(char32_t c);

// Lower-case hexadecimal of the bytes, and back (false for an odd length
// or a character that is no hexadecimal digit).
std::string ToHex(std::string_view bytes);
bool FromHex(std::string_view hex, std::string* bytes);

}  // namespace tbltool
