// The memory routines a compiler may emit calls to for struct copies and
// initialisers. Only the freestanding images need them; the host has libc.
typedef decltype(sizeof(0)) size_t;

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  unsigned char *Dst = static_cast<unsigned char *>(Destination);
  const unsigned char *Src = static_cast<const unsigned char *>(Source);
  while (Length-- != 0) *Dst++ = *Src++;
  return Destination;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  unsigned char *Dst = static_cast<unsigned char *>(Destination);
  const unsigned char *Src = static_cast<const unsigned char *>(Source);
  if (Dst < Src) {
    while (Length-- != 0) *Dst++ = *Src++;
  } else {
    while (Length != 0) {
      Length--;
      Dst[Length] = Src[Length];
    }
  }
  return Destination;
}

void *memset(void *Buffer, int Value, size_t Length) {
  unsigned char *Dst = static_cast<unsigned char *>(Buffer);
  while (Length-- != 0) *Dst++ = static_cast<unsigned char>(Value);
  return Buffer;
}

int memcmp(const void *First, const void *Second, size_t Length) {
  const unsigned char *A = static_cast<const unsigned char *>(First);
  const unsigned char *B = static_cast<const unsigned char *>(Second);
  for (size_t Index = 0; Index < Length; Index++) {
    if (A[Index] != B[Index]) return A[Index] - B[Index];
  }
  return 0;
}
}
