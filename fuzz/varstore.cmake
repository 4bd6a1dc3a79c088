# The variable store and dmpstore readers (sim/VarStoreImage.h, sim/DmpStore.h),
# with the store writer on every store the reader accepts. Seeds in
# fuzz/corpus/varstore/: a 4 KiB store cut from the one OVMF wrote (added,
# deleted and in-transition copies), and the shell's dmpstore records of the
# same boot; the first byte of each picks the reader. Dictionary:
# fuzz/varstore.dict.
zephrin_add_fuzzer(varstore_fuzzer ${CMAKE_CURRENT_SOURCE_DIR}/varstore_fuzzer.cpp zephrin_sim)
