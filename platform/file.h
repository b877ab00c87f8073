#ifndef VOSK_PLATFORM_FILE_H_
#define VOSK_PLATFORM_FILE_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vosk {

// Share mode of an open: an exclusive open takes flock(LOCK_EX) on the file, a shared
// (deny-none) open flock(LOCK_SH); a refusal is a sharing violation (kOsSharingViolation).
enum class Share { kExclusive, kDenyNone };

enum class Access { kRead, kReadWrite };

// An open file with 64-bit positioned I/O and open-file-description byte-range locks.
// Locks belong to this open file: two File objects on the same path compete as two processes
// would, and closing one never drops the locks of the other.
//
// Tests can make the writes, commits, truncates and locks of chosen files fail
// (platform/file_fault.h).
//
// Thread safety: one File is used by one thread at a time.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens an existing file. Returns 0 or an OsCode.
  int Open(const std::string& path, Access access, Share share);
  // Creates (or truncates) a file, read-write. Returns 0 or an OsCode.
  int Create(const std::string& path, Share share);
  // Takes a copy of the process's standard output, written in sequence with Write (it may be
  // a pipe). Returns 0 or an OsCode.
  int OpenStandardOutput();
  // Takes a copy of the process's standard input, read in sequence with Read.
  int OpenStandardInput();
  void Close();
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Positioned I/O. Return the number of bytes transferred, or -1 (last_error() tells why).
  int64_t ReadAt(void* buf, size_t len, uint64_t offset);
  int64_t WriteAt(const void* buf, size_t len, uint64_t offset);
  // Sequential read at the current position: the bytes read (0 at the end), or -1.
  int64_t Read(void* buf, size_t len);
  // Sequential write at the current position (streams such as a pipe).
  int64_t Write(const void* buf, size_t len);
  // Size in bytes, or -1.
  int64_t Size();
  bool Truncate(uint64_t size);
  // Forces written data to the disk.
  bool Commit();
  // Renames the open file; the file stays open (and locked) under its new name. False on
  // failure (last_error() tells why).
  bool RenameTo(const std::string& to);
  // True while the open file still has a name in some directory (it was not removed).
  bool IsLinked();

  // Byte-range locks. exclusive=false takes a shared (read) lock. wait=true blocks until the
  // range is free. Return true when the lock is held afterwards. A range another holder keeps
  // fails with kOsLockViolation (contention); any other failure has its own code.
  bool Lock(uint64_t offset, uint64_t length, bool exclusive, bool wait);
  bool Unlock(uint64_t offset, uint64_t length);
  // True when another open of a file (this program's or another's) holds a lock over some byte
  // of the range, or when that cannot be told. Takes no lock.
  bool LockedElsewhere(uint64_t offset, uint64_t length);

  // OsCode of the last failed call.
  int last_error() const { return last_error_; }

 private:
  // The writes themselves, past the injected faults.
  int64_t Put(const void* buf, size_t len);
  int64_t PutAt(const void* buf, size_t len, uint64_t offset);

  int fd_ = -1;
  int last_error_ = 0;
  std::string path_;
};

// File-system helpers. Names use "/" as separator; a "\" is accepted as one.
bool FileExists(const std::string& path);
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Gives an existing file a second name (a hard link). False on failure.
bool LinkFile(const std::string& from, const std::string& to);
// Replaces every "\" by "/".
std::string NormalizeSeparators(const std::string& path);
// The exact name when it exists; otherwise the existing file of the same directory whose name
// differs only in letter case; otherwise the (normalised) name itself.
std::string ResolveCase(const std::string& path);
// True when both names reach one existing file (the same file, whatever the names).
bool SameFile(const std::string& a, const std::string& b);
// The absolute path of a name (not resolving links).
std::string FullPath(const std::string& path);
// $TMPDIR, else /tmp (no trailing separator).
std::string TempDirectory();
// Names (not paths) of the entries of a directory; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);
// Bytes that an unprivileged writer may still use on the file system holding `dir` ("" = the
// current directory); -1 when that file system cannot be reached.
int64_t FreeDiskSpace(const std::string& dir);

}  // namespace vosk

#endif  // VOSK_PLATFORM_FILE_H_
