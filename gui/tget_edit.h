#ifndef VOSK_GUI_TGET_EDIT_H_
#define VOSK_GUI_TGET_EDIT_H_

// The input field on screen: a line edit whose every typed character, Delete, focus change and
// clipboard request goes through its TGet core, which decides what the text becomes.

#include <QLineEdit>
#include <memory>

#include "app/tget.h"

namespace vosk {

class TGetEdit : public QLineEdit {
 public:
  TGetEdit(std::shared_ptr<TGet> core, QWidget* parent = nullptr);

  TGet& core() { return *core_; }
  // Enter moves the focus to the next control (dialogs); otherwise it only reports
  // returnPressed (the cell editor, where it confirms).
  void set_enter_moves_focus(bool on) { enter_moves_focus_ = on; }
  // Shows the core's text, caret and selection.
  void ShowCore();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void SelectionToCore();
  std::shared_ptr<TGet> core_;
  bool enter_moves_focus_ = false;
};

}  // namespace vosk

#endif  // VOSK_GUI_TGET_EDIT_H_
