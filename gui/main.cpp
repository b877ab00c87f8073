// voskdbu: the program's entry. Start-up routine, MAIN (which runs the main window), shutdown.

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <string>

#include "app/startup.h"
#include "app/voskdbu.h"
#include "gui/dispatcher.h"
#include "gui/qt_ui.h"
#include "gui/text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("VOSK Software DBU");
  QApplication::setQuitOnLastWindowClosed(false);  // MAIN decides when the program ends

  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  QTranslator qt_italian;
  if (qt_italian.load(QLocale(QLocale::Italian), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qt_italian);
  }
  QFont::insertSubstitution("Courier New", "Liberation Mono");
  QFont::insertSubstitution("Arial", "Liberation Sans");
  QFont::insertSubstitution("MS Sans Serif", "Liberation Sans");
  QApplication::setFont(QFont("MS Sans Serif", 9));

  // voskdbu [--screenshot FILE.png [--scene vistacol|memo]] [table]
  QString screenshot, scene;
  std::string table;
  QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--screenshot" && i + 1 < args.size()) {
      screenshot = args[++i];
    } else if (args[i] == "--scene" && i + 1 < args.size()) {
      scene = args[++i];
    } else if (table.empty()) {
      table = vosk::PathToApp(args[i]);
    }
  }

  vosk::QtUi ui(screenshot, scene);
  vosk::SetUi(&ui);
  vosk::RunCommand([&] {
    vosk::StartUp(ui);
    vosk::MAIN(table);
  });
  vosk::RunCommand([] { vosk::CLOSEALL(); });
  vosk::SetUi(nullptr);
  return 0;
}
