// Decoder of the EFI 1.1 compressed data format (LZ77 with an 8 KiB window and
// block-wise static Huffman coding). The format is self-describing: an 8-byte
// header (compressed size, uncompressed size, little-endian UINT32 each) and a
// bit stream read most significant bit first.
//
// The decoder allocates nothing and keeps no global state: its whole state lives
// in a caller-supplied scratch buffer of DECOMPRESS_SCRATCH_SIZE bytes, so it is
// reentrant and can run before pool is available.
#ifndef ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_H_
#define ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_H_

#include "uefi/UefiBaseType.h"

// Size of the decoder state (see DecompressState.h), rounded up to 8 bytes.
#define DECOMPRESS_SCRATCH_SIZE 0x3440

// Bytes before the bit stream: compressed size, then uncompressed size.
#define COMPRESS_HEADER_SIZE 8

// Size query: checks that the header fits in SrcSize bytes and that the bit
// stream it announces lies inside them too, then returns the uncompressed size
// and the scratch size Decompress needs.
//   EFI_INVALID_PARAMETER  a NULL argument, SrcSize < 8, or compressed size + 8
//                          beyond SrcSize (a sum that wraps 32 bits included).
EFI_STATUS GetInfo(const VOID *Source, UINT32 SrcSize, UINT32 *DstSize, UINT32 *ScratchSize);

// Decodes Source into Destination, using Scratch (DECOMPRESS_SCRATCH_SIZE
// bytes, zeroed here) for all state.
// NOTE: no buffer size is passed. The caller must have checked the header with
// GetInfo against the size of Source and must supply a Destination of at least
// the uncompressed size: the decoder reads no more than the bit stream the
// header announces and writes no more than the uncompressed size it announces.
//   EFI_SUCCESS            exactly the uncompressed size has been written.
//   EFI_INVALID_PARAMETER  a NULL argument, or the bit stream is malformed; the
//                          destination is partly written and must not be used.
EFI_STATUS Decompress(const VOID *Source, VOID *Destination, VOID *Scratch);

#endif  // ZEPHRIN_ACPI_DXE_COMPRESS_DECOMPRESS_H_
