// The record commands on a large table, from the command to the first page painted: replace
// one field in every record (goal under 2 s), delete by condition, pack. The progress pop-up's
// bar is recorded: how many times it moved and the longest time it stood still.
//
//   bench_record_commands TABLE
//
// TABLE is the 1,000,000-record table of bench/scan.sh (NAME, CITY, AMOUNT, DAY, FLAG, QTY);
// it is changed, so bench/record_commands.sh hands a copy.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/group_commands.h"
#include "app/startup.h"
#include "app/table_maintenance.h"
#include "app/tget.h"
#include "app/ui.h"
#include "bench/quiet_ui.h"
#include "expr/settings.h"
#include "gui/twbrowse_widget.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Questions are answered OK, dialogs filled by the running case; the progress bar is watched.
class CommandsUi : public QuietUi {
 public:
  std::function<void(Dialog&)> fill;
  int moves = 0;
  int last_position = 0;
  double longest_still_ms = 0;
  Clock::time_point last_move;

  void StartWatch() {
    moves = 0;
    last_position = 0;
    longest_still_ms = 0;
    last_move = Clock::now();
  }
  void StopWatch() { longest_still_ms = std::max(longest_still_ms, Ms(Clock::now() - last_move)); }

  int MessageBox(const std::string& text, const std::string&, MessageKind kind) override {
    if (kind == MessageKind::kInformation) std::fprintf(stderr, "message: %s\n", text.c_str());
    return kButtonOk;
  }
  void ProgressSetPosition(int position) override {
    const auto now = Clock::now();
    longest_still_ms = std::max(longest_still_ms, Ms(now - last_move));
    last_move = now;
    last_position = position;
    ++moves;
  }
  void ProcessEvents() override { QApplication::processEvents(); }
  int RunDialog(Dialog& dlg) override {
    if (fill) fill(dlg);
    return DialogTryClose(dlg, 1) ? dlg.result : 0;
  }
};

struct Case {
  const char* name;
  std::function<void(Dialog&)> fill;  // the dialog's values
  std::function<void(Browse*)> command;
};

void Choose(Dialog& d, const char* name, const char* item) {
  Control* c = CTL(d, name);
  c->value = Value::String(item);
  if (c->on_change) c->on_change();
}

void SetMemo(Dialog& d, const char* name, const char* text) {
  CTL(d, name)->value = Value::String(text, true);
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_record_commands TABLE\n");
    return 2;
  }
  const std::string table = argv[1];
  CommandsUi ui;
  SetUi(&ui);
  StartUp(ui);
  RDDSETDEFAULT("DBFNTX");
  RegisterBrowseFunctions();

  TWBrowseWidget widget;
  widget.resize(1900, 950);
  TWBrowse& grid = widget.core();
  InstallBrowseHandlers(&grid);
  DBUSEAREA(false, "", table, "DBF", true, false);
  CurTable().cCurTable = table;
  SET(kSetDeleted, Value::Logical(false));
  REBUILDBRW(&grid);
  grid.Stabilize(false);
  widget.show();
  QApplication::processEvents();
  std::printf("table %s: %u records\n", table.c_str(), LASTREC());

  const Case cases[] = {
      {"replace QTY in every record",
       [](Dialog& d) {
         Choose(d, "cCam", "QTY");
         *CTL(d, "nVal")->get = TGet(Value::Integer(7, 6), "999999");
       },
       &SOSTVAL},
      {"replace CITY by an expression",
       [](Dialog& d) {
         Choose(d, "cCam", "CITY");
         SetMemo(d, "cExp", "UPPER(CITY)");
       },
       &SOSTVAL},
      {"delete by condition (AMOUNT < 5000)",
       [](Dialog& d) { SetMemo(d, "cFor", "AMOUNT < 5000"); }, &CANCREC},
      {"pack", nullptr, &COMPATTA},
  };
  for (const Case& c : cases) {
    ui.fill = c.fill;
    const uint32_t before = LASTREC();
    ui.StartWatch();
    const auto start = Clock::now();
    {
      CommandScope running;  // as the window's dispatcher runs a command
      c.command(&grid);
    }
    (void)widget.grab();  // the first page painted
    const double ms = Ms(Clock::now() - start);
    ui.StopWatch();
    std::printf("  %-40s %9.0f ms   bar moved %3d times, to %3d%%, still at most %5.0f ms"
                "   (%u -> %u records)\n",
                c.name, ms, ui.moves, ui.last_position, ui.longest_still_ms, before, LASTREC());
  }
  DBCLOSEALL();
  SetUi(nullptr);
  return 0;
}

}  // namespace
}  // namespace vosk

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  try {
    return vosk::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_record_commands: %s\n", e.what());
    return 1;
  }
}
