# The cache inspector's parsing entry point (acpi-cache-inspect). Seeds in
# fuzz/corpus/inspect/: the sample platform's cache as the capture stores it
# (efivarfs and raw form), a cache holding every entry kind, and reference
# streams that decode to no blob stream or not at all; the first byte of each is
# the option selector. Dictionary: fuzz/inspect.dict.
zephrin_add_fuzzer(inspect_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/inspect_fuzzer.cpp zephrin_cache_inspect)
