// The main window built by MAIN over the sample table, and the Qt side of the Ui.

#include "gui/main_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "app/current_table.h"
#include "app/open_table.h"
#include "app/filename.h"
#include "app/index_commands.h"
#include "app/messages.h"
#include "app/startup.h"
#include "app/voskdbu.h"
#include "expr/runtime_error.h"
#include "gui/dispatcher.h"
#include "main_window_fixture.h"
#include "gui/qt_ui.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"

namespace vosk {
namespace {

class MainWindowTest : public MainWindowFixture {
 protected:
  MainWindowTest()
      : MainWindowFixture({{"Maximized", "No"},
                           {"Top", "100"},
                           {"Left", "50"},
                           {"Width", "640"},
                           {"Height", "480"}}) {}

  // Makes the index CITTA.NTX of the table (key CITTA) and opens it as the current index.
  bool OpenCittaIndex() {
    const std::string bag = dir_ + "/CITTA.NTX";
    if (!DBUSEAREA(true, "DBFNTX", table_, "MK", true, false) || !ORDCREATE(bag, "", "CITTA")) {
      return false;
    }
    DBCLOSEAREA();
    DBSELECTAREA("DBF");
    CurTable().cCurIndex = bag;
    return ORDLISTADD(Value::String(bag));
  }

  // Every label of a dialog shows its whole text and lies under no other control.
  static void ExpectLabelsWhole(QWidget* dialog) {
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
      for (QWidget* other : dialog->findChildren<QWidget*>()) {
        if (other == label || other->parentWidget() != dialog || qobject_cast<QLabel*>(other) ||
            !other->isVisible()) {
          continue;
        }
        EXPECT_FALSE(label->geometry().intersects(other->geometry()))
            << label->text().toStdString() << " under " << other->objectName().toStdString();
      }
    }
  }

  static QAction* MenuAction(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
      if (a->text() == text) return a;
    }
    return nullptr;
  }

};

