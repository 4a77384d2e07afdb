# Proxy discovery, authentication challenges, and the transfer client against
# real loopback servers and real squid proxies.
if(NOT TARGET net)
  return()
endif()

sa_add_gtest(challenge_parse_test LABEL unit TIMEOUT 30
  SOURCES challenge_parse_test.cpp
  LIBS net testsupport)
sa_add_gtest(proxy_discovery_test LABEL unit TIMEOUT 60
  SOURCES proxy_discovery_test.cpp proxy_regex_test.cpp
  LIBS net testsupport)
sa_add_gtest(proxy_gconftool_test LABEL integration TIMEOUT 60
  SOURCES proxy_gconftool_test.cpp
  LIBS net testsupport)

# The servers are cpp-httplib, which Debian ships compiled for 64-bit only.
if(NOT TARGET PkgConfig::SA_HTTPLIB)
  pkg_check_modules(SA_HTTPLIB QUIET IMPORTED_TARGET GLOBAL cpp-httplib)
endif()
if(TARGET PkgConfig::SA_HTTPLIB)
  sa_add_gtest(download_http_test LABEL integration TIMEOUT 60
    SOURCES download_http_test.cpp
    LIBS net testsupport PkgConfig::SA_HTTPLIB)

  sa_add_gtest(proxy_desktop_test LABEL integration TIMEOUT 60
    SOURCES proxy_desktop_test.cpp
    LIBS net testsupport PkgConfig::SA_HTTPLIB)

  sa_add_gtest(download_proxy_test LABEL integration TIMEOUT 120
    SOURCES download_proxy_test.cpp
    LIBS net testsupport PkgConfig::SA_HTTPLIB)
endif()
