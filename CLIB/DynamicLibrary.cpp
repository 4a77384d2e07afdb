#include "DynamicLibrary.h"

#include <dlfcn.h>

DynamicLibrary::~DynamicLibrary() { Close(); }

void DynamicLibrary::Close() {
    if (m_handle) dlclose(m_handle);
    m_handle = nullptr;
    m_soname.clear();
}

bool DynamicLibrary::Open(std::initializer_list<const char*> sonames, const char* const* names,
                          std::size_t count, void** addresses) {
    Close();
    std::string tried;
    std::string lacking;
    for (const char* soname : sonames) {
        tried += (tried.empty() ? "" : ", ") + std::string(soname);
        // Kept mapped to the end: threads may still call in while the process exits.
        void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) continue;
        std::size_t i = 0;
        for (; i < count; ++i) {
            addresses[i] = dlsym(handle, names[i]);
            if (!addresses[i]) break;
        }
        if (i == count) {
            m_handle = handle;
            m_soname = soname;
            m_problem.clear();
            return true;
        }
        // Another flavour further down the list may still have it all.
        if (lacking.empty()) lacking = std::string(soname) + " lacks " + names[i];
        dlclose(handle);
    }
    m_problem = lacking.empty() ? tried : lacking;
    return false;
}
