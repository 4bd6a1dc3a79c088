# AML primitives and name finder over arbitrary tables. Seeds: fuzz/corpus/aml/
# (the sample tables behind eight parameter bytes); dictionary: fuzz/aml.dict.
zephrin_add_fuzzer(aml_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/aml_fuzzer.cpp zephrin_dxe)
# The XSDT walk over arbitrary XSDTs behind an RSDP of any revision.
zephrin_add_fuzzer(xsdt_walk_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/xsdt_walk_fuzzer.cpp zephrin_dxe)
