# Core tests link the scripted user interface instead of the real facade.
add_library(launcher_fake_ui STATIC ${CMAKE_CURRENT_LIST_DIR}/FakeUserInterface.cpp)
target_include_directories(launcher_fake_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/launcher)
sa_add_gtest(launcher_parameter_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/parameter_block_test.cpp
  LIBS launcher_core launcher_fake_ui testsupport)
if(TARGET demo_server_lib)
  sa_add_gtest(launcher_session_test LABEL integration TIMEOUT 90 SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp
    LIBS launcher_core launcher_fake_ui demo_server_lib testsupport)
endif()
sa_add_gtest(launcher_texts_test LABEL unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/texts_test.cpp LIBS launcher_texts)