TEST_F(MainWindowTest, TitleMenusButtonsAndStatusBar) {
  WithMainWindow([&](MainWindow& w) {
    EXPECT_EQ(w.windowTitle(), QString::fromStdString("VOSK Software DBU - " + table_));

    QList<QAction*> menus = w.menuBar()->actions();
    QStringList titles;
    for (QAction* m : menus) titles << m->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Modifica", "&Visualizza", "?"}));

    QMenu* file = menus[0]->menu();
    QMenu* modifica = menus[1]->menu();
    QMenu* visualizza = menus[2]->menu();
    QAction* nuovo = MenuAction(file, "Nuovo VOSK Software DBU\tCTRL-+");
    QAction* esci = MenuAction(file, "Esci");
    QAction* apri = MenuAction(file, "Apri tabella...\tF2");
    ASSERT_TRUE(nuovo && esci && apri);
    EXPECT_TRUE(nuovo->isEnabled());
    EXPECT_TRUE(esci->isEnabled());
    EXPECT_TRUE(apri->isEnabled());
    QAction* indice = MenuAction(file, "Apri indice...\tCTRL-I");
    ASSERT_NE(indice, nullptr);
    EXPECT_TRUE(indice->isEnabled());
    QAction* tag = MenuAction(file, "Seleziona TAG\tCTRL-T");
    ASSERT_NE(tag, nullptr);
    EXPECT_FALSE(tag->isEnabled()) << "no orders open";
    EXPECT_EQ(esci->statusTip(), "Per uscire dal programma");

    QAction* props = MenuAction(modifica, QString::fromUtf8("Modifica proprietà campo..."));
    ASSERT_NE(props, nullptr);
    EXPECT_EQ(props->statusTip(),
              QString::fromUtf8("Per modificare le proprietà del campo selezionato"));
    QAction* ntx = MenuAction(modifica, "DBFNTX");
    QAction* cdx = MenuAction(modifica, "DBFCDX");
    ASSERT_TRUE(ntx && cdx);
    EXPECT_TRUE(ntx->isCheckable() && ntx->isChecked());
    EXPECT_FALSE(cdx->isChecked());
    EXPECT_NE(MenuAction(visualizza, QString::fromUtf8("Nessun ordinamento né filtro")), nullptr);
    EXPECT_NE(MenuAction(visualizza, "Aggiorna\tF5"), nullptr);

    QList<QToolButton*> buttons;  // without the tool bar's own extension button
    for (QToolButton* b :
         w.button_bar()->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (!b->objectName().startsWith("qt_")) buttons << b;
    }
    ASSERT_EQ(buttons.size(), 10);
    EXPECT_EQ(buttons[0]->objectName(), "NUOVO");
    EXPECT_EQ(buttons[0]->width(), 33 + 13);
    ASSERT_NE(buttons[1]->menu(), nullptr);
    EXPECT_EQ(buttons[1]->menu()->actions().size(), 3);
    EXPECT_EQ(buttons[1]->toolTip(), "Apri tabella (F2)");
    EXPECT_EQ(buttons[9]->objectName(), "ESCI");
    EXPECT_EQ(buttons[9]->width(), 33);
    EXPECT_TRUE(buttons[9]->isEnabled());
    EXPECT_EQ(buttons[7]->toolTip(), QString::fromUtf8("Nessun ordinamento né filtro"));

    EXPECT_EQ(w.status_message()->text(), "Campo: 1/10     RecNo: 1/12     KeyNo: 1/12     ");
    EXPECT_EQ(w.status_item(1)->toolTip(), "Password non impostata");
    EXPECT_FALSE(w.status_item(1)->property("active").toBool());
    EXPECT_EQ(w.status_item(2)->text(), "DBFNTX");
    EXPECT_EQ(w.status_item(3)->text(), "DBT");
    // The table's header marks Windows-1252: the item names it (ANSI/OEM are for tables
    // without a mark), widened to its text.
    EXPECT_EQ(w.status_item(4)->text(), "CP1252");
    EXPECT_GT(w.status_item(4)->width(), 37);
    EXPECT_EQ(w.status_item(2)->width(), 55);

    EXPECT_EQ(w.size(), QSize(640, 480));
    EXPECT_FALSE(w.isMaximized());
  });
  EXPECT_EQ(SELECT(Value::String("DBF")), 0) << "MAIN closes the table after the window";
}

TEST_F(MainWindowTest, MenuCheckAndStatusItemsCanBeChanged) {
  WithMainWindow([&](MainWindow& w) {
    ui_.SetMenuCheck("DBFCDX", true);
    ui_.SetStatusItem(2, "DBFCDX");
    ui_.SetStatusText("Altro testo");
    ui_.SetWindowTitle("VOSK Software DBU - /x/Y.DBF");
    EXPECT_TRUE(w.MenuActions("DBFCDX").front()->isChecked());
    EXPECT_EQ(w.status_item(2)->text(), "DBFCDX");
    EXPECT_EQ(w.status_message()->text(), "Altro testo");
    EXPECT_EQ(w.windowTitle(), "VOSK Software DBU - /x/Y.DBF");
  });
}

TEST_F(MainWindowTest, MaximizingKeepsTheNormalPositionInTheIniFile) {
  WithMainWindow([&](MainWindow& w) {
    // The saved place is the window's own, without the frame the window system adds.
    EXPECT_EQ(w.geometry(), QRect(50, 100, 640, 480));
    w.showMaximized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.isMaximized());
    EXPECT_EQ(GETPVPROFSTRING("Parametri", "Maximized", ""), "S\xEC");
    EXPECT_EQ(GETPVPROFINT("Parametri", "Top", -1), 100);
    EXPECT_EQ(GETPVPROFINT("Parametri", "Left", -1), 50);
    w.showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(GETPVPROFSTRING("Parametri", "Maximized", ""), "No");
  });
}

