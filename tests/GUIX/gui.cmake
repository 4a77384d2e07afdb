# Toolkit tests. The GUI ones start their own Xvfb + openbox per test process.
set(GUIX_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

sa_add_gtest(guix_queue_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_queue_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
sa_add_gtest(guix_input_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_input_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
sa_add_gtest(guix_dialog_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_dialog_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)

sa_add_gtest(guix_session_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_session_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
if(TARGET guix_session_test)
  add_executable(guix_sm_probe ${GUIX_TEST_DIR}/guix_sm_probe.cpp)
  target_link_libraries(guix_sm_probe PRIVATE GUIX Threads::Threads)
  target_compile_definitions(guix_session_test PRIVATE GUIX_SM_PROBE="$<TARGET_FILE:guix_sm_probe>")
  add_dependencies(guix_session_test guix_sm_probe)
endif()

sa_add_gtest(guix_unit_test LABEL unit TIMEOUT 30
  SOURCES ${GUIX_TEST_DIR}/guix_unit_test.cpp LIBS GUIX)
