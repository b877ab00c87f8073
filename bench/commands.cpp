// The window's long commands on a large table (sort, filter, type-ahead search, replace, delete
// by condition, pack), each timed from the command to the first page
// painted: the command runs as the window runs it (a command scope: the grid reads nothing
// meanwhile), then the grid paints its first page on the offscreen platform. For the commands
// that show the progress pop-up, the number of moves of its bar and the longest time the
// command kept the window from running are reported too.
//
//   bench_commands TABLE [--driver DBFCDX|DBFNTX] [--records N] [--only TEXT]
//
// TABLE is created with N records (default 1,000,000) when it does not exist (bench/commands.sh
// works on a copy of the table of bench/scan.sh). --only runs the cases whose name holds TEXT.
//
// The cases are a table: each names what it measures, its goal, how the view is prepared
// (untimed), the command (timed, with the first page) and how many times it runs. A command
// that changes the table (replace, delete, pack) belongs after the ones that only read it.

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/group_commands.h"
#include "app/key_search.h"
#include "app/sort_filter.h"
#include "app/startup.h"
#include "app/table_maintenance.h"
#include "app/tget.h"
#include "bench/bench_support.h"
#include "gui/twbrowse_widget.h"
#include "platform/file.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

// What a case works with.
struct Bench {
  BenchUi& ui;
  TWBrowseWidget& widget;
  TWBrowse& grid;
};

struct Case {
  const char* name;
  double goal_ms;
  std::function<void(Bench&)> prepare;         // untimed; may be empty
  std::function<void(Bench&, int i)> command;  // timed, i = 0 .. times - 1
  int times = 1;
};

// The filter dialog's script: condition, key and unique option, then "&Conferma".
std::function<void(Dialog&)> Filter(std::string condition, std::string key, bool unique) {
  return [=](Dialog& dlg) {
    CTL(dlg, "cFor")->value = Value::String(condition, true);
    CTL(dlg, "cKey")->value = Value::String(key, true);
    CTL(dlg, "lUni")->value = Value::Logical(unique);
    DialogTryClose(dlg, 1);
  };
}

void Physical(Bench& b) { ORDINA(&b.grid); }

// A record command's preparation: natural order, its dialog filled by `fill` and confirmed,
// every question answered OK.
std::function<void(Bench&)> Confirmed(std::function<void(Dialog&)> fill) {
  return [fill = std::move(fill)](Bench& b) {
    Physical(b);
    b.ui.answer = kButtonOk;
    b.ui.on_dialog = [fill](Dialog& dlg) {
      if (fill) fill(dlg);
      DialogTryClose(dlg, 1);
    };
  };
}

void Choose(Dialog& d, const char* name, const char* item) {
  Control* c = CTL(d, name);
  c->value = Value::String(item);
  if (c->on_change) c->on_change();
}

void SetMemo(Dialog& d, const char* name, const char* text) {
  CTL(d, name)->value = Value::String(text, true);
}