TEST_F(MainWindowTest, MaximizingAfterAMoveKeepsTheMovedPosition) {
  WithMainWindow([&](MainWindow& w) {
    w.setGeometry(100, 60, 640, 480);
    QCoreApplication::processEvents();
    EXPECT_EQ(GETPVPROFINT("Parametri", "Top", -1), 60);
    EXPECT_EQ(GETPVPROFINT("Parametri", "Left", -1), 100);
    w.showMaximized();
    QCoreApplication::processEvents();
    EXPECT_EQ(GETPVPROFSTRING("Parametri", "Maximized", ""), "S\xEC");
    EXPECT_EQ(GETPVPROFINT("Parametri", "Top", -1), 60) << "the normal window, after the move";
    EXPECT_EQ(GETPVPROFINT("Parametri", "Left", -1), 100);
  });
}

TEST_F(MainWindowTest, EsciClosesTheWindowAndEndsMain) {
  bool closed_by_menu = false;
  QTimer::singleShot(0, [&] {
    QAction* esci = nullptr;
    for (QAction* a : ui_.window()->menuBar()->actions()[0]->menu()->actions()) {
      if (a->text() == "Esci") esci = a;
    }
    ASSERT_NE(esci, nullptr);
    esci->trigger();
    closed_by_menu = true;
  });
  MAIN(table_);
  EXPECT_TRUE(closed_by_menu);
  EXPECT_EQ(ui_.window(), nullptr);
}

TEST_F(MainWindowTest, TheTagDialogStartsOnTheCurrentOrderAndShowsItsLabelsWhole) {
  WithMainWindow([&](MainWindow& w) {
    ASSERT_TRUE(OpenCittaIndex());
    bool seen = false;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      auto* combo = dialog->findChild<QComboBox*>();
      ASSERT_NE(combo, nullptr);
      EXPECT_EQ(combo->currentText(), "CITTA");
      ExpectLabelsWhole(dialog);
      seen = true;
      dialog->close();
    });
    RunCommand([&] { SELEZTAG(w.browse()); });
    EXPECT_TRUE(seen);
  });
}

// The index dialog shows its labels whole, and its "Unique:" box follows its key: emptying the
// key clears and disables it, a key enables it again.
TEST_F(MainWindowTest, TheIndexDialogsUniqueBoxFollowsTheKey) {
  WithMainWindow([&](MainWindow& w) {
    ASSERT_TRUE(OpenCittaIndex());
    bool seen = false;
    QTimer::singleShot(0, [&] {
      QWidget* dialog = QApplication::activeModalWidget();
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), "Modifica indice");
      ExpectLabelsWhole(dialog);
      auto* unique = dialog->findChild<QCheckBox*>();
      QPlainTextEdit* key = nullptr;
      for (auto* edit : dialog->findChildren<QPlainTextEdit*>()) {
        if (edit->toPlainText() == "CITTA") key = edit;
      }
      ASSERT_TRUE(unique != nullptr && key != nullptr);
      EXPECT_TRUE(unique->isEnabled());
      unique->setChecked(true);
      key->setPlainText("  ");
      EXPECT_FALSE(unique->isChecked());
      EXPECT_FALSE(unique->isEnabled());
      key->setPlainText("RAGSOC");
      EXPECT_TRUE(unique->isEnabled());
      EXPECT_FALSE(unique->isChecked());
      seen = true;
      // "Annullo le modifiche?": yes.
      QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons()) {
          if (box->buttonRole(b) == QMessageBox::YesRole) b->click();
        }
      });
      dialog->close();
    });
    RunCommand([&] { MODIIND(w.browse()); });
    EXPECT_TRUE(seen);
    EXPECT_EQ(ORDKEY(), "CITTA") << "nothing changed";
  });
}

