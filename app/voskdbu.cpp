#include "app/voskdbu.h"

#include "app/ansi.h"
#include "app/current_table.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/startup.h"
#include "app/ui.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool NoTableName(const std::string& name) { return name.empty() || name == "." || name == ".."; }

// Table creation without a browse. The structure editor (CREATAB) is not part of the program
// yet, so creation fails and the program ends, as it does when the user gives up creating.
bool CreateTableWithoutBrowse() { return false; }

// Why an open of `table` failed, in the words the test-open gives.
std::string OpenFailureMessage(const RuntimeError& e, const std::string& table) {
  std::string name = Upper(e.file_name.empty() ? table : e.file_name);
  if (e.sub_code == kEdfCorrupt || e.gen_code == kEgCorruption) {
    return "Il file " + name + " risulta corrotto.";
  }
  if (e.os_code == kOsAccessDenied || e.os_code == kOsSharingViolation) {
    return Ansi("Il file ") + name +
           Ansi(" è già aperto in modo esclusivo oppure è in sola lettura.");
  }
  if (e.os_code == kOsNone && e.gen_code == kEgOpen && CFILEEXT(name).empty()) name += ".DBF";
  return "Impossibile aprire il file " + name + ".";
}

// Opens cCurTable in the current work area: default driver, alias "DBF", shared, read-write.
// On failure shows why and returns false.
bool OpenCurrentTable() {
  const std::string& table = CurTable().cCurTable;
  std::string message;
  {
    ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    try {
      if (DBUSEAREA(false, "", table, kCurrentAlias, true, false)) return true;
      RuntimeError in_use;  // refused quietly: held by another program
      in_use.gen_code = kEgOpen;
      in_use.os_code = kOsSharingViolation;
      message = OpenFailureMessage(in_use, table);
    } catch (const Abandon& abandon) {
      message = OpenFailureMessage(abandon.error(), table);
    }
  }
  POPMSG(message, 1);
  return false;
}

void CloseCurrentTable() {
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    if (SELECT(Value::String(kCurrentAlias)) > 0) {
      DBSELECTAREA(kCurrentAlias);
      DBCLOSEAREA();
    }
  } catch (const Abandon&) {
    // Nothing left to do for a table that will not close: the program is ending.
  }
}

void RunMain(std::string cFile) {
  RoutineFrame frame("MAIN", __LINE__);
  StartupSettings& ini = StartupValues();
  ini.rdd = IniString("RDD", "DBFNTX");
  ini.memo = IniInt("Memo", 1);
  ini.codifica = IniString("Codifica", "ANSI");
  ini.auto_open = IniLogical("AutoOpen", "No");

  SetDefaultDriver(ini.rdd);
  SetMemoFormat(ini.memo, ini.memo == 1 || VOSK() ? ".DBT" : ".FPT");
  SET(kSetAutOpen, Value::Logical(false));
  SETCENTURY(Value::Logical(true));
  SET(kSetDeleted, Value::Logical(false));

  frame.set_line(__LINE__);
  if (NoTableName(cFile)) {
    if (cFile.empty()) {
      cFile = CGETFILE("File DBF (*.DBF)|*.DBF", "Apri tabella...", 1, FULLNAME("."));
    }
    if (NoTableName(cFile)) {
      if (!POPMSG("Vuoi creare una nuova tabella?", 2).logical()) return;
      if (!CreateTableWithoutBrowse()) return;
      cFile = CurTable().cCurTable;
    }
  } else {
    cFile = FULLNAME(cFile);
  }
  if (CFILEEXT(cFile).empty()) cFile += ".DBF";
  if (!FileExists(cFile)) {
    POPMSG("Impossibile trovare il file " + cFile + ".", 1);
    return;
  }

  // Memo files beside the table decide the extension; FPT wins when both exist.
  const std::string base = CFILEPATH(cFile) + CFILENOEXT(cFile);
  if (FileExists(base + ".DBT")) SetMemoFormat(ini.memo, ".DBT");
  if (FileExists(base + ".FPT")) SetMemoFormat(ini.memo, ".FPT");

  frame.set_line(__LINE__);
  CurTable().cCurTable = cFile;
  if (!OpenCurrentTable()) return;
  if (FCOUNT() == 0) {
    POPMSG(Ansi("Impossibile aprire il file;") + cFile + Ansi(";perché privo di campi."), 1);
    CloseCurrentTable();
    return;
  }
  ShowAllFields(FCOUNT());

  frame.set_line(__LINE__);
  GetUi().RunMainWindow();
  CloseCurrentTable();
}

}  // namespace

StartupSettings& StartupValues() {
  static StartupSettings values;
  return values;
}

void MAIN(const std::string& cFile) {
  try {
    RunMain(cFile);
  } catch (const Abandon&) {
    // A failure before the window has been reported by the error handler: the program ends.
  }
}

std::string MainWindowTitle() { return "VOSK Software DBU - " + CurTable().cCurTable; }

}  // namespace vosk
