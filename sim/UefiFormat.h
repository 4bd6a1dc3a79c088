// The UEFI print format of the platform's debug-message PPI over any source of
// arguments. FormatUefiMessage (sim/PeiServices.h) takes them from a host
// va_list; emulated code hands its arguments over as bytes on its own stack,
// with its own widths (a 32-bit UINTN and pointers into emulated memory), and
// supplies them through this interface instead.
#ifndef ZEPHRIN_SIM_UEFI_FORMAT_H_
#define ZEPHRIN_SIM_UEFI_FORMAT_H_

#include <cstdint>
#include <optional>
#include <string>

#include "uefi/UefiBaseType.h"

namespace sim {

// One argument per call, in format order; each call consumes the argument the
// conversion takes.
class UefiFormatArgs {
 public:
  virtual ~UefiFormatArgs() = default;
  virtual int64_t Signed(bool Long) = 0;             // %d: 32 bits, or 64 with "l"
  virtual uint64_t Unsigned(bool Long) = 0;          // %u %x %X
  virtual uint64_t Natural() = 0;                    // UINTN: %c, and %p's pointer value
  virtual uint64_t Status() = 0;                     // %r, the error bit moved to bit 63
  virtual std::optional<std::string> Ascii() = 0;    // %a; nothing for NULL
  virtual std::optional<std::u16string> Wide() = 0;  // %s %S; nothing for NULL
  virtual std::optional<EFI_GUID> Guid() = 0;        // %g; nothing for NULL
};

std::string FormatUefiMessageFrom(const char *Format, UefiFormatArgs &Args);

}  // namespace sim

#endif  // ZEPHRIN_SIM_UEFI_FORMAT_H_
