#ifndef VOSK_APP_VOSKDBU_H_
#define VOSK_APP_VOSKDBU_H_

// The program's entry (MAIN), its status text and window geometry.

#include <optional>
#include <string>

namespace vosk {

class Browse;

// The "Parametri" values MAIN reads at start-up and that later parts use as read then.
struct StartupSettings {
  std::string rdd = "DBFNTX";
  int memo = 1;
  std::string codifica = "ANSI";
  bool auto_open = false;
};
StartupSettings& StartupValues();

// The entry point, after the start-up routine. cFile: the first command-line argument ("" when
// absent). Reads VOSKDBU.INI, sets the default driver and memo format, AUTOPEN off, century on,
// DELETED off; asks for a table when cFile is "", "." or ".."; opens the table in the current
// work area with the alias "DBF", shared; then runs the main window through the Ui
// (Ui::RunMainWindow) and closes the table when it returns. Every failure before the window
// shows its message and returns: the program then ends. A runtime error that ends the program
// passes ProgramEnd on.
void MAIN(const std::string& cFile);

// The status-bar text for the current position of the browse; nullopt when oBrw is null.
std::optional<std::string> STATMSG(const Browse* oBrw);

// Window geometry. nType nullopt: apply the saved geometry and show the window; 0 restored or
// resized; 2 maximized; -1 moved. Keeps "Maximized", "Top", "Left", "Width" and "Height" of
// VOSKDBU.INI describing the normal (not maximized) window.
void RESIZE(std::optional<int> nType);

// The main window's title for the current table: "VOSK Software DBU - " and cCurTable.
std::string MainWindowTitle();

}  // namespace vosk

#endif  // VOSK_APP_VOSKDBU_H_
