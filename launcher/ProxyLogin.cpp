#include "ProxyLogin.h"

#include "Log.h"
#include "Utf8.h"

std::string ProxyCredentialsText(const std::string& login, const std::string& password) {
    const std::string typed = login + ":" + password;
    std::string latin1;
    if (Utf8ToLatin1(typed, latin1)) return latin1;
    LogWrite(
        "WARNING: the proxy login has characters beyond Latin-1: sent in UTF-8, which an NTLM proxy may "
        "refuse");
    return typed;
}
