#ifndef VOSK_APP_MAIN_MENU_H_
#define VOSK_APP_MAIN_MENU_H_

// The main window's menu bar, button bar and status bar as data. The GUI layer draws them and
// runs an entry's action through RunAction(); their texts exist only here (ANSI, see ansi.h).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vosk {

class Browse;

// What a menu entry, button or status item does. An action whose command is not part of the
// program yet is shown disabled.
enum class Action {
  kNone,
  // File
  kNuovaTabella,         // create a table, then set the title
  kNuovaTabellaNoTitle,  // the same from the button's drop-down menu, title untouched
  kNuovoIndice,
  kNuovoTag,
  kNuovaIstanza,
  kApriTabella,
  kApriIndice,
  kSelezionaTag,
  kCopiaTabella,
  kImportaRecord,
  kAutoOpen,
  kEsci,
  // Modifica
  kNuovoRecord,
  kCancellaRipristina,
  kDuplicaRecord,
  kModificaCampo,
  kSostituisciValori,
  kCancellaRecord,
  kRipristinaRecord,
  kModificaStruttura,
  kModificaProprieta,
  kModificaTag,
  kEliminaTag,
  kRicostruisciIndice,
  kSvuotaTabella,
  kCompattaTabella,
  kDriverNtx,
  kDriverCdx,
  kMemoDbt,
  kMemoFpt,
  kCodificaAnsi,
  kCodificaOem,
  // Visualizza
  kVaiAlRecord,
  kPrimaColonna,
  kUltimaColonna,
  kCercaColonna,
  kContinuaRicerca,
  kImpostaVista,
  kImpostaFiltro,
  kImpostaPassword,
  kOrdina,
  kOrdinaColonna,  // sort by the current column (context menu)
  kAggiorna,
  // ?
  kInformazioni,
  // The structure editor's pop-up menu (run by the editor itself)
  kInserisciCampo,
  kAppendiCampo,
  kModificaCampoStruttura,
  kEliminaCampo,
  // Status-bar items
  kSwitchDriver,
  kSwitchMemo,
  kSwitchCodifica,
};

// When an entry is enabled (besides its command existing).
enum class When {
  kAlways,
  kHasOrders,      // ORDCOUNT() > 0
  kIndexNotEmpty,  // cCurIndex is not empty
  kIndexNotNil,    // cCurIndex is not nil
};

// Which setting gives an entry's initial check mark.
enum class Check {
  kNone,          // not checkable
  kAutoOpen,      // "AutoOpen" is true
  kRddNtx,        // "RDD" = "DBFNTX"
  kRddCdx,        // "RDD" is not "DBFNTX"
  kMemoDbt,       // "Memo" = 1
  kMemoFpt,       // "Memo" is not 1
  kCodificaAnsi,  // "Codifica" = "ANSI"
  kCodificaOem,   // "Codifica" is not "ANSI"
};

struct MenuItem {
  enum class Kind { kCommand, kSeparator, kSubmenu };
  Kind kind = Kind::kCommand;
  std::string prompt;    // without the shortcut; items are found by it
  std::string shortcut;  // shown after a tab ("F2", "CTRL-I"); "" for none
  std::string message;   // shown in the status bar while the item is highlighted
  Action action = Action::kNone;
  When when = When::kAlways;
  Check check = Check::kNone;
  std::vector<MenuItem> submenu;  // the entries of a kSubmenu (context menu)
  // Set: the entry is enabled or not by this alone (pop-up menus whose choice the caller runs).
  std::optional<bool> enabled;

  // The prompt as displayed: prompt, a tab and the shortcut when there is one.
  std::string FullPrompt() const { return shortcut.empty() ? prompt : prompt + "\t" + shortcut; }
};

struct Menu {
  std::string title;  // with "&" before the accelerator letter
  std::vector<MenuItem> items;
};

// The four menus: "&File", "&Modifica", "&Visualizza", "?".
const std::vector<Menu>& MainMenus();

// A button of the button bar (33 x 33 pixels; 13 wider with a drop-down menu).
struct ToolButton {
  std::string bitmap;  // name of its picture
  std::string tooltip;
  Action action = Action::kNone;
  bool group_start = false;         // preceded by a gap
  std::vector<MenuItem> drop_down;  // empty: no drop-down arrow
};
inline constexpr int kButtonSize = 33;
inline constexpr int kDropDownArrowWidth = 13;

const std::vector<ToolButton>& ButtonBar();

// An item of the status bar, after its message area. Texts come from StatusItemText().
struct StatusItem {
  int width = 0;                   // pixels
  std::optional<uint32_t> colour;  // text colour 0xRRGGBB; nullopt = default
  std::string bitmap;              // picture instead of a text ("" for none)
  std::string tooltip;
  bool starts_active = true;
  Action click = Action::kNone;
  std::string active_bitmap;  // picture while active; "" keeps `bitmap`
};
const std::vector<StatusItem>& StatusItems();  // items 1 to 4
// Text of item 2 (default driver), 3 ("DBT" / "FPT" by the driver's memo type) and 4 (the
// "Codifica" read at start-up); "" for item 1.
std::string StatusItemText(int item);

// True when the action's command is part of the program and `when` holds.
bool ItemEnabled(Action action, When when);
// The initial check mark of an entry.
bool ItemChecked(Check check);
// Runs the command of an action on the browse (which may be null). Runtime errors pass through
// (Abandon, ProgramEnd): the caller is the dispatcher.
void RunAction(Action action, Browse* oBrw);

}  // namespace vosk

#endif  // VOSK_APP_MAIN_MENU_H_
