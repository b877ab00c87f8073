#include "app/voskdbu.h"

#include "app/ansi.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/startup.h"
#include "app/structure_editor.h"
#include "app/table_files.h"
#include "app/ui.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

bool NoTableName(const std::string& name) { return name.empty() || name == "." || name == ".."; }

void CloseCurrentTable() {
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    DBCLOSE(kCurrentAlias);
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
  RegisterBrowseFunctions();

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
      if (!CREATAB()) return;
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

  // The table's version byte and the memo files beside it decide the memo kind (type and
  // extension together); FPT wins when both files exist and the version byte names neither.
  UseMemoKindOf(cFile);
  const bool read_only = ExplainReadOnlyOpen(cFile);

  frame.set_line(__LINE__);
  if (!OKOPEN(cFile, "", read_only)) return;
  const std::string index = AutoIndexName(cFile);
  const bool with_index = ini.auto_open && OrderBagsSupported() && FileExists(index);
  if (with_index && !OKOPEN(cFile, index, read_only)) return;

  frame.set_line(__LINE__);
  CurTable().cCurTable = cFile;
  CurTable().lReadOnly = read_only;
  DBOPEN(false, "", cFile, kCurrentAlias, true, read_only);
  if (!USED()) return;
  TableOpened(cFile);
  if (FCOUNT() == 0) {
    POPMSG(Ansi("Impossibile aprire il file;") + cFile + Ansi(";perché privo di campi."), 1);
    CloseCurrentTable();
    return;
  }
  if (with_index) {
    if (!OKOPEN(cFile, index, read_only)) {
      CloseCurrentTable();
      return;
    }
    OrderListClear();
    OrderListAdd(index);
    CurTable().cCurIndex = index;
  }
  ShowAllFields(FCOUNT());
  ADDMRU(cFile);

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

std::string MainWindowTitle() {
  // A table opened read-only says so where the user looks first.
  return "VOSK Software DBU - " + CurTable().cCurTable +
         (CurTable().lReadOnly ? " (sola lettura)" : "");
}

}  // namespace vosk
