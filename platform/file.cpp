#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/file_fault.h"
#include "platform/os_error.h"

namespace vosk {

int OsCodeFromErrno(int err) {
  switch (err) {
    case 0: return kOsNone;
    case ENOENT: return kOsFileNotFound;
    case ENOTDIR: return kOsPathNotFound;
    case EMFILE: case ENFILE: return kOsTooManyFiles;
    case EACCES: case EPERM: case EISDIR: return kOsAccessDenied;
    case EROFS: return kOsWriteProtected;
    case EIO: case ENXIO: case ENODEV: return kOsNotReady;
    case EWOULDBLOCK: return kOsSharingViolation;
    case EDEADLK: return kOsLockViolation;
    case ENOLCK: return kOsNoLocks;
    case ENOSPC: case EDQUOT: case EFBIG: return kOsDiskFull;
    case EEXIST: return kOsFileExists;
    case EMLINK: return kOsDirectoryFull;
    default: return kOsGeneric;
  }
}

File::File(File&& other) noexcept
    : fd_(other.fd_), last_error_(other.last_error_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    last_error_ = other.last_error_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

namespace {

// --- injected faults (platform/file_fault.h) ---

std::atomic<bool> g_faults_armed{false};

std::mutex& FaultMutex() {
  static std::mutex m;
  return m;
}

std::vector<FileFault*>& ArmedFaults() {
  static std::vector<FileFault*> faults;
  return faults;
}

bool EndsWithIgnoringCase(const std::string& s, const std::string& suffix) {
  if (suffix.size() > s.size()) return false;
  return strcasecmp(s.c_str() + (s.size() - suffix.size()), suffix.c_str()) == 0;
}

// Counts the call in every armed fault of its kind that matches the file, `grows` telling
// (when asked, at most once) whether a write lengthens the file. Returns the errno of the
// first fault that fails the call, or 0; *torn tells whether that failure is a torn write.
template <typename Grows>
int InjectedError(FaultOp op, const std::string& path, Grows grows, bool* torn = nullptr) {
  std::lock_guard<std::mutex> hold(FaultMutex());
  int err = 0;
  int grew = -1;  // not asked yet
  for (FileFault* f : ArmedFaults()) {
    bool write = op == FaultOp::kWrite;
    if (f->op != op && !(write && f->op == FaultOp::kGrowingWrite)) continue;
    if (!EndsWithIgnoringCase(path, f->suffix)) continue;
    if (f->op == FaultOp::kGrowingWrite) {
      if (grew < 0) grew = grows() ? 1 : 0;
      if (!grew) continue;
    }
    uint64_t n = ++f->calls_;
    if (n == f->nth || (f->sticky && n > f->nth)) {
      ++f->injected_;
      if (err == 0) {
        err = f->error;
        if (torn) *torn = f->torn;
      }
    }
  }
  return err;
}

int InjectedError(FaultOp op, const std::string& path) {
  return InjectedError(op, path, [] { return false; });
}

// The OsCode of a failed byte-range lock: refused by another holder is contention.
int LockErrorCode(int err) {
  return (err == EAGAIN || err == EACCES) ? kOsLockViolation : OsCodeFromErrno(err);
}

// Takes the share-mode lock of an open; returns 0 or the OsCode of the refusal.
int TakeShareLock(int fd, Share share) {
  int op = (share == Share::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  while (flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    return errno == EWOULDBLOCK ? kOsSharingViolation : OsCodeFromErrno(errno);
  }
  return 0;
}

}  // namespace

void ArmFileFault(FileFault* fault) {
  std::lock_guard<std::mutex> hold(FaultMutex());
  fault->calls_ = 0;
  fault->injected_ = 0;
  ArmedFaults().push_back(fault);
  g_faults_armed = true;
}

void DisarmFileFault(FileFault* fault) {
  std::lock_guard<std::mutex> hold(FaultMutex());
  auto& armed = ArmedFaults();
  armed.erase(std::remove(armed.begin(), armed.end(), fault), armed.end());
  g_faults_armed = !armed.empty();
}

int File::Open(const std::string& path, Access access, Share share) {
  Close();
  std::string name = ResolveCase(path);
  int fd = ::open(name.c_str(), (access == Access::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) return last_error_ = OsCodeFromErrno(errno);
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return last_error_ = kOsAccessDenied;
  }
  if (int rc = TakeShareLock(fd, share)) {
    ::close(fd);
    return last_error_ = rc;
  }
  fd_ = fd;
  path_ = name;
  return last_error_ = 0;
}

int File::Create(const std::string& path, Share share) {
  Close();
  std::string name = NormalizeSeparators(path);
  // Open without truncating first: the share lock must be held before the old contents go.
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return last_error_ = OsCodeFromErrno(errno);
  if (int rc = TakeShareLock(fd, share)) {
    ::close(fd);
    return last_error_ = rc;
  }
  if (ftruncate(fd, 0) != 0) {
    int rc = OsCodeFromErrno(errno);
    ::close(fd);
    return last_error_ = rc;
  }
  fd_ = fd;
  path_ = name;
  return last_error_ = 0;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // drops the flock and every OFD lock of this open file
    fd_ = -1;
  }
}

int64_t File::ReadAt(void* buf, size_t len, uint64_t offset) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::pread(fd_, static_cast<char*>(buf) + done, len - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      last_error_ = OsCodeFromErrno(errno);
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

namespace {
int DupStandard(int which, int* fd, std::string* path) {
  int copy = ::fcntl(which, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return OsCodeFromErrno(errno);
  *fd = copy;
  *path = "-";
  return 0;
}
}  // namespace

int File::OpenStandardOutput() {
  Close();
  return last_error_ = DupStandard(STDOUT_FILENO, &fd_, &path_);
}

int File::OpenStandardInput() {
  Close();
  return last_error_ = DupStandard(STDIN_FILENO, &fd_, &path_);
}

int64_t File::Read(void* buf, size_t len) {
  for (;;) {
    ssize_t n = ::read(fd_, buf, len);
    if (n >= 0) return n;
    if (errno != EINTR) {
      last_error_ = OsCodeFromErrno(errno);
      return -1;
    }
  }
}

namespace {

// Runs a write step until len bytes are written (a step may write part of them; EINTR
// retries): len, or -1 with *os_code set.
template <typename Step>
int64_t WriteWhole(size_t len, int* os_code, Step step) {
  size_t done = 0;
  while (done < len) {
    ssize_t n = step(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *os_code = OsCodeFromErrno(errno);
      return -1;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

}  // namespace

int64_t File::Write(const void* buf, size_t len) {
  if (g_faults_armed.load(std::memory_order_relaxed)) {
    bool torn = false;
    int err = InjectedError(FaultOp::kWrite, path_, [&] {
      off_t at = ::lseek(fd_, 0, SEEK_CUR);
      return at < 0 || static_cast<int64_t>(at) + static_cast<int64_t>(len) > Size();
    }, &torn);
    if (err != 0) {
      if (torn && len / 2 > 0) (void)Put(buf, len / 2);
      last_error_ = OsCodeFromErrno(err);
      return -1;
    }
  }
  return Put(buf, len);
}

int64_t File::WriteAt(const void* buf, size_t len, uint64_t offset) {
  if (g_faults_armed.load(std::memory_order_relaxed)) {
    bool torn = false;
    int err = InjectedError(FaultOp::kWrite, path_, [&] {
      return static_cast<int64_t>(offset + len) > Size();
    }, &torn);
    if (err != 0) {
      if (torn && len / 2 > 0) (void)PutAt(buf, len / 2, offset);
      last_error_ = OsCodeFromErrno(err);
      return -1;
    }
  }
  return PutAt(buf, len, offset);
}

int64_t File::Put(const void* buf, size_t len) {
  return WriteWhole(len, &last_error_, [&](size_t done) {
    return ::write(fd_, static_cast<const char*>(buf) + done, len - done);
  });
}

int64_t File::PutAt(const void* buf, size_t len, uint64_t offset) {
  return WriteWhole(len, &last_error_, [&](size_t done) {
    return ::pwrite(fd_, static_cast<const char*>(buf) + done, len - done,
                    static_cast<off_t>(offset + done));
  });
}

int64_t File::Size() {
  struct stat st;
  if (fstat(fd_, &st) != 0) {
    last_error_ = OsCodeFromErrno(errno);
    return -1;
  }
  return st.st_size;
}

bool File::Truncate(uint64_t size) {
  if (g_faults_armed.load(std::memory_order_relaxed)) {
    if (int err = InjectedError(FaultOp::kTruncate, path_)) {
      last_error_ = OsCodeFromErrno(err);
      return false;
    }
  }
  if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    last_error_ = OsCodeFromErrno(errno);
    return false;
  }
  return true;
}

bool File::Commit() {
  if (g_faults_armed.load(std::memory_order_relaxed)) {
    if (int err = InjectedError(FaultOp::kCommit, path_)) {
      last_error_ = OsCodeFromErrno(err);
      return false;
    }
  }
  if (fdatasync(fd_) != 0) {
    last_error_ = OsCodeFromErrno(errno);
    return false;
  }
  return true;
}

bool File::RenameTo(const std::string& to) {
  std::string name = NormalizeSeparators(to);
  if (::rename(path_.c_str(), name.c_str()) != 0) {
    last_error_ = OsCodeFromErrno(errno);
    return false;
  }
  path_ = name;
  return true;
}

bool File::IsLinked() {
  struct stat st;
  return fstat(fd_, &st) == 0 && st.st_nlink > 0;
}

bool File::Lock(uint64_t offset, uint64_t length, bool exclusive, bool wait) {
  struct flock fl = {};
  fl.l_type = exclusive ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for OFD locks
  if (g_faults_armed.load(std::memory_order_relaxed)) {
    if (int err = InjectedError(FaultOp::kLock, path_)) {
      last_error_ = LockErrorCode(err);
      return false;
    }
  }
  while (fcntl(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    last_error_ = LockErrorCode(errno);
    return false;
  }
  return true;
}

bool File::LockedElsewhere(uint64_t offset, uint64_t length) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;  // conflicts with any lock; a test needs no write access
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;
  while (fcntl(fd_, F_OFD_GETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    last_error_ = OsCodeFromErrno(errno);
    return true;
  }
  return fl.l_type != F_UNLCK;
}

bool File::Unlock(uint64_t offset, uint64_t length) {
  struct flock fl = {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
    last_error_ = OsCodeFromErrno(errno);
    return false;
  }
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(ResolveCase(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(ResolveCase(a).c_str(), &sa) == 0 && ::stat(ResolveCase(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool DeleteFile(const std::string& path) { return ::unlink(ResolveCase(path).c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(ResolveCase(from).c_str(), NormalizeSeparators(to).c_str()) == 0;
}

bool LinkFile(const std::string& from, const std::string& to) {
  return ::link(ResolveCase(from).c_str(), NormalizeSeparators(to).c_str()) == 0;
}

std::string NormalizeSeparators(const std::string& path) {
  std::string s = path;
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

std::string ResolveCase(const std::string& path) {
  std::string name = NormalizeSeparators(path);
  struct stat st;
  if (name.empty() || ::stat(name.c_str(), &st) == 0) return name;
  size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : name.substr(0, slash));
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  // The directory itself may differ in case too.
  if (slash != std::string::npos && slash != 0 && ::stat(dir.c_str(), &st) != 0) {
    dir = ResolveCase(dir);
  }
  DIR* d = ::opendir(dir.c_str());
  if (!d) return name;
  std::string found;
  while (struct dirent* e = ::readdir(d)) {
    if (strcasecmp(e->d_name, base.c_str()) == 0) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  if (found.empty()) return name;
  if (slash == std::string::npos) return found;
  return (dir == "/" ? std::string() : dir) + "/" + found;
}

std::string FullPath(const std::string& path) {
  std::string name = NormalizeSeparators(path);
  if (!name.empty() && name[0] == '/') return name;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return name;
  std::string base = cwd;
  if (name.empty() || name == ".") return base;
  if (base.back() != '/') base += '/';
  return base + name;
}

std::string TempDirectory() {
  const char* t = std::getenv("TMPDIR");
  std::string dir = (t && *t) ? t : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : NormalizeSeparators(dir).c_str());
  if (!d) return names;
  while (struct dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  return names;
}

int64_t FreeDiskSpace(const std::string& dir) {
  struct statvfs fs;
  if (::statvfs(dir.empty() ? "." : NormalizeSeparators(dir).c_str(), &fs) != 0) return -1;
  const uint64_t bytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
}

}  // namespace vosk
