#include "expr/runtime_error.h"

namespace vosk {
namespace {

ErrorHandler& InstalledHandler() {
  static ErrorHandler handler;
  return handler;
}

}  // namespace

const char* GeneralDescription(int gen_code) {
  switch (gen_code) {
    case 0: return "Unknown error";
    case 1: return "Argument error";
    case 2: return "Bound error";
    case 3: return "String overflow";
    case 4: return "Numeric overflow";
    case 5: return "Zero divisor";
    case 6: return "Numeric error";
    case 7: return "Syntax error";
    case 8: return "Operation too complex";
    case 11: return "Memory low";
    case 12: return "Undefined function";
    case 13: return "No exported method";
    case 14: return "Variable does not exist";
    case 15: return "Alias does not exist";
    case 16: return "No exported variable";
    case 17: return "Illegal characters in alias";
    case 18: return "Alias already in use";
    case 20: return "Create error";
    case 21: return "Open error";
    case 22: return "Close error";
    case 23: return "Read error";
    case 24: return "Write error";
    case 25: return "Print error";
    case 30: return "Operation not supported";
    case 31: return "Limit exceeded";
    case 32: return "Corruption detected";
    case 33: return "Data type error";
    case 34: return "Data width error";
    case 35: return "Workarea not in use";
    case 36: return "Workarea not indexed";
    case 37: return "Exclusive required";
    case 38: return "Lock required";
    case 39: return "Write not allowed";
    case 40: return "Append lock failed";
    case 41: return "Lock Failure";
    case 46: return "array access";
    case 47: return "array assign";
    case 48: return "array dimension";
    case 49: return "not an array";
    case 50: return "conditional";
    case 51: return "Invalid self";
    default: return "Unknown error";
  }
}

int GeneralCodeOfDriverSubcode(int sub_code) {
  switch (sub_code) {
    case kEdfOpen: case kEdfMemoOpen: case kEdfOpenExternal: return kEgOpen;
    case kEdfCreate: case kEdfMemoCreate: return kEgCreate;
    case kEdfRead: return kEgRead;
    case kEdfWrite: return kEgWrite;
    case kEdfCorrupt: return kEgCorruption;
    case kEdfDataType: return kEgDataType;
    case kEdfDataWidth: return kEgDataWidth;
    case kEdfUnlocked: return kEgUnlocked;
    case kEdfShared: return kEgShared;
    case kEdfAppendLock: return kEgAppendLock;
    case kEdfReadonly: return kEgReadonly;
    case kEdfLock: return kEgLock;
    default: return kEgUnsupported;
  }
}

std::string RuntimeError::ToString() const {
  std::string s = severity > kEsWarning ? "Error " : "Warning ";
  s += subsystem.empty() ? "???" : subsystem;
  s += sub_code ? "/" + std::to_string(sub_code) : "/???";
  std::string desc = description.empty() ? GeneralDescription(gen_code) : description;
  if (!desc.empty()) s += "  " + desc;
  if (!file_name.empty()) {
    s += ": " + file_name;
  } else if (!operation.empty()) {
    s += ": " + operation;
  }
  return s;
}

ErrorHandler SetErrorHandler(ErrorHandler handler) {
  ErrorHandler previous = std::move(InstalledHandler());
  InstalledHandler() = std::move(handler);
  return previous;
}

const ErrorHandler& GetErrorHandler() { return InstalledHandler(); }

ErrorAnswer RaiseError(RuntimeError error) {
  if (error.description.empty()) error.description = GeneralDescription(error.gen_code);
  const ErrorHandler& handler = InstalledHandler();
  if (!handler) throw Abandon(std::move(error));
  ErrorAnswer answer = handler(error);
  if (answer.kind == ErrorAnswer::Kind::kRetry && !error.can_retry) {
    return ErrorAnswer::Default();
  }
  if (answer.kind == ErrorAnswer::Kind::kSubstitute && !error.can_substitute) {
    return ErrorAnswer::Default();
  }
  return answer;
}

}  // namespace vosk
