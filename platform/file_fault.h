#ifndef VOSK_PLATFORM_FILE_FAULT_H_
#define VOSK_PLATFORM_FILE_FAULT_H_

// Faults injected into File, for tests: an armed fault makes chosen File calls fail as the
// system would have failed them, with the errno the fault names. The failure takes the path a
// real one takes: the call returns its failure value and last_error() holds the OsCode that
// OsCodeFromErrno gives the errno (for a lock, EAGAIN and EACCES are contention:
// kOsLockViolation). Tests arm faults through FaultScope (tests/support/file_faults.h).
//
// What can fail (FaultOp):
//   kWrite         File::WriteAt and File::Write, every call.
//   kGrowingWrite  the WriteAt and Write calls whose last byte lies past the file's size at the
//                  time of the call (a full disk: usually ENOSPC); writes over existing bytes
//                  go through and are not counted. A Write to a pipe always grows.
//   kCommit        File::Commit (a failing fsync: usually EIO).
//   kTruncate      File::Truncate, shortening or lengthening.
//   kLock          File::Lock, waiting or not (EBADF, ENOLCK; EAGAIN fakes contention). Unlock
//                  and LockedElsewhere are never failed.
//
// Counting: a fault counts the calls it matches: calls of its kind on an open file whose path
// ends with its suffix (ASCII letter case ignored; an empty suffix matches every file). The
// nth matching call fails (1-based), and with `sticky` every later matching call too (a disk
// that stays full). calls() tells how many matching calls were seen, injected() how many
// failed. A sweep arms nth = 1, 2, 3... on fresh copies of its files and stops at the first run
// with injected() == 0: that run went through, and every matching call before it has failed
// once.
//
// A failing write writes nothing, or with `torn` the first half of its bytes (rounded down)
// before it fails. Several faults may be armed at once; each counts every call it matches, and
// a call fails when any of them says so.
//
// Cost when nothing is armed: one relaxed atomic load per call. Thread safety: arming,
// disarming and the counting of armed faults are serialised by a mutex.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

namespace vosk {

enum class FaultOp { kWrite, kGrowingWrite, kCommit, kTruncate, kLock };

struct FileFault {
  FaultOp op = FaultOp::kWrite;
  int error = EIO;      // the errno of the failing call
  std::string suffix;   // only files whose path ends with it; "" = every file
  uint64_t nth = 1;     // the first matching call that fails (1-based)
  bool sticky = false;  // every matching call from the nth on fails
  bool torn = false;    // a failing write writes the first half of its bytes first

  // Counters, kept while the fault is armed.
  uint64_t calls() const { return calls_.load(); }
  uint64_t injected() const { return injected_.load(); }

  std::atomic<uint64_t> calls_{0};
  std::atomic<uint64_t> injected_{0};

  FileFault() = default;
  FileFault(FaultOp o, int err, std::string sfx = "", uint64_t n = 1)
      : op(o), error(err), suffix(std::move(sfx)), nth(n) {}
  FileFault(const FileFault& o)
      : op(o.op), error(o.error), suffix(o.suffix), nth(o.nth), sticky(o.sticky),
        torn(o.torn) {}
};

// Arms a fault (its counters start from zero) until DisarmFileFault; the fault must stay alive
// and unchanged while armed.
void ArmFileFault(FileFault* fault);
void DisarmFileFault(FileFault* fault);

}  // namespace vosk

#endif  // VOSK_PLATFORM_FILE_FAULT_H_
