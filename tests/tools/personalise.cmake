sa_add_gtest(built_launcher_test LABEL unit TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/built_launcher_test.cpp
  LIBS testsupport)
target_include_directories(built_launcher_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
add_dependencies(built_launcher_test launcher)

sa_add_gtest(personalise_test LABEL integration TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/personalise_test.cpp
  LIBS testsupport)
if(TARGET personalise_test)
  target_include_directories(personalise_test PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
  add_dependencies(personalise_test ${SA_LAUNCHER_TARGET} personalise)
endif()
