#include "app/password.h"

#include "app/browse.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/ui.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr int kIdElimina = 102;
constexpr int kPasswordLength = 8;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

void PASSWORD(Browse* oBrw) {
  RoutineFrame frame("PASSWORD", __LINE__);
  // Wide enough for its title beside the window system's buttons.
  Dialog dlg{"PASSWORD", "Imposta password", 150, 55};
  dlg.lAsk = false;  // closing never asks
  dlg.Add(Control::Label("Password:", 12, 10, 35, 10));
  Control psw = Control::Get(101, "cPsw", Value::String(std::string(kPasswordLength, ' ')), "",
                             10, 45, 60, 13);
  psw.password = true;
  dlg.Add(std::move(psw));
  Control elimina = Control::Button(kIdElimina, "", 10, 110, 10, 13);
  elimina.name = "ELIMINA";
  elimina.bitmap = "ELIMINA";
  elimina.tooltip = "Elimina password";
  dlg.Add(std::move(elimina));
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 35, 30, 40, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 35, 80, 40, 14));
  // "ELIMINA" empties the password and ends the dialog as a confirmation.
  dlg.on_tool = [](Dialog& d, int id) {
    if (id != kIdElimina) return false;
    CTL(d, "cPsw")->get->set_value(Value::String(""));
    d.result = 1;
    return true;
  };
  dlg.focus = 1;
  if (GetUi().RunDialog(dlg) != 1) return;

  const Value typed = CTL(dlg, "cPsw")->Val();
  const std::string cPsw = Trimmed(typed.is_string() ? typed.str() : "");
  frame.set_line(__LINE__);
  DBINFO(kDbiPassword, Value::String(cPsw));
  CurTable().cPassword = cPsw;
  if (oBrw) {
    oBrw->Refresh();
    oBrw->Stabilize(false);
  }
  REFRESHPSW();
}

void REFRESHPSW() {
  const bool set = !CurTable().cPassword.value_or("").empty();
  GetUi().SetStatusItemState(1, set, std::string("Password ") + (set ? "" : "non ") + "impostata");
}

}  // namespace vosk
