// A libcurl.so.4 that hands every call on to the real one but, as those before
// 7.60, leaves the error buffer alone when a transfer writes no message; with
// SA_CURL_REFUSE_PINS set it cannot pin, as the rustls and BearSSL builds.

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>

namespace {

void* Real(const char* name) {
    static void* const real = dlopen(SA_REAL_CURL, RTLD_NOW | RTLD_LOCAL);
    return dlsym(real, name);
}

std::map<CURL*, char*> buffers;

}  // namespace

#define SA_FORWARD(result, name, params, args) \
    extern "C" result name params { return reinterpret_cast<result(*) params>(Real(#name)) args; }
SA_FORWARD(CURLcode, curl_global_init, (long flags), (flags))
SA_FORWARD(CURL*, curl_easy_init, (), ())
SA_FORWARD(CURL*, curl_easy_duphandle, (CURL * h), (h))
SA_FORWARD(curl_slist*, curl_slist_append, (curl_slist * list, const char* text), (list, text))
SA_FORWARD(void, curl_slist_free_all, (curl_slist * list), (list))

extern "C" void curl_easy_cleanup(CURL* h) {
    buffers.erase(h);
    reinterpret_cast<void (*)(CURL*)>(Real("curl_easy_cleanup"))(h);
}

// Every option the program sets is a pointer, a long or a curl_off_t: one register wide.
extern "C" CURLcode curl_easy_setopt(CURL* h, CURLoption option, ...) {
    va_list args;
    va_start(args, option);
    void* value = va_arg(args, void*);
    va_end(args);
    if (option == CURLOPT_ERRORBUFFER) buffers[h] = static_cast<char*>(value);
    if (option == CURLOPT_PINNEDPUBLICKEY && getenv("SA_CURL_REFUSE_PINS")) return CURLE_NOT_BUILT_IN;
    return reinterpret_cast<CURLcode (*)(CURL*, CURLoption, ...)>(Real("curl_easy_setopt"))(h, option, value);
}

extern "C" CURLcode curl_easy_getinfo(CURL* h, CURLINFO info, ...) {
    va_list args;
    va_start(args, info);
    void* out = va_arg(args, void*);
    va_end(args);
    return reinterpret_cast<CURLcode (*)(CURL*, CURLINFO, ...)>(Real("curl_easy_getinfo"))(h, info, out);
}

extern "C" CURLcode curl_easy_perform(CURL* h) {
    char before[CURL_ERROR_SIZE] = {}, *buffer = buffers[h];
    if (buffer) memcpy(before, buffer, sizeof(before));
    const CURLcode rc = reinterpret_cast<CURLcode (*)(CURL*)>(Real("curl_easy_perform"))(h);
    if (buffer && !*buffer) memcpy(buffer, before, sizeof(before));
    return rc;
}
