#ifndef VOSK_PLATFORM_OS_ERROR_H_
#define VOSK_PLATFORM_OS_ERROR_H_

namespace vosk {

// Operating-system error codes as runtime error records carry them and as the Application's
// error handler tests them.
enum OsCode : int {
  kOsNone = 0,
  kOsFileNotFound = 2,
  kOsPathNotFound = 3,
  kOsTooManyFiles = 4,
  kOsAccessDenied = 5,
  kOsWriteProtected = 19,
  kOsNotReady = 21,
  kOsSharingViolation = 32,
  kOsLockViolation = 33,    // a byte range held by another (contention)
  kOsNoLocks = 36,          // no lock can be taken at all (lock table full, no lock service)
  kOsDiskFull = 39,
  kOsFileExists = 80,
  kOsDirectoryFull = 82,
  kOsGeneric = 1,  // any other failure: no rule of the error handler matches it
};

// Maps an errno value to the codes above (one table for the whole program).
int OsCodeFromErrno(int err);

}  // namespace vosk

#endif  // VOSK_PLATFORM_OS_ERROR_H_
