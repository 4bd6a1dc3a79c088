// Where the module finds the PEI services table. On IA-32 the PEI core keeps the
// table pointer in the four bytes just below the interrupt descriptor table, so
// it is read afresh at every use (the core may move the table when it moves to
// permanent memory). A host build has no IDT of its own to read: there the table
// the entry point was handed is the one in force for the whole (single) call.
#include "feature_control_pei/FeatureControlPei.h"

#if defined(__i386__)

#pragma pack(push, 1)
typedef struct {
  UINT16 Limit;
  UINT32 Base;
} IA32_IDT_DESCRIPTOR;
#pragma pack(pop)
static_assert(sizeof(IA32_IDT_DESCRIPTOR) == 6, "SIDT stores a 6-byte descriptor on IA-32");

const EFI_PEI_SERVICES **GetPeiServicesTablePointer() {
  IA32_IDT_DESCRIPTOR Idtr = {};
  __asm__ __volatile__("sidt %0" : "=m"(Idtr));
  return *reinterpret_cast<const EFI_PEI_SERVICES ***>(Idtr.Base - sizeof(UINT32));
}

VOID SetPeiServicesTablePointerFromEntry(const EFI_PEI_SERVICES **) {}

#else

static const EFI_PEI_SERVICES **mHostPeiServices;

const EFI_PEI_SERVICES **GetPeiServicesTablePointer() {
  return mHostPeiServices;
}

VOID SetPeiServicesTablePointerFromEntry(const EFI_PEI_SERVICES **PeiServices) {
  mHostPeiServices = PeiServices;
}

#endif
