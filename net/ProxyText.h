#pragma once
// Line and number helpers shared by the proxy settings readers.

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace proxytext {

// The lines of a source's text, without their line ends, each cut at its
// first NUL: the text of a line is what a C string of it holds.
class Lines {
public:
    explicit Lines(const std::string& text) : text_(text) {}
    bool Next(std::string& line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        line.assign(text_, pos_, end - pos_);
        pos_ = end + 1;
        line.resize(strnlen(line.c_str(), line.size()));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return true;
    }

private:
    const std::string& text_;
    size_t pos_ = 0;
};

inline bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

inline bool Contains(const std::string& text, const char* needle) {
    return text.find(needle) != std::string::npos;
}

// Decimal port at text[pos...]; 0 (unknown) when there are no digits or the
// value is no TCP port.
inline uint32_t PortAt(const std::string& text, size_t pos) {
    unsigned long value = 0;
    bool any = false;
    while (pos < text.size() && isdigit(static_cast<unsigned char>(text[pos]))) {
        value = value * 10 + static_cast<unsigned long>(text[pos] - '0');
        if (value > 65535) return 0;
        any = true;
        ++pos;
    }
    return any ? static_cast<uint32_t>(value) : 0;
}

inline std::string TrimLeft(const std::string& line) {
    size_t first = line.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : line.substr(first);
}

inline std::string TrimRight(std::string text) {
    while (!text.empty() && isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
}

inline std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace proxytext
