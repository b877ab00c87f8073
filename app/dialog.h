#ifndef VOSK_APP_DIALOG_H_
#define VOSK_APP_DIALOG_H_

// Dialogs as data, and the dialog protocol shared by every dialog of the Application: CTL,
// DLGVALID, REFRESHALL, the "Annullo le modifiche?" question and the red failing control. The
// GUI layer draws a description with widgets (Ui::RunDialog); tests run it with a script that
// types values and presses buttons through the same functions.
//
//   Dialog dlg{"VAIALREC", "Vai al record", 160, 60};
//   dlg.Add(Control::Get(101, "nRec", Value::Integer(1), "@Z 9999999999", 10, 50, 60, 12));
//   if (GetUi().RunDialog(dlg) == 1) ... CTL(dlg, "nRec")->Val() ...

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/browse.h"
#include "app/tget.h"
#include "expr/value.h"

namespace vosk {

inline constexpr int kIdConferma = 201;  // "&Conferma": cargo 1, result 1
inline constexpr int kIdAnnulla = 202;   // "&Annulla": cargo 2

enum class ControlKind {
  kLabel,      // text only
  kGet,        // input field (TGet)
  kMemo,       // multi-line edit of a text value
  kCombo,      // drop-down list of `items`; the value is the chosen text
  kCheck,      // check box of a logical value
  kButton,     // push button; Conferma and Annulla follow the protocol
  kFieldList,  // a list of fields (column chooser, structure editor): one row per entry of
               // `items`, `marks` selected
  kLine,       // a horizontal separator line
};

struct Control {
  int id = 0;
  ControlKind kind = ControlKind::kLabel;
  std::string label;  // label text, button prompt ("&Conferma")
  std::string name;   // variable name, for CTL
  // Position and size in dialog units (row, col, width, height).
  int row = 0, col = 0, width = 0, height = 0;
  Value value;                     // the bound variable (kGet keeps it in `get`)
  std::shared_ptr<TGet> get;       // kGet: the input field's core
  std::vector<std::string> items;  // kCombo entries; kFieldList rows (tab-separated columns)
  std::vector<bool> marks;         // kFieldList: selected rows
  bool read_only = false;
  bool multi_line = false;
  bool takes_tab = false;  // kMemo: Tab types a tab (the memo editor); else it moves the focus
  bool password = false;  // kGet: the typed characters are shown masked
  // kLabel: a picture instead of the text; kButton: a bitmap button, pressed through the
  // dialog's on_tool unless it is Conferma or Annulla.
  std::string bitmap;
  std::string tooltip;
  bool disabled = false;                    // never enabled
  bool hidden = false;                      // not shown (and so not enabled)
  int max_length = 0;                       // kMemo: at most this many characters; 0 any
  std::function<bool(const Value&)> valid;  // validation block; empty = always valid
  std::function<bool()> when;               // enabling block; empty = always enabled
  std::function<void()> on_change;          // after the user changed the value
  std::function<void()> on_lost_focus;      // after the control gave up the focus
  bool changed = false;                     // the user changed the value
  bool failing = false;                     // painted red while its message is shown

  static Control Label(std::string text, int row, int col, int width, int height);
  static Control Get(int id, std::string name, Value value, std::string picture, int row, int col,
                     int width, int height);
  static Control Button(int id, std::string prompt, int row, int col, int width, int height);
  // A multi-line edit of a text.
  static Control Memo(int id, std::string name, std::string text, int row, int col, int width,
                      int height);
  // A check box of a logical value.
  static Control Check(int id, std::string name, std::string label, bool on, int row, int col,
                       int width, int height);

