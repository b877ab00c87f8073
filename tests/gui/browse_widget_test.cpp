// The real main window driven with key and mouse events: moving in the grid, editing a cell in
// place and finding the new value in the file on disk, the column chooser.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/command_state.h"
#include "app/current_table.h"
#include "app/main_menu.h"
#include "app/progress.h"
#include "app/filename.h"
#include "app/startup.h"
#include "app/voskdbu.h"
#include "expr/runtime_error.h"
#include "gui/dispatcher.h"
#include "gui/main_window.h"
#include "gui/qt_ui.h"
#include "gui/twbrowse_widget.h"
#include "main_window_fixture.h"
#include "rdd/db_commands.h"
#include "support/command_output.h"

namespace vosk {
namespace {

void Type(QWidget* target, const QString& text) {
  for (QChar c : text) Key(target, 0, QString(c));
}

void Click(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
  QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), button, button,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), button, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class BrowseWidgetTest : public MainWindowFixture {
 protected:
  BrowseWidgetTest()
      : MainWindowFixture({{"Maximized", "No"}, {"Width", "800"}, {"Height", "250"}}) {}

  void WithMainWindow(const std::function<void(MainWindow&, TWBrowseWidget&)>& inspect) {
    MainWindowFixture::WithMainWindow([&](MainWindow& w) { inspect(w, *w.grid()); }, 20000);
  }
};

TEST_F(BrowseWidgetTest, KeysMoveTheCursorAndEnterEditsTheCellIntoTheFile) {
  WithMainWindow([&](MainWindow& w, TWBrowseWidget& grid) {
    TWBrowse& core = grid.core();
    QApplication::processEvents();
    ASSERT_GT(core.nRowCount(), 3);
    ASSERT_LT(core.nRowCount(), 12) << "the window shows part of the table";
    Key(&grid, Qt::Key_Down);
    EXPECT_EQ(RECNO(), 2u);
    EXPECT_EQ(core.nRowPos(), 2);
    EXPECT_EQ(w.status_message()->text().left(29), "Campo: 1/10     RecNo: 2/12  ");
    Key(&grid, Qt::Key_PageDown);
    EXPECT_EQ(RECNO(), 2u + static_cast<uint32_t>(core.nRowCount()));
    Key(&grid, Qt::Key_PageDown);  // fewer rows left than a page: the last one, at the bottom
    EXPECT_EQ(RECNO(), 12u);
    EXPECT_EQ(core.nRowPos(), core.nRowCount());
    Key(&grid, Qt::Key_Home);
    EXPECT_EQ(RECNO(), 1u);

    // A click on the third data row, in the second column.
    const int y = core.header_height() + 2 * core.row_height() + 3;
    const int x = core.columns().aColSizes[0] + 5;
    Click(grid.viewport(), QPoint(x, y));
    EXPECT_EQ(RECNO(), 3u);
    EXPECT_EQ(core.nColAct(), 2);

    // Enter opens the cell editor over the cell; type, Enter, and it is in the file.
    OnNextDialog([](QWidget* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>();
      ASSERT_NE(edit, nullptr);
      EXPECT_EQ(edit->text(), "Trattoria da Gino");
      // The editor takes the focus when it opens (on the offscreen platform the window
      // system does not activate windows, so the activation is done here).
      dialog->activateWindow();
      if (!edit->hasFocus()) {
        QFocusEvent focus_in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(edit, &focus_in);
      }
      EXPECT_EQ(edit->selectedText(), "Trattoria da Gino") << "all selected: typing replaces it";
      Type(edit, QString::fromUtf8("Osteria Là"));
      Key(edit, Qt::Key_Return);
    });
    Key(&grid, Qt::Key_Return);
    EXPECT_EQ(FIELDGET(2).str().substr(0, 11), "Osteria L\xE0 ");
    EXPECT_NE(ReadFile(table_).find("Osteria L\xE0                    Piazza del Campo"),
              std::string::npos);
    EXPECT_EQ(RECNO(), 3u);
  });
}

TEST_F(BrowseWidgetTest, ScrollBarsMoveTheRecordAndTheColumn) {
  WithMainWindow([&](MainWindow&, TWBrowseWidget& grid) {
    QApplication::processEvents();
    QScrollBar* v = grid.verticalScrollBar();
    EXPECT_EQ(v->maximum(), 12);
    v->setSliderPosition(8);  // the thumb dragged to key position 8
    QApplication::processEvents();
    EXPECT_EQ(RECNO(), 8u);
    EXPECT_EQ(v->value(), 8);
    v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QApplication::processEvents();
    EXPECT_EQ(RECNO(), 9u);
    EXPECT_EQ(v->value(), 9);
    QScrollBar* h = grid.horizontalScrollBar();
    EXPECT_EQ(h->maximum(), 10);
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QApplication::processEvents();
    EXPECT_EQ(grid.core().nColAct(), 2);
    EXPECT_EQ(h->value(), 2);
  });
}

TEST_F(BrowseWidgetTest, ColumnChooserShowsTheChosenFields) {
  WithMainWindow([&](MainWindow& w, TWBrowseWidget& grid) {
    OnNextDialog([](QWidget* dialog) {
      auto* list = dialog->findChild<QTreeWidget*>();
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->topLevelItemCount(), 10);
      list->setCurrentItem(list->topLevelItem(1));
      Key(list, Qt::Key_Space);
      list->setCurrentItem(list->topLevelItem(3));
      Key(list, Qt::Key_Space);
      EXPECT_FALSE(list->topLevelItem(3)->icon(4).isNull());
      EXPECT_TRUE(list->topLevelItem(2)->icon(4).isNull());
      for (QAction* a : dialog->findChildren<QAction*>()) {
        if (a->objectName() == "OK") a->trigger();
      }
    });
    Key(&grid, Qt::Key_F4);
    EXPECT_EQ(grid.core().columns().aHeaders, (std::vector<std::string>{"RAGSOC", "CITTA"}));
    EXPECT_EQ(CurTable().aViewCols, (std::vector<int>{2, 4}));
  });
}

