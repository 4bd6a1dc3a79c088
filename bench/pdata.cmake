# Product-data lookups (from a HOB and from a firmware volume) and the ACPI meta
# data record lookups, through the driver's own code on the simulated platform.
add_executable(bench_pdata ${CMAKE_CURRENT_SOURCE_DIR}/pdata_bench.cpp)
target_compile_options(bench_pdata PRIVATE ${ZEPHRIN_WARNINGS})
target_link_libraries(bench_pdata PRIVATE zephrin_dxe zephrin_sim benchmark::benchmark benchmark::benchmark_main)
