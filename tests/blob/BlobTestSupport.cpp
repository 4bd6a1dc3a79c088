#include "tests/blob/BlobTestSupport.h"

#include <cstring>

#include "acpi_dxe/core/DxeServices.h"
#include "sim/DriverBinding.h"
#include "sim/Recorders.h"
#include "uefi/Acpi.h"

namespace blobtest {

void BlobPlatformTest::SetUp() {
  Boot();
}

void BlobPlatformTest::TearDown() {
  ResetStreamState(true);
  EXPECT_EQ(mPlatform->LeakCheck(), "");
  mPlatform.reset();
  sim::UnbindDriver();
}

void BlobPlatformTest::Boot(const sim::PlatformOptions &Options) {
  if (mPlatform != nullptr) ResetStreamState(true);
  mPlatform.reset();
  mPlatform = std::make_unique<sim::Platform>(Options);
  sim::BindDriverTo(*mPlatform);
}

void BlobPlatformTest::ResetStreamState(bool FreeCaches) {
  if (FreeCaches && mReadBlobStreamPointer != nullptr) FreePool(mReadBlobStreamPointer);
  if (FreeCaches && mWriteBlobStreamPointer != nullptr) FreePool(mWriteBlobStreamPointer);
  mReadBlobHandle = mWriteBlobHandle = BLOB_HANDLE_NONE;
  mReadBlobStreamPointer = mWriteBlobStreamPointer = nullptr;
  mReadBlobStreamOffset = mReadBlobStreamMaxOffset = 0;
  mWriteBlobStreamOffset = mWriteBlobStreamMaxOffset = 0;
}

std::vector<LoggedMessage> BlobPlatformTest::Messages() const {
  std::vector<LoggedMessage> Result;
  for (const sim::DebugRecord &Record : mPlatform->Recorder().Records().Debug) {
    // The formatter turns each "\n" of a format into "\r\n"; tests compare with
    // the format's own text.
    std::string Text = Record.Text;
    for (size_t At = Text.find("\r\n"); At != std::string::npos; At = Text.find("\r\n", At))
      Text.erase(At, 1);
    Result.push_back({Record.Level, Text});
  }
  return Result;
}

void BlobPlatformTest::ClearMessages() {
  mPlatform->Recorder().Records().Debug.clear();
}

bool BlobPlatformTest::Logged(UINTN Level, const std::string &Text) const {
  for (const LoggedMessage &Message : Messages()) {
    if (Message.Level == Level && Message.Text == Text) return true;
  }
  return false;
}

void BlobPlatformTest::LoadReadStream(const Bytes &Stream) {
  ASSERT_LE(Stream.size(), (size_t)MAX_CACHE_SIZE);
  ASSERT_EQ(AllocateCache(BlobAccessRead), EFI_SUCCESS);
  if (!Stream.empty()) std::memcpy(mReadBlobStreamPointer, Stream.data(), Stream.size());
  mReadBlobStreamMaxOffset = (UINT32)Stream.size();
  mReadBlobHandle = BLOB_HANDLE_READ;
}

Bytes BlobPlatformTest::WriteStreamBytes() const {
  if (mWriteBlobStreamPointer == nullptr) return {};
  return Bytes(mWriteBlobStreamPointer, mWriteBlobStreamPointer + mWriteBlobStreamOffset);
}

void Put32(Bytes *Data, size_t Offset, UINT32 Value) {
  for (int Index = 0; Index < 4; Index++) (*Data)[Offset + Index] = (UINT8)(Value >> (8 * Index));
}

void Put64(Bytes *Data, size_t Offset, UINT64 Value) {
  for (int Index = 0; Index < 8; Index++) (*Data)[Offset + Index] = (UINT8)(Value >> (8 * Index));
}

UINT32 Get32(const Bytes &Data, size_t Offset) {
  UINT32 Value = 0;
  for (int Index = 3; Index >= 0; Index--) Value = (Value << 8) | Data.at(Offset + Index);
  return Value;
}

UINT64 Get64(const Bytes &Data, size_t Offset) {
  return Get32(Data, Offset) | ((UINT64)Get32(Data, Offset + 4) << 32);
}

Bytes MakeBlobWithHeader(UINT32 Revision, UINT32 Length, UINT64 Signature, const Bytes &Payload) {
  Bytes Blob(16);
  Put32(&Blob, 0, Revision);
  Put32(&Blob, 4, Length);
  Put64(&Blob, 8, Signature);
  Blob.insert(Blob.end(), Payload.begin(), Payload.end());
  return Blob;
}

Bytes MakeBlob(const Bytes &Payload) {
  return MakeBlobWithHeader(1, (UINT32)Payload.size() + 16, 0xFFFF00000000FFFFULL, Payload);
}

void Append(Bytes *Stream, const Bytes &More) {
  Stream->insert(Stream->end(), More.begin(), More.end());
}

static void SetChecksum(Bytes *Table) {
  (*Table)[9] = 0;
  UINT8 Sum = 0;
  for (UINT8 Byte : *Table) Sum = (UINT8)(Sum + Byte);
  (*Table)[9] = (UINT8)(0 - Sum);
}

Bytes MakeTable(const char Signature[4], UINT32 Length, UINT8 Seed) {
  Bytes Table(Length);
  for (UINT32 Index = 0; Index < Length; Index++) Table[Index] = (UINT8)(Seed + Index * 7);
  std::memcpy(Table.data(), Signature, 4);
  if (Length >= 36) {
    Put32(&Table, 4, Length);
    Table[8] = 2;
    std::memcpy(&Table[10], "ZEPHRN", 6);
    std::memcpy(&Table[16], "BLOBTEST", 8);
    SetChecksum(&Table);
  }
  return Table;
}

Bytes MakeFadt() {
  Bytes Fadt(276, 0);
  std::memcpy(Fadt.data(), "FACP", 4);
  Put32(&Fadt, 4, 276);
  Fadt[8] = 6;                    // major version
  Fadt[131] = 3;                  // minor version
  Put32(&Fadt, 112, 0x000084A5);  // Flags, HW_REDUCED_ACPI clear
  Put32(&Fadt, 36, 0x7FF6E000);   // FIRMWARE_CTRL
  Put32(&Fadt, 40, 0x7FF2A000);   // DSDT
  Put64(&Fadt, 132, 0x7FF6E000);  // X_FIRMWARE_CTRL
  Put64(&Fadt, 140, 0x7FF2A000);  // X_DSDT
  Fadt[46] = 9;                   // SCI_INT
  SetChecksum(&Fadt);
  return Fadt;
}

Bytes MakeFacs() {
  Bytes Facs(64, 0);
  std::memcpy(Facs.data(), "FACS", 4);
  Put32(&Facs, 4, 64);
  Put32(&Facs, 8, 0x1234ABCD);   // Hardware Signature
  Put32(&Facs, 12, 0x0009F000);  // waking vector
  Facs[32] = 2;                  // version
  return Facs;
}

Bytes MakeTableEntryBytes(UINT32 Signature, UINT32 DataType, const Bytes &Table) {
  Bytes Entry(32, 0);
  Put32(&Entry, 0, 1);
  Put32(&Entry, 4, Signature);
  Put32(&Entry, 8, (UINT32)(32 + Table.size()));
  Put32(&Entry, 12, DataType);
  Put32(&Entry, 16, 3);
  Put64(&Entry, 24, 0xFF00AA0000AA00FFULL);
  Append(&Entry, Table);
  return Entry;
}

Bytes MakeTypicalStream(const Bytes &Fadt, const Bytes &Facs) {
  Bytes Stream;
  Append(&Stream, MakeBlob(MakeTableEntryBytes(SIGNATURE_32('F', 'A', 'C', 'P'), 1, Fadt)));
  Append(&Stream, MakeBlob(MakeTableEntryBytes(SIGNATURE_32('F', 'A', 'C', 'S'), 2, Facs)));
  Append(&Stream,
         MakeBlob(MakeTableEntryBytes(SIGNATURE_32('D', 'S', 'D', 'T'), 3, MakeTable("DSDT", 300, 1))));
  Append(&Stream,
         MakeBlob(MakeTableEntryBytes(SIGNATURE_32('S', 'S', 'D', 'T'), 5, MakeTable("SSDT", 120, 9))));
  return Stream;
}

}  // namespace blobtest
