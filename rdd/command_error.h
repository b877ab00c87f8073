#ifndef VOSK_RDD_COMMAND_ERROR_H_
#define VOSK_RDD_COMMAND_ERROR_H_

// Errors of the command layer (subsystem "DBCMD"), shared by the table and order commands and
// the work area's own argument checks.

#include <string>

#include "expr/runtime_error.h"

namespace vosk {

class WorkArea;

// An error of the command layer; the operation names what was refused (an alias, say).
RuntimeError CommandErrorOf(int gen_code, int sub_code, const std::string& operation = "");
// Raises it through the error handler; can_default lets the handler answer "default".
ErrorAnswer CommandError(int gen_code, int sub_code, bool can_default = false,
                         const std::string& operation = "");
// The current area's table, or nullptr after raising "Workarea not in use" (35, 2001).
WorkArea* CommandArea();

}  // namespace vosk

#endif  // VOSK_RDD_COMMAND_ERROR_H_
