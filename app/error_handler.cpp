#include "app/error_handler.h"

#include "app/ansi.h"
#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/password.h"
#include "app/ui.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

RoutineFrame*& InnermostFrame() {
  static RoutineFrame* frame = nullptr;
  return frame;
}

// The message of the rules that abandon the command, or "" when none applies.
std::string AbandonMessage(const RuntimeError& e) {
  const std::string& name = e.file_name;  // as the file system spells it
  switch (e.os_code) {
    case kOsNotReady:
      return "Disco " + name + " non pronto.";
    case 27:  // sector not found
    case 31:  // general failure: also what an errno without a code of its own becomes
      return "Disco " + name + " non formattato.";
    case kOsWriteProtected:
      return "Disco " + name + " protetto da scrittura.";
    case kOsDirectoryFull:
      return "Directory " + name + " piena.";
    default:
      break;
  }
  // A full disk (or a file grown past its size limit) abandons the command with a message.
  if (e.sub_code == 2016 || e.os_code == kOsDiskFull) {
    return "Spazio sul disco " + name + " insufficiente.";
  }
  switch (e.os_code) {
    case kOsAccessDenied:
      return "Impossibile accedere al file " + name + ".";
    case kOsPathNotFound:
      return "Percorso " + name + " non trovato.";
    case kOsFileNotFound:
      return "Impossibile aprire il file " + name + ".";
    default:
      break;
  }
  // A file made anew (an index built over the old one) that another program holds: the
  // command cannot go on, and nothing was changed.
  if (e.gen_code == kEgCreate && e.os_code == kOsSharingViolation) {
    return "Il file " + name + " risulta aperto da un altro programma.";
  }
  if (e.sub_code == kEdfCorrupt || e.gen_code == kEgCorruption) {
    return "Il file " + name + " risulta corrotto.";
  }
  return "";
}

// Whether the table of the current work area is enciphered; false when that cannot be told.
bool CurrentTableEnciphered() {
  ScopedErrorHandler quiet([](const RuntimeError& err) -> ErrorAnswer { throw Abandon(err); });
  try {
    const Value enciphered = DBINFO(132);
    return enciphered.is_logical() && enciphered.logical();
  } catch (const Abandon&) {
    return false;
  }
}

// A write the table refused (a read-only file, or a key that does not match the table): the
// command ends with a message and, when a password would help, an offer of the password
// dialog once the command is over.
[[noreturn]] void RefuseWrite(Ui& ui, const RuntimeError& e) {
  const std::string name = e.file_name.empty() ? CurTable().cCurTable : e.file_name;
  const bool enciphered = CurrentTableEnciphered();
  const bool password_set = !CurTable().cPassword.value_or("").empty();
  std::string text;
  if (enciphered && !password_set) {
    text = Ansi("La tabella ") + name + Ansi(" è crittata: per modificarla serve la sua password.");
  } else if (enciphered) {
    text = Ansi("La password impostata non è quella della tabella ") + name +
           Ansi(": per modificarla serve la sua password.");
  } else if (password_set) {
    text = Ansi("La tabella ") + name +
           Ansi(" non è crittata: per modificarla eliminare la password impostata.");
  } else {
    POPMSG(ui, Ansi("Il file ") + name + Ansi(" è in sola lettura: impossibile modificarlo."), 1);
    throw Abandon(e);
  }
  if (POPMSG(ui, text + Ansi(";;Impostare la password ora?"), 4).logical()) {
    AfterCommand([] { PASSWORD(MainBrowse()); });
  }
  throw Abandon(e);
}

ErrorAnswer HandleError(Ui& ui, const RuntimeError& e) {
  if (std::string message = AbandonMessage(e); !message.empty()) {
    POPMSG(ui, message, 1);
    throw Abandon(e);
  }
  if (e.sub_code == kEdfReadonly || e.gen_code == kEgReadonly) RefuseWrite(ui, e);
  if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
  if (e.can_default && ((e.gen_code == kEgOpen &&
                         (e.os_code == kOsSharingViolation || e.os_code == kOsAccessDenied)) ||
                        e.gen_code == kEgAppendLock)) {
    NETERR(true);
    return ErrorAnswer::Default();
  }
  std::string text = ERRORMESSAGE(e);
  if (POPMSG(ui, text + ";;Inviare rapporto di errore via email?", 2).logical()) {
    ui.OpenMailto(ErrorReportMailto(text));
  }
  throw ProgramEnd(1);
}

}  // namespace

RoutineFrame::RoutineFrame(const char* name, int line)
    : name_(name), line_(line), outer_(InnermostFrame()) {
  InnermostFrame() = this;
}

RoutineFrame::~RoutineFrame() { InnermostFrame() = outer_; }

ErrorHandler MakeErrorHandler(Ui& ui) {
  return [&ui](const RuntimeError& e) { return HandleError(ui, e); };
}

void InstallErrorHandler(Ui& ui) { SetErrorHandler(MakeErrorHandler(ui)); }

std::string ERRORMESSAGE(const RuntimeError& oError) {
  std::string text = oError.severity > kEsWarning ? "Error " : "Warning ";
  text += oError.subsystem.empty() ? "???" : oError.subsystem;
  text += '/';
  text += oError.sub_code ? std::to_string(oError.sub_code) : "???";
  if (!oError.description.empty()) text += "  " + oError.description;
  if (!oError.file_name.empty()) {
    text += ": " + oError.file_name;
  } else if (!oError.operation.empty()) {
    text += ": " + oError.operation;
  }
  // The database commands push no frame of their own, so the innermost frame is the
  // Application routine that called them.
  if (const RoutineFrame* frame = InnermostFrame()) {
    text += ";Function: " + std::string(frame->name()) + "  Line: " + std::to_string(frame->line());
  }
  return text;
}

std::string ErrorReportMailto(const std::string& error_text) {
  std::string body = "Applicazione: " + GETMODULEFILENAME() + "%0d%0a%0d%0a";
  for (char c : error_text) {
    switch (c) {
      case '&':
        body += "%26";
        break;
      case ';':
        body += "%0d%0a";
        break;
      // Not in the report's alphabet, but a bare % or # would cut or garble the link.
      case '%':
        body += "%25";
        break;
      case '#':
        body += "%23";
        break;
      default:
        body += c;
        break;
    }
  }
  return "mailto:?subject=Rapporto di errore&body=" + body;
}

}  // namespace vosk
