sa_add_gtest(system_utils_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/system_shell_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/system_files_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/system_host_test.cpp
  LIBS CLIB testsupport)
