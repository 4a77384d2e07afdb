#pragma once
// Libraries found at run time by their SONAME. A copy goes to desktops that
// nobody here controls: linking libcurl or libcrypto would let the loader
// refuse to start it without a word, so they are opened here instead, and a
// missing one is reported in words or turns its feature off.
//
// Each library has one list of the functions it uses; the list generates the
// table of pointers (typed from the library's own header) and its loader:
//
//   #define SA_XPM_FUNCTIONS(F) F(XpmCreatePixmapFromData) F(XpmFreeAttributes)
//   SA_DYNAMIC_TABLE(XpmFunctions, SA_XPM_FUNCTIONS)
//
//   DynamicLibrary library;
//   XpmFunctions xpm;
//   if (xpm.Load(library, {"libXpm.so.4"})) xpm.XpmFreeAttributes(&attributes);
//   else LogWrite("... (%s)", library.problem().c_str());

#include <cstddef>
#include <initializer_list>
#include <string>

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Opens the first of sonames that loads and defines every one of names;
    // addresses[i] receives names[i]. A library that lacks a function counts
    // as missing. False when none is usable: problem() then says why.
    bool Open(std::initializer_list<const char*> sonames, const char* const* names, std::size_t count,
              void** addresses);

    bool loaded() const { return m_handle != nullptr; }
    const std::string& soname() const { return m_soname; }
    // "libcurl.so.4 lacks curl_easy_perform" for the first library that lacked
    // a function, else the names tried: "libXpm.so.4, libXpm.so.3".
    const std::string& problem() const { return m_problem; }

private:
    void Close();

    void* m_handle = nullptr;
    std::string m_soname;
    std::string m_problem;
};

// One library for the whole process, loaded when first asked for.
template <class Table>
struct LoadedLibrary {
    DynamicLibrary library;
    Table table;
    bool ok;
    LoadedLibrary(std::initializer_list<const char*> sonames) : ok(table.Load(library, sonames)) {}
    const Table* get() const { return ok ? &table : nullptr; }
};

#define SA_DYNAMIC_POINTER(name) decltype(&::name) name = nullptr;
#define SA_DYNAMIC_NAME(name) #name,
#define SA_DYNAMIC_ASSIGN(name) name = reinterpret_cast<decltype(name)>(addresses[i++]);

// struct Type { <one pointer per function of LIST>; bool Load(library, sonames); }
#define SA_DYNAMIC_TABLE(Type, LIST)                                                     \
    struct Type {                                                                        \
        LIST(SA_DYNAMIC_POINTER)                                                         \
        bool Load(DynamicLibrary& library, std::initializer_list<const char*> sonames) { \
            static constexpr const char* kNames[] = {LIST(SA_DYNAMIC_NAME)};             \
            constexpr std::size_t kCount = sizeof kNames / sizeof kNames[0];             \
            void* addresses[kCount] = {};                                                \
            if (!library.Open(sonames, kNames, kCount, addresses)) return false;         \
            std::size_t i = 0;                                                           \
            LIST(SA_DYNAMIC_ASSIGN)                                                      \
            return true;                                                                 \
        }                                                                                \
    };
