# Certified-path restore: the firmware-volume table reader over arbitrary RAW
# sections in the simulated platform's volumes (restore_fv_reader_fuzzer).
zephrin_add_fuzzer(restore_fv_reader_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/restore_fv_reader_fuzzer.cpp zephrin_dxe
                   zephrin_sim)
# The restore engine's four phases over an arbitrary stored stream, meta data
# and DSDT file (restore_engine_fuzzer); seeds are captured platforms.
zephrin_add_fuzzer(restore_engine_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/restore_engine_fuzzer.cpp zephrin_dxe zephrin_sim)
