add_executable(personalise ${CMAKE_CURRENT_LIST_DIR}/personalise.cpp)
target_include_directories(personalise PRIVATE ${CMAKE_SOURCE_DIR}/launcher)
# A service-side tool: libcrypto computes pins (--pin-from) and is linked as usual.
target_link_libraries(personalise PRIVATE CLIB launcher_texts PkgConfig::CRYPTO)
