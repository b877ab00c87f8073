#ifndef VOSK_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
#define VOSK_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_

// A full disk for the tests of one process: a limit on the size of the files it writes.

#include <signal.h>
#include <sys/resource.h>

namespace vosk {

// Limits the size of every file this process writes (RLIMIT_FSIZE), with SIGXFSZ ignored so
// that a write past the limit fails with EFBIG instead of ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  sighandler_t old_handler_ = SIG_DFL;
  bool ok_ = false;
};

}  // namespace vosk

#endif  // VOSK_TESTS_SUPPORT_FILE_SIZE_LIMIT_H_
