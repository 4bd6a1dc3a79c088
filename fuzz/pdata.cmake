# Product data and ACPI meta data over arbitrary bytes: the container walk
# (pdata_container_fuzzer), the whole lookup from HOBs and a volume on the
# simulated platform (pdata_lookup_fuzzer), and the meta data record lookups
# (acpi_meta_fuzzer). Seeds: fuzz/corpus/<target>/; dictionary: fuzz/pdata.dict.
zephrin_add_fuzzer(pdata_container_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/pdata_container_fuzzer.cpp zephrin_dxe)
zephrin_add_fuzzer(pdata_lookup_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/pdata_lookup_fuzzer.cpp zephrin_dxe zephrin_sim)
zephrin_add_fuzzer(acpi_meta_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/acpi_meta_fuzzer.cpp zephrin_dxe)
