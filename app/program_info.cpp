#include "app/program_info.h"

#include "app/ansi.h"
#include "app/dialog.h"
#include "app/ui.h"
#include "platform/version.h"
#include "rdd/db_commands.h"

namespace vosk {

const char* ProgramName() { return kProductName; }
const char* ProgramVersion() { return kProductVersion; }
const char* ProgramYear() { return kProductYear; }

std::vector<std::string> InfoLines() {
  return {
      Ansi("© ") + ProgramYear() + " VOSK Software",
      "Tabelle DBF, memo DBT e FPT",
      "Indici NTX e CDX",
      "Copia in SDF, CSV, SQLite, XLSX",
      "Driver attivo: " + RDDSETDEFAULT(),
  };
}

void INFOS(const std::string& cProduct, const std::string& cVersion,
           const std::vector<std::string>& aLines) {
  Dialog dlg{"INFOS", "", 235, 145};
  dlg.lAsk = false;
  Control image = Control::Label("", 10, 10, 49, 54);
  image.id = 101;
  image.bitmap = "VOSK";
  dlg.Add(std::move(image));
  std::vector<std::string> lines = {cProduct, "Versione: " + cVersion};
  lines.insert(lines.end(), aLines.begin(), aLines.end());
  const int rows[] = {11, 26, 41, 56, 92, 107, 122};
  for (size_t i = 0; i < lines.size() && i < std::size(rows); ++i) {
    Control line = Control::Label(lines[i], rows[i], 80, 145, 10);
    line.id = 102 + static_cast<int>(i);
    dlg.Add(std::move(line));
  }
  Control rule;
  rule.kind = ControlKind::kLine;
  rule.row = 73, rule.col = 80, rule.width = 145, rule.height = 2;
  dlg.Add(std::move(rule));
  dlg.Add(Control::Button(kIdConferma, "&Chiudi", 112, 10, 51, 20));
  dlg.focus = static_cast<int>(dlg.controls.size()) - 1;
  GetUi().RunDialog(dlg);
}

}  // namespace vosk
