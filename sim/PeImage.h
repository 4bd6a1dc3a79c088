// The image loader of the simulated platform: takes the bytes of a PE32+ EFI
// boot-service driver, checks them, maps the image into this process (below
// 4 GiB when the host allows it, so 32-bit addresses the driver hands out are
// real), applies its base relocations and returns the entry point. The driver
// then runs natively: EFIAPI is the Microsoft x64 convention on both sides.
#ifndef ZEPHRIN_SIM_PE_IMAGE_H_
#define ZEPHRIN_SIM_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "sim/PeFormat.h"
#include "uefi/UefiSpec.h"

namespace sim {

class PeImage {
 public:
  // Validates File as an x64 PE32+ EFI boot-service driver without imports,
  // maps and relocates it. nullptr with the reason in *Error on any fault.
  static std::unique_ptr<PeImage> Load(const uint8_t *File, size_t Size, std::string *Error);
  // Load() on the contents of the file at Path.
  static std::unique_ptr<PeImage> LoadFile(const std::string &Path, std::string *Error);

  ~PeImage();  // unmaps the image
  PeImage(const PeImage &) = delete;
  PeImage &operator=(const PeImage &) = delete;

  uint8_t *Base() const { return mBase; }
  uint32_t Size() const { return mHeaders.SizeOfImage; }
  // Address the image was linked for; Base() - LinkedBase() is the relocation delta.
  uint64_t LinkedBase() const { return mHeaders.ImageBase; }
  EFI_IMAGE_ENTRY_POINT EntryPoint() const;
  const PeHeaders &Headers() const { return mHeaders; }

 private:
  PeImage(uint8_t *Base, size_t MapSize, const PeHeaders &Headers)
      : mBase(Base), mMapSize(MapSize), mHeaders(Headers) {}

  uint8_t *mBase;      // first byte of the mapping (the image's headers)
  size_t mMapSize;     // bytes mapped, SizeOfImage rounded up to host pages
  PeHeaders mHeaders;  // the validated headers the image was built from
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_PE_IMAGE_H_
