#ifndef VOSK_APP_MESSAGES_H_
#define VOSK_APP_MESSAGES_H_

// POPMSG, the message facility through which every question, warning and progress note of the
// Application is shown, and O2A.

#include <optional>
#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

class Ui;

// Options of a progress call (the fourth to ninth arguments of POPMSG; the fifth and sixth, the
// pop-up's display options, have no counterpart here).
struct ProgressOptions {
  bool replace_text = false;    // 4th: an open pop-up takes the new text
  std::optional<int> position;  // 7th: moves the progress position
  bool keep_open = false;       // 8th: a call without text does not close the pop-up
  bool next_page = false;       // 9th: advances the page counter, shown as the text
};

// POPMSG(cText, nType, cTitle, ...). The text is trimmed, converted by O2A and every ";" becomes
// a line break; the title defaults to "Attenzione". Kinds 1-6 show a modal box (2-6 beep first)
// and return: kind 1 nil; 2, 4, 5, 6 a logical (true for OK / Yes); 3 the button number (6 Yes,
// 7 No, 2 Cancel). kind 0 is the progress pop-up: a text opens it when none is open; while one
// is open a text replaces its text only with options.replace_text; a call without text closes
// it (unless keep_open or next_page). Returns nil for the progress pop-up. After every call
// pending window messages run.
Value POPMSG(std::string_view text = "", int kind = 0, std::string_view title = "",
             const ProgressOptions& options = {});
// The same on a given Ui (the error handler shows its messages on the Ui it was made with).
Value POPMSG(Ui& ui, std::string_view text, int kind = 0, std::string_view title = "",
             const ProgressOptions& options = {});

// Text of the open progress pop-up, or nullopt when none is open.
std::optional<std::string> ProgressText();

// OEM letters à è é ì ò ù to their ANSI forms: 0x85->0xE0, 0x8A->0xE8, 0x82->0xE9, 0x8D->0xEC,
// 0x95->0xF2, 0x97->0xF9.
std::string O2A(std::string_view text);

}  // namespace vosk

#endif  // VOSK_APP_MESSAGES_H_