void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  QMouseEvent e(type, at, target->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &e);
}

TEST_F(BrowseWidgetTest, DraggingAHeaderBorderResizesAColumnAndADoubleClickFitsIt) {
  WithMainWindow([&](MainWindow&, TWBrowseWidget& grid) {
    QApplication::processEvents();
    TWBrowse& core = grid.core();
    std::vector<int>& sizes = core.columns().aColSizes;
    const int before = sizes[1];
    const int border = sizes[0] + sizes[1];  // right edge of the second column
    const int y = core.header_height() / 2;
    Mouse(grid.viewport(), QEvent::MouseButtonPress, QPoint(border, y), Qt::LeftButton);
    Mouse(grid.viewport(), QEvent::MouseMove, QPoint(border + 40, y), Qt::LeftButton);
    Mouse(grid.viewport(), QEvent::MouseButtonRelease, QPoint(border + 40, y), Qt::NoButton);
    EXPECT_EQ(sizes[1], before + 40);
    EXPECT_EQ(RECNO(), 1u) << "a header drag moves no record";
    EXPECT_EQ(core.nColAct(), 1);
    // Narrowed far below its text, then fitted again to the values shown.
    Mouse(grid.viewport(), QEvent::MouseButtonPress, QPoint(border + 40, y), Qt::LeftButton);
    Mouse(grid.viewport(), QEvent::MouseMove, QPoint(sizes[0] + 10, y), Qt::LeftButton);
    Mouse(grid.viewport(), QEvent::MouseButtonRelease, QPoint(sizes[0] + 10, y), Qt::NoButton);
    EXPECT_EQ(sizes[1], 10);
    grid.viewport()->repaint();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPoint(sizes[0] + 10, y),
                    grid.viewport()->mapToGlobal(QPoint(sizes[0] + 10, y)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid.viewport(), &dbl);
    const QFontMetrics fm(grid.font());
    EXPECT_GE(sizes[1], fm.horizontalAdvance("Trattoria da Gino") + 7);
    EXPECT_LT(sizes[1], before + 40);
  });
}

// The RAGSOC cell of each row the grid shows.
std::vector<std::string> ShownNames(TWBrowse& core) {
  std::vector<std::string> names;
  for (const TWBrowse::Row& row : core.VisibleRows()) names.push_back(row.cells.at(1));
  return names;
}

