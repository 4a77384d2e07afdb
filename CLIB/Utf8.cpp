#include "Utf8.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// 0x80-0x9F of Windows-1252; the five bytes it leaves undefined read as U+FFFD.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

// The well-formed character at pos: its length, or 0 when there is none.
std::size_t DecodeAt(std::string_view text, std::size_t pos, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t value, minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    codePoint = value;
    return length;
}

}  // namespace

bool IsUtf8(std::string_view text) {
    char32_t c;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = DecodeAt(text, pos, c);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

std::string ToUtf8Text(std::string_view bytes) {
    if (IsUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const unsigned char b = static_cast<unsigned char>(ch);
        AppendUtf8(out, b >= 0x80 && b <= 0x9F ? kWindows1252High[b - 0x80] : b);
    }
    return out;
}

std::string Utf16ToUtf8(const WChar* units, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; units && i < count; ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = NextCodePoint(text, pos);
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
    char32_t c = kReplacement;
    const std::size_t n = DecodeAt(text, pos, c);
    pos += n ? n : 1;
    return n ? c : kReplacement;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    std::size_t end = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        NextCodePoint(text, pos);
        if (pos > maxBytes) break;
        end = pos;
    }
    return end;
}

std::size_t PreviousCharacterStart(std::string_view text, std::size_t end) {
    std::size_t start = 0;
    for (std::size_t pos = 0; pos < end;) {
        start = pos;
        NextCodePoint(text, pos);
    }
    return start;
}

std::string ToAsciiDigits(std::string_view text) {
    // The zero of each run of ten decimal digits that is mapped.
    static constexpr char32_t kZeros[] = {0xFF10, 0x0660, 0x06F0, 0x0966};
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t c = NextCodePoint(text, pos);
        bool mapped = false;
        for (const char32_t zero : kZeros) {
            if (c >= zero && c <= zero + 9) {
                out.push_back(static_cast<char>('0' + (c - zero)));
                mapped = true;
                break;
            }
        }
        if (!mapped) out.append(text.substr(start, pos - start));
    }
    return out;
}

bool Utf8ToLatin1(std::string_view text, std::string& latin1) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t c = NextCodePoint(text, pos);
        if (c > 0xFF) return false;
        out.push_back(static_cast<char>(c));
    }
    latin1 = std::move(out);
    return true;
}
