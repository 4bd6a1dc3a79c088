// Binding the host-built driver to a simulated platform. The driver reaches the
// firmware through its global service table pointers and caches what it looked
// up (the HOB list, the status code protocol, its debug sinks) across calls; a
// cached pointer would point into the platform it came from after that one is
// gone, so every bind and unbind forgets them all.
#ifndef ZEPHRIN_SIM_DRIVER_BINDING_H_
#define ZEPHRIN_SIM_DRIVER_BINDING_H_

#include "acpi_dxe/core/DebugLib.h"
#include "acpi_dxe/core/DxeServices.h"
#include "sim/Platform.h"

namespace sim {

inline void ForgetDriverLookups() {
  mHobList = nullptr;
  mStatusCodeProtocol = nullptr;
  mDebugOutputLocated = FALSE;
  mDebugMessageProtocol = nullptr;
  mDebugPort = nullptr;
}

inline void BindDriverTo(Platform &Board) {
  gST = Board.SystemTable();
  gBS = Board.BootServices();
  gRT = Board.RuntimeServices();
  ForgetDriverLookups();
}

inline void UnbindDriver() {
  gST = nullptr;
  gBS = nullptr;
  gRT = nullptr;
  ForgetDriverLookups();
}

// Binds the driver to Board while it lives, and then puts back whatever the
// caller had bound, cached lookups included.
class ScopedDriverBinding {
 public:
  explicit ScopedDriverBinding(Platform &Board)
      : mSt(gST),
        mBs(gBS),
        mRt(gRT),
        mHobs(mHobList),
        mStatusCode(mStatusCodeProtocol),
        mLocated(mDebugOutputLocated),
        mMessage(mDebugMessageProtocol),
        mPort(mDebugPort) {
    BindDriverTo(Board);
  }
  ~ScopedDriverBinding() {
    gST = mSt;
    gBS = mBs;
    gRT = mRt;
    mHobList = mHobs;
    mStatusCodeProtocol = mStatusCode;
    mDebugOutputLocated = mLocated;
    mDebugMessageProtocol = mMessage;
    mDebugPort = mPort;
  }
  ScopedDriverBinding(const ScopedDriverBinding &) = delete;
  ScopedDriverBinding &operator=(const ScopedDriverBinding &) = delete;

 private:
  EFI_SYSTEM_TABLE *mSt;
  EFI_BOOT_SERVICES *mBs;
  EFI_RUNTIME_SERVICES *mRt;
  VOID *mHobs;
  EFI_STATUS_CODE_PROTOCOL *mStatusCode;
  BOOLEAN mLocated;
  DEBUG_MESSAGE_PROTOCOL *mMessage;
  EFI_DEBUGPORT_PROTOCOL *mPort;
};

}  // namespace sim

#endif  // ZEPHRIN_SIM_DRIVER_BINDING_H_