TEST_F(BrowseWidgetTest, AHeaderClickSortsTheGridAndTypingFindsTheKey) {
  WithMainWindow([&](MainWindow& w, TWBrowseWidget& grid) {
    QApplication::processEvents();
    TWBrowse& core = grid.core();
    // A click on the header of RAGSOC sorts by it; the record stays current.
    Click(grid.viewport(), QPoint(core.columns().aColSizes[0] + 5, core.header_height() / 2));
    QApplication::processEvents();
    EXPECT_EQ(RECNO(), 1u);
    EXPECT_NE(w.status_message()->text().indexOf("Ordine: RAGSOC"), -1)
        << w.status_message()->text().toStdString();
    EXPECT_EQ(core.nColOrder, 2) << "the sorted column's header is marked";
    Key(&grid, Qt::Key_Home);
    EXPECT_EQ(RECNO(), 2u) << "Bianchi comes first";
    const std::vector<std::string> names = ShownNames(core);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0].substr(0, 8), "Bianchi ");
    EXPECT_EQ(names[1].substr(0, 5), "Caff\xE8");
    EXPECT_EQ(names[2].substr(0, 8), "Colombo ");
    // Typing moves to the key: F, O (Fontana), then R finds no FOR and is dropped.
    Key(&grid, Qt::Key_F, "f");
    EXPECT_EQ(RECNO(), 4u) << "Ferri";
    Key(&grid, Qt::Key_O, "o");
    EXPECT_EQ(RECNO(), 9u) << "Fontana";
    Key(&grid, Qt::Key_R, "r");
    EXPECT_EQ(RECNO(), 9u);
    EXPECT_EQ(core.VScrollPos(), 6u);
    // An arrow key starts a new search.
    Key(&grid, Qt::Key_Up);
    Key(&grid, Qt::Key_P, "p");
    EXPECT_EQ(RECNO(), 12u) << "Pasticceria";
  });
}

TEST_F(BrowseWidgetTest, F8OpensTheFilterAndAConfirmedFilterShowsOnlyMatchingRows) {
  WRITEPPROSTRING("Parametri", "RDD", "DBFCDX");
  WithMainWindow([&](MainWindow&, TWBrowseWidget& grid) {
    QApplication::processEvents();
    bool seen = false;
    OnNextDialog([&](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Imposta filtro");
      auto* cond = dialog->findChild<QPlainTextEdit*>("cFor");
      auto* unique = dialog->findChild<QCheckBox*>("lUni");
      ASSERT_NE(cond, nullptr);
      ASSERT_NE(unique, nullptr);
      EXPECT_FALSE(unique->isEnabled()) << "no key, no unique option";
      cond->setPlainText("PROV = 'CO'");
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == "&Conferma") b->click();
      }
      seen = true;
    });
    Key(&grid, Qt::Key_F8);
    EXPECT_TRUE(seen);
    QApplication::processEvents();
    TWBrowse& core = grid.core();
    EXPECT_EQ(core.VScrollMax(), 2u);
    const std::vector<std::string> names = ShownNames(core);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].substr(0, 9), "Lombardi ");
    EXPECT_EQ(names[1].substr(0, 8), "Colombo ");
  });
}

TEST_F(BrowseWidgetTest, WhileASortRunsTheProgressBarShowsAndTheGridPaintsWhatItShowed) {
  WithMainWindow([&](MainWindow& w, TWBrowseWidget& grid) {
    QApplication::processEvents();
    TWBrowse& core = grid.core();
    // A view other than the physical one: during the next sort the orders are closed, and a
    // grid that read the table would paint the physical order.
    core.set_nColAct(4);
    RunCommand([&] { RunAction(Action::kOrdinaColonna, &core); });
    Key(&grid, Qt::Key_Home);
    core.set_nColAct(2);
    grid.viewport()->repaint();
    const QImage before = grid.viewport()->grab().toImage();
    const int tick = Progress::SetTickMs(0);
    bool checked = false;
    // Looks at the window each time the sort lets it run, until the bar shows.
    QTimer look;
    look.setInterval(0);
    QObject::connect(&look, &QTimer::timeout, [&] {
      auto* popup = w.findChild<QDialog*>("ProgressPopup");
      auto* bar = popup ? popup->findChild<QProgressBar*>("ProgressBar") : nullptr;
      if (checked || !bar || !bar->isVisible()) return;
      EXPECT_TRUE(popup->isVisible());
      EXPECT_TRUE(CommandRunning());
      grid.viewport()->repaint();
      EXPECT_TRUE(grid.viewport()->grab().toImage() == before)
          << "the grid paints the rows it last read";
      checked = true;
    });
    look.start();
    RunCommand([&] { RunAction(Action::kOrdinaColonna, &core); });
    look.stop();
    Progress::SetTickMs(tick);
    EXPECT_TRUE(checked);
    EXPECT_EQ(w.findChild<QDialog*>("ProgressPopup"), nullptr);
  });
}

}  // namespace
}  // namespace vosk

