// te-convert: turns an IA-32 PE32 image into the TE image of a PEI module.
//   te-convert INPUT.efi OUTPUT.te
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/te-convert/TeImage.h"

int main(int Argc, char **Argv) {
  if (Argc != 3) {
    fprintf(stderr, "usage: %s INPUT.efi OUTPUT.te\n", Argv[0]);
    return 2;
  }
  std::ifstream In(Argv[1], std::ios::binary);
  if (!In) {
    fprintf(stderr, "te-convert: cannot open %s\n", Argv[1]);
    return 1;
  }
  std::vector<uint8_t> Pe((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> Te;
  std::string Error;
  if (!te_convert::ConvertPe32ToTe(Pe, &Te, &Error)) {
    fprintf(stderr, "te-convert: %s: %s\n", Argv[1], Error.c_str());
    return 1;
  }
  std::ofstream Out(Argv[2], std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char *>(Te.data()), static_cast<std::streamsize>(Te.size()));
  if (!Out) {
    fprintf(stderr, "te-convert: cannot write %s\n", Argv[2]);
    return 1;
  }
  return 0;
}
