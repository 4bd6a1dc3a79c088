# The acpidump text reader and table arranging (sim/AcpiDump.h). Seeds: the
# real machines' dumps beside the project, added by fuzz/seeds.sh at fuzz time.
zephrin_add_fuzzer(acpi_dump_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/acpi_dump_fuzzer.cpp zephrin_sim)
