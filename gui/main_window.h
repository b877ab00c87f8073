#ifndef VOSK_GUI_MAIN_WINDOW_H_
#define VOSK_GUI_MAIN_WINDOW_H_

// The main window: the menu bar, button bar and status bar that app/main_menu describes, and the
// area of the browse. It only wires entries to commands; every command runs through
// RunCommand().

#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QToolBar>
#include <string>
#include <vector>

#include "app/browse.h"
#include "app/main_menu.h"

namespace vosk {

class MainWindow : public QMainWindow {
 public:
  // REQUIRES: the current table is open (MAIN has opened it).
  MainWindow();
  ~MainWindow() override;

  // Applies the saved geometry and shows the window (RESIZE with no size type); from then on
  // moves and resizes are recorded in VOSKDBU.INI.
  void ShowWithSavedGeometry();
  // Places and shows the window (for Ui::ShowMainWindow).
  void Place(int top, int left, int width, int height, bool maximized);
  // Moves (and if need be shrinks) the normal window so that its frame lies wholly on its
  // screen's free area.
  void KeepFrameOnScreen();

  void SetMenuCheck(const std::string& prompt, bool checked);
  void SetStatusItem(int item, const std::string& text);
  void SetStatusText(const std::string& text);
  // An active item shows its active picture, an inactive one its other picture ("VUOTO":
  // blank); both answer a click.
  void SetStatusItemState(int item, bool active, const std::string& tooltip);
  Browse* browse();
  class TWBrowseWidget* grid() const {
    return grid_;
  }
  // Rebuilds the "Tabelle aperte di recente" submenu.
  void SetRecentFiles(const std::vector<std::string>& paths);
  // Stops or restarts the refresh timer.
  void SetRefreshTimer(bool active);
  QMenu* recent_menu() const { return recent_menu_; }

  // For tests.
  QToolBar* button_bar() const { return button_bar_; }
  QLabel* status_item(int item) const { return status_items_.at(static_cast<size_t>(item - 1)); }
  QLabel* status_message() const { return status_message_; }
  // The actions of the menu bar whose prompt (without shortcut) is `prompt`.
  std::vector<QAction*> MenuActions(const std::string& prompt) const;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // One command entry of a menu, with what decides its enabled state.
  struct Entry {
    QAction* action;
    std::string prompt;
    Action id;
    When when;
    bool in_menu_bar;
  };

  QMenu* BuildMenu(const std::vector<MenuItem>& items, QMenu* menu, bool in_menu_bar);
  void BuildButtonBar();
  void BuildStatusBar();
  void UpdateEnabled(QMenu* menu);
  void Run(Action action);

  std::vector<Entry> entries_;
  QToolBar* button_bar_ = nullptr;
  QLabel* status_message_ = nullptr;
  std::vector<QLabel*> status_items_;
  class TWBrowseWidget* grid_ = nullptr;
  QMenu* recent_menu_ = nullptr;
  QTimer refresh_timer_;
  std::string refresh_stamp_;        // TableStamp() at the last re-synchronisation
  bool recording_geometry_ = false;  // moves and resizes are written to the settings file
};

}  // namespace vosk

#endif  // VOSK_GUI_MAIN_WINDOW_H_
