sa_add_gtest(core_strings_test LABEL unit TIMEOUT 30
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_strings_test.cpp LIBS CLIB testsupport)
sa_add_gtest(core_settings_test LABEL unit TIMEOUT 30
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_settings_test.cpp LIBS CLIB testsupport)
sa_add_gtest(core_crypto_test LABEL unit TIMEOUT 30
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_crypto_test.cpp LIBS CLIB testsupport PkgConfig::CRYPTO)
sa_add_gtest(core_events_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_events_test.cpp LIBS CLIB testsupport)
sa_add_gtest(core_log_test LABEL unit TIMEOUT 180
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_log_test.cpp LIBS CLIB testsupport)
sa_add_gtest(core_dynamic_library_test LABEL unit TIMEOUT 30
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/core_dynamic_library_test.cpp LIBS CLIB)
