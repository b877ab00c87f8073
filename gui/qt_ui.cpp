#include "gui/qt_ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>

#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/filename.h"
#include "app/index_commands.h"
#include "app/main_menu.h"
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

// What --scene draws: the first dialog that the commands of the scene's actions show, run the way
// the menu entry, key or button that opens it runs them.
struct Scene {
  const char* name;
  Action actions[2];    // run in turn (kNone: none)
  const char* save_as;  // the answer of a file dialog for a new file (in the table's folder);
                        // nullptr: the table's own name
  void (*prepare)();    // sets the view up first, or nullptr
  // What the user has typed or chosen in the dialog when it is drawn: a text or list control
  // by name, and its text (nullptr: none). The guide's examples.
  struct Entry {
    const char* control;
    const char* text;
  } entries[3];
};

// Two fields hidden, so that the column chooser starts from a selection.
void HideTwoFields() {
  for (int hidden : {3, 7}) {
    if (hidden <= static_cast<int>(CurTable().aFieldVis.size())) {
      CurTable().aFieldVis[hidden - 1] = false;
    }
  }
}

constexpr Scene kScenes[] = {
    {"vistacol", {Action::kImpostaVista}, nullptr, &HideTwoFields, {}},
    {"memo", {Action::kUltimaColonna, Action::kModificaCampo}, nullptr, nullptr, {}},
    {"struttura", {Action::kModificaStruttura}, nullptr, nullptr, {}},
    {"modprop", {Action::kModificaProprieta}, nullptr, nullptr, {}},
    {"creaind", {Action::kNuovoIndice}, nullptr, nullptr, {{"cKey", "UPPER(RAGSOC)"}}},
    {"vaialrec", {Action::kVaiAlRecord}, nullptr, nullptr, {}},
    {"cercacol", {Action::kCercaColonna}, nullptr, nullptr, {}},
    {"filtro",
     {Action::kImpostaFiltro},
     nullptr,
     nullptr,
     {{"cFor", "PROV = 'CO' .AND. FIDO > 5000"}, {"cKey", "UPPER(RAGSOC)"}}},
    {"sostval",
     {Action::kSostituisciValori},
     nullptr,
     nullptr,
     {{"cCam", "CITTA"}, {"cExp", "UPPER(CITTA)"}, {"cFor", "PROV = 'CO'"}}},
    {"cancrec",
     {Action::kCancellaRecord},
     nullptr,
     nullptr,
     {{"cFor", "FIDO = 0 .AND. .NOT. ATTIVO"}}},
    {"copiatab",
     {Action::kCopiaTabella},
     "COPIA",
     nullptr,
     {{"cFor", "ATTIVO"}, {"cKey", "UPPER(CITTA)"}, {"cFmt", "CSV"}}},
    {"importarec", {Action::kImportaRecord}, nullptr, nullptr, {{"cFor", "IMPORTO > 100"}}},
    {"password", {Action::kImpostaPassword}, nullptr, nullptr, {}},
    {"infos", {Action::kInformazioni}, nullptr, nullptr, {}},
};

// Types a scene's entries into its dialog, as the user would.
void FillScene(const Scene& scene, QWidget* dialog) {
  for (const Scene::Entry& entry : scene.entries) {
    if (!entry.control) continue;
    QWidget* w = dialog->findChild<QWidget*>(entry.control);
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
      memo->setPlainText(entry.text);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      combo->setCurrentText(entry.text);
    } else {
      std::fprintf(stderr, "voskdbu: la scena %s non trova il campo %s\n", scene.name,
                   entry.control);
    }
  }
}

// Names on stderr every label and button of a drawn dialog that its text does not fit: the
// picture would show it cut ("Solo struttu").
void ReportClippedTexts(const QWidget* dialog) {
  for (const QWidget* w : dialog->findChildren<QWidget*>()) {
    if (!w->isVisible()) continue;
    QString text;
    int room = 0;  // the width the text gets: the widget's, less a check box's square
    const QRect shown =
        dialog->rect().intersected(QRect(w->mapTo(dialog, QPoint(0, 0)), w->size()));
    if (auto* label = qobject_cast<const QLabel*>(w); label && !label->wordWrap()) {
      text = label->text();
      room = shown.width();
    } else if (auto* check = qobject_cast<const QCheckBox*>(w)) {
      text = check->text();
      QStyleOptionButton option;
      option.initFrom(check);
      room = shown.width() -
             check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check).left();
    } else if (auto* button = qobject_cast<const QPushButton*>(w)) {
      text = button->text();
      room = shown.width() - 4;
    }
    text.remove('&');
    if (!text.isEmpty() && w->fontMetrics().horizontalAdvance(text) > room) {
      std::fprintf(stderr, "voskdbu: testo tagliato nella finestra: %s\n",
                   text.toUtf8().constData());
    }
  }
}

