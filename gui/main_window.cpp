#include "gui/main_window.h"

#include <algorithm>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QStatusBar>
#include <QToolButton>
#include <functional>

#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/key_search.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/table_presence.h"
#include "app/voskdbu.h"
#include "gui/dispatcher.h"
#include "gui/icons.h"
#include "gui/text.h"
#include "gui/twbrowse_widget.h"

namespace vosk {

namespace {

// A status-bar item that runs an action when clicked.
class StatusItemLabel : public QLabel {
 public:
  StatusItemLabel(std::function<void()> on_click, QWidget* parent)
      : QLabel(parent), on_click_(std::move(on_click)) {}

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) on_click_();
    QLabel::mousePressEvent(event);
  }

 private:
  std::function<void()> on_click_;
};

QString ColourStyle(uint32_t rgb) {
  return QString("color: #%1;").arg(rgb, 6, 16, QLatin1Char('0'));
}

}  // namespace

MainWindow::MainWindow() {
  setObjectName("oWnd");
  setWindowTitle(FromApp(MainWindowTitle()));
  setWindowIcon(DrawnIcon("ICONA"));
  setContextMenuPolicy(Qt::NoContextMenu);

  for (const Menu& menu : MainMenus()) {
    QMenu* qmenu = menuBar()->addMenu(FromApp(menu.title));
    BuildMenu(menu.items, qmenu, true);
  }
  BuildButtonBar();
  BuildStatusBar();

  grid_ = new TWBrowseWidget(this);
  setCentralWidget(grid_);
  TWBrowse* core = &grid_->core();
  grid_->bKeyDown = [core](int vk, bool ctrl) { return TASTI(core, vk, ctrl); };
  // Under a controlling order, typed characters search its keys.
  grid_->bKeyChar = [core](int ch) {
    if (OrderControls()) KEYSEARCH(core, ch);
  };
  grid_->bLDblClick = [core] { TASTI(core, kVkReturn, false); };
  grid_->bRClicked = [core](int y, int x) { RMENU(core, y, x); };
  RunCommand([this, core] {
    InstallBrowseHandlers(core);
    REBUILDBRW(core);
    core->Stabilize(true);
    SetStatusText(STATMSG(core).value_or(""));
  });
  // Every 5 seconds the grid re-synchronises with the table, so that changes made by other
  // programs appear; the timer is off while it works, so ticks never nest.
  refresh_timer_.setInterval(5000);
  connect(&refresh_timer_, &QTimer::timeout, this, [this, core] {
    // A tick in the middle of a command (inside one of its boxes) waits for the next one.
    if (CommandRunning()) return;
    refresh_timer_.stop();
    RunCommand([this, core] {
      // A table file removed or replaced by another program is told about (once).
      if (!TABLEPRESENT(core, true)) return;
      // Files that did not change since the last tick leave nothing to re-synchronise.
      const std::string stamp = TableStamp();
      if (stamp == refresh_stamp_) return;
      core->Stabilize(false);
      refresh_stamp_ = TableStamp();
    });
    refresh_timer_.start();
  });
  refresh_timer_.start();
  grid_->setFocus();
}

void MainWindow::SetRecentFiles(const std::vector<std::string>& paths) {
  if (!recent_menu_) return;
  recent_menu_->clear();
  for (const std::string& path : paths) {
    QAction* action = recent_menu_->addAction(FromApp(path));
    action->setStatusTip("Apri questa tabella");
    connect(action, &QAction::triggered, this,
            [this, path] { RunCommand([this, path] { BLOCKMRU(&grid_->core(), path); }); });
  }
}

void MainWindow::SetRefreshTimer(bool active) {
  if (active) {
    refresh_timer_.start();
  } else {
    refresh_timer_.stop();
  }
}

MainWindow::~MainWindow() = default;

