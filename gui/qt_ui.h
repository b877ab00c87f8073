#ifndef VOSK_GUI_QT_UI_H_
#define VOSK_GUI_QT_UI_H_

// The Ui of the program: Qt message boxes, file dialogs and the main window.

#include <QString>
#include <QStringList>
#include <memory>
#include <string>

#include "app/ui.h"

class QDialog;
class QLabel;
class QProgressBar;

namespace vosk {

class MainWindow;

class QtUi : public Ui {
 public:
  // screenshot: when not empty, the main window is saved to this PNG file once shown and then
  // closed.
  // scene: "" the main window, else one of SceneNames(): the dialog that the scene's command
  // shows first ("memo": the memo editor on the last column of the first record).
  explicit QtUi(QString screenshot = QString(), QString scene = QString());
  ~QtUi() override;

  int MessageBox(const std::string& text, const std::string& title, MessageKind kind) override;
  void ProgressOpen(const std::string& text, const std::string& title) override;
  void ProgressSetText(const std::string& text) override;
  void ProgressSetPosition(int position) override;
  void ProgressClose() override;
  void ProcessEvents() override;
  void Beep() override;
  std::string GetFileName(const std::string& filter, const std::string& title, int default_filter,
                          const std::string& initial_dir, bool save) override;
  void RunMainWindow() override;
  void CloseMainWindow() override;
  void SetWindowTitle(const std::string& title) override;
  void SetMenuCheck(const std::string& prompt, bool checked) override;
  void SetStatusItem(int item, const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetStatusItemState(int item, bool active, const std::string& tooltip) override;
  int LastFileFilter() override { return last_filter_; }
  WindowRect MainWindowRect() override;
  WindowRect NormalWindowRect() override;
  bool MainWindowMinimized() override;
  void ShowMainWindow(int top, int left, int width, int height, bool maximized) override;
  int ScreenWidth() override;
  int ScreenHeight() override;
  std::vector<WindowRect> ScreenAreas() override;
  int RunDialog(Dialog& dlg) override;
  Action PopupMenu(const std::vector<MenuItem>& items, int x, int y) override;
  void SetRecentFiles(const std::vector<std::string>& paths) override;
  void SetRefreshTimer(bool active) override;
  void StartInstance(const std::string& parameters) override;
  void OpenMailto(const std::string& url) override;

  // True once the picture asked for has been saved (a scene whose command showed no dialog
  // leaves it false).
  bool screenshot_written() const { return screenshot_written_; }

  // The window while RunMainWindow runs, else null.
  MainWindow* window() const { return window_.get(); }
  // Builds the main window without running the event loop (tests).
  MainWindow* BuildMainWindow();

 private:
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<QDialog> progress_;
  QLabel* progress_text_ = nullptr;
  QProgressBar* progress_bar_ = nullptr;
  QString screenshot_;
  QString scene_;
  bool dialog_shot_ = false;  // the next dialog is saved to screenshot_ and closed
  bool screenshot_written_ = false;
  int last_filter_ = 1;       // the filter chosen in the last file dialog

  // The answer of a file dialog while a scene runs.
  std::string SceneFileName(const std::string& initial_dir, bool save) const;
};

// The names that --scene takes, in the order of the guide: "vistacol", "memo", "struttura",
// "modprop", "creaind", "vaialrec", "cercacol", "filtro", "sostval", "cancrec", "copiatab",
// "importarec", "password", "infos".
QStringList SceneNames();
bool IsScene(const QString& name);

// A filter of the Application ("File DBF (*.DBF)|*.DBF|Tutti (*.*)|*.*") as a Qt file-dialog
// filter list, every pattern matching its extension in upper and lower case.
QString QtFileFilter(const std::string& filter);

}  // namespace vosk

#endif  // VOSK_GUI_QT_UI_H_
