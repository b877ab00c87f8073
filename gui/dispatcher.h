#ifndef VOSK_GUI_DISPATCHER_H_
#define VOSK_GUI_DISPATCHER_H_

// The outermost recovery point. Every command started by a menu, a button, a key, a click or a
// timer runs through RunCommand, so that no exception reaches Qt's event loop.

#include <functional>

namespace vosk {

// Runs `command`. Abandon: the command is over (its message has been shown). ProgramEnd: the
// event loop is asked to end, so the program quits cleanly. InternalError and any other
// exception: its text is shown, then the program quits.
void RunCommand(const std::function<void()>& command);

}  // namespace vosk

#endif  // VOSK_GUI_DISPATCHER_H_
