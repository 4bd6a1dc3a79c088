// Helpers for filling the service tables: every slot starts as a function that
// returns EFI_UNSUPPORTED (or does nothing, for the VOID slots), then each part
// of the platform binds the services it implements.
#ifndef ZEPHRIN_SIM_SERVICE_TABLE_H_
#define ZEPHRIN_SIM_SERVICE_TABLE_H_

#include <type_traits>

#include "uefi/UefiSpec.h"

namespace sim {

template <typename R, typename... A>
R EFIAPI UnsupportedService(A...) {
  if constexpr (std::is_void_v<R>) {
    return;
  } else {
    return EFI_UNSUPPORTED;
  }
}

template <typename R, typename... A>
void FillUnsupported(R(EFIAPI *&Slot)(A...)) {
  Slot = &UnsupportedService<R, A...>;
}

void FillBootServicesUnsupported(EFI_BOOT_SERVICES &Bs);
void FillRuntimeServicesUnsupported(EFI_RUNTIME_SERVICES &Rt);

// Binders of the platform parts (each in the part's own file).
void BindPoolServices(EFI_BOOT_SERVICES &Bs);
void BindMiscBootServices(EFI_BOOT_SERVICES &Bs);
void BindProtocolServices(EFI_BOOT_SERVICES &Bs);
void BindEventServices(EFI_BOOT_SERVICES &Bs);
void BindPageServices(EFI_BOOT_SERVICES &Bs);
void BindVariableServices(EFI_RUNTIME_SERVICES &Rt);

}  // namespace sim

#endif  // ZEPHRIN_SIM_SERVICE_TABLE_H_
