#include "CryptoLibrary.h"

namespace {

const LoadedLibrary<CryptoFunctions>& Instance() {
    static const LoadedLibrary<CryptoFunctions> loaded{"libcrypto.so.3", "libcrypto.so.1.1"};
    return loaded;
}

}  // namespace

const CryptoFunctions* CryptoLibrary() { return Instance().get(); }

std::string CryptoLibraryProblem() { return Instance().library.problem(); }
