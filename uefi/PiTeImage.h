// The Terse Executable (TE) image header of the PI specification (volume 1): a
// 40-byte replacement for the DOS, PE and optional headers of a PE32 image, used
// for PEI modules that run in place from flash. The section table and everything
// after it are kept from the PE file unchanged.
#ifndef ZEPHRIN_UEFI_PI_TE_IMAGE_H_
#define ZEPHRIN_UEFI_PI_TE_IMAGE_H_

#include "UefiBaseType.h"

#define EFI_TE_IMAGE_HEADER_SIGNATURE SIGNATURE_16('V', 'Z')
#define EFI_TE_IMAGE_DIRECTORY_ENTRY_BASERELOC 0
#define EFI_TE_IMAGE_DIRECTORY_ENTRY_DEBUG 1

typedef struct {
  UINT32 VirtualAddress;
  UINT32 Size;
} EFI_IMAGE_DATA_DIRECTORY;
static_assert(sizeof(EFI_IMAGE_DATA_DIRECTORY) == 8, "EFI_IMAGE_DATA_DIRECTORY layout");

typedef struct {
  UINT16 Signature;            // 'VZ'
  UINT16 Machine;              // COFF machine of the original image
  UINT8 NumberOfSections;      // section headers following this header
  UINT8 Subsystem;             // optional-header subsystem of the original image
  UINT16 StrippedSize;         // bytes removed from the start of the original file
  UINT32 AddressOfEntryPoint;  // RVA, as in the original image
  UINT32 BaseOfCode;           // RVA, as in the original image
  UINT64 ImageBase;            // linked base of the original image
  EFI_IMAGE_DATA_DIRECTORY DataDirectory[2];  // base relocations, debug
} EFI_TE_IMAGE_HEADER;
static_assert(sizeof(EFI_TE_IMAGE_HEADER) == 40, "EFI_TE_IMAGE_HEADER layout");
static_assert(OFFSET_OF(EFI_TE_IMAGE_HEADER, StrippedSize) == 6, "StrippedSize offset");
static_assert(OFFSET_OF(EFI_TE_IMAGE_HEADER, AddressOfEntryPoint) == 8, "AddressOfEntryPoint offset");
static_assert(OFFSET_OF(EFI_TE_IMAGE_HEADER, ImageBase) == 16, "ImageBase offset");
static_assert(OFFSET_OF(EFI_TE_IMAGE_HEADER, DataDirectory) == 24, "DataDirectory offset");

#endif  // ZEPHRIN_UEFI_PI_TE_IMAGE_H_
