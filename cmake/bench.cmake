# Speed is measured here, never asserted in tests.
find_package(benchmark REQUIRED)
add_executable(bench_compose bench/bench_compose.cpp)
target_link_libraries(bench_compose PRIVATE quellora_moire benchmark::benchmark)
