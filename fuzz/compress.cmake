# EFI 1.1 decoder on arbitrary bytes (first three bytes choose the output cap)
# and encoder round trip (compress, decompress, compare). Seeds: made from the
# reference vectors by fuzz/seeds.sh into fuzz/corpus/decompress/ and
# fuzz/corpus/compress_roundtrip/ at fuzz time.
zephrin_add_fuzzer(decompress_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/decompress_fuzzer.cpp zephrin_dxe)
zephrin_add_fuzzer(compress_roundtrip_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/compress_roundtrip_fuzzer.cpp
  zephrin_dxe zephrin_sim)