const Scene* SceneNamed(const QString& name) {
  for (const Scene& s : kScenes) {
    if (name == QLatin1String(s.name)) return &s;
  }
  return nullptr;
}

}  // namespace

QStringList SceneNames() {
  QStringList names;
  for (const Scene& s : kScenes) names << s.name;
  return names;
}

bool IsScene(const QString& name) { return SceneNamed(name) != nullptr; }

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

std::string QtUi::SceneFileName(const std::string& initial_dir, bool save) const {
  // The file dialog before a scene's dialog is answered without being shown: a new file in the
  // table's folder (nothing is made: the dialog is closed unconfirmed), or the first other
  // table there to read from.
  const QDir dir(FromApp(initial_dir.empty() ? CFILEPATH(CurTable().cCurTable) : initial_dir));
  const QString current = QFileInfo(FromApp(CurTable().cCurTable)).fileName();
  if (save) {
    const Scene* scene = SceneNamed(scene_);
    return PathToApp(dir.filePath(scene && scene->save_as ? QString(scene->save_as)
                                                          : QFileInfo(current).completeBaseName()));
  }
  for (const QString& name : dir.entryList({"*.DBF", "*.dbf"}, QDir::Files, QDir::Name)) {
    if (name.compare(current, Qt::CaseInsensitive) != 0) return PathToApp(dir.filePath(name));
  }
  return "";
}

std::string QtUi::GetFileName(const std::string& filter, const std::string& title,
                              int default_filter, const std::string& initial_dir, bool save) {
  if (dialog_shot_) return SceneFileName(initial_dir, save);
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
    QApplication::setCursorFlashTime(0);  // a steady caret: the same picture at every run
    QTimer::singleShot(150, window_.get(), [this] {
      if (const Scene* scene = SceneNamed(scene_)) {
        dialog_shot_ = true;
        if (scene->prepare) scene->prepare();
        for (Action action : scene->actions) {
          if (action != Action::kNone) RunCommand([&] { RunAction(action, window_->browse()); });
        }
        dialog_shot_ = false;
      } else {
        window_->activateWindow();
        window_->grid()->setFocus();
        QCoreApplication::processEvents();
        screenshot_written_ = window_->grab().save(screenshot_, "PNG");
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
  // The window proper, without the frame: applied back by ShowMainWindow the same way. The
  // frame's size is known only some time after the window is shown (and not at all without a
  // window manager): a position that counted it would move the window at every start.
  const QRect g = window_->geometry();
  return {g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

WindowRect QtUi::NormalWindowRect() {
  if (!window_) return {};
  const QRect normal = window_->normalGeometry();
  return {normal.x(), normal.y(), normal.x() + normal.width(), normal.y() + normal.height()};
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

std::vector<WindowRect> QtUi::ScreenAreas() {
  std::vector<WindowRect> areas;
  QScreen* primary = QGuiApplication::primaryScreen();
  QList<QScreen*> screens = QGuiApplication::screens();
  if (primary) {
    screens.removeAll(primary);
    screens.prepend(primary);
  }
  for (QScreen* screen : screens) {
    const QRect a = screen->availableGeometry();
    areas.push_back({a.x(), a.y(), a.x() + a.width(), a.y() + a.height()});
  }
  if (areas.empty()) return Ui::ScreenAreas();
  return areas;
}

int QtUi::RunDialog(Dialog& dlg) {
  auto running = std::make_shared<bool>(true);  // dlg is there for the timer below
  if (dialog_shot_) {
    dialog_shot_ = false;
    QTimer::singleShot(150, [this, &dlg, running] {
      QWidget* d = QApplication::activeModalWidget();
      if (!*running || !d) return;
      if (const Scene* scene = SceneNamed(scene_)) FillScene(*scene, d);
      QCoreApplication::processEvents();
      ReportClippedTexts(d);
      screenshot_written_ = d->grab().save(screenshot_, "PNG");
      dlg.lAsk = false;  // what the scene typed is dropped without asking
      d->close();
    });
  }
  QPoint origin;
  if (window_ && window_->grid()) origin = window_->grid()->GridToGlobal(QPoint(0, 0));
  // The keyboard focus goes back where it was once the dialog closes (a pop-up editor over the
  // grid leaves no window for the system to give it back to).
  QPointer<QWidget> focused = QApplication::focusWidget();
  const int result = RunDialogView(dlg, window_.get(), origin);
  *running = false;
  if (focused && focused->isVisible() && !QApplication::activeModalWidget()) {
    focused->activateWindow();
    focused->setFocus(Qt::OtherFocusReason);
  }
  return result;
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
