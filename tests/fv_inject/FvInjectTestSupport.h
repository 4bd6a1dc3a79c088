// Test support for the injector: a small firmware image of the same shape as
// OVMF_CODE.fd (main volume -> firmware-volume file -> LZMA GUID-defined section
// -> PEI and DXE volume images, then a SEC volume), an LZMA decoder that does not
// use the injector's code, and access to the tools the OVMF tests run.
#ifndef ZEPHRIN_TESTS_FV_INJECT_FV_INJECT_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_FV_INJECT_FV_INJECT_TEST_SUPPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/HostFiles.h"
#include "uefi/PiFirmwareFile.h"

namespace fv_inject_test {

using Bytes = std::vector<uint8_t>;

inline constexpr EFI_GUID kDxeCoreFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x01}};
inline constexpr EFI_GUID kDxeDriverFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x02}};
inline constexpr EFI_GUID kPeimFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x03}};
inline constexpr EFI_GUID kCompressedFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x04}};
inline constexpr EFI_GUID kTrailingFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x05}};
inline constexpr EFI_GUID kSecFile = {
    0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x66, 0x66, 0x77, 0x06}};
inline constexpr EFI_GUID kNewDriverA = {
    0x99999999, 0x8888, 0x4777, {0x86, 0x66, 0x55, 0x55, 0x44, 0x44, 0x33, 0x0A}};
inline constexpr EFI_GUID kNewDriverB = {
    0x99999999, 0x8888, 0x4777, {0x86, 0x66, 0x55, 0x55, 0x44, 0x44, 0x33, 0x0B}};
inline constexpr EFI_GUID kDepexOne = {
    0x5A5A5A5A, 0x1234, 0x4321, {0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};
inline constexpr EFI_GUID kDepexTwo = {
    0x6B6B6B6B, 0x1234, 0x4321, {0x81, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09}};

struct SyntheticLayout {
  size_t MainVolumeLength = 0x10000;
  size_t DxeVolumeLength = 0x8000;
  bool WithLzmaSection = true;
  bool WithDxeCore = true;
  // A raw file after the compressed one, behind a pad file of this many bytes (0: none).
  size_t PadBeforeTrailingFile = 0;
};

struct SyntheticImage {
  Bytes Image;
  size_t MainVolumeLength = 0;
  Bytes DxeVolume;                // as placed in the payload
  size_t DxeOffsetInPayload = 0;  // of the DXE volume's header
  size_t PayloadSize = 0;
};

SyntheticImage BuildSyntheticImage(const SyntheticLayout &Layout);

// Grows a volume (erase polarity 1) to Length bytes of erased free space and
// redoes its header's length, block map and checksum.
void GrowVolume(Bytes *Volume, size_t Length);

// Decodes an LZMA "alone" stream with liblzma's raw decoder told the size from
// the header and refusing an end marker, the way the firmware's decoder reads it.
std::optional<Bytes> StrictLzmaDecode(const uint8_t *Stream, size_t Size);

// The compressed file of an image's first volume and its decoded payload, found
// with the simulator's volume reader and StrictLzmaDecode.
struct OpenedImage {
  size_t FileOffset = 0;  // of the compressed file in the image
  size_t FileSize = 0;
  uint8_t FileChecksum = 0;
  Bytes Payload;
};
bool OpenImage(const Bytes &Image, size_t MainVolumeLength, OpenedImage *Out, std::string *Why);

using test_support::ReadHostFile;
using test_support::WriteHostFile;
Bytes PseudoRandom(size_t Size, uint32_t Seed);
std::string GuidString(const EFI_GUID &Guid);
// The UCS-2 form of a user-interface name, terminator included.
Bytes Ucs2(const std::string &Text);
// An executable found on PATH.
std::optional<std::string> FindProgram(const std::string &Name);
// Runs a shell command; returns its exit status and everything it printed.
int RunCommand(const std::string &Command, std::string *Output);

}  // namespace fv_inject_test

#endif  // ZEPHRIN_TESTS_FV_INJECT_FV_INJECT_TEST_SUPPORT_H_
