// The window over tables that fail: a damaged memo file, a driver that cannot open the table.
// Every failure is told once in a box, and the program goes on.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <string>
#include <vector>

#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/open_table.h"
#include "gui/dispatcher.h"
#include "gui/main_window.h"
#include "gui/twbrowse_widget.h"
#include "main_window_fixture.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

// Answers every message box that opens (with its default button) and keeps its text.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      texts.push_back(box->text().toStdString());
      (box->defaultButton() ? static_cast<QAbstractButton*>(box->defaultButton())
                            : box->buttons().front())
          ->click();
    });
    timer_.start();
  }
  std::vector<std::string> texts;

 private:
  QTimer timer_;
};

// Lets events run for `ms` milliseconds.
void RunEvents(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

class MainWindowRecoveryTest : public MainWindowFixture {
 protected:
  MainWindowRecoveryTest()
      : MainWindowFixture({{"Maximized", "No"}, {"Width", "700"}, {"Height", "300"}}) {}
};

TEST_F(MainWindowRecoveryTest, ATruncatedMemoFileIsToldOnceAndItsCellsAreMarked) {
  UseSample("ORDINI.DBF");
  std::filesystem::resize_file(dir_ + "/ORDINI.DBT", 600);
  BoxAnswerer boxes;
  WithMainWindow([&](MainWindow& w) {
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(ui_.window(), &w) << "the program goes on";
      w.grid()->viewport()->repaint();
      RunEvents(60);
    }
    ASSERT_EQ(ui_.window(), &w) << "the program goes on";
    TWBrowseWidget& grid = *w.grid();
    const std::string memo = dir_ + "/ORDINI.DBT";  // named as the file system spells it
    EXPECT_EQ(boxes.texts, (std::vector<std::string>{"Il file " + memo + " risulta corrotto."}))
        << "told once, not at every paint";
    // The grid shows what it can: numbers, dates, and a mark in the memo cells it cannot read.
    std::vector<TWBrowse::Row> rows = grid.core().VisibleRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].cells[0], "  1001");
    int marked = 0;
    for (const TWBrowse::Row& r : rows) marked += r.cells[4] == " [????] ";
    EXPECT_GT(marked, 0);
    EXPECT_EQ(RECNO(), 1u) << "painting leaves the record pointer where it was";
  });
}

}  // namespace
}  // namespace vosk