  // The current value (for kGet the core's value).
  Value Val() const;
  bool Enabled() const;
  bool Changed() const;
};

struct Dialog {
  std::string resource;  // resource name ("VAIALREC"); "" for a pop-up
  std::string title;
  int width = 0, height = 0;  // dialog units
  std::vector<Control> controls;
  std::optional<int> cargo;  // 1 Conferma, 2 Annulla
  // Closing without confirmation asks "Annullo le modifiche?" after a change (the lAsk of
  // DLGVALID); dialogs that "close without asking" set it false.
  bool lAsk = true;
  int result = 0;            // 1 when closed by Conferma
  int focus = -1;            // index of the focused control
  int focus_row = 0;         // current row (0-based) of the field list
  bool fixed_font = false;   // controls in the grid font ("Courier New", 12)
  // A borderless pop-up over a cell of the browse (the cell editor); width and height are then
  // pixels and Enter in the input field confirms.
  std::optional<CellRect> popup;
  std::optional<uint32_t> background;  // 0xRRGGBB of the input field
  // Buttons of a dialog-level button bar (the column chooser): id, bitmap, tooltip, group.
  struct ToolButton {
    int id;
    std::string bitmap, tooltip;
    bool group_start;
  };
  std::vector<ToolButton> toolbar;
  // A button of the button bar, or a bitmap button, was pressed; true when the dialog closes
  // (result set).
  std::function<bool(Dialog&, int id)> on_tool;
  std::function<std::string(Dialog&)> status_text;  // text of the dialog's status bar
  // A character typed in the field list (codes 32 to 126, Backspace 8); may move focus_row,
  // and answers whether it did.
  std::function<bool(Dialog&, int ch)> on_key_char;
  // A key pressed in the field list (Windows virtual-key code: Enter, Insert, Delete, 'A' with
  // ctrl; a double click comes as Enter), and a right click at (x, y) of the list. They may
  // change the rows and move focus_row; the renderer shows the list again afterwards. The key
  // hook answers whether it took the key.
  std::function<bool(Dialog&, int key, bool ctrl)> on_list_key;
  std::function<void(Dialog&, int x, int y)> on_list_menu;
  // The renderer's hooks: repaint one control (failing state, new value).
  std::function<void(int index)> on_control_changed;

  Control& Add(Control c);
};

// The control whose variable name is `name` (case-insensitive), or nullptr.
Control* CTL(Dialog& dlg, const std::string& name);
// The n-th control (1-based), or nullptr.
Control* CTL(Dialog& dlg, int n);

// True when the dialog may close. Without confirmation (cargo none or 2): true when lAsk is
// false or nothing changed, else asks "Annullo le modifiche?" (kind 5). With confirmation
// (cargo 1): clears the cargo, then tests every enabled control in order: a date that is no
// valid date "Data non valida.", a number that does not fit "Numero troppo grande.", a failed
// validation "Campo non valido." — the failing control is red while the message shows, then
// gets the focus, and the answer is false. Calls made while it runs are ignored (false).
bool DLGVALID(Dialog& dlg, bool lAsk = true);
// Redisplays every control whose shown text differs from its value (the focused one and lists
// skipped). Calls made while it runs are ignored.
void REFRESHALL(Dialog& dlg);

// Ties the check box `check` (a unique flag) to the text control `key`: the box is enabled only
// while the key is not blank, and blanking the key clears it. The dialog must not move
// afterwards (the hooks hold it).
void UniqueFollowsKey(Dialog& dlg, const std::string& key, const std::string& check);

// A close attempt with the given cargo (1 Conferma, 2 Annulla, nullopt Esc or the close box):
// sets the cargo and runs DLGVALID; when the dialog may close sets `result` (1 for Conferma)
// and returns true. The renderer and the test script both close dialogs through this.
bool DialogTryClose(Dialog& dlg, std::optional<int> cargo);

// What a validation rule found wrong, said by the rule before it answers false; the dialog shows
// it in place of the general "Campo non valido." message. Taken (and forgotten) by the dialog.
void SetValidationProblem(std::string text);
std::string TakeValidationProblem();

}  // namespace vosk

#endif  // VOSK_APP_DIALOG_H_
