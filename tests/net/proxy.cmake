sa_add_gtest(proxy_discovery_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/proxy_discovery_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/proxy_regex_test.cpp
  LIBS net testsupport)
sa_add_gtest(proxy_gconftool_test LABEL integration TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/proxy_gconftool_test.cpp
  LIBS net testsupport)
