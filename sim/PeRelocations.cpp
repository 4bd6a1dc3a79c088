// The relocation walker: one pass checks, a second pass (only after a clean
// check) writes. The directory is read through the checked ByteReader, and each
// block is parsed inside its own bounded sub-reader.
#include "sim/PeRelocations.h"

#include <cstring>

#include "common/ByteReader.h"

namespace sim {

namespace {

uint32_t TargetWidth(uint16_t Type) {
  return Type == kPeRelDir64 ? 8 : 4;
}

// Writes happen only when Image is not NULL.
bool WalkRelocations(const uint8_t *Directory, const PeDataDirectory &Dir, uint32_t ImageSize, uint16_t Type,
                     uint8_t *Image, uint64_t Delta, std::string *Error) {
  ByteReader Blocks(Directory, Dir.Size);
  while (Blocks.Remaining() != 0) {
    uint32_t BlockOffset = Dir.Rva + static_cast<uint32_t>(Blocks.Position());
    UINT32 PageRva = 0;
    UINT32 BlockSize = 0;
    ByteReader Entries;
    if (!Blocks.Read32(&PageRva) || !Blocks.Read32(&BlockSize)) {
      *Error = PeFormatMessage("relocation directory ends inside the block header at 0x%x", BlockOffset);
      return false;
    }
    if (BlockSize < 8 || BlockSize % 2 != 0) {
      *Error = PeFormatMessage("relocation block at 0x%x has an invalid size %u", BlockOffset, BlockSize);
      return false;
    }
    if (!Blocks.Take(BlockSize - 8, &Entries)) {
      *Error = PeFormatMessage("relocation block at 0x%x (%u bytes) runs past the relocation directory",
                               BlockOffset, BlockSize);
      return false;
    }
    if (PageRva >= ImageSize) {
      *Error = PeFormatMessage("relocation block for page 0x%x lies outside the image (SizeOfImage 0x%x)",
                               PageRva, ImageSize);
      return false;
    }
    UINT16 Entry = 0;
    while (Entries.Read16(&Entry)) {
      uint16_t EntryType = Entry >> 12;
      // PageRva < ImageSize <= 4 GiB - 1 and the offset is 12 bits: no wrap in 64 bits.
      uint64_t Target = uint64_t{PageRva} + (Entry & 0xFFFu);
      if (EntryType == kPeRelAbsolute) continue;
      if (EntryType != Type) {
        *Error = PeFormatMessage("relocation type %u at 0x%llx is not supported", EntryType,
                                 static_cast<unsigned long long>(Target));
        return false;
      }
      if (Target > ImageSize || ImageSize - Target < TargetWidth(Type)) {
        *Error = PeFormatMessage("relocation at 0x%llx runs past the image (SizeOfImage 0x%x)",
                                 static_cast<unsigned long long>(Target), ImageSize);
        return false;
      }
      if (Image == nullptr) continue;
      if (Type == kPeRelDir64) {
        uint64_t Value = 0;
        memcpy(&Value, Image + Target, 8);
        Value += Delta;
        memcpy(Image + Target, &Value, 8);
      } else {
        uint32_t Value = 0;
        memcpy(&Value, Image + Target, 4);
        Value += static_cast<uint32_t>(Delta);
        memcpy(Image + Target, &Value, 4);
      }
    }
  }
  return true;
}

}  // namespace

uint16_t PeRelocationTypeFor(uint16_t Machine) {
  if (Machine == kPeMachineX64) return kPeRelDir64;
  if (Machine == kPeMachineIa32) return kPeRelHighLow;
  return 0;
}

bool CheckBaseRelocations(const uint8_t *Directory, const PeDataDirectory &Dir, uint32_t ImageSize,
                          uint16_t Type, std::string *Error) {
  return WalkRelocations(Directory, Dir, ImageSize, Type, nullptr, 0, Error);
}

bool ApplyBaseRelocations(uint8_t *Image, uint32_t ImageSize, const PeDataDirectory &Dir, uint16_t Type,
                          uint64_t Delta, std::string *Error) {
  if (Dir.Size == 0) return true;
  if (Dir.Rva > ImageSize || Dir.Size > ImageSize - Dir.Rva) {
    *Error = PeFormatMessage("relocation directory 0x%x+0x%x lies outside the image", Dir.Rva, Dir.Size);
    return false;
  }
  const uint8_t *Directory = Image + Dir.Rva;
  return CheckBaseRelocations(Directory, Dir, ImageSize, Type, Error) &&
         WalkRelocations(Directory, Dir, ImageSize, Type, Image, Delta, Error);
}

}  // namespace sim
