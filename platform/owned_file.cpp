#include "platform/owned_file.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"

namespace vosk {
namespace {

constexpr char kOwnedMark[] = "vosk-";

bool ProcessAlive(long pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::string OwnedFileName(const std::string& dir, const std::string& prefix,
                          const std::string& suffix) {
  static std::atomic<unsigned> counter{0};
  return dir + "/" + prefix + kOwnedMark + std::to_string(::getpid()) + "-" +
         std::to_string(counter++) + suffix;
}

long OwnerPidOf(const std::string& name, const std::string& prefix) {
  const size_t mark = std::strlen(kOwnedMark);
  if (name.size() < prefix.size() + mark + 3) return 0;
  if (strncasecmp(name.c_str(), prefix.c_str(), prefix.size()) != 0) return 0;
  if (name.compare(prefix.size(), mark, kOwnedMark) != 0) return 0;
  size_t i = prefix.size() + mark;
  long pid = 0;
  size_t digits = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 10) {
    pid = pid * 10 + (name[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || i >= name.size() || name[i] != '-') return 0;
  return pid;
}

bool OwnerGone(const std::string& path, long pid) {
  if (pid == static_cast<long>(::getpid()) || ProcessAlive(pid)) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool gone = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);  // drops the lock taken for the test
  return gone;
}

int RemoveOrphanedFiles(const std::string& dir, const std::string& prefix,
                        const std::string& suffix) {
  int removed = 0;
  for (const std::string& name : ListDirectory(dir)) {
    if (name.size() < suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    long pid = OwnerPidOf(name, prefix);
    if (pid == 0) continue;
    std::string path = (dir.empty() ? std::string(".") : dir) + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (OwnerGone(path, pid) && ::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

void CleanTemporaryFolder() { (void)RemoveOrphanedFiles(TempDirectory(), "", ""); }

std::string TemporaryFileName() { return OwnedFileName(TempDirectory(), "", kTempSuffix); }

bool SyncDirectory(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string DirectoryOf(const std::string& path) {
  std::string p = NormalizeSeparators(path);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string FilePartOf(const std::string& path) {
  std::string p = NormalizeSeparators(path);
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

void CrashPoint(const char* name) {
  const char* wanted = std::getenv("VOSK_CRASH_AT");
  if (!wanted || !*wanted) return;
  static std::atomic<long> passes{0};
  const char* colon = std::strchr(wanted, ':');
  size_t len = colon ? static_cast<size_t>(colon - wanted) : std::strlen(wanted);
  if (std::strlen(name) != len || std::strncmp(wanted, name, len) != 0) return;
  long at = colon ? std::atol(colon + 1) : 1;
  if (++passes >= at) ::raise(SIGKILL);
}

}  // namespace vosk
