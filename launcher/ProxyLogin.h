#pragma once
// The credentials text libcurl gets for a proxy ("login:password").

#include <string>

// login and password as typed (UTF-8). In Latin-1 when every character is
// at most U+00FF: libcurl widens those bytes for NTLM exactly, and Basic
// sends what it always sent. Otherwise in UTF-8, as RFC 7617 has Basic do;
// the log then says that an NTLM proxy may refuse the login.
std::string ProxyCredentialsText(const std::string& login, const std::string& password);
