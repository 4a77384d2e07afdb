#include "Texts.h"

#include "Catalog.h"
#include "Utf8.h"

// Marks a text for xgettext (scripts/update-po); the catalogs are built from po/.
#define N_(text) text

namespace {

struct Entry {
    TextId id;
    const char* english;
};

// clang-format off
constexpr Entry kTexts[] = {
    {TextId::VERBATIM, ""},
    {TextId::WITH_CODE, ""},
    {TextId::LINES, ""},
    // TRANSLATORS: the title of the window that shows how the connection goes.
    {TextId::CONNECTION_STATUS, N_("Connection Status")},
    // TRANSLATORS: the title of the window that asks for the session code the technician gave.
    {TextId::ENTER_CODE, N_("Enter code")},
    // TRANSLATORS: the title of the window that asks for the login of the company's proxy.
    {TextId::PROXY_AUTHENTICATION, N_("Proxy Authentication")},
    // TRANSLATORS: a button.
    {TextId::OK, N_("Ok")},
    // TRANSLATORS: a button.
    {TextId::CANCEL, N_("Cancel")},
    // TRANSLATORS: the caption of the proxy's user name.
    {TextId::LOGIN, N_("Login:")},
    {TextId::PASSWORD, N_("Password:")},
    // TRANSLATORS: the caption of the proxy's realm or Windows domain.
    {TextId::DOMAIN, N_("Domain:")},
    {TextId::CONNECTING, N_("Connecting...")},
    // TRANSLATORS: the session could not start within 100 seconds.
    {TextId::CONNECTION_TIMEOUT, N_("Connection timeout exceeded")},
    // TRANSLATORS: the server's certificate or key is not the one this copy trusts.
    {TextId::CANNOT_VERIFY_SERVER, N_("Cannot verify the server")},
    {TextId::CANNOT_START_CLIENT, N_("The support program cannot be started on this computer")},
    // TRANSLATORS: %s: the library files looked for. The package names stay as they are.
    {TextId::LIBCRYPTO_MISSING, N_("ERROR: libcrypto is missing (%s): install libssl3 (Debian/Ubuntu), "
                                   "openssl-libs (Fedora/RHEL) or libopenssl3 (openSUSE)")},
    // TRANSLATORS: %s: the library files looked for. The package names stay as they are.
    {TextId::LIBCURL_MISSING, N_("ERROR: libcurl is missing (%s): install libcurl4 or libcurl3-gnutls "
                                 "(Debian/Ubuntu) or libcurl (Fedora/openSUSE)")},
    // TRANSLATORS: %s: why the last attempt failed, one of the texts below.
    {TextId::TRYING_AGAIN, N_("%s — trying again")},
    {TextId::NO_NETWORK, N_("No network connection")},
    // TRANSLATORS: the server's name is unknown to the name service (DNS).
    {TextId::NAME_NOT_FOUND, N_("Server name not found")},
    {TextId::CONNECTION_REFUSED, N_("Connection refused")},
    {TextId::CONNECTION_TIMED_OUT, N_("Connection timed out")},
    // TRANSLATORS: the company's proxy does not answer or does not let the connection through.
    {TextId::PROXY_UNREACHABLE, N_("No connection through the proxy")},
    {TextId::PROXY_CANNOT_REACH_SERVER, N_("The proxy cannot reach the server")},
    // TRANSLATORS: the server answered with an HTTP error status; its number follows as a code.
    {TextId::SERVER_ERROR, N_("The server reports an error")},
    {TextId::CONNECTION_FAILED, N_("Connection failed")},
};
// clang-format on

constexpr bool InOrder() {
    for (int i = 0; i < static_cast<int>(TextId::COUNT); ++i)
        if (static_cast<int>(kTexts[i].id) != i) return false;
    return sizeof kTexts / sizeof kTexts[0] == static_cast<std::size_t>(TextId::COUNT);
}
static_assert(InOrder(), "kTexts lists every TextId once, in the order of the enumeration");

template <class Verbatim>
std::string Render(const UiText& text, const Catalog* catalog, const Verbatim& verbatim) {
    std::vector<std::string> parts;
    for (const UiText& part : text.parts) parts.push_back(Render(part, catalog, verbatim));
    switch (text.id) {
    case TextId::VERBATIM: return verbatim(text.bytes);
    case TextId::WITH_CODE: return FormatText("%s (%s)", parts);
    case TextId::LINES: {
        std::string lines;
        for (const std::string& line : parts) lines += (lines.empty() ? "" : "\n") + line;
        return lines;
    }
    default: break;
    }
    const char* english = EnglishText(text.id);
    const char* translated = catalog ? catalog->find(english) : nullptr;
    // A translation whose placeholders differ from the original's would
    // lose or misplace a part: the original is shown then.
    bool ok = false, englishOk = false;
    if (translated && Placeholders(translated, ok).size() == Placeholders(english, englishOk).size() && ok)
        return FormatText(translated, parts);
    return FormatText(english, parts);
}

}  // namespace

UiText Text(TextId id, std::vector<UiText> parts) { return UiText{id, {}, std::move(parts)}; }

UiText Verbatim(std::string bytes) { return UiText{TextId::VERBATIM, std::move(bytes), {}}; }

UiText WithCode(UiText text, std::string code) {
    return Text(TextId::WITH_CODE, {std::move(text), Verbatim(std::move(code))});
}

UiText Lines(std::vector<UiText> lines) { return Text(TextId::LINES, std::move(lines)); }

const char* EnglishText(TextId id) {
    const int i = static_cast<int>(id);
    return i >= 0 && i < static_cast<int>(TextId::COUNT) ? kTexts[i].english : "";
}

std::string English(const UiText& text) {
    return Render(text, nullptr, [](const std::string& bytes) { return bytes; });
}

std::string ScreenText(const UiText& text, const Catalog* catalog) {
    return Render(text, catalog, [](const std::string& bytes) { return ToUtf8Text(bytes); });
}

std::vector<int> Placeholders(const std::string& pattern, bool& ok) {
    std::vector<int> numbers;
    int next = 1;
    ok = true;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        if (++i >= pattern.size()) break;
        if (pattern[i] == '%') continue;
        int number = 0;
        std::size_t j = i;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && number < 100)
            number = number * 10 + (pattern[j++] - '0');
        if (j > i && j + 1 < pattern.size() && pattern[j] == '$' && pattern[j + 1] == 's' && number > 0) {
            numbers.push_back(number);
            next = number + 1;
            i = j + 1;
        } else if (pattern[i] == 's') {
            numbers.push_back(next++);
        } else {
            ok = false;
            return {};
        }
    }
    return numbers;
}

std::string FormatText(const std::string& pattern, const std::vector<std::string>& arguments) {
    std::string out;
    int next = 1;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            out.push_back(pattern[i]);
            continue;
        }
        if (pattern[i + 1] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        int number = 0;
        std::size_t j = i + 1;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && number < 100)
            number = number * 10 + (pattern[j++] - '0');
        if (j > i + 1 && j + 1 < pattern.size() && pattern[j] == '$' && pattern[j + 1] == 's') {
            next = number + 1;
            i = j + 1;
        } else if (pattern[i + 1] == 's') {
            number = next++;
            i += 1;
        } else {
            out.push_back('%');  // not ours: shown as it stands
            continue;
        }
        if (number >= 1 && static_cast<std::size_t>(number) <= arguments.size()) out += arguments[number - 1];
    }
    return out;
}
