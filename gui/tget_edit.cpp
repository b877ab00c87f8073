#include "gui/tget_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>

#include "app/ansi.h"
#include "gui/text.h"

namespace vosk {

TGetEdit::TGetEdit(std::shared_ptr<TGet> core, QWidget* parent)
    : QLineEdit(parent), core_(std::move(core)) {
  if (core_->GetType() == 'N') setAlignment(Qt::AlignRight);
  setMaxLength(std::max(core_->GetLen(), 1));
  ShowCore();
}

void TGetEdit::ShowCore() {
  const QString text = FromApp(core_->text());
  if (this->text() != text) setText(text);
  if (core_->sel_len() > 0) {
    setSelection(core_->sel_start(), core_->sel_len());
  } else {
    setCursorPosition(core_->caret());
  }
}

void TGetEdit::SelectionToCore() {
  if (hasSelectedText()) {
    core_->SetSel(selectionStart(), static_cast<int>(selectedText().size()));
  } else {
    core_->SetPos(cursorPosition());
  }
}

void TGetEdit::keyPressEvent(QKeyEvent* event) {
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  SelectionToCore();
  if (event->key() == Qt::Key_Delete) {
    core_->KeyDelete();
    ShowCore();
    return;
  }
  if (event->key() == Qt::Key_Backspace) {
    core_->KeyChar(8);
    ShowCore();
    return;
  }
  if (ctrl && (event->key() == Qt::Key_C || event->key() == Qt::Key_V ||
               event->key() == Qt::Key_X || event->key() == Qt::Key_Z)) {
    if (event->key() == Qt::Key_C || core_->ClipboardAllowed()) {
      QLineEdit::keyPressEvent(event);
      if (event->key() != Qt::Key_C) core_->SetText(Ansi(text().toStdString()));
    }
    return;
  }
  const QString typed = event->text();
  if (!ctrl && typed.size() == 1 && typed[0].isPrint()) {
    const std::string ansi = Ansi(typed.toStdString());
    if (!ansi.empty()) core_->KeyChar(static_cast<unsigned char>(ansi[0]));
    ShowCore();
    return;
  }
  if (enter_moves_focus_ && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    focusNextChild();
    return;
  }
  // Enter, Esc, Tab and the caret keys: the edit box and the dialog.
  QLineEdit::keyPressEvent(event);
}

void TGetEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  core_->GotFocus();
  ShowCore();
}

void TGetEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  core_->LostFocus();
  ShowCore();
}

}  // namespace vosk
