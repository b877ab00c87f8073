#ifndef VOSK_TESTS_APP_SCRIPTED_UI_H_
#define VOSK_TESTS_APP_SCRIPTED_UI_H_

// A Ui for tests: records everything the Application shows and answers from a script.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/ui.h"

namespace vosk {

class ScriptedUi : public Ui {
 public:
  struct Shown {
    std::string text, title;
    MessageKind kind;
  };
  struct FileDialog {
    std::string filter, title, initial_dir;
    bool save;
  };

  // Script: the buttons to press, in order (when it runs out: OK for kind 1, else Cancel), and
  // the file-dialog results.
  std::deque<int> answers;
  std::deque<std::string> file_results;
  // Run in place of the main window's event loop.
  std::function<void()> on_main_window;

  // Record.
  std::vector<Shown> messages;
  std::vector<std::string> progress;  // "open:<text>|<title>", "text:<t>", "pos:<n>", "close"
  std::vector<FileDialog> file_dialogs;
  std::vector<std::string> instances, mails;
  std::map<std::string, bool> checks;
  std::map<int, std::string> status_items;
  std::string status_text, title;
  int beeps = 0, events = 0, main_windows = 0, closes = 0;

  // Window geometry.
  WindowRect rect{0, 0, 800, 600};
  bool minimized = false;
  struct WindowShow {
    int top, left, width, height;
    bool maximized;
  };
  std::vector<WindowShow> shown_windows;

  int MessageBox(const std::string& text, const std::string& t, MessageKind kind) override {
    messages.push_back({text, t, kind});
    if (!answers.empty()) {
      int a = answers.front();
      answers.pop_front();
      return a;
    }
    return kind == MessageKind::kInformation ? kButtonOk : kButtonCancel;
  }
  void ProgressOpen(const std::string& text, const std::string& t) override {
    progress.push_back("open:" + text + "|" + t);
  }
  void ProgressSetText(const std::string& text) override { progress.push_back("text:" + text); }
  void ProgressSetPosition(int position) override {
    progress.push_back("pos:" + std::to_string(position));
  }
  void ProgressClose() override { progress.push_back("close"); }
  void ProcessEvents() override { ++events; }
  void Beep() override { ++beeps; }
  std::string GetFileName(const std::string& filter, const std::string& t, int,
                          const std::string& initial_dir, bool save) override {
    file_dialogs.push_back({filter, t, initial_dir, save});
    if (file_results.empty()) return "";
    std::string r = file_results.front();
    file_results.pop_front();
    return r;
  }
  void RunMainWindow() override {
    ++main_windows;
    if (on_main_window) on_main_window();
  }
  void CloseMainWindow() override { ++closes; }
  void SetWindowTitle(const std::string& t) override { title = t; }
  void SetMenuCheck(const std::string& prompt, bool checked) override { checks[prompt] = checked; }
  void SetStatusItem(int item, const std::string& text) override { status_items[item] = text; }
  void SetStatusText(const std::string& text) override { status_text = text; }
  WindowRect MainWindowRect() override { return rect; }
  bool MainWindowMinimized() override { return minimized; }
  void ShowMainWindow(int top, int left, int width, int height, bool maximized) override {
    shown_windows.push_back({top, left, width, height, maximized});
  }
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }
  void StartInstance(const std::string& parameters) override { instances.push_back(parameters); }
  void OpenMailto(const std::string& url) override { mails.push_back(url); }
};

}  // namespace vosk

#endif  // VOSK_TESTS_APP_SCRIPTED_UI_H_
