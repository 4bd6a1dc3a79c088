# Blob storage: comparison and read walk over a full-size stream, and the load
# and store of AcpiDataCache through the simulated variable store. Uses the
# stream builders of tests/blob.
add_executable(bench_blob ${CMAKE_CURRENT_SOURCE_DIR}/blob_bench.cpp ${CMAKE_SOURCE_DIR}/tests/blob/BlobTestSupport.cpp)
target_compile_options(bench_blob PRIVATE ${ZEPHRIN_WARNINGS})
target_link_libraries(bench_blob PRIVATE zephrin_dxe zephrin_sim GTest::gtest benchmark::benchmark
  benchmark::benchmark_main)
