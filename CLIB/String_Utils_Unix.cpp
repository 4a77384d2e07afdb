#include "String_Utils_Unix.h"

#include <cstdlib>
#include <cstring>

namespace w16 {

std::size_t wcslen(const WChar* s) {
    if (!s) return 0;
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

WChar* wcscpy(WChar* dst, const WChar* src) {
    if (!dst || !src) return nullptr;
    std::size_t i = 0;
    do {
        dst[i] = src[i];
    } while (src[i++]);
    return dst;
}

WChar* wcsncpy(WChar* dst, const WChar* src, std::size_t n) {
    if (!dst || !src) return nullptr;
    std::size_t i = 0;
    for (; i < n && src[i]; ++i) dst[i] = src[i];
    for (; i < n; ++i) dst[i] = 0;
    return dst;
}

WChar* wcsncat(WChar* dst, const WChar* src, std::size_t n) {
    if (!dst || !src) return nullptr;
    std::size_t len = wcslen(src);
    if (n > len) n = len;
    WChar* end = dst + wcslen(dst);
    for (std::size_t i = 0; i < n; ++i) end[i] = src[i];
    end[n] = 0;
    return dst;
}

WChar* wcscat(WChar* dst, const WChar* src) { return wcsncat(dst, src, wcslen(src)); }

const WChar* wcschr(const WChar* s, WChar c) {
    if (!s) return nullptr;
    for (;; ++s) {
        if (*s == c) return s;
        if (!*s) return nullptr;
    }
}

const WChar* wcsstr(const WChar* haystack, const WChar* needle) {
    if (!haystack || !needle) return nullptr;
    if (!*needle) return haystack;
    for (; *haystack; ++haystack) {
        std::size_t i = 0;
        while (needle[i] && haystack[i] == needle[i]) ++i;
        if (!needle[i]) return haystack;
    }
    return nullptr;
}

int wcscmp(const WChar* a, const WChar* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int wcsncmp(const WChar* a, const WChar* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        if (!a[i]) return 0;
    }
    return 0;
}

}  // namespace w16

bool ToWString(const char* text, WString& out) {
    out = nullptr;
    if (!text) return false;
    std::size_t n = std::strlen(text);
    out = static_cast<WString>(std::malloc((n + 1) * sizeof(WChar)));
    if (!out) return false;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[n] = 0;
    return true;
}

WString ToWString(const char* text) {
    WString out;
    ToWString(text, out);
    return out;
}

WString ToWString(const std::string& text) { return ToWString(text.c_str()); }

char* ToNarrowString(const WChar* text) {
    if (!text) return nullptr;
    std::size_t n = 0;
    while (text[n] & 0xFF) ++n;
    char* out = static_cast<char*>(std::malloc(n + 1));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(text[i] & 0xFF);
    out[n] = 0;
    return out;
}

std::string ToNarrow(const WChar* text) {
    std::string out;
    if (!text) return out;
    for (; *text & 0xFF; ++text) out.push_back(static_cast<char>(*text & 0xFF));
    return out;
}

namespace {

template <typename C>
std::size_t Length(const C* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

template <typename C>
void CopyRange(C*& target, const C* text, int first, int last) {
    target = nullptr;
    if (!text || first < 0 || last < first) return;
    std::size_t len = Length(text);
    if (static_cast<std::size_t>(first) > len) return;
    std::size_t end = static_cast<std::size_t>(last) + 1;
    if (end > len) end = len;
    std::size_t n = end - static_cast<std::size_t>(first);
    target = static_cast<C*>(std::malloc((n + 1) * sizeof(C)));
    if (!target) return;
    std::memcpy(target, text + first, n * sizeof(C));
    target[n] = 0;
}

}  // namespace

void CopySubstring(char*& target, const char* text, int first, int last) {
    CopyRange(target, text, first, last);
}

void CopySubstring(WString& target, const WChar* text, int first, int last) {
    CopyRange(target, text, first, last);
}

void CopyFrom(char*& target, const char* text, int first) {
    target = nullptr;
    if (!text) return;
    int len = static_cast<int>(Length(text));
    if (first == len) {  // the empty tail is still a copy
        target = static_cast<char*>(std::calloc(1, 1));
        return;
    }
    CopyRange(target, text, first, len - 1);
}

void CopyFrom(WString& target, const WChar* text, int first) {
    target = nullptr;
    if (!text) return;
    int len = static_cast<int>(Length(text));
    if (first == len) {
        target = static_cast<WString>(std::calloc(1, sizeof(WChar)));
        return;
    }
    CopyRange(target, text, first, len - 1);
}

void FreeString(char*& p) {
    std::free(p);
    p = nullptr;
}

void FreeWString(WString& p) {
    std::free(p);
    p = nullptr;
}

void StrToLower(char* text) {
    if (!text) return;
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

char* StrToUpper(char* text) {
    if (!text) return text;
    for (char* p = text; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return text;
}

int LastIndexOf(const char* text, char c) {
    if (!text) return -1;
    const char* p = std::strrchr(text, c);
    if (!p || c == 0) return -1;
    return static_cast<int>(p - text);
}

int FindSubstring(int start, const char* text, const char* needle) {
    if (!text || !needle || start < 0) return -1;
    std::size_t len = std::strlen(text);
    if (static_cast<std::size_t>(start) > len) return -1;
    const char* hit = std::strstr(text + start, needle);
    return hit ? static_cast<int>(hit - text) : -1;
}

namespace {

bool IsAsciiAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string Lower(const char* s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

bool FindParameter(const char* text, const char* key, char separator, char terminator, std::string& value) {
    if (!text || !key || !*text || !*key) return false;
    const std::string lowText = Lower(text);
    std::string pattern = Lower(key);
    pattern.push_back(separator);

    std::size_t hit = lowText.find(pattern);
    while (hit != std::string::npos && hit > 0 && IsAsciiAlnum(static_cast<unsigned char>(lowText[hit - 1])))
        hit = lowText.find(pattern, hit + 1);
    if (hit == std::string::npos) return false;

    const std::size_t from = hit + pattern.size();
    // The terminator is looked for from the start of the hit, so a terminator that
    // is part of the pattern itself ends the value at once (empty = not found).
    std::size_t term = lowText.find(terminator, hit);
    std::size_t to = lowText.size();
    if (term != std::string::npos) {
        if (term == hit) return false;
        to = term;
    }
    if (to <= from) return false;
    value.assign(text + from, to - from);
    return true;
}

bool FindParameter(const std::string& text, const std::string& key, char separator, char terminator,
                   std::string& value) {
    return FindParameter(text.c_str(), key.c_str(), separator, terminator, value);
}

std::string GetParameter(const char* text, const char* key, char separator, char terminator,
                         const std::string& def) {
    std::string value;
    return FindParameter(text, key, separator, terminator, value) ? value : def;
}

std::string GetParameter(const std::string& text, const std::string& key, char separator, char terminator,
                         const std::string& def) {
    return GetParameter(text.c_str(), key.c_str(), separator, terminator, def);
}
