# Toolkit tests. The GUI ones start an Xvfb with openbox per test process.
sa_add_gtest(guix_gui_test LABEL gui TIMEOUT 60
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/gui_test.cpp LIBS GUIX testsupport PkgConfig::XLIBS)
sa_add_gtest(guix_unit_test LABEL unit TIMEOUT 30
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/guix_unit_test.cpp LIBS GUIX)
