// efi-compress compress IN OUT | efi-compress decompress IN OUT
//
// Runs the driver's Compress / GetInfo / Decompress on files. The encoder takes
// its working memory from boot-services pool, so the program binds the driver
// to a simulated platform for the duration of the call.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/compress/Decompress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Platform.h"

namespace {

using Bytes = std::vector<UINT8>;

const char kUsage[] =
    "usage: efi-compress compress IN OUT\n"
    "       efi-compress decompress IN OUT\n"
    "Compresses or decompresses a file in the EFI 1.1 compressed format.\n";

int Fail(const std::string &Message) {
  std::fprintf(stderr, "efi-compress: %s\n", Message.c_str());
  return 1;
}

bool ReadWhole(const std::string &Path, Bytes *Data) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return false;
  Data->assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return !In.bad();
}

bool WriteWhole(const std::string &Path, const Bytes &Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char *>(Data.data()), static_cast<std::streamsize>(Data.size()));
  return static_cast<bool>(Out);
}

std::string StatusName(EFI_STATUS Status) {
  switch (Status) {
    case EFI_BUFFER_TOO_SMALL:
      return "EFI_BUFFER_TOO_SMALL";
    case EFI_OUT_OF_RESOURCES:
      return "EFI_OUT_OF_RESOURCES";
    case EFI_INVALID_PARAMETER:
      return "EFI_INVALID_PARAMETER";
    default:
      return "status 0x" + std::to_string(Status);
  }
}

// Binds the driver's boot services to a simulated platform while it lives.
struct DriverPlatform {
  sim::Platform Board;
  sim::ScopedDriverBinding Binding{Board};
};

int CompressFile(const Bytes &Input, Bytes *Output) {
  if (Input.size() > MAX_UINT32) return Fail("input is larger than 4 GiB, which the format cannot describe");
  DriverPlatform Platform;
  // Incompressible data grows a little; one retry with the size the encoder reports.
  UINTN DstSize = Input.size() + Input.size() / 8 + 64;
  for (int Attempt = 0; Attempt < 2; Attempt++) {
    Output->assign(DstSize, 0);
    EFI_STATUS Status = Compress(Input.data(), static_cast<UINT32>(Input.size()), Output->data(), &DstSize);
    if (Status == EFI_SUCCESS) {
      Output->resize(DstSize);
      return 0;
    }
    if (Status != EFI_BUFFER_TOO_SMALL) return Fail("compression failed: " + StatusName(Status));
  }
  return Fail("compression failed: output size kept growing");
}

int DecompressFile(const std::string &Name, const Bytes &Input, Bytes *Output) {
  if (Input.size() > MAX_UINT32) return Fail(Name + ": larger than 4 GiB, not a compressed stream");
  UINT32 DstSize = 0;
  UINT32 ScratchSize = 0;
  if (GetInfo(Input.data(), static_cast<UINT32>(Input.size()), &DstSize, &ScratchSize) != EFI_SUCCESS) {
    return Fail(Name + ": not a compressed stream: the 8-byte header does not match the file size (" +
                std::to_string(Input.size()) + " bytes)");
  }
  Bytes Scratch(ScratchSize);
  try {
    Output->assign(DstSize, 0);
  } catch (const std::bad_alloc &) {
    return Fail(Name + ": header announces " + std::to_string(DstSize) +
                " bytes, more than can be allocated");
  }
  EFI_STATUS Status = Decompress(Input.data(), Output->data(), Scratch.data());
  if (Status != EFI_SUCCESS) return Fail(Name + ": corrupt compressed data (" + StatusName(Status) + ")");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string Mode = argv[1];
  const std::string InPath = argv[2];
  const std::string OutPath = argv[3];
  if (Mode != "compress" && Mode != "decompress") {
    std::fputs(kUsage, stderr);
    return 2;
  }
  Bytes Input;
  if (!ReadWhole(InPath, &Input)) return Fail("cannot read " + InPath);
  Bytes Output;
  int Result = Mode == "compress" ? CompressFile(Input, &Output) : DecompressFile(InPath, Input, &Output);
  if (Result != 0) return Result;
  if (!WriteWhole(OutPath, Output)) return Fail("cannot write " + OutPath);
  return 0;
}
