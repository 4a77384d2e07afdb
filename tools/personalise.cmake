add_executable(personalise ${CMAKE_CURRENT_LIST_DIR}/personalise.cpp)
target_include_directories(personalise PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
target_link_libraries(personalise PRIVATE CLIB)
