#ifndef VOSK_APP_ERROR_HANDLER_H_
#define VOSK_APP_ERROR_HANDLER_H_

// The Application's runtime error handler: Italian messages for the failures a user can act on,
// quiet failures for tables in use elsewhere, zero for a division by zero, and for anything else
// an offer to mail an error report before the program ends.

#include <string>

#include "expr/runtime_error.h"

namespace vosk {

class Ui;

// The handler, showing its messages on `ui`. It answers:
//  - throws Abandon after a message for OS codes 21, 27, 31, 19, 82, 5, 3, 2, subcode 2016, a
//    create error with a sharing violation (32) and corruption (subcode 1012 or general code
//    32);
//  - Substitute(0) for a zero divisor;
//  - Default with NETERR set for an open error (21) with OS code 32 or 5, or an append-lock
//    failure (40), when the error allows a default;
//  - otherwise asks whether to mail a report (opening the mail client on OK) and throws
//    ProgramEnd.
// REQUIRES: ui outlives the handler.
ErrorHandler MakeErrorHandler(Ui& ui);
// Installs MakeErrorHandler(ui) for every runtime error.
void InstallErrorHandler(Ui& ui);

// "Error DBFNTX/1012  Corruption detected: C:\T.NTX;Function: MAIN  Line: 12": severity word,
// subsystem, subcode, description, file name or operation, and the innermost routine on the
// routine stack (the part from ";Function:" is left out when the stack is empty).
std::string ERRORMESSAGE(const RuntimeError& oError);

// The mailto: link of an error report: empty recipient, subject "Rapporto di errore", body
// "Applicazione: " + the executable's full name, two line breaks and the error text.
std::string ErrorReportMailto(const std::string& error_text);

// One entry of the routine stack that ERRORMESSAGE names: an Application routine pushes one for
// its lifetime so that an error report can say where it happened.
class RoutineFrame {
 public:
  RoutineFrame(const char* name, int line);
  ~RoutineFrame();
  RoutineFrame(const RoutineFrame&) = delete;
  RoutineFrame& operator=(const RoutineFrame&) = delete;

  // The line now being run, for a more precise report.
  void set_line(int line) { line_ = line; }
  const char* name() const { return name_; }
  int line() const { return line_; }

 private:
  const char* name_;
  int line_;
  RoutineFrame* outer_;  // the frame that was innermost before this one
};

}  // namespace vosk

#endif  // VOSK_APP_ERROR_HANDLER_H_
