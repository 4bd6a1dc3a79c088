# Blob storage: the read-stream walker (direct stream, or through the variable,
# size checks and decoder) and the stream comparison. Seeds: fuzz/corpus/blob_reader/
# and fuzz/corpus/blob_compare/; dictionary: fuzz/blob.dict.
zephrin_add_fuzzer(blob_reader_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/blob_reader_fuzzer.cpp zephrin_dxe zephrin_sim)
zephrin_add_fuzzer(blob_compare_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/blob_compare_fuzzer.cpp zephrin_dxe)
