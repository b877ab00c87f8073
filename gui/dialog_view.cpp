#include "gui/dialog_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/ansi.h"
#include "app/browse_view.h"
#include "app/dialog.h"
#include "gui/dispatcher.h"
#include "gui/icons.h"
#include "gui/text.h"
#include "gui/tget_edit.h"

namespace vosk {
namespace {

constexpr double kUnitX = 1.6, kUnitY = 1.6;  // dialog units to pixels

class DialogView : public QDialog {
 public:
  DialogView(Dialog& dlg, QWidget* parent, QPoint origin);

  void reject() override { TryClose(std::nullopt); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void TryClose(std::optional<int> cargo);
  void ControlChanged(int index);
  // The user changed control i: its change hook runs, then every control's enabling block.
  void UserChanged(size_t i);
  void Toggle(int row);
  // Fills a field list with its rows (tab-separated cells).
  static void FillList(QTreeWidget* tree, const std::vector<std::string>& rows);
  // A key of the field list (control `index`) handed to the dialog's key hook.
  bool ListKey(QTreeWidget* tree, size_t index, int vk, bool ctrl);
  void UpdateStatus();
  int ToPxX(int du) const { return dlg_.popup ? du : static_cast<int>(du * kUnitX); }
  int ToPxY(int du) const { return dlg_.popup ? du : static_cast<int>(du * kUnitY); }

  Dialog& dlg_;
  std::vector<QWidget*> widgets_;  // one per control
  QLabel* status_ = nullptr;
};

DialogView::DialogView(Dialog& dlg, QWidget* parent, QPoint origin) : QDialog(parent), dlg_(dlg) {
  setObjectName(QString::fromStdString(dlg.resource.empty() ? "POPUP" : dlg.resource));
  setWindowTitle(FromApp(dlg.title));
  QFont fixed("Courier New");
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setPixelSize(12);
  int top = 0;
  if (!dlg.toolbar.empty()) {
    auto* bar = new QToolBar(this);
    bar->setIconSize(QSize(16, 16));
    for (const Dialog::ToolButton& t : dlg.toolbar) {
      if (t.group_start) bar->addSeparator();
      QAction* a = bar->addAction(DrawnIcon(t.bitmap), FromApp(t.tooltip));
      a->setObjectName(QString::fromStdString(t.bitmap));
      a->setToolTip(FromApp(t.tooltip));
      const int id = t.id;
      connect(a, &QAction::triggered, this, [this, id] {
        bool closed = false;
        RunCommand([&] { closed = dlg_.on_tool && dlg_.on_tool(dlg_, id); });
        if (closed) done(dlg_.result);
        UpdateStatus();
        if (!widgets_.empty() && widgets_[0]) widgets_[0]->setFocus();
      });
    }
    bar->setGeometry(0, 0, ToPxX(dlg.width), 28);
    top = 28;
  }
  for (size_t i = 0; i < dlg.controls.size(); ++i) {
    Control& c = dlg.controls[i];
    QWidget* w = nullptr;
    switch (c.kind) {
      case ControlKind::kLabel: {
        auto* label = new QLabel(FromApp(c.label), this);
        if (!c.bitmap.empty()) {
          label->setPixmap(DrawnIcon(c.bitmap).pixmap(ToPxX(c.width), ToPxY(c.height)));
          label->setAlignment(Qt::AlignCenter);
        }
        w = label;
        break;
      }
      case ControlKind::kLine: {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        w = line;
        break;
      }
      case ControlKind::kGet: {
        auto* edit = new TGetEdit(c.get, this);
        edit->setReadOnly(c.read_only);
        if (c.password) edit->setEchoMode(QLineEdit::Password);
        edit->set_enter_moves_focus(!dlg.popup);
        if (dlg.popup) edit->setFrame(false);
        if (dlg.background) {
          const uint32_t rgb = *dlg.background;
          edit->setStyleSheet(QString("background: #%1;").arg(rgb, 6, 16, QLatin1Char('0')));
        }
        connect(edit, &QLineEdit::returnPressed, this, [this] {
          if (dlg_.popup) TryClose(1);
        });
        w = edit;
        break;
      }
      case ControlKind::kMemo: {
        auto* edit = new QPlainTextEdit(this);
        // Memo lines end in CR LF; the editor works with LF.
        edit->setPlainText(FromApp(c.value.is_string() ? c.value.str() : "").replace("\r\n", "\n"));
        edit->setReadOnly(c.read_only);
        edit->setTabChangesFocus(!c.takes_tab);
        connect(edit, &QPlainTextEdit::textChanged, this, [this, i, edit] {
          Control& m = dlg_.controls[i];
          QString typed = edit->toPlainText();
          if (m.max_length > 0 && typed.size() > m.max_length) {
            // No more than the field holds: the text typed beyond is refused.
            typed.truncate(m.max_length);
            const QSignalBlocker block(edit);
            edit->setPlainText(typed);
            edit->moveCursor(QTextCursor::End);
          }
          std::string text = typed.replace("\n", "\r\n").toStdString();
          m.value = Value::String(Ansi(text), true);
          m.changed = true;
          UserChanged(i);
        });
        w = edit;
        break;
      }
      case ControlKind::kCombo: {
        auto* combo = new QComboBox(this);
        for (const std::string& item : c.items) combo->addItem(FromApp(item));
        if (c.value.is_string()) combo->setCurrentText(FromApp(c.value.str()));
        connect(combo, &QComboBox::currentTextChanged, this, [this, i](const QString& text) {
          Control& m = dlg_.controls[i];
          m.value = Value::String(Ansi(text.toStdString()));
          UserChanged(i);  // its change hook, then which controls are enabled
        });
        w = combo;
        break;
      }
      case ControlKind::kCheck: {
        auto* check = new QCheckBox(FromApp(c.label), this);
        check->setChecked(c.value.is_logical() && c.value.logical());
        connect(check, &QCheckBox::toggled, this, [this, i](bool on) {
          Control& m = dlg_.controls[i];
          if (m.value.is_logical() && m.value.logical() == on) return;  // set by the program
          m.value = Value::Logical(on);
          m.changed = true;
          UserChanged(i);
        });
        w = check;
        break;
      }
      case ControlKind::kButton: {
        auto* button = new QPushButton(FromApp(c.label), this);
        button->setAutoDefault(true);  // Enter on a focused button presses it
        if (!c.bitmap.empty()) button->setIcon(DrawnIcon(c.bitmap));
        const int id = c.id;
        connect(button, &QPushButton::clicked, this, [this, id] {
          if (id == kIdConferma) {
            TryClose(1);
          } else if (id == kIdAnnulla) {
            TryClose(2);
          } else if (dlg_.on_tool) {
            bool closed = false;
            RunCommand([&] { closed = dlg_.on_tool(dlg_, id); });
            if (closed) done(dlg_.result);
          }
        });
        w = button;
        break;
      }
      case ControlKind::kFieldList: {
        auto* tree = new QTreeWidget(this);
        tree->setFont(fixed);
        tree->setRootIsDecorated(false);
        tree->setUniformRowHeights(true);
        QStringList headers = FromApp(c.label).split('\t');
        headers << ""
                << "";
        tree->setHeaderLabels(headers);
        // The last column holds the chooser's marks; a list without marks leaves it empty.
        const int widths[] = {100, 99, 50, 50, c.marks.empty() ? 0 : 16};
        for (int col = 0; col < 5; ++col) tree->setColumnWidth(col, widths[col]);
        FillList(tree, c.items);
        connect(tree, &QTreeWidget::currentItemChanged, this, [this, tree] {
          dlg_.focus_row = tree->indexOfTopLevelItem(tree->currentItem());
          UpdateStatus();
        });
        connect(tree, &QTreeWidget::itemClicked, this,
                [this, tree](QTreeWidgetItem* item, int col) {
                  if (col == 4) Toggle(tree->indexOfTopLevelItem(item));
                });
        connect(tree, &QTreeWidget::itemDoubleClicked, this,
                [this, tree, i] { ListKey(tree, i, kVkReturn, false); });
        tree->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(tree, &QTreeWidget::customContextMenuRequested, this,
                [this, tree, i](const QPoint& at) {
                  if (!dlg_.on_list_menu) return;
                  dlg_.focus_row = tree->indexOfTopLevelItem(tree->currentItem());
                  RunCommand([&] { dlg_.on_list_menu(dlg_, at.x(), at.y()); });
                  ControlChanged(static_cast<int>(i));
                  UpdateStatus();
                });
        tree->installEventFilter(this);
        w = tree;
        break;
      }
    }
    w->setObjectName(
        QString::fromStdString(c.name.empty() ? "ctl" + std::to_string(c.id) : c.name));
    if (dlg.fixed_font && c.kind != ControlKind::kButton) w->setFont(fixed);
    if (!c.tooltip.empty()) w->setToolTip(FromApp(c.tooltip));
    int width = ToPxX(c.width);
    // A label is never cut short: it takes the width its text needs.
    if (c.kind == ControlKind::kLabel && c.bitmap.empty()) {
      width = std::max(width, w->sizeHint().width());
    }
    w->setGeometry(ToPxX(c.col), top + ToPxY(c.row), width, ToPxY(c.height));
    if (c.kind == ControlKind::kFieldList) {
      w->setGeometry(0, top, ToPxX(dlg.width), ToPxY(dlg.height) - 22);
    }
    w->setEnabled(c.Enabled());
    w->setVisible(!c.hidden);
    if (c.on_lost_focus) w->installEventFilter(this);
    widgets_.push_back(w);
  }
  dlg.on_control_changed = [this](int index) { ControlChanged(index); };
  if (dlg.status_text) {
    status_ = new QLabel(this);
    status_->setObjectName("DialogStatus");
    status_->setFrameShape(QFrame::Panel);
    status_->setFrameShadow(QFrame::Sunken);
    status_->setGeometry(0, top + ToPxY(dlg.height) - 20, ToPxX(dlg.width), 20);
  }
  if (dlg.popup) {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setGeometry(
        QRect(origin + QPoint(dlg.popup->left, dlg.popup->top),
              QSize(dlg.popup->right - dlg.popup->left, dlg.popup->bottom - dlg.popup->top)));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Base));
    setPalette(pal);
  } else {
    setFixedSize(ToPxX(dlg.width), top + ToPxY(dlg.height));
  }
  for (size_t i = 0; i < dlg.controls.size(); ++i) ControlChanged(static_cast<int>(i));
  if (dlg.focus >= 0 && dlg.focus < static_cast<int>(widgets_.size())) {
    widgets_[static_cast<size_t>(dlg.focus)]->setFocus();
  }
  UpdateStatus();
}

bool DialogView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    for (size_t i = 0; i < widgets_.size(); ++i) {
      if (widgets_[i] != watched || !dlg_.controls[i].on_lost_focus) continue;
      // After the control itself has taken the focus loss (an input field assigns its value).
      QMetaObject::invokeMethod(
          this,
          [this, i] {
            if (i < dlg_.controls.size() && dlg_.controls[i].on_lost_focus) {
              RunCommand([&] { dlg_.controls[i].on_lost_focus(); });
            }
          },
          Qt::QueuedConnection);
    }
  }
  if (event->type() == QEvent::KeyPress) {
    auto* tree = qobject_cast<QTreeWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (tree && key->key() == Qt::Key_Space) {
      Toggle(tree->indexOfTopLevelItem(tree->currentItem()));
      return true;
    }
    if (tree && dlg_.on_list_key) {
      const bool ctrl = key->modifiers() & Qt::ControlModifier;
      int vk = 0;
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) vk = kVkReturn;
      if (key->key() == Qt::Key_Insert) vk = kVkInsert;
      if (key->key() == Qt::Key_Delete) vk = kVkDelete;
      if (key->key() == Qt::Key_A && ctrl) vk = 'A';
      for (size_t i = 0; vk != 0 && i < widgets_.size(); ++i) {
        if (widgets_[i] == tree) return ListKey(tree, i, vk, ctrl);
      }
    }
    // Letters typed in a list move to the row whose name begins with them.
    const std::string typed = Ansi(key->text().toStdString());
    if (tree && dlg_.on_key_char && typed.size() == 1 && !(key->modifiers() & Qt::ControlModifier)) {
      const int ch = static_cast<unsigned char>(typed[0]);
      if ((ch >= 32 && ch <= 126) || ch == 8) {
        dlg_.focus_row = tree->indexOfTopLevelItem(tree->currentItem());
        bool moved = false;
        RunCommand([&] { moved = dlg_.on_key_char(dlg_, ch); });
        if (moved && dlg_.focus_row >= 0 && dlg_.focus_row < tree->topLevelItemCount()) {
          tree->setCurrentItem(tree->topLevelItem(dlg_.focus_row));
        }
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void DialogView::UserChanged(size_t i) {
  RunCommand([&] {
    if (dlg_.controls[i].on_change) dlg_.controls[i].on_change();
  });
  for (size_t k = 0; k < widgets_.size() && k < dlg_.controls.size(); ++k) {
    if (widgets_[k]) widgets_[k]->setEnabled(dlg_.controls[k].Enabled());
  }
}

void DialogView::FillList(QTreeWidget* tree, const std::vector<std::string>& rows) {
  const QSignalBlocker block(tree);
  tree->clear();
  for (const std::string& row : rows) {
    auto* item = new QTreeWidgetItem(tree, FromApp(row).split('\t'));
    item->setTextAlignment(2, Qt::AlignRight);
    item->setTextAlignment(3, Qt::AlignRight);
  }
}

bool DialogView::ListKey(QTreeWidget* tree, size_t index, int vk, bool ctrl) {
  dlg_.focus_row = tree->indexOfTopLevelItem(tree->currentItem());
  bool taken = false;
  RunCommand([&] { taken = dlg_.on_list_key(dlg_, vk, ctrl); });
  ControlChanged(static_cast<int>(index));
  UpdateStatus();
  return taken;
}

void DialogView::Toggle(int row) {
  if (row < 0) return;
  RunCommand([&] { CAMBIAVIS(dlg_, row + 1); });
}

void DialogView::UpdateStatus() {
  if (status_ && dlg_.status_text) status_->setText(FromApp(dlg_.status_text(dlg_)));
}

void DialogView::ControlChanged(int index) {
  if (index < 0 || index >= static_cast<int>(widgets_.size())) return;
  Control& c = dlg_.controls[static_cast<size_t>(index)];
  QWidget* w = widgets_[static_cast<size_t>(index)];
  if (auto* edit = dynamic_cast<TGetEdit*>(w)) edit->ShowCore();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
    const QString text = FromApp(c.value.is_string() ? c.value.str() : "").replace("\r\n", "\n");
    if (c.read_only || memo->toPlainText() != text) {
      const QSignalBlocker block(memo);
      memo->setPlainText(text);
    }
  }
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    const QString text = FromApp(c.value.is_string() ? c.value.str() : "");
    if (combo->currentText() != text) {
      const QSignalBlocker block(combo);
      combo->setCurrentText(text);
    }
  }
  w->setVisible(!c.hidden);
  w->setEnabled(c.Enabled());
  if (auto* check = qobject_cast<QCheckBox*>(w)) {
    check->setChecked(c.value.is_logical() && c.value.logical());
  }
  if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
    // Rows added, removed or edited: the list is filled again and the current row shown.
    bool same = tree->topLevelItemCount() == static_cast<int>(c.items.size());
    for (int row = 0; same && row < tree->topLevelItemCount(); ++row) {
      const QStringList cells = FromApp(c.items[static_cast<size_t>(row)]).split('\t');
      for (int col = 0; same && col < cells.size(); ++col) {
        same = tree->topLevelItem(row)->text(col) == cells[col];
      }
    }
    if (!same) FillList(tree, c.items);
    if (dlg_.focus_row >= 0 && dlg_.focus_row < tree->topLevelItemCount() &&
        tree->indexOfTopLevelItem(tree->currentItem()) != dlg_.focus_row) {
      tree->setCurrentItem(tree->topLevelItem(dlg_.focus_row));
    }
    for (int row = 0; row < tree->topLevelItemCount(); ++row) {
      const bool on = row < static_cast<int>(c.marks.size()) && c.marks[static_cast<size_t>(row)];
      tree->topLevelItem(row)->setIcon(4, on ? DrawnIcon("SELECT") : QIcon());
    }
  }
  // The failing control is red while its message is shown.
  QPalette pal = w->palette();
  pal.setColor(QPalette::Base, c.failing ? QColor(255, 0, 0) : palette().color(QPalette::Base));
  w->setPalette(pal);
  if (c.failing) {
    w->repaint();
  } else if (dlg_.focus == index) {
    w->setFocus();
  }
}

void DialogView::TryClose(std::optional<int> cargo) {
  // The focused field gives up its text before the checks.
  if (QWidget* f = focusWidget()) {
    for (size_t i = 0; i < widgets_.size(); ++i) {
      if (widgets_[i] == f) dlg_.focus = static_cast<int>(i);
    }
  }
  bool closes = false;
  RunCommand([&] { closes = DialogTryClose(dlg_, cargo); });
  if (closes) done(dlg_.result);
}

}  // namespace

int RunDialogView(Dialog& dlg, QWidget* parent, QPoint origin) {
  DialogView view(dlg, parent, origin);
  view.exec();
  dlg.on_control_changed = nullptr;
  return dlg.result;
}

}  // namespace vosk
