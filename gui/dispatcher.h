#ifndef VOSK_GUI_DISPATCHER_H_
#define VOSK_GUI_DISPATCHER_H_

// The outermost recovery point. Every command started by a menu, a button, a key, a click or a
// timer runs through RunCommand, so that no exception reaches Qt's event loop.

#include <functional>

namespace vosk {

// Runs `command`, marked as running (app/command_state.h) until it ends. Abandon: the command is over (its message has been shown). ProgramEnd: the
// event loop is asked to end, so the program quits cleanly. InternalError and any other
// exception: its text is shown, then the program quits.
void RunCommand(const std::function<void()>& command);
// The same recovery around the whole program (start-up, the window's event loop, shutdown),
// which is not a command: the commands it dispatches are.
void RunProgram(const std::function<void()>& program);

}  // namespace vosk

#endif  // VOSK_GUI_DISPATCHER_H_
