#ifndef VOSK_GUI_DIALOG_VIEW_H_
#define VOSK_GUI_DIALOG_VIEW_H_

// Draws a dialog description of the Application with Qt widgets and runs it modally. Every
// attempt to close goes through the dialog protocol (DialogTryClose); the widgets only gather
// values.

#include <QPoint>

class QWidget;

namespace vosk {

struct Dialog;

// Runs `dlg` over `parent`. For a pop-up over a cell, `origin` is the screen position of the
// grid's pixel (0, 0). Returns the dialog's result (1 for Conferma).
int RunDialogView(Dialog& dlg, QWidget* parent, QPoint origin);

}  // namespace vosk

#endif  // VOSK_GUI_DIALOG_VIEW_H_
