# The whole certified-path restore (decompress, walk, patch, install) on the
# sample platform and on the largest shared dump.
add_executable(bench_certified_path ${CMAKE_CURRENT_SOURCE_DIR}/certified_path_bench.cpp)
target_compile_options(bench_certified_path PRIVATE ${ZEPHRIN_WARNINGS})
target_link_libraries(bench_certified_path PRIVATE zephrin_demo_support benchmark::benchmark
  benchmark::benchmark_main)
target_compile_definitions(bench_certified_path PRIVATE ZEPHRIN_SHARED_DIR="${ZEPHRIN_SHARED_DIR}"
  ZEPHRIN_DUMP_META_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures/dumps")
if(ZEPHRIN_DXE_IMAGE AND TARGET firmware)
  add_dependencies(bench_certified_path firmware)
  target_compile_definitions(bench_certified_path PRIVATE ZEPHRIN_DXE_IMAGE="${ZEPHRIN_DXE_IMAGE}")
endif()
