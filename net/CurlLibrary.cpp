#include "CurlLibrary.h"

namespace {

const LoadedLibrary<CurlFunctions>& Instance() {
    static const LoadedLibrary<CurlFunctions> loaded{"libcurl.so.4", "libcurl-gnutls.so.4",
                                                     "libcurl-nss.so.4"};
    return loaded;
}

}  // namespace

const CurlFunctions* CurlLibrary() { return Instance().get(); }

std::string CurlLibraryProblem() { return Instance().library.problem(); }

std::string CurlLibraryName() { return Instance().library.soname(); }
