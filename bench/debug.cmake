# Debug output: cost of formatting typical messages and of a filtered message.
add_executable(bench_debug ${CMAKE_CURRENT_SOURCE_DIR}/debug_bench.cpp)
target_compile_options(bench_debug PRIVATE ${ZEPHRIN_WARNINGS})
target_link_libraries(bench_debug PRIVATE zephrin_dxe benchmark::benchmark benchmark::benchmark_main)