QMenu* MainWindow::BuildMenu(const std::vector<MenuItem>& items, QMenu* menu, bool in_menu_bar) {
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItem::Kind::kSeparator:
        menu->addSeparator();
        break;
      case MenuItem::Kind::kSubmenu: {
        QMenu* sub = menu->addMenu(FromApp(item.prompt));
        if (in_menu_bar) recent_menu_ = sub;
        break;
      }
      case MenuItem::Kind::kCommand: {
        QAction* action = menu->addAction(FromApp(item.FullPrompt()));
        action->setStatusTip(FromApp(item.message));
        if (item.check != Check::kNone) {
          action->setCheckable(true);
          action->setChecked(ItemChecked(item.check));
        }
        Action id = item.action;
        connect(action, &QAction::triggered, this, [this, id] { Run(id); });
        entries_.push_back({action, item.prompt, id, item.when, in_menu_bar});
        break;
      }
    }
  }
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateEnabled(menu); });
  UpdateEnabled(menu);
  return menu;
}

void MainWindow::UpdateEnabled(QMenu* menu) {
  RunCommand([&] {
    for (const Entry& e : entries_) {
      if (menu->actions().contains(e.action)) e.action->setEnabled(ItemEnabled(e.id, e.when));
    }
  });
}

void MainWindow::BuildButtonBar() {
  button_bar_ = addToolBar("Pulsanti");
  button_bar_->setObjectName("ButtonBar");
  button_bar_->setMovable(false);
  button_bar_->setFloatable(false);
  button_bar_->setContextMenuPolicy(Qt::PreventContextMenu);
  button_bar_->setIconSize(QSize(24, 24));
  button_bar_->toggleViewAction()->setVisible(false);
  for (const ToolButton& b : ButtonBar()) {
    if (b.group_start) {
      auto* gap = new QWidget(button_bar_);
      gap->setFixedWidth(8);
      button_bar_->addWidget(gap);
    }
    auto* button = new QToolButton(button_bar_);
    button->setObjectName(QString::fromStdString(b.bitmap));
    button->setIcon(DrawnIcon(b.bitmap));
    button->setToolTip(FromApp(b.tooltip));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setEnabled(ItemEnabled(b.action, When::kAlways));
    int width = kButtonSize;
    if (!b.drop_down.empty()) {
      auto* menu = new QMenu(button);
      BuildMenu(b.drop_down, menu, false);
      button->setMenu(menu);
      button->setPopupMode(QToolButton::MenuButtonPopup);
      button->setEnabled(true);  // the arrow opens the menu even when the button's own
                                 // command is not there
      width += kDropDownArrowWidth;
    }
    button->setFixedSize(width, kButtonSize);
    Action id = b.action;
    connect(button, &QToolButton::clicked, this, [this, id] {
      if (ItemEnabled(id, When::kAlways)) Run(id);
      // After a button the keyboard focus goes back to the browse.
      if (grid_) grid_->setFocus();
    });
    button_bar_->addWidget(button);
  }
}

void MainWindow::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  status_message_ = new QLabel(bar);
  status_message_->setObjectName("StatusMessage");
  bar->addWidget(status_message_, 1);
  const auto& items = StatusItems();
  for (size_t i = 0; i < items.size(); ++i) {
    const StatusItem& item = items[i];
    Action id = item.click;
    auto* label = new StatusItemLabel(
        [this, id] {
          if (ItemEnabled(id, When::kAlways)) Run(id);
        },
        bar);
    label->setObjectName(QString("StatusItem%1").arg(i + 1));
    label->setFixedWidth(item.width);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    if (item.colour) label->setStyleSheet(ColourStyle(*item.colour));
    if (!item.bitmap.empty()) label->setPixmap(DrawnIcon(item.bitmap).pixmap(16, 16));
    label->setToolTip(FromApp(item.tooltip));
    // An inactive item shows its inactive picture but stays enabled: it still takes clicks.
    label->setProperty("active", item.starts_active);
    bar->addPermanentWidget(label);
    status_items_.push_back(label);
  }
  RunCommand([this] {
    for (int item = 2; item <= 4; ++item) SetStatusItem(item, StatusItemText(item));
  });
}

