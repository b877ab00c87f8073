#ifndef VOSK_PLATFORM_SYSTEM_H_
#define VOSK_PLATFORM_SYSTEM_H_

#include <cstdint>
#include <string>

namespace vosk {

// Local date and time now.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime Now();

// The machine's (network) name.
std::string ComputerName();

void SleepMillis(int millis);

// A random number in [0, 2^32).
uint32_t RandomU32();

// Directory of the running executable, with a trailing "/".
std::string ExecutableDirectory();

}  // namespace vosk

#endif  // VOSK_PLATFORM_SYSTEM_H_
