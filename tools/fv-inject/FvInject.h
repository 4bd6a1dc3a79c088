// Adds DXE driver files to the DXE volume of a firmware image whose volumes are
// kept LZMA-compressed inside a GUID-defined section of its main volume, as
// OVMF_CODE.fd is built: main volume -> firmware-volume file -> LZMA section ->
// firmware-volume-image sections (PEI volume, DXE volume). The result has the
// same size as the input; every size, checksum and pad file on the way up is
// redone, and every byte outside the rewritten file is left as it was.
#ifndef ZEPHRIN_TOOLS_FV_INJECT_FV_INJECT_H_
#define ZEPHRIN_TOOLS_FV_INJECT_FV_INJECT_H_

#include <string>
#include <vector>

#include "tools/fv-inject/FfsLayout.h"

namespace fv_inject {

struct DriverSpec {
  EFI_GUID Name{};
  std::string UiName;
  Bytes Image;                  // PE32 image of the driver
  std::vector<EFI_GUID> Depex;  // ANDed; empty: always dispatchable
};

// Sizes before and after, for the tool's summary line.
struct InjectSummary {
  size_t CompressedBefore = 0;  // bytes of the LZMA stream
  size_t CompressedAfter = 0;
  size_t DxeFreeBefore = 0;  // free space of the DXE volume
  size_t DxeFreeAfter = 0;
  size_t MainFreeAfter = 0;  // free space after the rewritten file in its volume
};

bool InjectDrivers(const Bytes &Image, const std::vector<DriverSpec> &Drivers, Bytes *Out,
                   InjectSummary *Summary, std::string *Error);

// One line per volume, file and opened section, indented by nesting depth.
bool ListImage(const Bytes &Image, std::string *Text, std::string *Error);

// Names of every file in every volume of the image, nested volumes included.
bool CollectFileNames(const Bytes &Image, std::vector<EFI_GUID> *Names, std::string *Error);

}  // namespace fv_inject

#endif  // ZEPHRIN_TOOLS_FV_INJECT_FV_INJECT_H_
