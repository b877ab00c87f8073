#include "platform/system.h"

#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <random>

namespace vosk {

LocalTime Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  time_t t = tv.tv_sec;
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

std::string ComputerName() {
  char buf[HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, sizeof buf - 1) != 0) return std::string();
  return buf;
}

void SleepMillis(int millis) {
  struct timespec ts = {millis / 1000, (millis % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

uint32_t RandomU32() {
  static std::mt19937 gen{std::random_device{}()};
  return static_cast<uint32_t>(gen());
}

std::string ExecutableDirectory() {
  char buf[PATH_MAX + 1] = {};
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace vosk
