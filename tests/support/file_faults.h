#ifndef VOSK_TESTS_SUPPORT_FILE_FAULTS_H_
#define VOSK_TESTS_SUPPORT_FILE_FAULTS_H_

// Failing disks, syncs and locks for the tests of one process: the faults of
// platform/file_fault.h, armed for the life of a scope.
//
//   FaultScope full(FaultOp::kGrowingWrite, ENOSPC, ".cdx");   // the first growing write fails
//   FaultScope sync(FaultOp::kCommit, EIO);                    // the first fsync of any file
//   FaultScope locks(FaultOp::kLock, ENOLCK, ".dbf", 1, true); // every lock of the table
//
// A sweep fails the nth matching call for n = 1, 2, ... until a run goes through untouched:
//
//   SweepFaults({FaultOp::kWrite, ENOSPC, ".ntx"}, [&](uint64_t n, FaultScope& fault) {
//     ... fresh copies of the files (std::filesystem: File does not see them), the change,
//     fault.Disarm(), the checks of what a failure must leave ...
//   });

#include <cstdint>
#include <string>
#include <utility>

#include "platform/file_fault.h"

namespace vosk {

class FaultScope {
 public:
  explicit FaultScope(const FileFault& fault) : fault_(fault) { ArmFileFault(&fault_); }
  FaultScope(FaultOp op, int error, std::string suffix = "", uint64_t nth = 1,
             bool sticky = false)
      : fault_(op, error, std::move(suffix), nth) {
    fault_.sticky = sticky;
    ArmFileFault(&fault_);
  }
  ~FaultScope() { Disarm(); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;

  // Ends the fault before the scope does (the counters keep their values).
  void Disarm() {
    if (armed_) DisarmFileFault(&fault_);
    armed_ = false;
  }
  uint64_t calls() const { return fault_.calls(); }
  uint64_t injected() const { return fault_.injected(); }
  bool fired() const { return fault_.injected() > 0; }

 private:
  FileFault fault_;
  bool armed_ = true;
};

// Runs run(n, scope) for n = 1, 2, ... with `fault` armed to fail the nth matching call
// (fault.nth is ignored; run may disarm the scope to check what the failure left), and stops
// after the first run in which nothing was failed. Returns the number of runs that had a
// failure; stops at `limit` runs (a change that never goes through).
template <typename Run>
uint64_t SweepFaults(const FileFault& fault, Run run, uint64_t limit = 10000) {
  for (uint64_t n = 1; n <= limit; ++n) {
    FileFault nth(fault);
    nth.nth = n;
    FaultScope scope(nth);
    run(n, scope);
    if (!scope.fired()) return n - 1;
  }
  return limit;
}

}  // namespace vosk

#endif  // VOSK_TESTS_SUPPORT_FILE_FAULTS_H_
