#ifndef VOSK_APP_TGET_H_
#define VOSK_APP_TGET_H_

// TGet: the input field's rules without any window: the picture, the filtering of every typed
// character by the value's type and the picture, the text shown (DispText) and the write-back
// of the edited text into the value (Assign). The Qt line edit (gui/tget_edit.h) holds the same
// text, caret and selection, hands each typed character and Delete to this core and shows the
// result.
//
// Text is Application text (ANSI, one byte per character); positions are byte offsets.
//
// Invariants: 0 <= caret() <= text().size(); the selection lies inside the text.

#include <string>

#include "expr/value.h"

namespace vosk {

class TGet {
 public:
  // A field on `value` (nil becomes the empty text) with `cPicture` ("" = none; a date gets
  // "99/99/9999" when none is given).
  TGet(Value value, std::string cPicture);

  const Value& value() const { return value_; }
  void set_value(Value value);
  const std::string& text() const { return text_; }
  int caret() const { return caret_; }
  int sel_start() const { return sel_start_; }
  int sel_len() const { return sel_len_; }
  bool modified() const { return modified_; }
  const std::string& cPicture() const { return cPicture_; }

  bool lReadOnly = false;
  bool lDelete = false;
  std::string cCode;  // cleared when a read-only field is emptied by Delete

  // The edit box moved the caret or the selection (clicks, arrow keys).
  void SetSel(int start, int len);
  void SetPos(int caret) { SetSel(caret, 0); }
  // The edit box's text changed by a paste, cut or undo that the core accepted.
  void SetText(std::string text);

  char GetType() const;  // 'C', 'D', 'N', 'L', 'T'
  int GetLen() const;    // the edit box's character limit
  std::string GetFunc() const;
  std::string GetMask() const;
  bool IsTemplate(int pos) const;  // the mask character at pos is fixed
  bool HasTemplates() const;
  bool BadDate() const;
  bool BadNumber() const;
  bool focused() const { return focused_; }

  void GotFocus();
  void LostFocus();
  // Shows the value formatted by the picture.
  void DispText();
  // Writes the edited text into the value.
  void Assign();

  // A typed character (Application text byte; 8 = Backspace, 9 Tab, 13 Enter, 27 Esc; Ctrl
  // combinations arrive as control characters). True when the character changed the text.
  bool KeyChar(unsigned char ch);
  // The Delete key. True when the text changed.
  bool KeyDelete();
  // Whether the toolkit may cut, paste or clear: only for text without fixed mask characters
  // in a field that is not read-only.
  bool ClipboardAllowed() const;

 private:
  void Insert(char c);  // as the edit box: replaces the selection, respects GetLen()
  void DeleteSel();     // removes the selected text
  void Backspace();     // as the edit box: the selection, else the character left of the caret
  void BlankSel();      // blanks the selected range keeping the fixed characters
  int SkipTemplates(int pos, int step) const;
  bool CharFitsMask(unsigned char ch, int pos) const;

  Value value_;
  std::string cPicture_;
  std::string cTmpPic_;  // the picture saved while the field has the focus
  bool lMinus_ = true;   // see GotFocus
  bool focused_ = false;
  bool modified_ = false;
  std::string text_;
  int caret_ = 0;
  int sel_start_ = 0, sel_len_ = 0;
};

}  // namespace vosk

#endif  // VOSK_APP_TGET_H_
