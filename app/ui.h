#ifndef VOSK_APP_UI_H_
#define VOSK_APP_UI_H_

// The Application's only way to the user. The GUI layer implements it with real windows; tests
// implement it with a script that records what was shown and answers questions.
//
// Every text crossing this boundary is Application text: Windows-1252 ("ANSI") bytes, in which
// file names may stand as the file system spells them (UTF-8). DisplayUtf8() of app/ansi.h turns
// such text into UTF-8 for display. Line breaks are "\n".

#include <string>
#include <vector>

#include "app/main_menu.h"

namespace vosk {

struct Dialog;

// Kinds of the modal message box (the nType of POPMSG).
enum class MessageKind : int {
  kInformation = 1,     // OK
  kOkCancel = 2,        // question
  kYesNoCancel = 3,     // question
  kYesNo = 4,           // question
  kYesNoDefaultNo = 5,  // question, No preselected
  kStopOkCancel = 6,    // stop sign
};

// Buttons as MessageBox() reports them.
enum MessageButton : int { kButtonOk = 1, kButtonCancel = 2, kButtonYes = 6, kButtonNo = 7 };

// A rectangle of the screen in screen pixels: the main window's (the window proper, without the
// frame the window system draws around it) or a screen's area free for windows.
struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

class Ui {
 public:
  virtual ~Ui() = default;

  // A modal box of the given kind; returns the button pressed (Esc counts as Cancel, or as No
  // where there is no Cancel).
  virtual int MessageBox(const std::string& text, const std::string& title, MessageKind kind) = 0;

  // The non-modal progress pop-up. At most one is open at a time (POPMSG keeps track).
  virtual void ProgressOpen(const std::string& text, const std::string& title) = 0;
  virtual void ProgressSetText(const std::string& text) = 0;
  virtual void ProgressSetPosition(int position) = 0;
  virtual void ProgressClose() = 0;

  // Lets pending window messages run.
  virtual void ProcessEvents() = 0;
  // An 880 Hz tone of one clock tick.
  virtual void Beep() = 0;

  // The system's file dialog. filter: "description|pattern" pairs joined by "|", as
  // "File DBF (*.DBF)|*.DBF"; default_filter: 1-based. Returns the chosen path or "". Does not
  // change the current directory.
  virtual std::string GetFileName(const std::string& filter, const std::string& title,
                                  int default_filter, const std::string& initial_dir,
                                  bool save) = 0;

  // The 1-based filter that the user had chosen in the last file dialog (NGETFILEFILTER).
  virtual int LastFileFilter() { return 1; }

  // Builds the main window over the open current table, shows it and runs its event loop until
  // the window closes (the window part of MAIN).
  virtual void RunMainWindow() = 0;
  // Closes the main window (ends the event loop).
  virtual void CloseMainWindow() = 0;
  virtual void SetWindowTitle(const std::string& title) = 0;
  // Sets the check mark of the menu items whose prompt (without the shortcut) is `prompt`.
  virtual void SetMenuCheck(const std::string& prompt, bool checked) = 0;
  // Status bar: item 1..4 text, and the default message-area text.
  virtual void SetStatusItem(int item, const std::string& text) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Status bar: makes item 1..4 active (its picture shown) or inactive, with a tooltip. An
  // inactive item still answers a click.
  virtual void SetStatusItemState(int item, bool active, const std::string& tooltip) {}

  // Main-window geometry, for RESIZE.
  virtual WindowRect MainWindowRect() = 0;
  // Where the window is when it is neither maximized nor minimized (the window system keeps
  // it while the window is maximized); by default the window's rectangle.
  virtual WindowRect NormalWindowRect() { return MainWindowRect(); }
  virtual bool MainWindowMinimized() = 0;
  // Places the window at (left, top) with the given size and shows it, maximized or normal.
  virtual void ShowMainWindow(int top, int left, int width, int height, bool maximized) = 0;
  virtual int ScreenWidth() = 0;
  virtual int ScreenHeight() = 0;
  // The part of each screen that windows may take (without task bars), the primary first.
  virtual std::vector<WindowRect> ScreenAreas() {
    return {{0, 0, ScreenWidth(), ScreenHeight()}};
  }

  // Runs a dialog description modally (the protocol of app/dialog.h decides when it closes);
  // returns its result: 1 when closed by "&Conferma", else 0.
  virtual int RunDialog(Dialog& dlg) = 0;
  // Shows a pop-up menu at (x, y) of the browse and returns the action chosen (kNone when
  // dismissed).
  virtual Action PopupMenu(const std::vector<MenuItem>& items, int x, int y) = 0;
  // Rebuilds the "Tabelle aperte di recente" submenu: one entry per path, most recent first.
  virtual void SetRecentFiles(const std::vector<std::string>& paths) = 0;
  // Stops (false) or restarts (true) the refresh timer.
  virtual void SetRefreshTimer(bool active) = 0;

  // Starts another instance of the program's own executable with this parameter text.
  virtual void StartInstance(const std::string& parameters) = 0;
  // Hands a mailto: link to the system's mail client.
  virtual void OpenMailto(const std::string& url) = 0;
};

// The Ui the Application talks to; installed by the program's entry (or a test).
// REQUIRES: SetUi() has been called before any Application function that talks to the user.
Ui& GetUi();
void SetUi(Ui* ui);

}  // namespace vosk

#endif  // VOSK_APP_UI_H_
