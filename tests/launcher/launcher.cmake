# Core tests link the scripted user interface instead of the real facade.
add_library(launcher_fake_ui STATIC ${CMAKE_CURRENT_LIST_DIR}/FakeUserInterface.cpp)
target_include_directories(launcher_fake_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/launcher)
sa_add_gtest(launcher_parameter_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/parameter_block_test.cpp
  LIBS launcher_core launcher_fake_ui testsupport)
if(TARGET demo_server_lib)
  sa_add_gtest(launcher_session_test LABEL integration TIMEOUT 90 SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp
    LIBS launcher_core launcher_fake_ui demo_server_lib testsupport)
endif()

if(TARGET demo_server_lib)
  sa_add_gtest(launcher_exe_test LABEL e2e TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_exe_test.cpp
    LIBS demo_server_lib CLIB testsupport)
  target_include_directories(launcher_exe_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher ${CMAKE_SOURCE_DIR}/net)
  add_dependencies(launcher_exe_test ${SA_LAUNCHER_TARGET} personalise)
endif()

# The launcher under test in chroot roots with only the libraries of a bare
# desktop (a sanitizer tree's launcher brings its runtime along).
if(TARGET demo_server_lib)
  sa_add_gtest(launcher_minimal_root_test LABEL e2e TIMEOUT 120
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/minimal_root_test.cpp
    LIBS demo_server_lib CLIB testsupport)
  target_include_directories(launcher_minimal_root_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher ${CMAKE_SOURCE_DIR}/net)
  add_dependencies(launcher_minimal_root_test ${SA_LAUNCHER_TARGET} personalise)
endif()
