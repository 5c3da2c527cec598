# Unit tests of the core on the headless platform, and the renderer's command line.
find_package(GTest REQUIRED)
include(GoogleTest)

add_library(quellora_headless STATIC platform/headless/headless_platform.cpp)
target_link_libraries(quellora_headless PUBLIC quellora_core)

foreach(t test_moire test_saver test_app)
  add_executable(${t} tests/${t}.cpp)
  target_link_libraries(${t} PRIVATE quellora_headless GTest::gtest_main)
  gtest_discover_tests(${t} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endforeach()

include(cmake/tests_assets.cmake OPTIONAL)

add_test(NAME renderer_cli COMMAND ${CMAKE_COMMAND}
  -DRENDER=$<TARGET_FILE:quellora-render> -DWORK=${CMAKE_CURRENT_BINARY_DIR}/renderer_cli
  -P ${CMAKE_SOURCE_DIR}/tests/renderer_cli.cmake)
set_tests_properties(renderer_cli PROPERTIES LABELS unit)
