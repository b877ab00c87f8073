#ifndef VOSK_GUI_ICONS_H_
#define VOSK_GUI_ICONS_H_

// The pictures of the button bar, the status bar and the window, drawn at run time: NUOVO,
// APRI, COPIATAB, IMPORTAREC, CERCACOL, VISTACOL, FILTRO, CHIUDI, AGGIORNA, ESCI, CRYPTED,
// VUOTO and ICONA, the column chooser's OK, CANCEL, ALL and SELECT, the password dialog's
// ELIMINA and the information box's VOSK. An unknown
// name gives a blank picture.

#include <QIcon>
#include <string>

namespace vosk {

QIcon DrawnIcon(const std::string& name);

}  // namespace vosk

#endif  // VOSK_GUI_ICONS_H_
