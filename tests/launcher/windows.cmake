# The user interface facade in-process on a private X server.
sa_add_gtest(windows_facade_test LABEL gui TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_facade_test.cpp
  LIBS launcher_ui testsupport)
sa_add_gtest(windows_test LABEL gui TIMEOUT 60 SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_test.cpp
  LIBS launcher_ui testsupport)
