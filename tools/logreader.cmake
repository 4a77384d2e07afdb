add_executable(logreader ${CMAKE_CURRENT_LIST_DIR}/logreader.cpp)
target_link_libraries(logreader PRIVATE CLIB)
