#pragma once
// 16-bit strings, 8-bit helpers and the keyed-value lookup.
//
// A WString is a zero-terminated array of 16-bit units in native (little-endian)
// order; 8-bit text is widened one byte per unit, so the bytes of a WString are
// its UTF-16LE form. Every function that returns a new WString or char* returns
// memory from malloc: the caller owns it and releases it with free() (or with
// FreeString/FreeWString, which also null the pointer).

#include <cstddef>
#include <string>

using WChar = char16_t;
using WString = WChar*;

// The 16-bit counterparts of the C library's wide functions. They live in their
// own namespace so that the C library's versions stay untouched.
namespace w16 {
std::size_t wcslen(const WChar* s);
WChar* wcscpy(WChar* dst, const WChar* src);                  // null when either is null
WChar* wcsncpy(WChar* dst, const WChar* src, std::size_t n);  // pads with zeros like strncpy
WChar* wcsncat(WChar* dst, const WChar* src, std::size_t n);  // appends min(n, len(src)) + terminator
WChar* wcscat(WChar* dst, const WChar* src);
const WChar* wcschr(const WChar* s, WChar c);                     // c == 0 finds the terminator
const WChar* wcsstr(const WChar* haystack, const WChar* needle);  // empty needle gives haystack
int wcscmp(const WChar* a, const WChar* b);
int wcsncmp(const WChar* a, const WChar* b, std::size_t n);
}  // namespace w16

// Conversions. Results are malloc'ed and owned by the caller.
// Each byte becomes one unit of the same value. Null input: out = null, false.
bool ToWString(const char* text, WString& out);
WString ToWString(const char* text);  // same, null on null input or no memory
WString ToWString(const std::string& text);
// Each unit becomes its low byte; the copy ends at the first unit whose low byte is 0.
char* ToNarrowString(const WChar* text);  // null on null input or no memory
std::string ToNarrow(const WChar* text);  // same as a std::string ("" for null)
// target = new copy of text[first..last] (both included); target stays null when
// text is null, first < 0 or last < first. last is clamped to the text's end.
void CopySubstring(char*& target, const char* text, int first, int last);
void CopySubstring(WString& target, const WChar* text, int first, int last);
// target = new copy of text from index first to its end.
void CopyFrom(char*& target, const char* text, int first);
void CopyFrom(WString& target, const WChar* text, int first);
// free() and set to null; null is accepted.
void FreeString(char*& p);
void FreeWString(WString& p);

// 8-bit helpers (ASCII letters only, in place).
void StrToLower(char* text);
char* StrToUpper(char* text);
int LastIndexOf(const char* text, char c);                           // -1 when absent or null
int FindSubstring(int start, const char* text, const char* needle);  // -1 when absent or null

// Keyed-value lookup: case-insensitive key followed by `separator`; the value
// runs up to the first `terminator` (or the end of the text) and keeps its case.
// A match counts only at the start of the text or after a character that is not
// an ASCII letter or digit. An empty value counts as not found.
bool FindParameter(const char* text, const char* key, char separator, char terminator, std::string& value);
bool FindParameter(const std::string& text, const std::string& key, char separator, char terminator,
                   std::string& value);
// The value FindParameter finds, or `def` when none or empty.
std::string GetParameter(const char* text, const char* key, char separator, char terminator,
                         const std::string& def);
std::string GetParameter(const std::string& text, const std::string& key, char separator, char terminator,
                         const std::string& def);
