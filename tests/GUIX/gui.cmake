# Toolkit tests. The GUI ones start their own Xvfb + openbox per test process.
set(GUIX_TEST_DIR ${CMAKE_CURRENT_LIST_DIR})

sa_add_gtest(guix_queue_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_queue_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
sa_add_gtest(guix_input_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_input_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
sa_add_gtest(guix_dialog_test LABEL gui TIMEOUT 60
  SOURCES ${GUIX_TEST_DIR}/gui_dialog_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
