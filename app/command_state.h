#ifndef VOSK_APP_COMMAND_STATE_H_
#define VOSK_APP_COMMAND_STATE_H_

// Whether a command of the user is running, and how the window reads the table for display.
//
// A command runs from the event that starts it to its end, its message boxes and dialogs
// included. Those run nested event loops, in which the window may paint or the refresh timer
// may fire: neither may then move the record pointer or ask the engine anything (a skip would
// commit the record the command is changing). The dispatcher holds a CommandScope for every
// command; painting and the timer look at CommandRunning() first.
//
// Painting reads the table through ReadForDisplay(): a failure is never shown from inside a
// paint (a modal box there repaints the window, which fails again, for ever). The failure is
// kept instead and shown once, outside the paint, by ReportDisplayError().
//
//   if (!CommandRunning()) {
//     ReadForDisplay([&] { rows = core.VisibleRows(); });
//   }
//   ... later, from the event loop:  ReportDisplayError();

#include <functional>
#include <string>

#include "expr/runtime_error.h"

namespace vosk {

// True while a command runs.
bool CommandRunning();

// Marks a command as running for its lifetime; scopes nest.
class CommandScope {
 public:
  CommandScope();
  ~CommandScope();
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;
};

// A step the user asked for while a command failed (the password dialog after a refused write):
// it runs once the command is over (its locks let go, its state unwound), as a command of its
// own. RunAfterCommand() runs the kept steps in order and forgets them; the dispatcher calls it
// after every outermost command.
void AfterCommand(std::function<void()> step);
void RunAfterCommand();

// Installs, for its lifetime, the handler of display reads: a division by zero gives 0; any
// other error abandons the read and is kept for ReportDisplayError() (the first one only; not a
// value the driver cannot decode, which only marks its cell).
class DisplayReadScope {
 public:
  DisplayReadScope();
  DisplayReadScope(const DisplayReadScope&) = delete;
  DisplayReadScope& operator=(const DisplayReadScope&) = delete;

 private:
  ScopedErrorHandler handler_;
};

// Runs `body` as a display read; false when it was abandoned by a runtime error (which is
// then kept for ReportDisplayError()).
template <typename F>
bool ReadForDisplay(F&& body) {
  DisplayReadScope scope;
  try {
    body();
    return true;
  } catch (const Abandon&) {
    return false;
  }
}

// True when a display read failed and its error has not been reported yet.
bool DisplayErrorPending();
// Shows the kept error through the installed error handler (which may abandon the running
// command or end the program), unless an error of the same kind on the same file was already
// reported since the table was opened; then forgets it.
void ReportDisplayError();
// The table was (re)opened: its errors may be reported again.
void ForgetDisplayErrors();
// Errors on this file are not reported: the user was told about the file another way (a memo
// file that is missing).
void MarkFileTold(const std::string& file);

}  // namespace vosk

#endif  // VOSK_APP_COMMAND_STATE_H_
