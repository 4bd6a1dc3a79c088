// The one reader and writer of non-volatile variable store images: a firmware
// volume with the NV data file system GUID, a variable store header, then
// variable records (plain or authenticated headers) whose state byte tells the
// newest copy from deleted ones and interrupted writes. The image is a bare
// variable file (OVMF_VARS.fd) or a whole flash image holding such a volume.
// Host code: the simulator's store file, acpi-cache-inspect and efi-varstore
// all go through it.
#ifndef ZEPHRIN_SIM_VAR_STORE_IMAGE_H_
#define ZEPHRIN_SIM_VAR_STORE_IMAGE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "uefi/UefiSpec.h"
#include "uefi/VariableFormat.h"

namespace sim {

// A variable with everything a store record carries besides its state. The
// authenticated fields are kept as read, so a store round trip leaves them be.
struct StoredVariable {
  EFI_GUID Guid;
  std::u16string Name;  // without terminator
  UINT32 Attributes;
  std::vector<UINT8> Data;
  UINT64 MonotonicCount = 0;
  EFI_TIME TimeStamp = {};
  UINT32 PubKeyIndex = 0;

  // True for the variable Name of vendor Guid: both together name a variable.
  bool Is(const std::u16string &OtherName, const EFI_GUID &OtherGuid) const;
};

// Where the store lies in the file. Offsets count from the file's start.
struct VarStoreLocation {
  size_t FvOffset = 0;     // firmware volume header
  size_t FvLength = 0;     // the volume's FvLength
  size_t StoreOffset = 0;  // variable store header (volume offset + HeaderLength)
  size_t StoreSize = 0;    // store header and variables area
  bool Authenticated = false;
  size_t StoreEnd() const { return StoreOffset + StoreSize; }
  size_t VariableHeaderSize() const {
    return Authenticated ? sizeof(AUTHENTICATED_VARIABLE_HEADER) : sizeof(VARIABLE_HEADER);
  }
};

// One record of the store, as found.
struct VarCopy {
  size_t Offset = 0;  // of its header
  size_t Size = 0;    // header, name and data, without the alignment after them
  UINT8 State = 0;
  StoredVariable Variable{};
  size_t DataOffset = 0;
  bool Current = false;    // the copy a firmware reads for this name and GUID
  std::string SkipReason;  // why it is not current; empty when it is
};

struct VarStoreContents {
  VarStoreLocation Location;
  std::vector<VarCopy> Copies;  // store order
  size_t FreeOffset = 0;        // where the next record goes (4-byte aligned from the volume)

  size_t FreeBytes() const {
    return FreeOffset >= Location.StoreEnd() ? 0 : Location.StoreEnd() - FreeOffset;
  }
  // The current copy of a variable, or nullptr.
  const VarCopy *Find(const std::u16string &Name, const EFI_GUID &Guid) const;
  std::vector<const VarCopy *> CurrentCopies() const;
};

// Finds the first sound variable store volume in a file. False with a message
// naming the offset when there is none.
bool LocateVarStore(const UINT8 *Data, size_t Size, VarStoreLocation *Out, std::string *Error);
// Locates and walks the store: every record, the current copy of each name and
// GUID (the last added one; a copy in deleted transition only when no added
// copy exists), and why every other copy is skipped.
bool ReadVarStore(const UINT8 *Data, size_t Size, VarStoreContents *Out, std::string *Error);

// Writes a variable into the image: over the current copy when only its data
// bytes change and their size stays; else appended, the old copy marked in
// deleted transition before and deleted after. A full store, or one whose free
// space is not erased, is compacted (current variables only) first; what still
// does not fit is refused. The image is left unchanged on failure.
bool SetVarStoreVariable(std::vector<UINT8> *Image, const StoredVariable &Variable, std::string *Error);
// Marks the current copy (and any copy in deleted transition) deleted.
bool DeleteVarStoreVariable(std::vector<UINT8> *Image, const std::u16string &Name, const EFI_GUID &Guid,
                            std::string *Error);
// Replaces every record with the given variables, in order, and erases the
// rest of the variables area. Everything outside the variables area stays.
bool RewriteVarStore(std::vector<UINT8> *Image, const std::vector<StoredVariable> &Variables,
                     std::string *Error);

// An empty authenticated store with the geometry of OVMF's 4 MiB-flash variable
// file: a 0x84000-byte volume of 4 KiB blocks, 0x40000 bytes of variable store,
// then the fault-tolerant-write working block and its spare area. QEMU takes it
// as the variable flash of OVMF_CODE_4M.fd.
std::vector<UINT8> NewVarStoreImage();

// "0x4130": offsets and sizes as the store messages print them.
std::string HexText(size_t Value);
// "0x4E2F": values as the firmware's %X messages print them, upper-case digits.
std::string HexTextUpper(UINT64 Value);
// "NV+BS+RT" style names of the attribute bits; unnamed bits as hex.
std::string VariableAttributeNames(UINT32 Attributes);
// Registry format, lower case (79660e97-514b-4cfc-873f-02b3ab00c086) or upper
// case, as the tools that print GUIDs do. The one GUID formatter of the host side.
enum class GuidCase { Lower, Upper };
std::string GuidText(const EFI_GUID &Guid, GuidCase Case = GuidCase::Lower);
bool ParseGuidText(const std::string &Text, EFI_GUID *Out);
// Printable form of a UCS-2 name; characters outside ASCII as \uXXXX.
std::string NameText(const std::u16string &Name);

}  // namespace sim

#endif  // ZEPHRIN_SIM_VAR_STORE_IMAGE_H_
