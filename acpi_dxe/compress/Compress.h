// Encoder of the EFI 1.1 compressed data format (see Decompress.h for the
// layout). LZ77 over an 8 KiB window with a suffix-tree longest-match search and
// a one-step lazy match decision, then block-wise static Huffman coding.
#ifndef ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_H_
#define ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_H_

#include "uefi/UefiBaseType.h"

// Compresses SrcSize bytes at SrcBuffer into DstBuffer. On entry *DstSize is
// the destination's capacity; on return it is the size of the complete
// compressed data (8-byte header + bit stream), whether or not it fitted.
// Never writes past the capacity.
//   EFI_SUCCESS            the compressed data is complete in DstBuffer.
//   EFI_BUFFER_TOO_SMALL   it did not fit; *DstSize is the size it needs and
//                          DstBuffer holds a truncated prefix.
//   EFI_OUT_OF_RESOURCES   working memory (about 190 KB of pool, released
//                          before return) could not be allocated.
//   EFI_INVALID_PARAMETER  DstSize is NULL, or a buffer is NULL with a size.
// NOTE: not reentrant; the encoder's tables are module state.
EFI_STATUS Compress(const UINT8 *SrcBuffer, UINT32 SrcSize, UINT8 *DstBuffer, UINTN *DstSize);

#endif  // ZEPHRIN_ACPI_DXE_COMPRESS_COMPRESS_H_
