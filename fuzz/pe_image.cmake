# Image loader and TE converter over arbitrary files. Seeds: fuzz/corpus/pe_image/;
# dictionary: fuzz/pe_image.dict.
zephrin_add_fuzzer(pe_image_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/pe_image_fuzzer.cpp zephrin_te_convert zephrin_sim)
