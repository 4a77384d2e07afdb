#pragma once
// The translations, compiled in: one gettext catalog (msgfmt's .mo) per file
// of po/, embedded at build time, so a copy stays one file and reads no
// file at run time. Looked up here, by our own code: no libintl.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the build embeds (one per po/<language>.po, the name as the file has it).
struct CatalogFile {
    const char* language;
    const unsigned char* data;
    std::size_t size;
};
extern const CatalogFile kCatalogFiles[];
extern const std::size_t kCatalogFileCount;

class Catalog {
public:
    Catalog(const char* language, const unsigned char* data, std::size_t size);
    // "de", "zh_TW": the name of its po file.
    const std::string& language() const { return m_language; }
    // False when the data is no catalog msgfmt writes (then nothing is found).
    bool valid() const { return m_count > 0; }
    // The translation of msgid (UTF-8), or null when there is none.
    const char* find(const char* msgid) const;

private:
    std::uint32_t word(std::size_t offset) const;
    // The string of an entry in one of the two tables; null when out of bounds.
    const char* string(std::uint32_t table, std::uint32_t index) const;

    std::string m_language;
    const unsigned char* m_data;
    std::size_t m_size;
    bool m_swapped = false;
    std::uint32_t m_count = 0, m_originals = 0, m_translations = 0;
};

// Every compiled-in catalog, in the order of the file names.
const std::vector<Catalog>& Catalogs();
// The catalog named so exactly ("zh_CN"), or null.
const Catalog* CatalogFor(const std::string& language);

// A language tag or locale name ("pt-BR", "zh_Hant_TW", "de_DE.UTF-8@euro")
// as a catalog names its language: case and "_" or "-" do not matter; pt-BR
// is pt; zh-TW, zh-HK, zh-MO and zh-Hant are zh_TW, any other Chinese
// zh_CN; no and nn are nb; otherwise the primary language ("de").
std::string NormaliseLanguage(const std::string& tag);
// The catalog for a copy's lang item: its own; else, unless it names
// English or a right-to-left language (those stay English), the desktop's
// language (the first of LC_ALL, LC_MESSAGES and LANG that is set); else
// none, which is English.
const Catalog* ChooseCatalog(const std::string& langItem);
