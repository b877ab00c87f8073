#ifndef VOSK_GUI_TEXT_H_
#define VOSK_GUI_TEXT_H_

// Application text (ANSI bytes, file names as the file system spells them) to and from Qt.

#include <QString>
#include <string>

namespace vosk {

// Application text for display.
QString FromApp(const std::string& text);
// A file name chosen in a Qt dialog, as the Application and the file system take it.
std::string PathToApp(const QString& path);

}  // namespace vosk

#endif  // VOSK_GUI_TEXT_H_
