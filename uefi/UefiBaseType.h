// Base types of the UEFI 2.x and PI 1.x specifications, shared by the firmware
// images (freestanding) and the host build. No host header may be included here.
#ifndef ZEPHRIN_UEFI_BASE_TYPE_H_
#define ZEPHRIN_UEFI_BASE_TYPE_H_

typedef unsigned char UINT8;
typedef signed char INT8;
typedef unsigned short UINT16;
typedef short INT16;
typedef unsigned int UINT32;
typedef int INT32;
typedef unsigned long long UINT64;
typedef long long INT64;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef unsigned char BOOLEAN;
typedef void VOID;

#if defined(__x86_64__)
typedef UINT64 UINTN;
typedef INT64 INTN;
// The UEFI calling convention on x64 is the Microsoft one, in the host build too,
// so every service table and protocol has the layout and ABI of a real board.
#define EFIAPI __attribute__((ms_abi))
#elif defined(__i386__)
typedef UINT32 UINTN;
typedef INT32 INTN;
#define EFIAPI __attribute__((cdecl))
#else
#error "only x86-64 and IA-32 are supported"
#endif

static_assert(sizeof(UINTN) == sizeof(void *), "UINTN is pointer-sized");
static_assert(sizeof(CHAR16) == 2, "CHAR16 is UCS-2");

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)
#ifndef NULL
#define NULL nullptr
#endif

#define MAX_UINT8 ((UINT8)0xFF)
#define MAX_UINT16 ((UINT16)0xFFFF)
#define MAX_UINT32 ((UINT32)0xFFFFFFFF)
#define MAX_UINT64 ((UINT64)0xFFFFFFFFFFFFFFFFULL)
#define MAX_UINTN ((UINTN) ~(UINTN)0)

#define OFFSET_OF(Type, Field) __builtin_offsetof(Type, Field)
#define SIGNATURE_16(A, B) ((A) | ((B) << 8))
#define SIGNATURE_32(A, B, C, D) (SIGNATURE_16(A, B) | (SIGNATURE_16(C, D) << 16))
#define SIGNATURE_64(A, B, C, D, E, F, G, H) \
  (SIGNATURE_32(A, B, C, D) | ((UINT64)SIGNATURE_32(E, F, G, H) << 32))

// Variable argument lists of the firmware's own (non-EFIAPI) variadic functions.
typedef __builtin_va_list VA_LIST;
#define VA_START(Marker, Parameter) __builtin_va_start(Marker, Parameter)
#define VA_ARG(Marker, TYPE) __builtin_va_arg(Marker, TYPE)
#define VA_END(Marker) __builtin_va_end(Marker)
#define VA_COPY(Dest, Start) __builtin_va_copy(Dest, Start)

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID layout");

typedef struct {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
} EFI_TIME;
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME layout");

#define MAX_BIT (((UINTN)1) << (sizeof(UINTN) * 8 - 1))
#define ENCODE_ERROR(Code) ((EFI_STATUS)(MAX_BIT | (Code)))
#define ENCODE_WARNING(Code) ((EFI_STATUS)(Code))
#define EFI_ERROR(Status) (((INTN)(EFI_STATUS)(Status)) < 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR ENCODE_ERROR(1)
#define EFI_INVALID_PARAMETER ENCODE_ERROR(2)
#define EFI_UNSUPPORTED ENCODE_ERROR(3)
#define EFI_BAD_BUFFER_SIZE ENCODE_ERROR(4)
#define EFI_BUFFER_TOO_SMALL ENCODE_ERROR(5)
#define EFI_NOT_READY ENCODE_ERROR(6)
#define EFI_DEVICE_ERROR ENCODE_ERROR(7)
#define EFI_WRITE_PROTECTED ENCODE_ERROR(8)
#define EFI_OUT_OF_RESOURCES ENCODE_ERROR(9)
#define EFI_VOLUME_CORRUPTED ENCODE_ERROR(10)
#define EFI_VOLUME_FULL ENCODE_ERROR(11)
#define EFI_NO_MEDIA ENCODE_ERROR(12)
#define EFI_MEDIA_CHANGED ENCODE_ERROR(13)
#define EFI_NOT_FOUND ENCODE_ERROR(14)
#define EFI_ACCESS_DENIED ENCODE_ERROR(15)
#define EFI_NO_RESPONSE ENCODE_ERROR(16)
#define EFI_NO_MAPPING ENCODE_ERROR(17)
#define EFI_TIMEOUT ENCODE_ERROR(18)
#define EFI_NOT_STARTED ENCODE_ERROR(19)
#define EFI_ALREADY_STARTED ENCODE_ERROR(20)
#define EFI_ABORTED ENCODE_ERROR(21)
#define EFI_ICMP_ERROR ENCODE_ERROR(22)
#define EFI_TFTP_ERROR ENCODE_ERROR(23)
#define EFI_PROTOCOL_ERROR ENCODE_ERROR(24)
#define EFI_INCOMPATIBLE_VERSION ENCODE_ERROR(25)
#define EFI_SECURITY_VIOLATION ENCODE_ERROR(26)
#define EFI_CRC_ERROR ENCODE_ERROR(27)
#define EFI_END_OF_MEDIA ENCODE_ERROR(28)
#define EFI_END_OF_FILE ENCODE_ERROR(31)
#define EFI_INVALID_LANGUAGE ENCODE_ERROR(32)
#define EFI_COMPROMISED_DATA ENCODE_ERROR(33)

#define EFI_WARN_UNKNOWN_GLYPH ENCODE_WARNING(1)
#define EFI_WARN_DELETE_FAILURE ENCODE_WARNING(2)
#define EFI_WARN_WRITE_FAILURE ENCODE_WARNING(3)
#define EFI_WARN_BUFFER_TOO_SMALL ENCODE_WARNING(4)
#define EFI_WARN_STALE_DATA ENCODE_WARNING(5)

#endif  // ZEPHRIN_UEFI_BASE_TYPE_H_
