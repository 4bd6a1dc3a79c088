// The UEFI shell's "dmpstore -s FILE" format: per variable, UINT32 name size,
// UINT32 data size, the UCS-2 name with its terminator, the vendor GUID, UINT32
// attributes, the data, and a CRC32 of all of that. No header, no count: the
// records run to the end of the file. Volatile variables are saved too.
#ifndef ZEPHRIN_SIM_DMP_STORE_H_
#define ZEPHRIN_SIM_DMP_STORE_H_

#include <string>
#include <vector>

#include "sim/VarStoreImage.h"

namespace sim {

struct DumpedVariable {
  size_t Offset = 0;  // of the record, from the file's start
  StoredVariable Variable{};
};

// Reads every record; false with a message naming the record's offset when one
// is cut off, carries a name without terminator, or fails its CRC.
bool ReadDmpStore(const UINT8 *Data, size_t Size, std::vector<DumpedVariable> *Out, std::string *Error);
// The file the shell would save for these variables.
std::vector<UINT8> WriteDmpStore(const std::vector<StoredVariable> &Variables);

}  // namespace sim

#endif  // ZEPHRIN_SIM_DMP_STORE_H_
