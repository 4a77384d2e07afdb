#pragma once
// Every text the launcher shows, named once (Texts.cpp holds the English).
// The core hands texts to the user interface as identifiers with what fills
// their placeholders; only the windows translate them (Catalog.h). The log
// and a headless run use the English, exactly as it stands here.

#include <cstdint>
#include <string>
#include <vector>

class Catalog;

enum class TextId : std::uint8_t {
    // Compositions, the same in every language.
    VERBATIM,   // bytes as given: a server's message, a reason code
    WITH_CODE,  // a text and its reason code in parentheses
    LINES,      // each part on a line of its own
    // From the catalogs.
    CONNECTION_STATUS,
    ENTER_CODE,
    PROXY_AUTHENTICATION,
    OK,
    CANCEL,
    LOGIN,
    PASSWORD,
    DOMAIN,
    CONNECTING,
    CONNECTION_TIMEOUT,
    CANNOT_VERIFY_SERVER,
    CANNOT_START_CLIENT,
    LIBCRYPTO_MISSING,
    LIBCURL_MISSING,
    TRYING_AGAIN,
    NO_NETWORK,
    NAME_NOT_FOUND,
    CONNECTION_REFUSED,
    CONNECTION_TIMED_OUT,
    PROXY_UNREACHABLE,
    PROXY_CANNOT_REACH_SERVER,
    SERVER_ERROR,
    CONNECTION_FAILED,
    COUNT
};

constexpr int kFirstCatalogText = static_cast<int>(TextId::CONNECTION_STATUS);

// A text for the screen: which one, and the texts that fill its placeholders.
struct UiText {
    TextId id = TextId::VERBATIM;
    std::string bytes;          // VERBATIM only
    std::vector<UiText> parts;  // in the order of the placeholders
    bool operator==(const UiText&) const = default;
};

UiText Text(TextId id, std::vector<UiText> parts = {});
UiText Verbatim(std::string bytes);
UiText WithCode(UiText text, std::string code);
UiText Lines(std::vector<UiText> lines);

// The English original (the catalogs' msgid); empty for the compositions.
const char* EnglishText(TextId id);
// The text as the log has it: English, a verbatim part's bytes as they came.
std::string English(const UiText& text);
// The text as the windows show it (UTF-8): in the catalog's language (English
// without one or where the catalog lacks it), a verbatim part read as UTF-8
// when it is valid UTF-8, else as Windows-1252.
std::string ScreenText(const UiText& text, const Catalog* catalog);
inline std::string ScreenText(TextId id, const Catalog* catalog) {
    return ScreenText(UiText{id, {}, {}}, catalog);
}

// Fills a pattern's placeholders: %s in turn, %N$s by number, %% a percent
// sign. Missing arguments stay empty.
std::string FormatText(const std::string& pattern, const std::vector<std::string>& arguments);
// The argument numbers the pattern's placeholders use, in order (%s counted
// on from the last); empty with ok false when it has any other directive.
std::vector<int> Placeholders(const std::string& pattern, bool& ok);