std::vector<Case> Cases() {
  static const std::string kTyped = "NOME 4711";
  return {
      {"sort by a character column (NAME)", 1000, Physical,
       [](Bench& b, int) { ORDINA(&b.grid, 1); }},
      {"filter: CITY = 'Roma' .AND. QTY > 50000", 1000,
       [](Bench& b) {
         Physical(b);
         b.ui.on_dialog = Filter("CITY = 'Roma' .AND. QTY > 50000", "", false);
       },
       [](Bench& b, int) { FILTRA(&b.grid); }},
      {"filter on a key, unique: CITY", 1000,
       [](Bench& b) {
         Physical(b);
         b.ui.on_dialog = Filter("", "CITY", true);
       },
       [](Bench& b, int) { FILTRA(&b.grid); }},
      {"one type-ahead keystroke, sorted by NAME", 50,
       [](Bench& b) {
         ORDINA(&b.grid, 1);
         DBGOTOP();
         b.grid.Refresh();
         KEYSEARCH();
       },
       [](Bench& b, int i) { KEYSEARCH(&b.grid, kTyped[static_cast<size_t>(i)]); },
       static_cast<int>(kTyped.size())},
      {"replace QTY in every record", 2000,
       Confirmed([](Dialog& d) {
         Choose(d, "cCam", "QTY");
         *CTL(d, "nVal")->get = TGet(Value::Integer(7, 6), "999999");
       }),
       [](Bench& b, int) { SOSTVAL(&b.grid); }},
      {"replace CITY by an expression", 2000,
       Confirmed([](Dialog& d) {
         Choose(d, "cCam", "CITY");
         SetMemo(d, "cExp", "UPPER(CITY)");
       }),
       [](Bench& b, int) { SOSTVAL(&b.grid); }},
      {"delete by condition (AMOUNT < 5000)", 2000,
       Confirmed([](Dialog& d) { SetMemo(d, "cFor", "AMOUNT < 5000"); }),
       [](Bench& b, int) { CANCREC(&b.grid); }},
      {"pack", 2000, Confirmed(nullptr), [](Bench& b, int) { COMPATTA(&b.grid); }},
  };
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_commands TABLE [--driver D] [--records N] [--only T]\n");
    return 2;
  }
  std::string table = argv[1], driver = "DBFCDX", only;
  long records = 1000000;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--driver") driver = argv[i + 1];
    if (opt == "--records") records = std::atol(argv[i + 1]);
    if (opt == "--only") only = argv[i + 1];
  }

  BenchUi ui("bench_commands");
  SetUi(&ui);
  StartUp(ui);
  RDDSETDEFAULT(driver);  // as MAIN does with the settings file's default
  RegisterBrowseFunctions();
  if (!FileExists(table)) {
    std::printf("creating %s with %ld records...\n", table.c_str(), records);
    CreateBenchTable(table, records);
  }

  // The window's grid, sized as a maximized window on a 1920 x 1080 screen, over the table
  // opened as MAIN opens it (shared, alias DBF).
  TWBrowseWidget widget;
  widget.resize(1900, 950);
  TWBrowse& grid = widget.core();
  InstallBrowseHandlers(&grid);
  DBUSEAREA(false, "", table, "DBF", true, false);
  CurTable().cCurTable = table;
  REBUILDBRW(&grid);
  grid.Stabilize(false);
  widget.show();
  QApplication::processEvents();
  Bench bench{ui, widget, grid};

  std::printf("table %s: %u records, driver %s\n", table.c_str(), LASTREC(), driver.c_str());
  bool all_ok = true;
  for (const Case& c : Cases()) {
    if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
    if (c.prepare) c.prepare(bench);
    ui.bar_moves = 0;
    Stats times;
    for (int i = 0; i < c.times; ++i) {
      times.Add(Time([&] {
        {
          CommandScope running;  // as the window's dispatcher runs a command
          c.command(bench, i);
        }
        (void)widget.grab();  // the first page, painted
      }));
    }
    ui.on_dialog = nullptr;
    ui.answer = kButtonCancel;
    const bool ok = times.max < c.goal_ms;
    all_ok = all_ok && ok;
    if (c.times == 1) {
      std::printf("  %-44s %9.1f ms", c.name, times.max);
    } else {
      std::printf("  %-44s %9.2f ms mean, %7.2f ms max (%d)", c.name, times.mean(), times.max,
                  c.times);
    }
    std::printf("  goal < %.0f ms %s\n", c.goal_ms, ok ? "OK" : "SLOW");
    if (ui.bar_moves > 0) {
      std::printf("  %-44s bar moved %d times to %d%%, window waited at most %.1f ms\n", "",
                  ui.bar_moves, ui.last_position, ui.longest_wait);
      ui.bar_moves = 0;
    }
    std::printf("  %-44s %u rows in the view, %u records\n", "", grid.VScrollMax(), LASTREC());
  }
  DBCLOSEALL();
  SetUi(nullptr);
  return all_ok ? 0 : 1;
}

}  // namespace
}  // namespace vosk

int main(int argc, char** argv) {
  return vosk::BenchMain(argc, argv, "bench_commands", &vosk::Run);
}