namespace vosk {
namespace {

// What python3-dbfread, a reader of its own, finds in a table: one line per record, "*" before
// a deleted one, then the values of its first two fields.
std::string ReadWithDbfread(const std::string& table) {
  const std::string script =
      "import sys, dbfread\n"
      "t = dbfread.DBF(sys.argv[1], load=True, encoding='cp1252')\n"
      "rows = [(' ', r) for r in t.records] + [('*', r) for r in t.deleted]\n"
      "for mark, r in rows:\n"
      "    v = list(r.values())\n"
      "    print(mark, v[0], v[1])\n";
  return CommandOutput("/usr/bin/python3 -c \"" + script + "\" '" + table + "' 2>&1");
}

TEST_F(BrowseWidgetTest, InsertCtrlDAndDeleteChangeTheFileAsAnotherReaderSeesIt) {
  if (::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-dbfread is not installed";
  }
  WithMainWindow([&](MainWindow&, TWBrowseWidget& grid) {
    QApplication::processEvents();
    Key(&grid, Qt::Key_Insert);
    EXPECT_EQ(RECNO(), 13u);
    Key(&grid, Qt::Key_Home);
    Key(&grid, Qt::Key_Down);
    ASSERT_EQ(RECNO(), 2u);
    Key(&grid, Qt::Key_D, QString(), Qt::ControlModifier);
    EXPECT_EQ(RECNO(), 14u);
    Key(&grid, Qt::Key_Delete);
    DBCOMMIT();
  });
  const std::string seen = ReadWithDbfread(table_);
  std::vector<std::string> lines;
  std::stringstream in(seen);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 14u) << seen;
  EXPECT_EQ(lines[12], "  None ") << "the blank record";
  EXPECT_EQ(lines[13], "* " + lines[1].substr(2)) << "the deleted copy of record 2";
}

TEST_F(BrowseWidgetTest, F6ShowsTheValueControlOfTheChosenFieldAndReplacesIntoTheFile) {
  if (::system("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") != 0) {
    GTEST_SKIP() << "python3-dbfread is not installed";
  }
  std::string told;  // the message the replace ends with
  WithMainWindow([&](MainWindow&, TWBrowseWidget& grid) {
    QApplication::processEvents();
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&told] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      told = box->text().toStdString();
      box->accept();
    });
    answer.start(5);
    OnNextDialog([](QWidget* dialog) {
      auto* field = dialog->findChild<QComboBox*>("cCam");
      auto* text = dialog->findChild<QPlainTextEdit*>("cVal");
      auto* number = dialog->findChild<QLineEdit*>("nVal");
      auto* condition = dialog->findChild<QPlainTextEdit*>("cFor");
      ASSERT_TRUE(field && text && number && condition);
      EXPECT_FALSE(number->isHidden()) << "CODICE, the first field, takes a number";
      EXPECT_TRUE(text->isHidden());
      field->setCurrentText("RAGSOC");
      EXPECT_TRUE(number->isHidden());
      EXPECT_FALSE(text->isHidden());
      text->setPlainText(QString(40, 'x'));
      EXPECT_EQ(text->toPlainText().size(), 30) << "no longer than the field";
      text->setPlainText("Bar Sport");
      condition->setPlainText("CODICE < 3");
      for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == "&Conferma") b->click();
      }
    });
    Key(&grid, Qt::Key_F6);
    QApplication::processEvents();
  });
  EXPECT_EQ(told, "2 record modificati");
  const std::string seen = ReadWithDbfread(table_);
  std::vector<std::string> lines;
  std::stringstream in(seen);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 12u) << seen;
  EXPECT_EQ(lines[0], "  1 Bar Sport");
  EXPECT_EQ(lines[1], "  2 Bar Sport");
  EXPECT_NE(lines[2], "  3 Bar Sport");
}

}  // namespace
}  // namespace vosk
