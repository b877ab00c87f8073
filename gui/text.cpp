#include "gui/text.h"

#include <QFile>

#include "app/ansi.h"

namespace vosk {

QString FromApp(const std::string& text) { return QString::fromStdString(DisplayUtf8(text)); }

std::string PathToApp(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace vosk
