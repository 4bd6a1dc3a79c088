# Capture of the sample platform (the XSDT walk with every element) and the AML
# primitives on their own. Uses the sample-platform helpers of tests/capture and
# the tables compiled by tests/fixtures.
add_executable(bench_capture ${CMAKE_CURRENT_SOURCE_DIR}/capture_bench.cpp
  ${CMAKE_SOURCE_DIR}/tests/capture/SamplePlatform.cpp
  ${CMAKE_SOURCE_DIR}/tests/capture/CaptureTestSupport.cpp)
target_compile_options(bench_capture PRIVATE ${ZEPHRIN_WARNINGS})
target_compile_definitions(bench_capture PRIVATE ZEPHRIN_ACPI_FIXTURE_DIR="${CMAKE_BINARY_DIR}/fixtures/acpi")
target_link_libraries(bench_capture PRIVATE zephrin_dxe zephrin_sim GTest::gtest benchmark::benchmark
  benchmark::benchmark_main)
add_dependencies(bench_capture zephrin_acpi_fixtures)
