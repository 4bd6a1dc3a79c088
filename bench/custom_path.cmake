# The whole custom-path callback on the sample platform: meta data, read cache,
# capture, comparison, compression and store, lock indicator.
add_executable(bench_custom_path ${CMAKE_CURRENT_SOURCE_DIR}/custom_path_bench.cpp)
target_compile_options(bench_custom_path PRIVATE ${ZEPHRIN_WARNINGS})
target_link_libraries(bench_custom_path PRIVATE zephrin_sample_platform zephrin_dxe zephrin_sim
  benchmark::benchmark benchmark::benchmark_main)
