#pragma once
// libcurl, found at run time in any of the flavours that distributions ship
// under the same ABI: OpenSSL (libcurl.so.4), Debian's and Ubuntu's GnuTLS
// (libcurl-gnutls.so.4) and NSS (libcurl-nss.so.4).

#include <curl/curl.h>

#include <string>

#include "DynamicLibrary.h"

#define SA_CURL_FUNCTIONS(F) \
    F(curl_global_init)      \
    F(curl_easy_init)        \
    F(curl_easy_setopt)      \
    F(curl_easy_perform)     \
    F(curl_easy_getinfo)     \
    F(curl_easy_cleanup)     \
    F(curl_easy_duphandle)   \
    F(curl_slist_append)     \
    F(curl_slist_free_all)

SA_DYNAMIC_TABLE(CurlFunctions, SA_CURL_FUNCTIONS)

// Loaded on first use, once per process; null when no usable libcurl is installed.
const CurlFunctions* CurlLibrary();
// The SONAME that was loaded, for the log; empty when none.
std::string CurlLibraryName();
// What was missing, e.g. "libcurl.so.4, libcurl-gnutls.so.4, libcurl-nss.so.4"; empty when loaded.
std::string CurlLibraryProblem();
