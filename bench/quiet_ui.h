#ifndef VOSK_BENCH_QUIET_UI_H_
#define VOSK_BENCH_QUIET_UI_H_

// A Ui without a window for the benchmarks: every call does nothing, messages go to stderr and
// every question is answered with Cancel, so a benchmark never waits for a user. A benchmark
// overrides what it watches (progress, dialogs).

#include <cstdio>
#include <string>
#include <vector>

#include "app/ui.h"

namespace vosk {

class QuietUi : public Ui {
 public:
  int MessageBox(const std::string& text, const std::string&, MessageKind kind) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return kind == MessageKind::kInformation ? kButtonOk : kButtonCancel;
  }
  void ProgressOpen(const std::string&, const std::string&) override {}
  void ProgressSetText(const std::string&) override {}
  void ProgressSetPosition(int) override {}
  void ProgressClose() override {}
  void ProcessEvents() override {}
  void Beep() override {}
  std::string GetFileName(const std::string&, const std::string&, int, const std::string&,
                          bool) override {
    return "";
  }
  void RunMainWindow() override {}
  void CloseMainWindow() override {}
  void SetWindowTitle(const std::string&) override {}
  void SetMenuCheck(const std::string&, bool) override {}
  void SetStatusItem(int, const std::string&) override {}
  void SetStatusText(const std::string&) override {}
  WindowRect MainWindowRect() override { return {}; }
  bool MainWindowMinimized() override { return false; }
  void ShowMainWindow(int, int, int, int, bool) override {}
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }
  int RunDialog(Dialog&) override { return 0; }
  Action PopupMenu(const std::vector<MenuItem>&, int, int) override { return Action::kNone; }
  void SetRecentFiles(const std::vector<std::string>&) override {}
  void SetRefreshTimer(bool) override {}
  void StartInstance(const std::string&) override {}
  void OpenMailto(const std::string&) override {}
};

}  // namespace vosk

#endif  // VOSK_BENCH_QUIET_UI_H_
