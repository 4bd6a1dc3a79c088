#include "tests/varstore/VarStoreTestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/FvImage.h"
#include "uefi/PiFirmwareVolume.h"

namespace varstore_test {

namespace {

constexpr size_t kFvHeaderLength = 0x48;

}  // namespace

Bytes Fixture(const std::string &Name) {
  return ReadHostFileOrEmpty(std::string(ZEPHRIN_VARSTORE_FIXTURE_DIR) + "/" + Name);
}

Bytes PristineOvmfVars() {
  return ReadHostFileOrEmpty("/usr/share/OVMF/OVMF_VARS_4M.fd");
}

void Put16(Bytes *Data, size_t Offset, uint16_t Value) {
  (*Data)[Offset] = static_cast<uint8_t>(Value);
  (*Data)[Offset + 1] = static_cast<uint8_t>(Value >> 8);
}

void Put32(Bytes *Data, size_t Offset, uint32_t Value) {
  for (size_t Index = 0; Index < 4; Index++)
    (*Data)[Offset + Index] = static_cast<uint8_t>(Value >> (8 * Index));
}

void FixVolumeChecksum(Bytes *Data, size_t FvOffset) {
  const size_t At = FvOffset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, Checksum);
  Put16(Data, At, 0);
  uint16_t HeaderLength = 0;
  std::memcpy(&HeaderLength, Data->data() + FvOffset + OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, HeaderLength),
              2);
  Put16(Data, At, static_cast<uint16_t>(-sim::Sum16(Data->data() + FvOffset, HeaderLength)));
}

Bytes SmallStore(bool Authenticated, const std::vector<sim::StoredVariable> &Variables, size_t Size) {
  // Start from the fresh image's headers, cut down to Size, then refill.
  Bytes Image = sim::NewVarStoreImage();
  Image.resize(Size);
  Put32(&Image, OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, FvLength), static_cast<uint32_t>(Size));
  Put32(&Image, OFFSET_OF(EFI_FIRMWARE_VOLUME_HEADER, BlockMap), static_cast<uint32_t>(Size / 0x1000));
  FixVolumeChecksum(&Image, 0);
  Put32(&Image, kFvHeaderLength + OFFSET_OF(VARIABLE_STORE_HEADER, Size),
        static_cast<uint32_t>(Size - kFvHeaderLength));
  if (!Authenticated) std::memcpy(Image.data() + kFvHeaderLength, &gEfiVariableGuid, sizeof(EFI_GUID));
  std::string Error;
  EXPECT_TRUE(sim::RewriteVarStore(&Image, Variables, &Error)) << Error;
  return Image;
}

size_t FirstRecord(const Bytes &) {
  return kFvHeaderLength + sizeof(VARIABLE_STORE_HEADER);
}

sim::StoredVariable Variable(const std::u16string &Name, const EFI_GUID &Guid, UINT32 Attributes,
                             const Bytes &Data) {
  sim::StoredVariable Out{Guid, Name, Attributes, Data};
  return Out;
}

std::string TempPath(const std::string &Name) {
  std::string Test = testing::UnitTest::GetInstance()->current_test_info()->name();
  for (char &Char : Test) Char = Char == '/' ? '_' : Char;  // parameterised names hold a slash
  return testing::TempDir() + "varstore-" + std::to_string(getpid()) + "-" + Test + "-" + Name;
}

ToolRun RunTool(const std::vector<std::string> &Arguments) {
  ToolRun Run;
  const std::string Out = TempPath("stdout");
  const std::string Err = TempPath("stderr");
  std::string Line = std::string("'") + EFI_VARSTORE_TOOL + "'";
  for (const std::string &Argument : Arguments) Line += " '" + Argument + "'";
  Line += " > '" + Out + "' 2> '" + Err + "'";
  const int Status = std::system(Line.c_str());
  Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  const Bytes OutBytes = ReadHostFileOrEmpty(Out);
  const Bytes ErrBytes = ReadHostFileOrEmpty(Err);
  Run.Stdout.assign(OutBytes.begin(), OutBytes.end());
  Run.Stderr.assign(ErrBytes.begin(), ErrBytes.end());
  std::filesystem::remove(Out);
  std::filesystem::remove(Err);
  return Run;
}

}  // namespace varstore_test
