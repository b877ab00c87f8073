// The structure editor in real windows: its field list driven with keys and the mouse, the
// field dialog typed into, and the table it makes open in the main window.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/current_table.h"
#include "gui/main_window.h"
#include "gui/twbrowse_widget.h"
#include "main_window_fixture.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

// What to do with a modal window when it comes up: `kind` is "file" (a file dialog), "box" (a
// message box) or a dialog's resource name.
struct Step {
  std::string kind;
  std::function<void(QWidget*)> run;
};

bool Matches(const std::string& kind, QWidget* w) {
  if (kind == "file") return qobject_cast<QFileDialog*>(w) != nullptr;
  if (kind == "box") return qobject_cast<QMessageBox*>(w) != nullptr;
  return w->objectName().toStdString() == kind;
}

// Runs the steps in order, each on the first modal window that matches it. A step may block
// in a window of its own (a nested dialog): the next step is watched for before it runs.
void Drive(std::shared_ptr<std::vector<Step>> steps, std::shared_ptr<size_t> next) {
  QTimer::singleShot(20, [steps, next] {
    if (*next >= steps->size()) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !Matches((*steps)[*next].kind, modal)) return Drive(steps, next);
    const auto run = (*steps)[(*next)++].run;
    Drive(steps, next);
    run(modal);
  });
}

// Types into the field dialog's name (the focused field) and presses Conferma.
void FillField(QWidget* dialog, const QString& name) {
  auto* edit = dialog->findChild<QLineEdit*>("cNom");
  ASSERT_NE(edit, nullptr);
  dialog->activateWindow();
  if (!edit->hasFocus()) {
    QFocusEvent focus_in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(edit, &focus_in);
  }
  for (QChar c : name) Key(edit, 0, QString(c));
  for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
    if (b->text() == "&Conferma") b->click();
  }
}

void Trigger(QWidget* dialog, const char* bitmap) {
  for (QAction* a : dialog->findChildren<QAction*>()) {
    if (a->objectName() == bitmap) a->trigger();
  }
}

class StructureEditorWidgetTest : public MainWindowFixture {
 protected:
  StructureEditorWidgetTest()
      : MainWindowFixture({{"Maximized", "No"}, {"Width", "800"}, {"Height", "300"}}) {}
};

TEST_F(StructureEditorWidgetTest, AnsweringYesAtStartUpBuildsATableInTheEditorAndOpensIt) {
  std::vector<std::string> seen;  // what the editor showed, in order
  std::vector<std::string> columns;
  auto steps = std::make_shared<std::vector<Step>>(std::vector<Step>{
      {"file", [](QWidget* d) { static_cast<QDialog*>(d)->reject(); }},
      {"box",
       [&](QWidget* d) {
         seen.push_back(static_cast<QMessageBox*>(d)->text().toStdString());
         static_cast<QMessageBox*>(d)->defaultButton()->click();
       }},
      {"CREATAB",
       [&](QWidget* d) {
         auto* list = d->findChild<QTreeWidget*>();
         auto* status = d->findChild<QLabel*>("DialogStatus");
         ASSERT_NE(list, nullptr);
         ASSERT_NE(status, nullptr);
         seen.push_back(d->windowTitle().toStdString() + " " + status->text().toStdString());
         for (int i = 0; i < 3; ++i) Key(list, Qt::Key_A, "\x01", Qt::ControlModifier);
         seen.push_back(status->text().toStdString());
         Key(list, Qt::Key_Delete);  // the field appended last
         Key(list, Qt::Key_Insert);  // before the second row
         for (int row = 0; row < list->topLevelItemCount(); ++row) {
           seen.push_back(list->topLevelItem(row)->text(0).toStdString() + "|" +
                          list->topLevelItem(row)->text(1).toStdString() + "|" +
                          list->topLevelItem(row)->text(2).toStdString());
         }
         seen.push_back(status->text().toStdString());
         Trigger(d, "OK");
       }},
      {"CAMPO", [](QWidget* d) { FillField(d, "codice"); }},
      {"CAMPO", [](QWidget* d) { FillField(d, "nome"); }},
      {"CAMPO", [](QWidget* d) { FillField(d, "extra"); }},
      {"CAMPO",
       [&](QWidget* d) {
         seen.push_back(d->windowTitle().toStdString());
         FillField(d, "citta");
       }},
      {"file",
       [this](QWidget* d) {
         d->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(dir_ + "/NUOVA"));
         static_cast<QDialog*>(d)->accept();
       }},
  });
  Drive(steps, std::make_shared<size_t>(0));
  // Once the window is up on the new table: its columns, then it closes.
  std::function<void()> inspect = [&] {
    MainWindow* w = ui_.window();
    if (!w || !w->isVisible()) return void(QTimer::singleShot(20, inspect));
    columns = w->grid()->core().columns().aHeaders;
    seen.push_back(w->windowTitle().toStdString());
    w->close();
  };
  QTimer::singleShot(20, inspect);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (QWidget* m = QApplication::activeModalWidget()) m->close();
    QCoreApplication::exit(99);
  });
  guard.start(20000);
  MAIN("");

  const std::vector<std::string> expected = {
      "Vuoi creare una nuova tabella?",
      "Nuova tabella Campo: 0/0",
      "Campo: 3/3",
      "Inserisci campo",
      "CODICE|Carattere|10",
      "CITTA|Carattere|10",
      "NOME|Carattere|10",
      "Campo: 2/3",
      "VOSK Software DBU - " + dir_ + "/NUOVA.DBF",
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(columns, (std::vector<std::string>{"CODICE", "CITTA", "NOME"}));
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/NUOVA.DBF"));
}

TEST_F(StructureEditorWidgetTest, F3OpensTheEditorAndAFieldAppendedBecomesANewColumn) {
  WithMainWindow(
      [&](MainWindow& w) {
        std::vector<std::string> seen;
        auto steps = std::make_shared<std::vector<Step>>(std::vector<Step>{
            {"CREATAB",
             [&](QWidget* d) {
               auto* list = d->findChild<QTreeWidget*>();
               ASSERT_NE(list, nullptr);
               seen.push_back(d->windowTitle().toStdString() + " " +
                              std::to_string(list->topLevelItemCount()));
               Key(list, Qt::Key_A, "\x01", Qt::ControlModifier);
               Trigger(d, "OK");
             }},
            {"CAMPO", [](QWidget* d) { FillField(d, "note"); }},
            {"box",
             [&](QWidget* d) {
               seen.push_back(static_cast<QMessageBox*>(d)->text().toStdString());
               static_cast<QMessageBox*>(d)->defaultButton()->click();
             }},
        });
        Drive(steps, std::make_shared<size_t>(0));
        Key(w.grid(), Qt::Key_F3);
        EXPECT_EQ(seen, (std::vector<std::string>{
                            "Modifica tabella 10",
                            "Confermi la modifica della struttura della tabella?"}));
        const std::vector<std::string>& headers = w.grid()->core().columns().aHeaders;
        ASSERT_EQ(headers.size(), 11u);
        EXPECT_EQ(headers.back(), "NOTE");
        EXPECT_EQ(FCOUNT(), 11);
        EXPECT_EQ(LASTREC(), 12u);
      },
      20000);
}

}  // namespace
}  // namespace vosk
