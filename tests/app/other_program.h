#ifndef VOSK_TESTS_APP_OTHER_PROGRAM_H_
#define VOSK_TESTS_APP_OTHER_PROGRAM_H_

// Another program using a table at the same time: a child process that opens the table in a
// work area of its own (its own open file, so its share mode and locks compete with ours as
// another program's would), optionally locks the table or one record, and keeps it so until
// Release().

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "expr/runtime_error.h"
#include "expr/value.h"
#include "rdd/db_commands.h"

namespace vosk {

class OtherProgram {
 public:
  enum Hold { kShared, kExclusive, kTableLock, kRecordLock };

  OtherProgram(const std::string& table, Hold hold, uint32_t record = 1) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      SetErrorHandler([](const RuntimeError&) { return ErrorAnswer::Default(); });
      bool ok = DBUSEAREA(true, "", table, "OTHERPRG", hold != kExclusive, false);
      if (ok && hold == kTableLock) ok = FLOCK();
      if (ok && hold == kRecordLock) {
        DBGOTO(Value::Integer(record));
        ok = RLOCK();
      }
      const char status = ok ? 'k' : 'f';
      (void)!::write(up[1], &status, 1);
      char go;
      (void)!::read(down[0], &go, 1);
      ::_exit(0);  // the parent's files stay as they are: nothing is closed or flushed here
    }
    ::close(up[1]);
    ::close(down[0]);
    to_child_ = down[1];
    char status = 'f';
    (void)!::read(up[0], &status, 1);
    ::close(up[0]);
    holding_ = status == 'k';
  }
  ~OtherProgram() { Release(); }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  // True when the other program opened the table and took its lock.
  bool holding() const { return holding_; }
  // The other program lets the table go and ends.
  void Release() {
    if (pid_ <= 0) return;
    (void)!::write(to_child_, "x", 1);
    ::close(to_child_);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    holding_ = false;
  }

 private:
  pid_t pid_ = -1;
  int to_child_ = -1;
  bool holding_ = false;
};

}  // namespace vosk

#endif  // VOSK_TESTS_APP_OTHER_PROGRAM_H_
