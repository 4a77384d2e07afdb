# Debian ships cpp-httplib as a compiled library (64-bit only here), so the
# demo server exists where the library does.
if(NOT TARGET PkgConfig::SA_HTTPLIB)
  pkg_check_modules(SA_HTTPLIB QUIET IMPORTED_TARGET GLOBAL cpp-httplib)
endif()
if(TARGET PkgConfig::SA_HTTPLIB)
  add_library(demo_server_lib STATIC ${CMAKE_CURRENT_LIST_DIR}/demo_server.cpp)
  target_include_directories(demo_server_lib PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  # libcrypto makes the HTTPS certificates.
  target_link_libraries(demo_server_lib PUBLIC CLIB PkgConfig::SA_HTTPLIB PkgConfig::CRYPTO ZLIB::ZLIB Threads::Threads)

  add_executable(demo_server ${CMAKE_CURRENT_LIST_DIR}/demo_server_main.cpp)
  target_link_libraries(demo_server PRIVATE demo_server_lib)
endif()
