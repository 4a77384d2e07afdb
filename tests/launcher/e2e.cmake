# The launcher under test, personalised, end to end: on a desktop, headless,
# and in chroot roots with only a bare desktop's libraries.
if(TARGET demo_server_lib)
  sa_add_gtest(e2e_test LABEL e2e TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_test.cpp LIBS demo_server_lib CLIB testsupport)
  target_include_directories(e2e_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher ${CMAKE_SOURCE_DIR}/net)
  add_dependencies(e2e_test ${SA_LAUNCHER_TARGET} personalise)
endif()
