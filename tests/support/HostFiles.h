// Host files and commands as the test programs use them: whole files read and
// written as bytes, and a shell command's output. One place for the stream
// handling, so every program treats a missing file and a failed write alike.
#ifndef ZEPHRIN_TESTS_SUPPORT_HOST_FILES_H_
#define ZEPHRIN_TESTS_SUPPORT_HOST_FILES_H_

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// The file's bytes; nullopt when it cannot be opened.
inline std::optional<std::vector<uint8_t>> ReadHostFile(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// The file's bytes; empty when it cannot be opened (for tests that compare
// the bytes anyway, where a missing file fails the comparison).
inline std::vector<uint8_t> ReadHostFileOrEmpty(const std::string &Path) {
  return ReadHostFile(Path).value_or(std::vector<uint8_t>());
}

// Replaces the file with Data; false when it could not be written whole.
inline bool WriteHostFile(const std::string &Path, const std::vector<uint8_t> &Data) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char *>(Data.data()), static_cast<std::streamsize>(Data.size()));
  return static_cast<bool>(Out);
}

// Runs Command through the shell and collects what it writes to standard
// output (append " 2>&1" to the command for standard error too). Returns the
// exit status, or -1 when the command could not be run or did not exit.
inline int RunHostCommand(const std::string &Command, std::string *Output) {
  Output->clear();
  FILE *Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) return -1;
  char Buffer[4096];
  size_t Got = 0;
  while ((Got = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output->append(Buffer, Got);
  int Status = pclose(Pipe);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

}  // namespace test_support

#endif  // ZEPHRIN_TESTS_SUPPORT_HOST_FILES_H_
