// Handle and protocol database: the boot-service rules the driver relies on.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/Platform.h"
#include "uefi/Protocol/DevicePath.h"

namespace {

EFI_GUID kAlpha = {0xA1A1A1A1, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
EFI_GUID kBeta = {0xB2B2B2B2, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class ProtocolDbTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(Board.LeakCheck(), ""); }
  sim::Platform Board;
  EFI_BOOT_SERVICES *Bs = Board.BootServices();
  int InterfaceA = 1;
  int InterfaceB = 2;
};

TEST_F(ProtocolDbTest, InstallCreatesHandleAndRejectsDuplicateProtocol) {
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Bs->InstallProtocolInterface(&Handle, &kAlpha, EFI_NATIVE_INTERFACE, &InterfaceA), EFI_SUCCESS);
  ASSERT_NE(Handle, nullptr);
  EXPECT_EQ(Bs->InstallProtocolInterface(&Handle, &kAlpha, EFI_NATIVE_INTERFACE, &InterfaceB),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->InstallProtocolInterface(&Handle, &kBeta, EFI_NATIVE_INTERFACE, &InterfaceB), EFI_SUCCESS);
  VOID *Found = nullptr;
  EXPECT_EQ(Bs->HandleProtocol(Handle, &kBeta, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &InterfaceB);
}

TEST_F(ProtocolDbTest, HandleProtocolStatuses) {
  EFI_HANDLE Handle = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  VOID *Found = &InterfaceB;
  EXPECT_EQ(Bs->HandleProtocol(Handle, &kBeta, &Found), EFI_UNSUPPORTED);
  EXPECT_EQ(Found, nullptr);
  int NotAHandle = 0;
  EXPECT_EQ(Bs->HandleProtocol(&NotAHandle, &kAlpha, &Found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->HandleProtocol(Handle, &kAlpha, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolDbTest, LocateProtocolFindsFirstHandleAndCountsCalls) {
  VOID *Found = &InterfaceA;
  EXPECT_EQ(Bs->LocateProtocol(&kAlpha, nullptr, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Found, nullptr);
  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceB);
  EXPECT_EQ(Bs->LocateProtocol(&kAlpha, nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &InterfaceA);
  EXPECT_EQ(Board.Protocols().LocateCount(kAlpha), 2u);
}

TEST_F(ProtocolDbTest, UninstallNeedsTheInstalledInterfaceAndRemovesEmptyHandle) {
  EFI_HANDLE Handle = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  EXPECT_EQ(Bs->UninstallProtocolInterface(Handle, &kAlpha, &InterfaceB), EFI_NOT_FOUND);
  EXPECT_EQ(Bs->UninstallProtocolInterface(Handle, &kAlpha, &InterfaceA), EFI_SUCCESS);
  EXPECT_FALSE(Board.Protocols().IsHandle(Handle));
  VOID *Found = nullptr;
  EXPECT_EQ(Bs->LocateProtocol(&kAlpha, nullptr, &Found), EFI_NOT_FOUND);
}

TEST_F(ProtocolDbTest, LocateHandleBufferIsPoolTheCallerFrees) {
  UINTN PlatformHandles = 0;
  EFI_HANDLE *Handles = nullptr;
  ASSERT_EQ(Bs->LocateHandleBuffer(AllHandles, nullptr, nullptr, &PlatformHandles, &Handles), EFI_SUCCESS);
  Bs->FreePool(Handles);
  EFI_HANDLE First = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  Board.Protocols().InstallOnNewHandle(kBeta, &InterfaceB);
  EFI_HANDLE Third = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceB);
  UINTN Count = 0;
  ASSERT_EQ(Bs->LocateHandleBuffer(ByProtocol, &kAlpha, nullptr, &Count, &Handles), EFI_SUCCESS);
  ASSERT_EQ(Count, 2u);
  EXPECT_EQ(Handles[0], First);
  EXPECT_EQ(Handles[1], Third);
  EXPECT_TRUE(Board.Pool().IsLive(Handles));
  EXPECT_EQ(Bs->FreePool(Handles), EFI_SUCCESS);

  EFI_GUID Missing = {0x1, 0x1, 0x1, {0}};
  EXPECT_EQ(Bs->LocateHandleBuffer(ByProtocol, &Missing, nullptr, &Count, &Handles), EFI_NOT_FOUND);
  EXPECT_EQ(Handles, nullptr);
  Board.Pool().FailAllocation(1);
  EXPECT_EQ(Bs->LocateHandleBuffer(ByProtocol, &kAlpha, nullptr, &Count, &Handles), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Bs->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles), EFI_SUCCESS);
  EXPECT_EQ(Count, PlatformHandles + 3);
  Bs->FreePool(Handles);
}

TEST_F(ProtocolDbTest, LocateHandleReportsTheSizeItNeeds) {
  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  UINTN Size = 0;
  EXPECT_EQ(Bs->LocateHandle(ByProtocol, &kAlpha, nullptr, &Size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, sizeof(EFI_HANDLE));
}

TEST_F(ProtocolDbTest, InstallMultipleIsAllOrNothing) {
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(
      Bs->InstallMultipleProtocolInterfaces(&Handle, &kAlpha, &InterfaceA, &kBeta, &InterfaceB, nullptr),
      EFI_SUCCESS);
  VOID *Found = nullptr;
  EXPECT_EQ(Bs->HandleProtocol(Handle, &kBeta, &Found), EFI_SUCCESS);

  EFI_GUID Gamma = {0xC3, 0x1, 0x2, {0}};
  EXPECT_EQ(
      Bs->InstallMultipleProtocolInterfaces(&Handle, &Gamma, &InterfaceA, &kAlpha, &InterfaceB, nullptr),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->HandleProtocol(Handle, &Gamma, &Found), EFI_UNSUPPORTED);
  EXPECT_EQ(
      Bs->UninstallMultipleProtocolInterfaces(Handle, &kAlpha, &InterfaceA, &kBeta, &InterfaceB, nullptr),
      EFI_SUCCESS);
  EXPECT_FALSE(Board.Protocols().IsHandle(Handle));
}

TEST_F(ProtocolDbTest, SecondHandleWithTheSameDevicePathIsRefused) {
  MEDIA_FW_VOL_DEVICE_PATH Path[2] = {};
  Path[0].Header = {MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_VOL_DP, {sizeof(MEDIA_FW_VOL_DEVICE_PATH), 0}};
  Path[0].FvName = kAlpha;
  auto *End = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(&Path[1]);
  *End = {END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, {4, 0}};
  EFI_GUID DevicePathGuid = gEfiDevicePathProtocolGuid;
  EFI_HANDLE First = nullptr;
  EFI_HANDLE Second = nullptr;
  EXPECT_EQ(Bs->InstallMultipleProtocolInterfaces(&First, &DevicePathGuid, &Path[0], nullptr), EFI_SUCCESS);
  EXPECT_EQ(Bs->InstallMultipleProtocolInterfaces(&Second, &DevicePathGuid, &Path[0], nullptr),
            EFI_ALREADY_STARTED);
  EXPECT_EQ(Second, nullptr);
}

TEST_F(ProtocolDbTest, OpenProtocolChecksAttributes) {
  EFI_HANDLE Handle = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  VOID *Found = nullptr;
  EXPECT_EQ(Bs->OpenProtocol(Handle, &kAlpha, &Found, nullptr, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_SUCCESS);
  EXPECT_EQ(Found, &InterfaceA);
  EXPECT_EQ(Bs->OpenProtocol(Handle, &kBeta, nullptr, nullptr, nullptr, EFI_OPEN_PROTOCOL_TEST_PROTOCOL),
            EFI_UNSUPPORTED);
  EXPECT_EQ(Bs->OpenProtocol(Handle, &kAlpha, nullptr, nullptr, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->OpenProtocol(Handle, &kAlpha, &Found, nullptr, nullptr, EFI_OPEN_PROTOCOL_BY_DRIVER),
            EFI_INVALID_PARAMETER);
}

}  // namespace

namespace {

VOID EFIAPI CountNotify(EFI_EVENT, VOID *Context) {
  ++*static_cast<int *>(Context);
}

TEST_F(ProtocolDbTest, RegisterProtocolNotifyQueuesEachLaterInstall) {
  int Notified = 0;
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, CountNotify, &Notified, &Event), EFI_SUCCESS);
  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);  // before the registration: not reported
  VOID *Registration = nullptr;
  ASSERT_EQ(Bs->RegisterProtocolNotify(&kAlpha, Event, &Registration), EFI_SUCCESS);
  EFI_HANDLE Second = Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceB);
  Board.Protocols().InstallOnNewHandle(kBeta, &InterfaceB);
  EXPECT_EQ(Notified, 1);

  EFI_HANDLE Found = nullptr;
  UINTN Size = sizeof(Found);
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, Second);
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, &Found), EFI_NOT_FOUND);

  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceA);
  VOID *Interface = nullptr;
  EXPECT_EQ(Bs->LocateProtocol(&kAlpha, Registration, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &InterfaceA);
  EXPECT_EQ(Bs->LocateProtocol(&kAlpha, Registration, &Interface), EFI_NOT_FOUND);

  ASSERT_EQ(Bs->CloseEvent(Event), EFI_SUCCESS);
  Board.Protocols().InstallOnNewHandle(kAlpha, &InterfaceB);  // closed event: nothing signalled
  EXPECT_EQ(Notified, 2);
}

}  // namespace