void MainWindow::Run(Action action) {
  RunCommand([this, action] { RunAction(action, grid_ ? &grid_->core() : nullptr); });
}

std::vector<QAction*> MainWindow::MenuActions(const std::string& prompt) const {
  std::vector<QAction*> found;
  for (const Entry& e : entries_) {
    if (e.in_menu_bar && e.prompt == prompt) found.push_back(e.action);
  }
  return found;
}

void MainWindow::SetMenuCheck(const std::string& prompt, bool checked) {
  for (QAction* action : MenuActions(prompt)) action->setChecked(checked);
}

void MainWindow::SetStatusItem(int item, const std::string& text) {
  if (item >= 1 && item <= static_cast<int>(status_items_.size())) {
    QLabel* label = status_item(item);
    label->setText(FromApp(text));
    // A longer text than the item was made for (a code page's name) widens it.
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 4;
    label->setFixedWidth(std::max(StatusItems()[static_cast<size_t>(item - 1)].width, needed));
  }
}

void MainWindow::SetStatusItemState(int item, bool active, const std::string& tooltip) {
  if (item < 1 || item > static_cast<int>(status_items_.size())) return;
  QLabel* label = status_item(item);
  // The password item shows "CRYPTED" while active and nothing ("VUOTO") otherwise.
  const StatusItem& described = StatusItems()[static_cast<size_t>(item - 1)];
  const std::string& bitmap =
      active && !described.active_bitmap.empty() ? described.active_bitmap : described.bitmap;
  if (!bitmap.empty()) label->setPixmap(DrawnIcon(bitmap).pixmap(16, 16));
  label->setProperty("active", active);
  label->setToolTip(FromApp(tooltip));
}

void MainWindow::SetStatusText(const std::string& text) { status_message_->setText(FromApp(text)); }

Browse* MainWindow::browse() { return grid_ ? &grid_->core() : nullptr; }

void MainWindow::ShowWithSavedGeometry() {
  RunCommand([] { RESIZE(std::nullopt); });
  recording_geometry_ = true;
}

void MainWindow::Place(int top, int left, int width, int height, bool maximized) {
  // The window proper at (left, top), as MainWindowRect() reads it back.
  setGeometry(left, top, width, height);
  if (maximized) {
    showMaximized();
  } else {
    showNormal();
    // Once the window system has put its frame around the window: the frame too on the screen
    // (the title bar above a window at the screen's top edge would be out of reach).
    QTimer::singleShot(0, this, [this] { KeepFrameOnScreen(); });
  }
}

void MainWindow::KeepFrameOnScreen() {
  if (isMaximized() || isMinimized() || isFullScreen()) return;
  QScreen* s = screen();
  if (!s) return;
  const QRect area = s->availableGeometry();
  const QRect frame = frameGeometry();
  if (area.contains(frame)) return;
  const QRect inner = geometry();
  const int extra_w = frame.width() - inner.width(), extra_h = frame.height() - inner.height();
  const int width = std::min(inner.width(), area.width() - extra_w);
  const int height = std::min(inner.height(), area.height() - extra_h);
  if (width != inner.width() || height != inner.height()) resize(width, height);
  const int frame_w = width + extra_w, frame_h = height + extra_h;
  const int x = std::clamp(frame.x(), area.x(), area.x() + area.width() - frame_w);
  const int y = std::clamp(frame.y(), area.y(), area.y() + area.height() - frame_h);
  if (x != frame.x() || y != frame.y()) move(x, y);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (recording_geometry_) RunCommand([] { RESIZE(-1); });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!recording_geometry_ || isMinimized()) return;
  int type = isMaximized() ? 2 : 0;
  RunCommand([type] { RESIZE(type); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  recording_geometry_ = false;
  refresh_timer_.stop();
  QMainWindow::closeEvent(event);
  QCoreApplication::quit();
}

}  // namespace vosk
