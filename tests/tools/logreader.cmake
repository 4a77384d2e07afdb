sa_add_gtest(logreader_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logreader_test.cpp LIBS CLIB testsupport)
target_compile_definitions(logreader_test PRIVATE LOGREADER_PATH="$<TARGET_FILE:logreader>")
add_dependencies(logreader_test logreader)
