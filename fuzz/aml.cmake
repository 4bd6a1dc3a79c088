# AML primitives and name finder over arbitrary tables. Seeds: fuzz/corpus/aml/
# (the sample tables behind eight parameter bytes); dictionary: fuzz/aml.dict.
zephrin_add_fuzzer(aml_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/aml_fuzzer.cpp zephrin_dxe)
