#ifndef VOSK_TESTS_SUPPORT_COMMAND_OUTPUT_H_
#define VOSK_TESTS_SUPPORT_COMMAND_OUTPUT_H_

// What a shell command writes on its standard output, for the tests that ask another program
// (a reader of their own) about the files written.

#include <stdio.h>

#include <string>

namespace vosk {

inline std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[512];
    while (size_t n = ::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace vosk

#endif  // VOSK_TESTS_SUPPORT_COMMAND_OUTPUT_H_
