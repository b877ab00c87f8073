#ifndef VOSK_TESTS_GUI_MAIN_WINDOW_FIXTURE_H_
#define VOSK_TESTS_GUI_MAIN_WINDOW_FIXTURE_H_

// The Qt program on a copy of the sample table in a folder of its own, with its own settings
// file: MAIN runs, a step inspects the window once it is up, then the window closes.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/current_table.h"
#include "app/filename.h"
#include "app/startup.h"
#include "app/voskdbu.h"
#include "expr/runtime_error.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "rdd/db_commands.h"

namespace vosk {

// A key pressed and released on a widget.
inline void Key(QWidget* target, int key, const QString& text = QString(),
                Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(target, &release);
}

// Runs `step` on the modal dialog that the next command opens.
inline void OnNextDialog(const std::function<void(QWidget*)>& step) {
  QTimer::singleShot(0, [step] {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    step(dialog);
  });
}

// The program's Ui, except that "Nuovo VOSK Software DBU" and the error report are recorded
// instead of started: the program's own executable is the test program.
class TestUi : public QtUi {
 public:
  void StartInstance(const std::string& parameters) override { started.push_back(parameters); }
  void OpenMailto(const std::string& url) override { mailto.push_back(url); }

  std::vector<std::string> started;  // the parameters of each instance that would start
  std::vector<std::string> mailto;
};

class MainWindowFixture : public ::testing::Test {
 protected:
  // `window` holds the settings of the "Parametri" section written before start-up.
  explicit MainWindowFixture(std::vector<std::pair<const char*, const char*>> window)
      : window_(std::move(window)) {}

  void SetUp() override {
    char tmpl[] = "/tmp/gui_test.XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    table_ = dir_ + "/CLIENTI.DBF";
    std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/CLIENTI.DBF", table_);
    SetIniFileName(dir_ + "/VOSKDBU.INI");
    for (const auto& [key, value] : window_) WRITEPPROSTRING("Parametri", key, value);
    CurTable() = CurrentTableState{};
    SetUi(&ui_);
    StartUp(ui_);
  }
  void TearDown() override {
    CLOSEALL();
    SetErrorHandler(nullptr);
    SetUi(nullptr);
    SetIniFileName("");
    std::filesystem::remove_all(dir_);
  }

  // Works on a copy of sample `name` (its companions too, ORDINI.DBT beside ORDINI.DBF) instead.
  void UseSample(const std::string& name) {
    const std::string base = name.substr(0, name.rfind('.'));
    for (const auto& entry : std::filesystem::directory_iterator(VOSK_SOURCE_DIR "/samples")) {
      const std::string file = entry.path().filename().string();
      if (file.rfind(base + ".", 0) == 0) {
        std::filesystem::copy_file(entry.path(), dir_ + "/" + file,
                                   std::filesystem::copy_options::overwrite_existing);
      }
    }
    table_ = dir_ + "/" + name;
  }

  // Runs MAIN on the table; `inspect` runs once the window is up, then it closes. A guard
  // ends the event loop after guard_ms so that a lost window never hangs the suite.
  void WithMainWindow(const std::function<void(MainWindow&)>& inspect, int guard_ms = 10000) {
    bool inspected = false;
    QTimer::singleShot(0, [&] {
      MainWindow* w = ui_.window();
      if (w) {
        inspect(*w);
        inspected = true;
        w->close();
      } else {
        QCoreApplication::quit();
      }
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(guard_ms);
    MAIN(table_);
    EXPECT_TRUE(inspected);
  }

  TestUi ui_;
  std::string dir_, table_;

 private:
  std::vector<std::pair<const char*, const char*>> window_;
};

}  // namespace vosk

#endif  // VOSK_TESTS_GUI_MAIN_WINDOW_FIXTURE_H_
