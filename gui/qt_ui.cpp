#include "gui/qt_ui.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/filename.h"
#include "app/index_commands.h"
#include "app/open_table.h"
#include "app/structure_editor.h"
#include "app/voskdbu.h"
#include "gui/dialog_view.h"
#include "gui/dispatcher.h"
#include "gui/main_window.h"
#include "gui/text.h"
#include "gui/twbrowse_widget.h"

namespace vosk {
namespace {

// "*.DBF" -> "*.DBF *.dbf"; patterns without letters stay as they are.
QString BothCases(const QString& patterns) {
  QStringList out;
  for (const QString& p : patterns.split(';', Qt::SkipEmptyParts)) {
    QString t = p.trimmed();
    out << t;
    if (t.toLower() != t) out << t.toLower();
    if (t.toUpper() != t) out << t.toUpper();
  }
  out.removeDuplicates();
  return out.join(' ');
}

}  // namespace

QString QtFileFilter(const std::string& filter) {
  QStringList parts = FromApp(filter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    int paren = description.indexOf('(');
    if (paren > 0) description = description.left(paren).trimmed();
    filters << description + " (" + BothCases(parts[i + 1]) + ")";
  }
  return filters.join(";;");
}

QtUi::QtUi(QString screenshot, QString scene)
    : screenshot_(std::move(screenshot)), scene_(std::move(scene)) {}

QtUi::~QtUi() = default;

int QtUi::MessageBox(const std::string& text, const std::string& title, MessageKind kind) {
  QMessageBox box(window_ ? static_cast<QWidget*>(window_.get()) : nullptr);
  box.setWindowTitle(FromApp(title));
  box.setText(FromApp(text));
  struct Button {
    QMessageBox::StandardButton standard;
    const char* text;
    int id;
  };
  std::vector<Button> buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
  switch (kind) {
    case MessageKind::kInformation:
      box.setIcon(QMessageBox::Information);
      buttons = {{QMessageBox::Ok, "OK", kButtonOk}};
      break;
    case MessageKind::kOkCancel:
      box.setIcon(QMessageBox::Question);
      buttons = {{QMessageBox::Ok, "OK", kButtonOk},
                 {QMessageBox::Cancel, "Annulla", kButtonCancel}};
      break;
    case MessageKind::kYesNoCancel:
      box.setIcon(QMessageBox::Question);
      buttons = {{QMessageBox::Yes, "S\u00EC", kButtonYes},
                 {QMessageBox::No, "No", kButtonNo},
                 {QMessageBox::Cancel, "Annulla", kButtonCancel}};
      break;
    case MessageKind::kYesNo:
    case MessageKind::kYesNoDefaultNo:
      box.setIcon(QMessageBox::Question);
      buttons = {{QMessageBox::Yes, "S\u00EC", kButtonYes}, {QMessageBox::No, "No", kButtonNo}};
      if (kind == MessageKind::kYesNoDefaultNo) default_button = QMessageBox::No;
      break;
    case MessageKind::kStopOkCancel:
      box.setIcon(QMessageBox::Critical);
      buttons = {{QMessageBox::Ok, "OK", kButtonOk},
                 {QMessageBox::Cancel, "Annulla", kButtonCancel}};
      break;
  }
  QMessageBox::StandardButtons standard;
  for (const Button& b : buttons) standard |= b.standard;
  box.setStandardButtons(standard);
  for (const Button& b : buttons) box.button(b.standard)->setText(QString::fromUtf8(b.text));
  box.setDefaultButton(default_button != QMessageBox::NoButton ? default_button
                                                               : buttons.front().standard);
  // Esc: Cancel where there is one, else No (else OK).
  box.setEscapeButton(box.button(standard & QMessageBox::Cancel ? QMessageBox::Cancel
                                 : standard & QMessageBox::No   ? QMessageBox::No
                                                                : QMessageBox::Ok));
  // After the icon and buttons, which lay the box out anew: wide enough for its title bar to show the whole title ("Attenzione"), not "Att...ne".
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const int wanted = std::max(280, box.fontMetrics().horizontalAdvance(box.windowTitle()) + 160);
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  // A screenshot run is unattended: its boxes answer themselves after a moment.
  if (!screenshot_.isEmpty()) {
    QTimer::singleShot(300, &box, [&box] { box.defaultButton()->click(); });
  }
  int pressed = box.exec();
  for (const Button& b : buttons) {
    if (pressed == b.standard) return b.id;
  }
  return kind == MessageKind::kYesNo || kind == MessageKind::kYesNoDefaultNo ? kButtonNo
                                                                             : kButtonCancel;
}

void QtUi::ProgressOpen(const std::string& text, const std::string& title) {
  progress_ = std::make_unique<QDialog>(window_.get(), Qt::Tool | Qt::WindowTitleHint);
  progress_->setWindowTitle(FromApp(title));
  auto* layout = new QVBoxLayout(progress_.get());
  progress_text_ = new QLabel(FromApp(text), progress_.get());
  progress_text_->setMinimumWidth(280);
  progress_text_->setAlignment(Qt::AlignCenter);
  // The bar: the records done out of the total, as a percentage.
  progress_bar_ = new QProgressBar(progress_.get());
  progress_bar_->setObjectName("ProgressBar");
  progress_bar_->setRange(0, 100);
  progress_bar_->hide();
  layout->addWidget(progress_text_);
  layout->addWidget(progress_bar_);
  progress_->setObjectName("ProgressPopup");
  progress_->setModal(false);
  progress_->show();
  ProcessEvents();
}

void QtUi::ProgressSetText(const std::string& text) {
  if (progress_text_) progress_text_->setText(FromApp(text));
}

void QtUi::ProgressSetPosition(int position) {
  if (!progress_bar_) return;
  progress_bar_->show();
  progress_bar_->setValue(position);
}

void QtUi::ProgressClose() {
  progress_.reset();
  progress_text_ = nullptr;
  progress_bar_ = nullptr;
}

void QtUi::ProcessEvents() {
  // While a command runs, the window moves and repaints (from the rows it last read) but the
  // user's keys and clicks wait for the command's end: they would start another command in
  // the middle of this one.
  QCoreApplication::processEvents(CommandRunning() ? QEventLoop::ExcludeUserInputEvents
                                                   : QEventLoop::AllEvents);
}

void QtUi::Beep() { QApplication::beep(); }

std::string QtUi::GetFileName(const std::string& filter, const std::string& title,
                              int default_filter, const std::string& initial_dir, bool save) {
  if (dialog_shot_ && save) {
    // The screenshot of a dialog that follows a new file's name: a name in the temporary
    // folder stands for the user's choice (the dialog is closed unconfirmed, nothing is made).
    return PathToApp(QDir::tempPath()) + "/" + CFILENOEXT(CurTable().cCurTable);
  }
  QFileDialog dialog(window_.get(), FromApp(title), FromApp(initial_dir), QtFileFilter(filter));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  // A name typed without its extension ("CLIENTI" for CLIENTI.DBF) is the Application's to
  // complete and to look for: the dialog does not refuse it for not existing as typed.
  dialog.setFileMode(QFileDialog::AnyFile);
  // Whether an existing file may be replaced is the Application's question, asked once on the
  // name it completes (and not at all where it refuses the name, as the open table's own).
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  QStringList filters = dialog.nameFilters();
  if (default_filter >= 1 && default_filter <= filters.size()) {
    dialog.selectNameFilter(filters[default_filter - 1]);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return "";
  last_filter_ = std::max(1, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1);
  return PathToApp(dialog.selectedFiles().front());
}

MainWindow* QtUi::BuildMainWindow() {
  window_ = std::make_unique<MainWindow>();
  RunCommand([] { ADDMRU(); });  // the window's initialisation: the recently-used submenu
  return window_.get();
}

void QtUi::RunMainWindow() {
  BuildMainWindow();
  window_->ShowWithSavedGeometry();
  if (!screenshot_.isEmpty()) {
    QTimer::singleShot(500, window_.get(), [this] {
      if (!scene_.isEmpty()) {
        dialog_shot_ = true;
        RunCommand([this] {
          Browse* b = window_->browse();
          if (scene_ == "vistacol") {
            // Two fields hidden, so that the chooser starts from a selection.
            for (int hidden : {3, 7}) {
              if (hidden <= static_cast<int>(CurTable().aFieldVis.size())) {
                CurTable().aFieldVis[hidden - 1] = false;
              }
            }
            VISTACOL(b);
          } else if (scene_ == "creaind") {
            CREAIND(b);
          } else if (scene_ == "struttura") {
            CREATAB(b, false);
          } else {
            TASTI(b, kVkF12, false);
            TASTI(b, kVkReturn, false);
          }
        });
      } else {
        window_->activateWindow();
        window_->grid()->setFocus();
        QCoreApplication::processEvents();
        window_->grab().save(screenshot_, "PNG");
      }
      window_->close();
    });
  }
  QApplication::exec();
  window_.reset();
}

void QtUi::CloseMainWindow() {
  if (window_) window_->close();
}

void QtUi::SetWindowTitle(const std::string& title) {
  if (window_) window_->setWindowTitle(FromApp(title));
}

void QtUi::SetMenuCheck(const std::string& prompt, bool checked) {
  if (window_) window_->SetMenuCheck(prompt, checked);
}

void QtUi::SetStatusItem(int item, const std::string& text) {
  if (window_) window_->SetStatusItem(item, text);
}

void QtUi::SetStatusItemState(int item, bool active, const std::string& tooltip) {
  if (window_) window_->SetStatusItemState(item, active, tooltip);
}

void QtUi::SetStatusText(const std::string& text) {
  if (window_) window_->SetStatusText(text);
}

WindowRect QtUi::MainWindowRect() {
  if (!window_) return {};
  // Position of the frame, size of the window proper: applied back by ShowMainWindow the same
  // way, so the window does not grow by its frame at every start.
  QPoint pos = window_->pos();
  QSize size = window_->size();
  return {pos.x(), pos.y(), pos.x() + size.width(), pos.y() + size.height()};
}

WindowRect QtUi::NormalWindowRect() {
  if (!window_) return {};
  // The normal geometry is the window proper; the frame's offset is the one it has now.
  const QRect normal = window_->normalGeometry();
  const QPoint frame = window_->geometry().topLeft() - window_->pos();
  const QPoint pos = normal.topLeft() - frame;
  return {pos.x(), pos.y(), pos.x() + normal.width(), pos.y() + normal.height()};
}

bool QtUi::MainWindowMinimized() { return window_ && window_->isMinimized(); }

void QtUi::ShowMainWindow(int top, int left, int width, int height, bool maximized) {
  if (window_) window_->Place(top, left, width, height, maximized);
}

int QtUi::ScreenWidth() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->size().width() : 1024;
}

int QtUi::ScreenHeight() {
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->size().height() : 768;
}

int QtUi::RunDialog(Dialog& dlg) {
  if (dialog_shot_) {
    dialog_shot_ = false;
    QTimer::singleShot(500, [this] {
      if (QWidget* d = QApplication::activeModalWidget()) {
        d->grab().save(screenshot_, "PNG");
        d->close();
      }
    });
  }
  QPoint origin;
  if (window_ && window_->grid()) origin = window_->grid()->GridToGlobal(QPoint(0, 0));
  return RunDialogView(dlg, window_.get(), origin);
}

namespace {

void AddItems(QMenu* menu, const std::vector<MenuItem>& items, Action* chosen) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItem::Kind::kSeparator:
        menu->addSeparator();
        break;
      case MenuItem::Kind::kSubmenu:
        AddItems(menu->addMenu(FromApp(item.prompt)), item.submenu, chosen);
        break;
      case MenuItem::Kind::kCommand: {
        QAction* a = menu->addAction(FromApp(item.FullPrompt()));
        a->setStatusTip(FromApp(item.message));
        a->setEnabled(item.enabled.value_or(ItemEnabled(item.action, item.when)));
        if (item.check != Check::kNone) {
          a->setCheckable(true);
          a->setChecked(ItemChecked(item.check));
        }
        const Action id = item.action;
        QObject::connect(a, &QAction::triggered, [chosen, id] { *chosen = id; });
        break;
      }
    }
  }
}

}  // namespace

Action QtUi::PopupMenu(const std::vector<MenuItem>& items, int x, int y) {
  QMenu menu(window_.get());
  Action chosen = Action::kNone;
  AddItems(&menu, items, &chosen);
  // (x, y) is a point of the browse; a pop-up of a dialog's list opens where the mouse is.
  QPoint at = QApplication::activeModalWidget() ? QCursor::pos()
              : window_ && window_->grid()      ? window_->grid()->GridToGlobal(QPoint(x, y))
                                                : QPoint(x, y);
  menu.exec(at);
  return chosen;
}

void QtUi::SetRecentFiles(const std::vector<std::string>& paths) {
  if (window_) window_->SetRecentFiles(paths);
}

void QtUi::SetRefreshTimer(bool active) {
  if (window_) window_->SetRefreshTimer(active);
}

void QtUi::StartInstance(const std::string& parameters) {
  // The table path goes as one argument, blanks and all.
  QProcess::startDetached(QString::fromStdString(GETMODULEFILENAME()),
                          {QFile::decodeName(parameters.c_str())});
}

void QtUi::OpenMailto(const std::string& url) {
  QDesktopServices::openUrl(QUrl(FromApp(url), QUrl::TolerantMode));
}

}  // namespace vosk
