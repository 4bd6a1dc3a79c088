# The feature-control PEI module's entry point over product data from the input,
# in a HOB, in a volume file, or both, on the simulated PEI phase. Dictionary:
# fuzz/pdata.dict (container and item signatures).
zephrin_add_fuzzer(feature_control_pei_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/feature_control_pei_fuzzer.cpp
  zephrin_pei zephrin_sim)
