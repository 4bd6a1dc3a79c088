#include "sim/ServiceTable.h"

namespace sim {
namespace {

EFI_STATUS EFIAPI UnsupportedVariadic(EFI_HANDLE, ...) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI UnsupportedVariadicPtr(EFI_HANDLE *, ...) {
  return EFI_UNSUPPORTED;
}

}  // namespace

void FillBootServicesUnsupported(EFI_BOOT_SERVICES &Bs) {
  FillUnsupported(Bs.RaiseTPL);
  FillUnsupported(Bs.RestoreTPL);
  FillUnsupported(Bs.AllocatePages);
  FillUnsupported(Bs.FreePages);
  FillUnsupported(Bs.GetMemoryMap);
  FillUnsupported(Bs.AllocatePool);
  FillUnsupported(Bs.FreePool);
  FillUnsupported(Bs.CreateEvent);
  FillUnsupported(Bs.SetTimer);
  FillUnsupported(Bs.WaitForEvent);
  FillUnsupported(Bs.SignalEvent);
  FillUnsupported(Bs.CloseEvent);
  FillUnsupported(Bs.CheckEvent);
  FillUnsupported(Bs.InstallProtocolInterface);
  FillUnsupported(Bs.ReinstallProtocolInterface);
  FillUnsupported(Bs.UninstallProtocolInterface);
  FillUnsupported(Bs.HandleProtocol);
  Bs.Reserved = nullptr;
  FillUnsupported(Bs.RegisterProtocolNotify);
  FillUnsupported(Bs.LocateHandle);
  FillUnsupported(Bs.LocateDevicePath);
  FillUnsupported(Bs.InstallConfigurationTable);
  FillUnsupported(Bs.LoadImage);
  FillUnsupported(Bs.StartImage);
  FillUnsupported(Bs.Exit);
  FillUnsupported(Bs.UnloadImage);
  FillUnsupported(Bs.ExitBootServices);
  FillUnsupported(Bs.GetNextMonotonicCount);
  FillUnsupported(Bs.Stall);
  FillUnsupported(Bs.SetWatchdogTimer);
  FillUnsupported(Bs.ConnectController);
  FillUnsupported(Bs.DisconnectController);
  FillUnsupported(Bs.OpenProtocol);
  FillUnsupported(Bs.CloseProtocol);
  FillUnsupported(Bs.OpenProtocolInformation);
  FillUnsupported(Bs.ProtocolsPerHandle);
  FillUnsupported(Bs.LocateHandleBuffer);
  FillUnsupported(Bs.LocateProtocol);
  Bs.InstallMultipleProtocolInterfaces = &UnsupportedVariadicPtr;
  Bs.UninstallMultipleProtocolInterfaces = &UnsupportedVariadic;
  FillUnsupported(Bs.CalculateCrc32);
  FillUnsupported(Bs.CopyMem);
  FillUnsupported(Bs.SetMem);
  FillUnsupported(Bs.CreateEventEx);
}

void FillRuntimeServicesUnsupported(EFI_RUNTIME_SERVICES &Rt) {
  FillUnsupported(Rt.GetTime);
  FillUnsupported(Rt.SetTime);
  FillUnsupported(Rt.GetWakeupTime);
  FillUnsupported(Rt.SetWakeupTime);
  FillUnsupported(Rt.SetVirtualAddressMap);
  FillUnsupported(Rt.ConvertPointer);
  FillUnsupported(Rt.GetVariable);
  FillUnsupported(Rt.GetNextVariableName);
  FillUnsupported(Rt.SetVariable);
  FillUnsupported(Rt.GetNextHighMonotonicCount);
  FillUnsupported(Rt.ResetSystem);
  FillUnsupported(Rt.UpdateCapsule);
  FillUnsupported(Rt.QueryCapsuleCapabilities);
  FillUnsupported(Rt.QueryVariableInfo);
}

}  // namespace sim
