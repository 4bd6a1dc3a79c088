# Format engine: arbitrary format strings into buffers of every small size.
zephrin_add_fuzzer(print_format_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/print_format_fuzzer.cpp zephrin_core)
