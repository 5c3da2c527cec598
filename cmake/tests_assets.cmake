# Tests of the BMP codec, the pattern generator and the built-in pictures.
find_package(GTest REQUIRED)
include(GoogleTest)

foreach(t test_bmp test_assets)
  add_executable(${t} tests/${t}.cpp)
  target_link_libraries(${t} PRIVATE quellora_assets GTest::gtest_main)
  gtest_discover_tests(${t} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endforeach()
