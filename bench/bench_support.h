#ifndef VOSK_BENCH_BENCH_SUPPORT_H_
#define VOSK_BENCH_BENCH_SUPPORT_H_

// What the benchmark programs that drive the Application share: a Ui that never waits for a
// user (and notes how often a long command let the window run), a clock, and the
// deterministic million-record table.

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/dialog.h"
#include "app/ui.h"
#include "bench/quiet_ui.h"
#include "expr/value.h"
#include "rdd/db_commands.h"

namespace vosk {

using BenchClock = std::chrono::steady_clock;

inline double Ms(BenchClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

inline double Time(const std::function<void()>& action) {
  const auto start = BenchClock::now();
  action();
  return Ms(BenchClock::now() - start);
}

struct Stats {
  double max = 0, total = 0;
  int count = 0;
  void Add(double ms) {
    max = std::max(max, ms);
    total += ms;
    ++count;
  }
  double mean() const { return count ? total / count : 0; }
};

// Messages go to stderr and every question is answered with `answer` (Cancel unless a case
// sets another); a dialog runs `on_dialog`
// (which fills it in and closes it) or is cancelled. While the progress pop-up is open, the
// longest wait between two moments the command let the window run is kept, with the number of
// moves of its bar.
class BenchUi : public QuietUi {
 public:
  explicit BenchUi(const char* program) : program_(program) {}

  std::function<void(Dialog&)> on_dialog;
  int answer = kButtonCancel;  // the button of every question
  int bar_moves = 0;        // moves of the progress bar since the pop-up opened
  int last_position = -1;   // the bar's last position
  double longest_wait = 0;  // ms without the window running while the pop-up was open

  int MessageBox(const std::string& text, const std::string&, MessageKind kind) override {
    std::fprintf(stderr, "%s: %s\n", program_, text.c_str());
    return kind == MessageKind::kInformation ? kButtonOk : answer;
  }
  void ProgressOpen(const std::string&, const std::string&) override {
    bar_moves = 0;
    last_position = -1;
    longest_wait = 0;
    open_ = true;
    last_run_ = BenchClock::now();
  }
  void ProgressSetPosition(int position) override {
    ++bar_moves;
    last_position = position;
  }
  void ProgressClose() override {
    Ran();
    open_ = false;
  }
  void ProcessEvents() override { Ran(); }
  int RunDialog(Dialog& dlg) override {
    dlg.result = 0;
    if (on_dialog) on_dialog(dlg);
    return dlg.result;
  }

 private:
  void Ran() {
    if (!open_) return;
    const auto now = BenchClock::now();
    longest_wait = std::max(longest_wait, Ms(now - last_run_));
    last_run_ = now;
  }

  const char* program_;
  bool open_ = false;
  BenchClock::time_point last_run_;
};

// A deterministic table: NAME C20, CITY C30, AMOUNT N10.2, DAY D, FLAG L, QTY N6.
inline void CreateBenchTable(const std::string& path, long records) {
  ValueArray structure;
  auto field = [&](const char* name, const char* type, int len, int dec) {
    structure.push_back(Value::Array(
        {Value::String(name), Value::String(type), Value::Integer(len), Value::Integer(dec)}));
  };
  field("NAME", "C", 20, 0);
  field("CITY", "C", 30, 0);
  field("AMOUNT", "N", 10, 2);
  field("DAY", "D", 8, 0);
  field("FLAG", "L", 1, 0);
  field("QTY", "N", 6, 0);
  DBCREATE(path, structure, "", false, "GEN");
  static const char* kCities[] = {"Roma", "Milano", "Napoli", "Torino", "Palermo", "Genova"};
  uint64_t seed = 20240229;
  for (long i = 1; i <= records; ++i) {
    seed = seed * 16807 % 2147483647;
    DBAPPEND();
    FIELDPUT(1, Value::String("Nome " + std::to_string(seed % 99991)));
    FIELDPUT(2, Value::String(kCities[seed % 6]));
    FIELDPUT(3, Value::Double(static_cast<double>(seed % 1000000) / 100, 10, 2));
    FIELDPUT(4, Value::Date(2440000 + static_cast<int32_t>(seed % 20000)));
    FIELDPUT(5, Value::Logical(seed % 2 == 0));
    FIELDPUT(6, Value::Integer(static_cast<int64_t>(seed % 100000)));
  }
  DBCLOSEAREA();
}

// The main of a benchmark program: the offscreen platform unless another is set, a
// QApplication, then run's answer (1 after an exception, which is told on stderr).
inline int BenchMain(int argc, char** argv, const char* program, int (*run)(int, char**)) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    return 1;
  }
}

}  // namespace vosk

#endif  // VOSK_BENCH_BENCH_SUPPORT_H_
