// Builder and reader of firmware-volume images in the PI layout (volume 3): a
// volume header with block map and checksum, an extended header that names the
// volume (placed in a pad file, as volume generators do), FFS files 8-byte aligned
// with header checksum and state bits, sections 4-byte aligned inside each file.
// Host code for tests and tools; AddFvImage loads an image into the platform's
// firmware volumes (sim/FirmwareVolumes.h), which serve it through FV2.
#ifndef ZEPHRIN_SIM_FV_IMAGE_H_
#define ZEPHRIN_SIM_FV_IMAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/FirmwareVolumes.h"
#include "uefi/PiFirmwareFile.h"
#include "uefi/PiFirmwareVolume.h"

namespace sim {

class Platform;

// The 24-bit little-endian size of a file or section header.
void Put24(UINT8 *Out, size_t Value);
size_t Get24(const UINT8 *In);
// Byte sum of Bytes; a file header sums to 0.
UINT8 Sum8(const UINT8 *Bytes, size_t Size);
// Sum of the little-endian 16-bit words of Bytes; a volume header sums to 0.
UINT16 Sum16(const UINT8 *Bytes, size_t Size);

// One section as bytes: its header and body.
std::vector<UINT8> BuildFfsSection(const FvSection &Section);
// One FFS file as bytes (header with checksums and state for the given polarity).
std::vector<UINT8> BuildFfsFile(const FvFile &File, bool ErasePolarityOne = true);

class FvImageBuilder {
 public:
  // The FV name GUID, carried in the extended header; without it the volume has none.
  FvImageBuilder &SetFvName(const EFI_GUID &Name);
  FvImageBuilder &SetErasePolarityOne(bool One);
  FvImageBuilder &AddFile(const FvFile &File);
  // Convenience: a freeform file with one RAW section holding Data.
  FvImageBuilder &AddRawFile(const EFI_GUID &Name, const std::vector<UINT8> &Data,
                             EFI_FV_FILETYPE Type = EFI_FV_FILETYPE_FREEFORM);

  // The finished image, padded with the erased byte to a whole number of 4 KiB blocks.
  std::vector<UINT8> Build() const;

 private:
  std::optional<EFI_GUID> mFvName;
  bool mErasePolarityOne = true;
  std::vector<FvFile> mFiles;
};

// A file as found in an image: where it lies and what its header says.
struct FvFileView {
  EFI_GUID Name{};
  EFI_FV_FILETYPE Type = 0;
  UINT8 Attributes = 0;
  size_t Offset = 0;      // of the file header, from the image start
  size_t HeaderSize = 0;  // 24, or 32 for a large file
  size_t Size = 0;        // whole file, header included
};

struct FvSectionView {
  EFI_SECTION_TYPE Type = 0;
  size_t DataOffset = 0;  // of the section body, from the image start
  size_t DataSize = 0;
};

// Reads an image back. Parse() checks the header (signature, length, checksum)
// and every file and section against the image's bounds; Error() says what was
// wrong when it returns false.
class FvImageReader {
 public:
  explicit FvImageReader(const std::vector<UINT8> &Image) : mImage(Image) {}
  bool Parse();
  const std::string &Error() const { return mError; }
  const std::optional<EFI_GUID> &FvName() const { return mFvName; }
  bool ErasePolarityOne() const { return mErasePolarityOne; }
  // Files in image order, pad files left out.
  const std::vector<FvFileView> &Files() const { return mFiles; }
  std::vector<FvSectionView> Sections(const FvFileView &File) const;
  // Where the files (pad files included) end: the first erased file header, or
  // the volume's end. Whether the bytes from here on are all erased is not checked.
  size_t FreeOffset() const { return mFreeOffset; }

 private:
  bool Fail(const std::string &Why);
  bool ParseHeader(size_t *FirstFile);
  bool ParseFiles(size_t Offset);

  const std::vector<UINT8> &mImage;
  std::string mError;
  std::optional<EFI_GUID> mFvName;
  bool mErasePolarityOne = true;
  size_t mFvLength = 0;  // bytes of the image that belong to the volume
  std::vector<FvFileView> mFiles;
  size_t mFreeOffset = 0;
};

// Loads a volume image into the platform's firmware volumes: its files with their
// sections, under the image's FV name. nullptr, with *Error saying why, when the
// image is not a volume, has no FV name, or the volume cannot be installed.
FirmwareVolume *AddFvImage(Platform &Owner, const std::vector<UINT8> &Image, std::string *Error);

// A device path of one PIWG firmware-volume node and the end node.
std::vector<UINT8> BuildFvDevicePath(const EFI_GUID &FvName);

}  // namespace sim

#endif  // ZEPHRIN_SIM_FV_IMAGE_H_
