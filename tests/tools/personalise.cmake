# The launchers of dist/ (make release), one row per architecture; not in
# the sanitizer trees, which hand nothing out.
if(SA_RELEASE_LAUNCHER)
  sa_add_gtest(release_launcher_test LABEL integration TIMEOUT 60
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/release_launcher_test.cpp
    LIBS testsupport)
endif()
if(TARGET release_launcher_test)
  target_include_directories(release_launcher_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
endif()

sa_add_gtest(personalise_test LABEL integration TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/personalise_test.cpp
  LIBS testsupport)
if(TARGET personalise_test)
  target_include_directories(personalise_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
  add_dependencies(personalise_test ${SA_LAUNCHER_TARGET} personalise)
endif()
