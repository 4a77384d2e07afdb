#pragma once
// libcrypto, found at run time (OpenSSL 3, else 1.1). Only EVP calls that
// both versions provide, with the same signatures.

#include <openssl/evp.h>

#include <string>

#include "DynamicLibrary.h"

#define SA_CRYPTO_FUNCTIONS(F)    \
    F(EVP_Digest)                 \
    F(EVP_md5)                    \
    F(EVP_aes_128_ecb)            \
    F(EVP_aes_192_ecb)            \
    F(EVP_aes_256_ecb)            \
    F(EVP_CIPHER_CTX_new)         \
    F(EVP_CIPHER_CTX_free)        \
    F(EVP_CIPHER_CTX_set_padding) \
    F(EVP_CipherInit_ex)          \
    F(EVP_CipherUpdate)

SA_DYNAMIC_TABLE(CryptoFunctions, SA_CRYPTO_FUNCTIONS)

// Loaded on first use, once per process; null when no usable libcrypto is
// installed. Nothing is logged here: the log itself needs libcrypto.
const CryptoFunctions* CryptoLibrary();
// What was missing, e.g. "libcrypto.so.3, libcrypto.so.1.1"; empty when loaded.
std::string CryptoLibraryProblem();
