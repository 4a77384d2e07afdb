# The application windows and the facade in-process on a private X server,
# and the personalised launcher on a desktop end to end.
sa_add_gtest(windows_facade_test LABEL gui TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_facade_test.cpp
  LIBS launcher_ui testsupport)

if(TARGET demo_server_lib)
  sa_add_gtest(e2e_desktop_test LABEL e2e TIMEOUT 90
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/e2e_desktop_test.cpp
    LIBS demo_server_lib CLIB testsupport)
  target_include_directories(e2e_desktop_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher ${CMAKE_SOURCE_DIR}/net)
  add_dependencies(e2e_desktop_test ${SA_LAUNCHER_TARGET} personalise)
endif()
