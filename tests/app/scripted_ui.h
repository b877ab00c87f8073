#ifndef VOSK_TESTS_APP_SCRIPTED_UI_H_
#define VOSK_TESTS_APP_SCRIPTED_UI_H_

// A Ui for tests: records everything the Application shows and answers from a script.

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/dialog.h"
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
  int file_filter = 1;  // the filter the user chose in the file dialogs
  // Dialogs: each runs the next script, which types and presses through the helpers below;
  // a dialog that the script leaves open is closed as by Esc. Without a script: Esc.
  std::deque<std::function<void(Dialog&)>> dialog_scripts;
  std::vector<std::string> dialogs;  // "<resource>|<title>" of every dialog run
  Action popup_choice = Action::kNone;
  std::vector<std::vector<MenuItem>> popups;
  std::vector<std::string> recent;
  bool timer_active = true;
  std::function<void()> on_process_events;
  // Run in place of the main window's event loop.
  std::function<void()> on_main_window;

  // Record.
  std::vector<Shown> messages;
  std::vector<std::string> progress;  // "open:<text>|<title>", "text:<t>", "pos:<n>", "close"
  std::vector<FileDialog> file_dialogs;
  std::vector<std::string> instances, mails;
  std::map<std::string, bool> checks;
  std::map<int, std::string> status_items;
  struct ItemState {
    bool active;
    std::string tooltip;
  };
  std::map<int, ItemState> item_states;
  std::string status_text, title;
  int beeps = 0, events = 0, main_windows = 0, closes = 0;
  bool closed_ = false;

  // Window geometry: the window's rectangle, and the normal one the system keeps while it is
  // maximized.
  WindowRect rect{0, 0, 800, 600};
  WindowRect normal_rect{0, 0, 800, 600};
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
  void ProcessEvents() override {
    ++events;
    if (on_process_events) on_process_events();
  }
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
  void SetStatusItemState(int item, bool active, const std::string& tooltip) override {
    item_states[item] = {active, tooltip};
  }
  int LastFileFilter() override { return file_filter; }
  WindowRect MainWindowRect() override { return rect; }
  WindowRect NormalWindowRect() override { return normal_rect; }
  bool MainWindowMinimized() override { return minimized; }
  void ShowMainWindow(int top, int left, int width, int height, bool maximized) override {
    shown_windows.push_back({top, left, width, height, maximized});
  }
  int ScreenWidth() override { return 1920; }
  int ScreenHeight() override { return 1080; }
  int RunDialog(Dialog& dlg) override {
    dialogs.push_back(dlg.resource + "|" + dlg.title);
    const bool outer_closed = closed_;  // a dialog run from another dialog's script
    closed_ = false;
    dlg.result = 0;
    if (!dialog_scripts.empty()) {
      auto script = dialog_scripts.front();
      dialog_scripts.pop_front();
      script(dlg);
    }
    if (!closed_) DialogTryClose(dlg, std::nullopt);
    const int result = closed_ ? dlg.result : 0;
    closed_ = outer_closed;
    return result;
  }
  Action PopupMenu(const std::vector<MenuItem>& items, int, int) override {
    popups.push_back(items);
    return popup_choice;
  }
  void SetRecentFiles(const std::vector<std::string>& paths) override { recent = paths; }
  void SetRefreshTimer(bool active) override { timer_active = active; }

  // Script helpers. Types `keys` into the input field `name` as the user would: it takes the
  // focus (all selected), each character goes through the field's filter, then it loses the
  // focus.
  static void Type(Dialog& dlg, const std::string& name, const std::string& keys) {
    Control* c = CTL(dlg, name);
    if (c == nullptr || !c->get) return;
    c->get->GotFocus();
    for (char k : keys) c->get->KeyChar(static_cast<unsigned char>(k));
    c->get->LostFocus();
    if (c->on_lost_focus) c->on_lost_focus();
  }
  // Replaces the text of a memo control (cut at its maximum length) as typing does: its change
  // hook runs, then it loses the focus.
  static void SetMemo(Dialog& dlg, const std::string& name, const std::string& text) {
    Control* c = CTL(dlg, name);
    if (c == nullptr) return;
    c->value = Value::String(c->max_length > 0 ? text.substr(0, c->max_length) : text, true);
    c->changed = true;
    if (c->on_change) c->on_change();
    if (c->on_lost_focus) c->on_lost_focus();
  }
  // Ticks or clears a check box, when it is enabled. True when it was.
  static bool SetCheck(Dialog& dlg, const std::string& name, bool on) {
    Control* c = CTL(dlg, name);
    if (c == nullptr || !c->Enabled()) return false;
    c->value = Value::Logical(on);
    c->changed = true;
    if (c->on_change) c->on_change();
    return true;
  }
  // Chooses an entry of a drop-down list.
  static void Choose(Dialog& dlg, const std::string& name, const std::string& item) {
    Control* c = CTL(dlg, name);
    if (c == nullptr) return;
    c->value = Value::String(item);
    c->changed = true;
    if (c->on_change) c->on_change();
  }
  // Presses Conferma (201), Annulla (202) or, with id 0, Esc. True when the dialog closed.
  bool Press(Dialog& dlg, int id) {
    std::optional<int> cargo;
    if (id == kIdConferma) cargo = 1;
    if (id == kIdAnnulla) cargo = 2;
    if (DialogTryClose(dlg, cargo)) closed_ = true;
    return closed_;
  }
  // A key pressed in the dialog's field list (a virtual-key code; 'A' with ctrl is Ctrl+A), on
  // row `row` (1-based) when given. True when the list took the key.
  static bool ListKey(Dialog& dlg, int key, bool ctrl = false, int row = 0) {
    if (row > 0) dlg.focus_row = row - 1;
    return dlg.on_list_key && dlg.on_list_key(dlg, key, ctrl);
  }
  // Presses a button of the dialog's button bar.
  bool Tool(Dialog& dlg, int id) {
    if (dlg.on_tool && dlg.on_tool(dlg, id)) closed_ = true;
    return closed_;
  }

  void StartInstance(const std::string& parameters) override { instances.push_back(parameters); }
  void OpenMailto(const std::string& url) override { mails.push_back(url); }
};

}  // namespace vosk

#endif  // VOSK_TESTS_APP_SCRIPTED_UI_H_
