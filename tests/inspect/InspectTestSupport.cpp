#include "tests/inspect/InspectTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "acpi_dxe/blob/BlobCache.h"
#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/TableCapture.h"
#include "acpi_dxe/compress/Compress.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/AcpiRegions.h"

namespace inspect_test {

Bytes CacheTest::StoredVariable() {
  const sim::StoredVariable *Found =
      Platform.Variables().Find(ACPI_DATA_CACHE_VARIABLE_NAME, gAcpiDataCacheVariableGuid);
  return Found == nullptr ? Bytes() : Found->Data;
}

Bytes CacheTest::StoreEntries(const std::vector<Bytes> &Payloads) {
  EXPECT_EQ(capture_test::OpenWriteStream(), EFI_SUCCESS);
  for (const Bytes &Payload : Payloads) {
    EXPECT_EQ(SaveBlob(BLOB_HANDLE_WRITE, Payload.data(), static_cast<UINT32>(Payload.size())), EFI_SUCCESS);
  }
  EFI_STATUS Status = CloseBlobStream(BLOB_HANDLE_WRITE);
  EXPECT_EQ(Status, EFI_SUCCESS) << DebugDump();
  if (EFI_ERROR(Status)) DiscardWriteBlobStream();
  return StoredVariable();
}

Bytes CacheTest::Compressed(const Bytes &Stream) {
  UINTN Size = Stream.size() * 2 + 64;
  Bytes Out(Size);
  EXPECT_EQ(Compress(Stream.data(), static_cast<UINT32>(Stream.size()), Out.data(), &Size), EFI_SUCCESS);
  Out.resize(Size);
  return Out;
}

void SampleCacheTest::SetUp() {
  CacheTest::SetUp();
  mBootPath = BOOT_PATH_CUSTOM;
  if (!Tables.Load()) GTEST_SKIP() << "fixture tables not built (iasl missing at build time)";
  if (!sim::MapSampleAcpiRegions()) GTEST_SKIP() << "the sample region window is taken in this process";
}

void SampleCacheTest::TearDown() {
  capture_test::CloseMetaData();
  CacheTest::TearDown();
}

Bytes SampleCacheTest::CaptureSample(UINT32 DsdtSubType) {
  EXPECT_EQ(capture_test::PublishSampleTables(Platform, Tables), EFI_SUCCESS);
  capture_test::OpenMetaData(&MetaData, capture_test::SampleMetaData(Tables, DsdtSubType));
  EXPECT_EQ(capture_test::OpenWriteStream(), EFI_SUCCESS);
  EXPECT_EQ(ProcessAcpiTablesFromXsdt(), EFI_SUCCESS) << DebugDump();
  EFI_STATUS Status = CloseBlobStream(BLOB_HANDLE_WRITE);
  EXPECT_EQ(Status, EFI_SUCCESS) << DebugDump();
  if (EFI_ERROR(Status)) DiscardWriteBlobStream();
  return StoredVariable();
}

Bytes TakeEntry(ACPI_DATA_STORAGE_ENTRY_HEADER *Entry) {
  if (Entry == nullptr) {
    ADD_FAILURE() << "entry builder failed";
    return Bytes();
  }
  const uint8_t *First = reinterpret_cast<const uint8_t *>(Entry);
  Bytes Payload(First, First + Entry->AcpiCommonHeader.Length);
  FreePool(Entry);
  return Payload;
}

Bytes BlobStream(const std::vector<Bytes> &Payloads) {
  Bytes Stream;
  for (const Bytes &Payload : Payloads) {
    BLOB_HEADER Header = {BLOB_HEADER_REVISION, static_cast<UINT32>(Payload.size() + sizeof(BLOB_HEADER)),
                          BLOB_HEADER_SIGNATURE};
    const uint8_t *First = reinterpret_cast<const uint8_t *>(&Header);
    Stream.insert(Stream.end(), First, First + sizeof(Header));
    Stream.insert(Stream.end(), Payload.begin(), Payload.end());
  }
  return Stream;
}

Bytes WithPrefix(uint32_t Attributes, const Bytes &Data) {
  Bytes File(4);
  std::memcpy(File.data(), &Attributes, 4);
  File.insert(File.end(), Data.begin(), Data.end());
  return File;
}

void Put32(Bytes *Data, size_t Offset, uint32_t Value) {
  std::memcpy(Data->data() + Offset, &Value, 4);
}
void Put64(Bytes *Data, size_t Offset, uint64_t Value) {
  std::memcpy(Data->data() + Offset, &Value, 8);
}

AML_OBJECT_LOCATOR PathLocator(const char *Path) {
  AML_OBJECT_LOCATOR Locator{};
  std::strncpy(Locator.PathName, Path, sizeof(Locator.PathName) - 1);
  return Locator;
}

std::string InspectorPath() {
#ifdef ACPI_CACHE_INSPECT_TOOL
  return ACPI_CACHE_INSPECT_TOOL;
#else
  return "";
#endif
}

std::string MakeTempDir() {
  std::string Template = testing::TempDir() + "zephrin-inspect-XXXXXX";
  if (mkdtemp(Template.data()) == nullptr) return "";
  return Template;
}

std::vector<std::string> SplitLines(const std::string &Text) {
  std::vector<std::string> Lines;
  size_t Start = 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) End = Text.size();
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + 1;
  }
  return Lines;
}

ToolRun RunInspector(const std::vector<std::string> &Arguments) {
  ToolRun Run;
  const std::string Dir = MakeTempDir();
  std::string Line = "'" + InspectorPath() + "'";
  for (const std::string &Argument : Arguments) Line += " '" + Argument + "'";
  Line += " > '" + Dir + "/out' 2> '" + Dir + "/err'";
  const int Status = std::system(Line.c_str());
  Run.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  const Bytes Out = ReadHostFileOrEmpty(Dir + "/out");
  const Bytes Err = ReadHostFileOrEmpty(Dir + "/err");
  Run.Stdout.assign(Out.begin(), Out.end());
  Run.Stderr.assign(Err.begin(), Err.end());
  std::filesystem::remove_all(Dir);
  return Run;
}

}  // namespace inspect_test
