#include "gui/dispatcher.h"

#include <QCoreApplication>
#include <exception>
#include <string>

#include "app/command_state.h"
#include "app/messages.h"
#include "expr/runtime_error.h"

namespace vosk {
namespace {

void Quit(int code) { QCoreApplication::exit(code); }

// Shows a fatal text without letting a second failure escape.
void ShowFatal(const std::string& text) {
  try {
    POPMSG(text, 1);
  } catch (...) {
  }
}

}  // namespace

void RunCommand(const std::function<void()>& command) {
  // Paints and timer ticks in the nested event loops of its boxes leave the engine alone.
  {
    CommandScope running;
    RunProgram(command);
  }
  // What the user asked for while the command failed runs once it is over.
  if (!CommandRunning()) {
    RunProgram([] {
      CommandScope running;
      RunAfterCommand();
    });
  }
}

void RunProgram(const std::function<void()>& program) {
  const std::function<void()>& command = program;
  try {
    command();
  } catch (const Abandon&) {
    // The command's recovery point: its message has been shown.
  } catch (const ProgramEnd& end) {
    Quit(end.code());
  } catch (const InternalError& e) {
    ShowFatal(std::string("Errore interno ") + e.what());
    Quit(e.number());
  } catch (const std::exception& e) {
    ShowFatal(std::string("Errore inatteso: ") + e.what());
    Quit(1);
  } catch (...) {
    ShowFatal("Errore inatteso.");
    Quit(1);
  }
}

}  // namespace vosk
