// Reading volumes for the injector: the volume's files (through the simulator's
// bounded reader, sim/FvImage.h), where its free space starts, and the walk of a
// whole image that the listing and the duplicate-name check share.
#ifndef ZEPHRIN_TOOLS_FV_INJECT_VOLUME_SCAN_H_
#define ZEPHRIN_TOOLS_FV_INJECT_VOLUME_SCAN_H_

#include <optional>
#include <string>
#include <vector>

#include "sim/FvImage.h"
#include "tools/fv-inject/FfsLayout.h"

namespace fv_inject {

struct VolumeScan {
  size_t Length = 0;
  bool ErasePolarityOne = true;
  std::optional<EFI_GUID> Name;
  std::vector<sim::FvFileView> Files;  // pad files left out
  size_t FreeOffset = 0;               // from here to Length every byte is erased
};

// Volume holds exactly one volume (the caller cut it to its FvLength).
bool ScanVolume(const Bytes &Volume, VolumeScan *Out, std::string *Error);

// Length of the volume whose header starts at Offset, or 0 when none does there.
size_t VolumeLengthAt(const Bytes &Image, size_t Offset);

// The top-level volumes of a flash image, back to back from offset 0.
struct TopVolume {
  size_t Offset = 0;
  size_t Length = 0;
};
bool FindTopVolumes(const Bytes &Image, std::vector<TopVolume> *Out, std::string *Error);

const char *FileTypeName(EFI_FV_FILETYPE Type);

}  // namespace fv_inject

#endif  // ZEPHRIN_TOOLS_FV_INJECT_VOLUME_SCAN_H_
