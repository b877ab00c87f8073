#ifndef VOSK_EXPR_RUNTIME_ERROR_H_
#define VOSK_EXPR_RUNTIME_ERROR_H_

#include <functional>
#include <stdexcept>
#include <string>

#include "expr/value.h"

namespace vosk {

// General codes of runtime errors (their texts: GeneralDescription()).
enum GenCode : int {
  kEgUnknown = 0, kEgArg = 1, kEgBound = 2, kEgStrOverflow = 3, kEgNumOverflow = 4,
  kEgZeroDiv = 5, kEgNumErr = 6, kEgSyntax = 7, kEgComplexity = 8, kEgMem = 11,
  kEgNoFunc = 12, kEgNoMethod = 13, kEgNoVar = 14, kEgNoAlias = 15, kEgNoVarExport = 16,
  kEgBadAlias = 17, kEgDupAlias = 18, kEgCreate = 20, kEgOpen = 21, kEgClose = 22,
  kEgRead = 23, kEgWrite = 24, kEgPrint = 25, kEgUnsupported = 30, kEgLimit = 31,
  kEgCorruption = 32, kEgDataType = 33, kEgDataWidth = 34, kEgNoTable = 35,
  kEgNoOrder = 36, kEgShared = 37, kEgUnlocked = 38, kEgReadonly = 39, kEgAppendLock = 40,
  kEgLock = 41, kEgArrAccess = 46, kEgArrAssign = 47, kEgArrDimension = 48,
  kEgNotArray = 49, kEgConditional = 50, kEgInvalidSelf = 51,
};

// Description text of a general code ("Unknown error" for codes without one).
const char* GeneralDescription(int gen_code);

// Driver subcodes and the general code each implies.
enum SubCode : int {
  kEdfOpen = 1001, kEdfMemoOpen = 1002, kEdfCreate = 1004, kEdfMemoCreate = 1005,
  kEdfOpenExternal = 1006, kEdfRead = 1010, kEdfWrite = 1011, kEdfCorrupt = 1012,
  kEdfDataType = 1020, kEdfDataWidth = 1021, kEdfUnlocked = 1022, kEdfShared = 1023,
  kEdfAppendLock = 1024, kEdfReadonly = 1025, kEdfLock = 1038,
};
int GeneralCodeOfDriverSubcode(int sub_code);

// Severity of a runtime error.
enum Severity : int { kEsWhocares = 0, kEsWarning = 1, kEsError = 2, kEsCatastrophic = 3 };

// A runtime error record: what failed, where, and what the handler may answer.
struct RuntimeError {
  int gen_code = 0;
  std::string subsystem;    // a driver name, "DBCMD" or "BASE"
  int sub_code = 0;
  int os_code = 0;          // numbering of platform/os_error.h
  std::string description;  // filled from gen_code when empty
  std::string file_name;
  std::string operation;
  int severity = kEsError;
  bool can_retry = false;
  bool can_default = false;
  bool can_substitute = false;  // a value may stand for the failed result (zero divisor)

  // "Error DBF/1012  Corruption detected: file.dbf" (without the call-stack suffix).
  std::string ToString() const;
};

// What the error handler decided.
struct ErrorAnswer {
  enum class Kind { kRetry, kDefault, kSubstitute };
  Kind kind = Kind::kDefault;
  Value value;  // the substitute value, for kSubstitute

  static ErrorAnswer Retry() { return {Kind::kRetry, {}}; }
  static ErrorAnswer Default() { return {Kind::kDefault, {}}; }
  static ErrorAnswer Substitute(Value v) { return {Kind::kSubstitute, std::move(v)}; }
  bool retry() const { return kind == Kind::kRetry; }
};

// The installed handler may answer, or throw Abandon / ProgramEnd.
using ErrorHandler = std::function<ErrorAnswer(const RuntimeError&)>;

// Installs a handler; returns the previous one. With no handler installed every error is
// abandoned (Abandon is thrown).
ErrorHandler SetErrorHandler(ErrorHandler handler);
const ErrorHandler& GetErrorHandler();

// Raises a runtime error through the installed handler and returns its answer. A retry answer
// is only returned when the error allows it; otherwise it becomes Default.
ErrorAnswer RaiseError(RuntimeError error);

// Installs a handler for the lifetime of the object and restores the previous one afterwards.
class ScopedErrorHandler {
 public:
  explicit ScopedErrorHandler(ErrorHandler handler)
      : previous_(SetErrorHandler(std::move(handler))) {}
  ~ScopedErrorHandler() { SetErrorHandler(std::move(previous_)); }
  ScopedErrorHandler(const ScopedErrorHandler&) = delete;
  ScopedErrorHandler& operator=(const ScopedErrorHandler&) = delete;

 private:
  ErrorHandler previous_;
};

// Abandons the running command; caught at the command's recovery point.
class Abandon : public std::runtime_error {
 public:
  explicit Abandon(RuntimeError error)
      : std::runtime_error(error.ToString()), error_(std::move(error)) {}
  const RuntimeError& error() const { return error_; }

 private:
  RuntimeError error_;
};

// Ends the program in an orderly way (the outermost dispatcher turns it into a clean quit).
class ProgramEnd : public std::runtime_error {
 public:
  explicit ProgramEnd(int code = 0) : std::runtime_error("program end"), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// A fatal internal error (a broken invariant of an index file or of lock usage): ends the
// program with its number and text.
class InternalError : public std::runtime_error {
 public:
  InternalError(int number, const std::string& text)
      : std::runtime_error(std::to_string(number) + ": " + text), number_(number) {}
  int number() const { return number_; }

 private:
  int number_;
};

}  // namespace vosk

#endif  // VOSK_EXPR_RUNTIME_ERROR_H_
