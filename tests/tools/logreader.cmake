sa_add_gtest(logreader_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logreader_test.cpp LIBS CLIB testsupport)
# The reader's command line, behind the emulator when the build runs its binaries through one.
string(REPLACE ";" "|" _emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
target_compile_definitions(logreader_test PRIVATE
  LOGREADER_COMMAND="${_emulator}|$<TARGET_FILE:logreader>")
add_dependencies(logreader_test logreader)
