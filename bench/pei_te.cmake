# One run of the shipped TE image of the PEI module on the emulated IA-32 PEI
# phase (Unicorn, libunicorn-dev): machine set-up, image load and the entry point.
if(ZEPHRIN_FIRMWARE AND ZEPHRIN_PEI_PE_IMAGE)
  get_filename_component(_pei_dir ${ZEPHRIN_PEI_PE_IMAGE} DIRECTORY)
  get_filename_component(_pei_name ${ZEPHRIN_PEI_PE_IMAGE} NAME_WE)
  add_executable(bench_pei_te ${CMAKE_CURRENT_SOURCE_DIR}/pei_te_bench.cpp)
  target_compile_options(bench_pei_te PRIVATE ${ZEPHRIN_WARNINGS})
  target_compile_definitions(bench_pei_te PRIVATE ZEPHRIN_PEI_TE_IMAGE="${_pei_dir}/${_pei_name}.te")
  target_link_libraries(bench_pei_te PRIVATE zephrin_sim benchmark::benchmark
                                             benchmark::benchmark_main)
  add_dependencies(bench_pei_te feature_control_pei_te)
endif()
