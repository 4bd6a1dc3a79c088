# Certified-path patching: DSDT NVS and integer elements, SSDT NVS and NON-NVS
# elements, each over an arbitrary table and element (patch_fuzzer).
zephrin_add_fuzzer(patch_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/patch_fuzzer.cpp zephrin_dxe zephrin_sim)
