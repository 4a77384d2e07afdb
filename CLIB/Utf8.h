#pragma once
// Text for the screen is UTF-8. These helpers bring outside bytes to it (a
// server's message, a proxy's realm, an NTLM domain in UTF-16LE) and back
// (a typed login for libcurl), and cut it only between characters.

#include <cstddef>
#include <string>
#include <string_view>

#include "String_Utils_Unix.h"

// True when text is well-formed UTF-8: shortest forms, no surrogates, at most U+10FFFF.
bool IsUtf8(std::string_view text);
// Valid UTF-8 as it is; anything else read as Windows-1252, which is Latin-1
// with printable characters at 0x80-0x9F (old servers sent those).
std::string ToUtf8Text(std::string_view bytes);
// 16-bit units (UTF-16LE as WString holds them) as UTF-8; an unpaired
// surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const WChar* units, std::size_t count);
// UTF-8 as 16-bit units (surrogate pairs above U+FFFF).
std::u16string Utf8ToUtf16(std::string_view text);

// The character at pos, and pos moved behind it; a byte that starts no
// well-formed character gives U+FFFD and moves one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& pos);
void AppendUtf8(std::string& out, char32_t codePoint);
// The length of the longest prefix of at most maxBytes that ends between characters.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes);
// The start of the character that ends at `end` (end > 0).
std::size_t PreviousCharacterStart(std::string_view text, std::size_t end);

// Decimal digits of other scripts (full-width digits, which input methods
// type, Arabic-Indic, Devanagari) as ASCII digits; everything else as it is.
std::string ToAsciiDigits(std::string_view text);
// The text in Latin-1 when every character is at most U+00FF; false otherwise.
bool Utf8ToLatin1(std::string_view text, std::string& latin1);