TEST_F(MainWindowTest, AFileNameTypedWithoutExtensionIsAccepted) {
  WithMainWindow([&](MainWindow&) {
    bool refused = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText("CLIENTI");
      static_cast<QDialog*>(dialog)->accept();
      QTimer::singleShot(200, dialog, [&, dialog] {  // only while the dialog lives
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          refused = true;
          box->close();
        }
        if (dialog->isVisible()) {
          refused = true;
          dialog->reject();
        }
      });
    });
    const std::string chosen =
        ui_.GetFileName("File DBF (*.DBF)|*.DBF", "Apri tabella...", 1, dir_, false);
    EXPECT_FALSE(refused);
    EXPECT_EQ(chosen, dir_ + "/CLIENTI");
  });
}

TEST_F(MainWindowTest, MessageBoxesAreWideEnoughForTheirTitle) {
  WithMainWindow([&](MainWindow&) {
    int width = 0, title = 0;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      width = box->width();
      title = box->fontMetrics().horizontalAdvance(box->windowTitle());
      box->close();
    });
    POPMSG("Ok.", 1);
    EXPECT_GE(width, title + 150);
  });
}

TEST(DispatcherTest, AbandonStaysInsideProgramEndQuits) {
  RunCommand([] { throw Abandon(RuntimeError{}); });  // nothing escapes
  QTimer::singleShot(0, [] { RunCommand([] { throw ProgramEnd(3); }); });
  EXPECT_EQ(QCoreApplication::exec(), 3);
}

TEST(QtUiTest, FileFiltersMatchBothLetterCases) {
  EXPECT_EQ(QtFileFilter("File DBF (*.DBF)|*.DBF"), "File DBF (*.DBF *.dbf)");
  EXPECT_EQ(QtFileFilter("File NTX (*.NTX)|*.NTX|Tutti i file (*.*)|*.*"),
            "File NTX (*.NTX *.ntx);;Tutti i file (*.*)");
  EXPECT_EQ(QtFileFilter("Testo|*.txt;*.Sdf"), "Testo (*.txt *.TXT *.Sdf *.sdf *.SDF)");
}

// Presses a button of the message box that is about to open and records its texts.
struct BoxPress {
  QString button;     // text of the button to press
  QStringList texts;  // texts of all its buttons
  QString default_button;
};

void PressLater(BoxPress* press) {
  QTimer::singleShot(0, [press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) press->texts << b->text();
    press->default_button = box->defaultButton() ? box->defaultButton()->text() : "";
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == press->button) b->click();
    }
  });
}

TEST(QtUiTest, MessageBoxesSpeakItalian) {
  QtUi ui;
  SetUi(&ui);
  struct Case {
    int kind;
    const char* press;
    const char* buttons;
    const char* default_button;
    bool result;
  } cases[] = {
      {2, "OK", "OK,Annulla", "OK", true},           {2, "Annulla", "OK,Annulla", "OK", false},
      {4, "S\u00EC", "S\u00EC,No", "S\u00EC", true}, {5, "S\u00EC", "S\u00EC,No", "No", true},
      {5, "No", "S\u00EC,No", "No", false},
  };
  for (const Case& c : cases) {
    BoxPress press{QString::fromUtf8(c.press), {}, {}};
    PressLater(&press);
    Value r = POPMSG("Domanda?", c.kind);
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.press);
    EXPECT_EQ(r.logical(), c.result);
    QStringList sorted = press.texts;
    sorted.sort();
    QStringList expected = QString::fromUtf8(c.buttons).split(',');
    expected.sort();
    EXPECT_EQ(sorted, expected);
    EXPECT_EQ(press.default_button, QString::fromUtf8(c.default_button));
  }
  BoxPress press{"Annulla", {}, {}};
  PressLater(&press);
  EXPECT_EQ(POPMSG("Tre?", 3).integer(), kButtonCancel);
  SetUi(nullptr);
}

}  // namespace
}  // namespace vosk
