// Bad input, one row per check: what the inspector reports, and what the program
// prints and exits with. Rows start from a sound cache the driver wrote and
// break one thing, named after the check it targets.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "acpi_dxe/blob/BlobStream.h"
#include "tests/inspect/InspectTestSupport.h"
#include "tools/acpi-cache-inspect/CacheInspector.h"
#include "tools/acpi-cache-inspect/EntryFormat.h"

namespace {

using namespace inspect_test;

struct BadCase {
  BadCase(Bytes FileIn, std::string ErrorIn, std::string ProblemIn = "", std::string SkipIn = "")
      : File(std::move(FileIn)),
        Error(std::move(ErrorIn)),
        Problem(std::move(ProblemIn)),
        Skip(std::move(SkipIn)) {}
  Bytes File;
  std::string Error;    // the report's error, or empty
  std::string Problem;  // the malformed entry's fault, or empty
  std::string Skip;     // reason to skip (reference data missing)
};

class BadInput;
struct BadRow {
  const char *Name;
  std::function<BadCase(BadInput &)> Build;
  inspect::InputForm Form = inspect::InputForm::Auto;
};

void PrintTo(const BadRow &Row, std::ostream *Out) {
  *Out << Row.Name;
}

class BadInput : public CacheTest, public testing::WithParamInterface<BadRow> {
 public:
  static Bytes Table(const char *Signature, uint32_t Length) {
    Bytes Table(Length, 0);
    std::memcpy(Table.data(), Signature, 4);
    if (Length >= 8) Put32(&Table, 4, Length);
    return Table;
  }
  Bytes TableEntry(uint32_t Type, const Bytes &Table) {
    ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
    EXPECT_EQ(CreateAcpiTableEntry(Type, Table.data(), static_cast<UINT32>(Table.size()), &Entry),
              EFI_SUCCESS);
    return TakeEntry(Entry);
  }
  Bytes NvsEntry() {
    const Bytes Record = capture_test::NvsDefaultRecord(EFI_ACPI_DSDT_SIGNATURE, 0, PathLocator("\\GNVS"));
    const Bytes Region(5, 0x5A);
    ACPI_DATA_STORAGE_ENTRY_HEADER *Entry = nullptr;
    EXPECT_EQ(CreateNvsElementEntry(&gDsdtNvsDefaultElement, Record.data(), Record.size(), Region.data(), 5,
                                    &Entry),
              EFI_SUCCESS);
    return TakeEntry(Entry);
  }
  // Two entries: a 276-byte FADT (payload 308 bytes) and a 40-byte APIC.
  std::vector<Bytes> SoundEntries() {
    return {TableEntry(AcpiDataTypeFadt, Table("FACP", 276)),
            TableEntry(AcpiDataTypeAcpiDataTables, Table("APIC", 40))};
  }
  Bytes SoundCache() { return StoreEntries(SoundEntries()); }
  // The sound entries with Payload appended, compressed as the driver stores them.
  Bytes CacheWith(const Bytes &Payload) {
    std::vector<Bytes> Entries = SoundEntries();
    Entries.push_back(Payload);
    return Compressed(BlobStream(Entries));
  }
  // The sound stream with one byte of the second blob's header changed.
  Bytes CacheWithSecondBlobHeader(size_t Field, uint32_t Value) {
    Bytes Stream = BlobStream(SoundEntries());
    Put32(&Stream, 16 + 308 + Field, Value);
    return Compressed(Stream);
  }
};

std::string NotCompressed(uint32_t Announced, size_t Held) {
  return "not a compressed cache: the header announces " + std::to_string(Announced) +
         " compressed bytes after its 8, but the variable holds " + std::to_string(Held) + " bytes";
}

TEST_P(BadInput, IsReportedWithItsReason) {
  const BadRow &Row = GetParam();
  BadCase Case = Row.Build(*this);
  if (!Case.Skip.empty()) GTEST_SKIP() << Case.Skip;
  inspect::InspectOptions Options;
  Options.Form = Row.Form;
  const inspect::InspectReport Report = inspect::InspectCache(Case.File.data(), Case.File.size(), Options);
  EXPECT_FALSE(Report.Clean());
  EXPECT_EQ(Report.Error, Case.Error);
  EXPECT_EQ(Report.PoolLeak, "");
  std::string Problem;
  for (const inspect::CacheEntry &Entry : Report.Entries) {
    if (!Entry.Problem.empty()) Problem = Entry.Problem;
  }
  EXPECT_EQ(Problem, Case.Problem);

  if (InspectorPath().empty()) return;
  const std::string Dir = MakeTempDir();
  const std::string Path = Dir + "/AcpiDataCache";
  ASSERT_TRUE(WriteHostFile(Path, Case.File));
  std::vector<std::string> Arguments = {Path};
  if (Row.Form == inspect::InputForm::Efivarfs) Arguments.insert(Arguments.begin(), "--efivarfs");
  const ToolRun Run = RunInspector(Arguments);
  std::filesystem::remove_all(Dir);
  EXPECT_EQ(Run.Exit, 1);
  const std::string Said = Case.Error.empty() ? "1 malformed entry" : Case.Error;
  EXPECT_EQ(Run.Stderr, "acpi-cache-inspect: " + Path + ": " + Said + "\n");
  if (!Case.Problem.empty()) {
    EXPECT_NE(Run.Stdout.find("\n  malformed: " + Case.Problem + "\n"), std::string::npos) << Run.Stdout;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inspect, BadInput,
    testing::Values(
        // The variable as a whole: what FillCache refuses.
        BadRow{"EmptyFile",
               [](BadInput &) {
                 return BadCase{Bytes(), "variable data is empty"};
               }},
        BadRow{"EfivarfsShorterThanItsPrefix",
               [](BadInput &) {
                 return BadCase{Bytes{3, 0, 0},
                                "file of 3 bytes is too short for the 4-byte efivarfs attribute prefix"};
               },
               inspect::InputForm::Efivarfs},
        BadRow{"RuntimeAccessAttributes",
               [](BadInput &T) {
                 return BadCase{
                     WithPrefix(7, T.SoundCache()),
                     "attributes 0x00000007 (NV+BS+RT) are not NV+BS (0x00000003): the driver refuses "
                     "this cache (--any-attributes inspects it anyway)"};
               }},
        BadRow{"VolatileAttributesForcedEfivarfs",
               [](BadInput &T) {
                 return BadCase{
                     WithPrefix(0x6, T.SoundCache()),
                     "attributes 0x00000006 (BS+RT) are not NV+BS (0x00000003): the driver refuses "
                     "this cache (--any-attributes inspects it anyway)"};
               },
               inspect::InputForm::Efivarfs},
        BadRow{"ShorterThanTheCompressedHeader",
               [](BadInput &) {
                 return BadCase{Bytes{9, 0, 0, 0, 1},
                                "variable data is 5 bytes, too short for the 8-byte compressed header"};
               }},
        BadRow{"TruncatedVariable",
               [](BadInput &T) {
                 Bytes Cache = T.SoundCache();
                 const size_t Full = Cache.size();
                 Cache.resize(Full - 10);
                 return BadCase{Cache, NotCompressed(static_cast<uint32_t>(Full - 8), Full - 10)};
               }},
        BadRow{"TextFile",
               [](BadInput &) {
                 const std::string Text = "GARBAGE, not a variable at all\n";
                 return BadCase{Bytes(Text.begin(), Text.end()), NotCompressed(0x42524147, Text.size())};
               }},
        BadRow{"LargerThanTheCache",
               [](BadInput &) {
                 return BadCase{
                     Bytes(MAX_CACHE_SIZE + 1, 0),
                     "variable data is 262145 bytes, more than the 262144 (0x40000) the driver loads"};
               }},
        BadRow{"DecompressedSizeAboveTheCache",
               [](BadInput &T) {
                 Bytes Cache = T.SoundCache();
                 Put32(&Cache, 4, MAX_CACHE_SIZE + 1);
                 return BadCase{
                     Cache,
                     "the compressed header announces 262145 decompressed bytes, more than the 262144 "
                     "(0x40000) the driver loads"};
               }},
        BadRow{"CorruptBitStream",
               [](BadInput &) {
                 const Bytes Stream = ReadHostFileOrEmpty(std::string(ZEPHRIN_SHARED_DIR) +
                                                          "/vectors/uefi-compression/bad/bitlen_gt16.efi11");
                 if (Stream.empty())
                   return BadCase{Bytes(), "", "", "reference vectors not found under ZEPHRIN_SHARED_DIR"};
                 return BadCase{Stream, "corrupt compressed data: the decoder rejected the bit stream"};
               }},
        // The blob stream: what ReadBlob refuses, in the driver's own words.
        BadRow{"BlobSignatureBroken",
               [](BadInput &T) {
                 return BadCase{T.CacheWithSecondBlobHeader(8, 0x12345678),
                                "stream corrupt at offset 0x144 (blob 1): Blob appears corrupt."};
               }},
        BadRow{"BlobRevisionTwo",
               [](BadInput &T) {
                 return BadCase{T.CacheWithSecondBlobHeader(0, 2),
                                "stream corrupt at offset 0x144 (blob 1): Blob revision 2 unsupported."};
               }},
        BadRow{"BlobLongerThanTheStream",
               [](BadInput &T) {
                 return BadCase{
                     T.CacheWithSecondBlobHeader(4, 16 + 72 + 1),
                     "stream corrupt at offset 0x144 (blob 1): Error, the blob length in the blob header "
                     "is too long to be valid."};
               }},
        BadRow{"BlobWithEmptyPayload",
               [](BadInput &T) {
                 return BadCase{
                     T.CacheWithSecondBlobHeader(4, 16),
                     "stream corrupt at offset 0x144 (blob 1): Error, the blob length in the blob header "
                     "is too short to be valid."};
               }},
        // Entries: the inspector's own checks on top of the driver's reader.
        BadRow{"PayloadShorterThanAnEntryHeader",
               [](BadInput &T) {
                 return BadCase{T.CacheWith(Bytes(20, 1)), "",
                                "payload of 20 bytes is too short for a 32-byte entry header"};
               }},
        BadRow{"EntryLengthNotThePayloadLength",
               [](BadInput &T) {
                 Bytes Entry = T.TableEntry(AcpiDataTypeAcpiDataTables, BadInput::Table("MCFG", 40));
                 Put32(&Entry, 8, 73);
                 return BadCase{T.CacheWith(Entry), "",
                                "entry Length 0x49 differs from the blob's 0x48 payload bytes"};
               }},
        BadRow{"StoredTableLengthFieldWrong",
               [](BadInput &T) {
                 Bytes Table = BadInput::Table("MCFG", 40);
                 Put32(&Table, 4, 0x30);
                 return BadCase{T.CacheWith(T.TableEntry(AcpiDataTypeAcpiDataTables, Table)), "",
                                "table Length field 0x30 differs from the 0x28 bytes stored"};
               }},
        BadRow{"StoredTableShorterThanAHeader",
               [](BadInput &T) {
                 return BadCase{
                     T.CacheWith(T.TableEntry(AcpiDataTypeAcpiDataTables, BadInput::Table("XYZW", 6))), "",
                     "stored table of 6 bytes is shorter than an ACPI header"};
               }},
        BadRow{"NvsLengthNotTheBytesCarried",
               [](BadInput &T) {
                 Bytes Entry = T.NvsEntry();
                 Put64(&Entry, 151, 6);
                 return BadCase{T.CacheWith(Entry), "", "NvsLength 0x6 differs from the 0x5 bytes carried"};
               }},
        BadRow{"ElementShorterThanItsFixedPart",
               [](BadInput &T) {
                 Bytes Entry = T.NvsEntry();
                 Entry.resize(100);
                 Put32(&Entry, 8, 100);
                 return BadCase{T.CacheWith(Entry), "",
                                "element of 100 bytes is shorter than its fixed part of 159"};
               }},
        BadRow{"IntegerElementWithExtraBytes",
               [](BadInput &T) {
                 const Bytes Record =
                     capture_test::IntegerRecord(EFI_ACPI_DSDT_SIGNATURE, PathLocator("\\IBYT"), 3);
                 ACPI_DATA_STORAGE_ENTRY_HEADER *Built = nullptr;
                 EXPECT_EQ(CreateIntegerElementEntry(Record.data(), Record.size(), 1, &Built), EFI_SUCCESS);
                 Bytes Entry = TakeEntry(Built);
                 Entry.resize(220, 0);
                 Put32(&Entry, 8, 220);
                 return BadCase{T.CacheWith(Entry), "", "integer element is not exactly 216 bytes"};
               }},
        BadRow{"UnknownDataType",
               [](BadInput &T) {
                 Bytes Entry = T.TableEntry(AcpiDataTypeAcpiDataTables, BadInput::Table("MCFG", 40));
                 Put32(&Entry, 12, 9);
                 return BadCase{T.CacheWith(Entry), "", "unknown kind: type 9, sub-type 3, NVS type 0"};
               }},
        BadRow{"FirmwareVolumeEntryOfWrongLength",
               [](BadInput &T) {
                 Bytes Entry = T.TableEntry(AcpiDataTypeDsdt, BadInput::Table("DSDT", 40));
                 Put32(&Entry, 16, AcpiDataSubTypeFromFv);
                 return BadCase{T.CacheWith(Entry), "",
                                "firmware-volume entry of 72 bytes (a DSDT's is 32, an SSDT's 68)"};
               }}),
    [](const testing::TestParamInfo<BadRow> &Info) { return Info.param.Name; });

}  // namespace
