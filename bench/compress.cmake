# Encoder and decoder throughput on the reference inputs above 32 KiB and on the
# captured stream of the largest shared ACPI dump, with the compressed size, the
# ratio and the encoder's peak pool use as counters.
add_executable(bench_compress ${CMAKE_CURRENT_SOURCE_DIR}/compress_bench.cpp)
target_compile_options(bench_compress PRIVATE ${ZEPHRIN_WARNINGS})
target_compile_definitions(bench_compress PRIVATE ZEPHRIN_SHARED_DIR="${ZEPHRIN_SHARED_DIR}")
target_link_libraries(bench_compress PRIVATE zephrin_dxe zephrin_sim benchmark::benchmark)
