// The password dialog, the status-bar password item and the information box in the real window.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include "app/current_table.h"
#include "app/program_info.h"
#include "gui/main_window.h"
#include "main_window_fixture.h"

namespace vosk {
namespace {

void Type(QWidget* target, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(target, &press);
  }
}

void Click(QWidget* target) {
  const QPoint at(3, 3);
  QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

QPushButton* Button(QWidget* dialog, const QString& text) {
  for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
    if (b->text() == text) return b;
  }
  return nullptr;
}

class PasswordWidgetTest : public MainWindowFixture {
 protected:
  PasswordWidgetTest() : MainWindowFixture({{"Maximized", "No"}}) {}
};

TEST_F(PasswordWidgetTest, TheStatusItemOpensAMaskedDialogAndEliminaClearsThePassword) {
  WithMainWindow([&](MainWindow& w) {
    QApplication::processEvents();
    QLabel* item = w.status_item(1);
    EXPECT_FALSE(item->property("active").toBool());
    // Inactive, the item still opens the dialog; typed characters are masked.
    OnNextDialog([](QWidget* dialog) {
      EXPECT_EQ(dialog->windowTitle(), "Imposta password");
      // Room for the whole title beside a title bar's icon and three buttons.
      EXPECT_GE(dialog->width(),
                QFontMetrics(QApplication::font("QMdiSubWindowTitleBar"))
                        .horizontalAdvance(dialog->windowTitle()) +
                    4 * 24)
          << "the title would be cut";
      auto* edit = dialog->findChild<QLineEdit*>("cPsw");
      ASSERT_NE(edit, nullptr);
      EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
      edit->setFocus();
      Type(edit, "segreto");
      Button(dialog, "&Conferma")->click();
    });
    Click(item);
    EXPECT_EQ(CurTable().cPassword, "segreto");
    EXPECT_TRUE(item->property("active").toBool());
    EXPECT_EQ(item->toolTip(), "Password impostata");
    EXPECT_FALSE(item->pixmap().isNull());

    OnNextDialog([](QWidget* dialog) {
      auto* elimina = dialog->findChild<QPushButton*>("ELIMINA");
      ASSERT_NE(elimina, nullptr);
      EXPECT_EQ(elimina->toolTip(), "Elimina password");
      EXPECT_FALSE(elimina->icon().isNull());
      elimina->click();
    });
    Click(item);
    EXPECT_EQ(CurTable().cPassword, "");
    EXPECT_FALSE(item->property("active").toBool());
    EXPECT_EQ(item->toolTip(), "Password non impostata");
  });
}

TEST_F(PasswordWidgetTest, InformazioniShowsProductVersionAndPicture) {
  WithMainWindow([&](MainWindow& w) {
    QApplication::processEvents();
    bool seen = false;
    OnNextDialog([&](QWidget* dialog) {
      QStringList texts;
      bool picture = false;
      for (QLabel* l : dialog->findChildren<QLabel*>()) {
        texts << l->text();
        picture = picture || !l->pixmap().isNull();
      }
      EXPECT_TRUE(texts.contains("VOSK Software DBU"));
      EXPECT_TRUE(texts.contains(QString("Versione: ") + ProgramVersion()));
      EXPECT_TRUE(picture);
      ASSERT_NE(Button(dialog, "&Chiudi"), nullptr);
      Button(dialog, "&Chiudi")->click();
      seen = true;
    });
    w.MenuActions("Informazioni").front()->trigger();
    EXPECT_TRUE(seen);
  });
}

}  // namespace
}  // namespace vosk
