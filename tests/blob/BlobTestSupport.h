// Shared fixture and stream builders of the blob storage tests. Each test runs on
// a fresh simulated platform with the driver's tables bound to it (its recorder
// keeps every debug message) and the stream state reset, so tests also pass when
// the whole program runs in one process.
#ifndef ZEPHRIN_TESTS_BLOB_BLOB_TEST_SUPPORT_H_
#define ZEPHRIN_TESTS_BLOB_BLOB_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "acpi_dxe/blob/BlobStream.h"
#include "acpi_dxe/capture/AcpiDataStorage.h"
#include "sim/Platform.h"

namespace blobtest {

using Bytes = std::vector<UINT8>;

struct LoggedMessage {
  UINTN Level;
  std::string Text;
};

class BlobPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a new boot on a fresh platform with the given options (variable store
  // file, sizes); the stream state is reset as after a reboot.
  void Boot(const sim::PlatformOptions &Options = sim::PlatformOptions());

  // True when a message with exactly this text was logged at this level.
  bool Logged(UINTN Level, const std::string &Text) const;
  // Messages in order, for tests that check a sequence.
  std::vector<LoggedMessage> Messages() const;
  void ClearMessages();

  // Opens the read stream on exactly these bytes, as if FillCache had decoded
  // them from the variable.
  void LoadReadStream(const Bytes &Stream);
  // The bytes of the write stream so far.
  Bytes WriteStreamBytes() const;

  sim::Platform &Platform() { return *mPlatform; }

 private:
  static void ResetStreamState(bool FreeCaches);

  std::unique_ptr<sim::Platform> mPlatform;
};

// A blob as the stream holds it: header (with fields that may be overridden by
// a test) and payload.
Bytes MakeBlob(const Bytes &Payload);
Bytes MakeBlobWithHeader(UINT32 Revision, UINT32 Length, UINT64 Signature, const Bytes &Payload);
void Append(Bytes *Stream, const Bytes &More);

// Little-endian field access inside a byte vector.
void Put32(Bytes *Data, size_t Offset, UINT32 Value);
void Put64(Bytes *Data, size_t Offset, UINT64 Value);
UINT32 Get32(const Bytes &Data, size_t Offset);
UINT64 Get64(const Bytes &Data, size_t Offset);

// ACPI tables for the entries: a valid ACPI 6.3 FADT (64-bit FACS and DSDT
// pointers, checksum set), a FACS, and a table of any signature and length with
// recognisable contents.
Bytes MakeFadt();
Bytes MakeFacs();
Bytes MakeTable(const char Signature[4], UINT32 Length, UINT8 Seed);

// Entry bytes (header + data) of a table entry, built independently of the
// driver's builders so the builder tests have an oracle.
Bytes MakeTableEntryBytes(UINT32 Signature, UINT32 DataType, const Bytes &Table);

// A typical stored stream: FADT, FACS, DSDT and an SSDT entry, each in a blob.
Bytes MakeTypicalStream(const Bytes &Fadt, const Bytes &Facs);

}  // namespace blobtest

#endif  // ZEPHRIN_TESTS_BLOB_BLOB_TEST_SUPPORT_H_
