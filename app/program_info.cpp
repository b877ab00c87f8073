#include "app/program_info.h"

#include "platform/version.h"

namespace vosk {

const char* ProgramName() { return kProductName; }
const char* ProgramVersion() { return kProductVersion; }
const char* ProgramYear() { return kProductYear; }

}  // namespace vosk
