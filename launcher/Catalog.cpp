#include "Catalog.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint32_t kMagic = 0x950412de;
constexpr std::uint32_t kMagicSwapped = 0xde120495;

// Written right to left; the launcher draws left to right only.
constexpr const char* kRightToLeft[] = {"ar", "he", "iw", "fa", "ur", "yi", "ps", "sd", "ug", "dv", "ckb"};

}  // namespace

Catalog::Catalog(const char* language, const unsigned char* data, std::size_t size)
    : m_language(language ? language : ""), m_data(data), m_size(data ? size : 0) {
    if (m_size < 28) return;
    const std::uint32_t magic = word(0);
    if (magic != kMagic && magic != kMagicSwapped) return;
    m_swapped = magic == kMagicSwapped;
    const std::uint32_t count = word(8), originals = word(12), translations = word(16);
    if (count == 0 || count > m_size / 16 || originals > m_size - 8 * std::size_t{count} ||
        translations > m_size - 8 * std::size_t{count})
        return;
    m_originals = originals, m_translations = translations, m_count = count;
    // Every string must end inside the data before any is used.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!string(m_originals, i) || !string(m_translations, i)) {
            m_count = 0;
            return;
        }
    }
}

std::uint32_t Catalog::word(std::size_t offset) const {
    std::uint32_t value = 0;
    std::memcpy(&value, m_data + offset, 4);
    return m_swapped ? __builtin_bswap32(value) : value;
}

const char* Catalog::string(std::uint32_t table, std::uint32_t index) const {
    const std::size_t at = table + 8 * std::size_t{index};
    const std::uint32_t length = word(at), offset = word(at + 4);
    if (offset >= m_size || length >= m_size - offset || m_data[offset + length] != 0) return nullptr;
    return reinterpret_cast<const char*>(m_data + offset);
}

const char* Catalog::find(const char* msgid) const {
    if (!msgid || !*msgid) return nullptr;  // the empty msgid is the catalog's header
    // msgfmt sorts the originals by their bytes.
    std::uint32_t low = 0, high = m_count;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        const int order = std::strcmp(string(m_originals, middle), msgid);
        if (order == 0) {
            const char* translated = string(m_translations, middle);
            return *translated ? translated : nullptr;
        }
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

const std::vector<Catalog>& Catalogs() {
    static const std::vector<Catalog> all = [] {
        std::vector<Catalog> catalogs;
        for (std::size_t i = 0; i < kCatalogFileCount; ++i)
            catalogs.emplace_back(kCatalogFiles[i].language, kCatalogFiles[i].data, kCatalogFiles[i].size);
        return catalogs;
    }();
    return all;
}

const Catalog* CatalogFor(const std::string& language) {
    for (const Catalog& catalog : Catalogs())
        if (catalog.valid() && catalog.language() == language) return &catalog;
    return nullptr;
}

std::string NormaliseLanguage(const std::string& tag) {
    // The parts of the tag, lower case; a locale's codeset and modifier go.
    std::vector<std::string> parts(1);
    for (const char c : tag.substr(0, tag.find_first_of(".@"))) {
        if (c == '_' || c == '-')
            parts.emplace_back();
        else
            parts.back().push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    const std::string& primary = parts.front();
    if (primary == "zh") {
        for (std::size_t i = 1; i < parts.size(); ++i)
            if (parts[i] == "tw" || parts[i] == "hk" || parts[i] == "mo" || parts[i] == "hant")
                return "zh_TW";
        return "zh_CN";
    }
    if (primary == "no" || primary == "nn") return "nb";
    return primary;
}

const Catalog* ChooseCatalog(const std::string& langItem) {
    const std::string language = NormaliseLanguage(langItem);
    if (const Catalog* own = CatalogFor(language)) return own;
    if (language == "en") return nullptr;
    for (const char* rtl : kRightToLeft)
        if (language == rtl) return nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return CatalogFor(NormaliseLanguage(value));
    }
    return nullptr;
}
