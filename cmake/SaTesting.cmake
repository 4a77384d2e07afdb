# sa_add_gtest(<name> LABEL <label> [TIMEOUT <s>, default 60] SOURCES <files...> LIBS <targets...>): its cases
# become ctest tests; with SA_ONLY_UNIT_TESTS only unit tests are made (callers check if(TARGET name)).
function(sa_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(SA_ONLY_UNIT_TESTS AND NOT T_LABEL STREQUAL "unit")
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} testsupport_main GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE SA_FIXTURES_DIR="${SA_FIXTURES_DIR}" SA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    SA_BINARY_DIR="${CMAKE_BINARY_DIR}" SA_LAUNCHER="${SA_LAUNCHER_UNDER_TEST}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
endfunction()
