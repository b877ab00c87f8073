// voskdbu: the program's entry. Start-up routine, MAIN (which runs the main window), shutdown.

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/program_info.h"
#include "app/startup.h"
#include "app/voskdbu.h"
#include "gui/dispatcher.h"
#include "gui/qt_ui.h"
#include "gui/text.h"
#include "transfer/register.h"

namespace {

constexpr char kUsage[] = "uso: voskdbu [--screenshot FILE.png [--scene SCENA]] [TABELLA.DBF]\n";

// voskdbu --help: the usage in the words of the manual page voskdbu(1).
void PrintHelp() {
  std::printf("%s", kUsage);
  std::printf(
      "Apre la tabella indicata (o ne chiede una) nella finestra principale di %s.\n"
      "\n"
      "  --screenshot FILE.png  disegna la finestra in FILE.png ed esce\n"
      "  --scene SCENA          con --screenshot: disegna invece la finestra di dialogo che il\n"
      "                         comando della scena apre per prima, e la chiude\n"
      "  --version              mostra la versione ed esce\n"
      "  --help                 mostra questo aiuto ed esce\n"
      "\n"
      "scene: %s\n",
      vosk::ProgramName(), vosk::SceneNames().join(' ').toUtf8().constData());
}

// The options answered before any window exists: --version and --help. Returns the exit
// status, or -1 to go on.
int EarlyOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("voskdbu (%s) %s\n", vosk::ProgramName(), vosk::ProgramVersion());
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintHelp();
      return 0;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = EarlyOptions(argc, argv); status >= 0) return status;
  QApplication app(argc, argv);
  QApplication::setApplicationName(vosk::ProgramName());
  QApplication::setApplicationVersion(vosk::ProgramVersion());
  QGuiApplication::setDesktopFileName("voskdbu");  // the installed voskdbu.desktop
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

  // voskdbu [--screenshot FILE.png [--scene SCENE]] [table]; Qt has taken its own
  // options (-platform, -style, ...) out of the arguments.
  QString screenshot, scene;
  std::string table;
  QStringList args = QApplication::arguments();
  bool options_end = false;
  for (int i = 1; i < args.size(); ++i) {
    if (!options_end && args[i] == "--") {
      options_end = true;
    } else if (!options_end && (args[i] == "--screenshot" || args[i] == "--scene")) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "voskdbu: l'opzione %s richiede un valore\n%s",
                     args[i].toLocal8Bit().constData(), kUsage);
        return 2;
      }
      QString& value = args[i] == "--screenshot" ? screenshot : scene;
      value = args[++i];
    } else if (!options_end && args[i].startsWith("-") && args[i].size() > 1) {
      std::fprintf(stderr, "voskdbu: opzione sconosciuta %s\n%s", args[i].toLocal8Bit().constData(),
                   kUsage);
      return 2;
    } else if (table.empty()) {
      table = vosk::PathToApp(args[i]);
    }
  }

  if (!scene.isEmpty() && (screenshot.isEmpty() || !vosk::IsScene(scene))) {
    std::fprintf(stderr, "voskdbu: %s %s\n%s",
                 screenshot.isEmpty() ? "--scene senza --screenshot:" : "scena sconosciuta",
                 scene.toLocal8Bit().constData(), kUsage);
    return 2;
  }
  vosk::QtUi ui(screenshot, scene);
  vosk::SetUi(&ui);
  vosk::RunProgram([&] {
    // The drivers of the copy and import commands that stand on outside libraries (SQLite,
    // XLSX) beside the table engine's own.
    vosk::RegisterTransferDrivers();
    vosk::StartUp(ui);
    vosk::MAIN(table);
  });
  vosk::RunProgram([] { vosk::CLOSEALL(); });
  vosk::EndOfProgram();  // before ui goes: no area left open, no handler holding ui
  vosk::SetUi(nullptr);
  if (!screenshot.isEmpty() && !ui.screenshot_written()) {
    std::fprintf(stderr, "voskdbu: %s non disegnato: %s\n", screenshot.toLocal8Bit().constData(),
                 scene.isEmpty() ? "la finestra non si è aperta"
                                 : "il comando della scena non ha aperto la sua finestra");
    return 1;
  }
  return 0;
}
