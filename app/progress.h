#ifndef VOSK_APP_PROGRESS_H_
#define VOSK_APP_PROGRESS_H_

// The progress pop-up of a long command (sort, filter, replace, delete by condition, pack,
// zap), with a bar of the records done out of the total.
//
// The command holds a Progress for the length of its work: it opens the pop-up (POPMSG with a
// text and no kind) and closes it however the command ends. The work tells it how far it got;
// at most every kTickMs milliseconds the bar moves and the window's pending events run, so the
// pop-up advances and the window can be moved and repainted. Input of the user waits for the
// end of the command, and the grid paints the rows it last read (it asks the engine nothing
// while a command runs: app/command_state.h). A tight loop pays one clock read per call.
//
//   Progress progress("Ordinamento in corso...", LASTREC());
//   OrdCondArgs cond;
//   cond.eval_block = progress.EvalBlock();   // an engine scan ...
//   cond.eval_step = progress.EvalStep();
//   ...
//   for (...) { ...; progress.Step(); }       // ... or a loop of the command's own
//   DBPACK(progress.Block(), progress.EvalStep());  // a code block for the engine

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "expr/value.h"

namespace vosk {

class Progress {
 public:
  // Milliseconds between two updates of the pop-up.
  static constexpr int kTickMs = 40;
  // Tests set another interval (0: every call updates); the previous one is returned.
  static int SetTickMs(int ms);

  // Opens the pop-up with `text` (unless one is open already: a nested Progress moves the bar
  // of the pop-up that is open). total: the records the work will go through (0: unknown;
  // the bar then stays empty).
  Progress(std::string_view text, uint64_t total);
  // Closes the pop-up it opened.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done` records of the total are done.
  void Advance(uint64_t done);
  // n more records are done.
  void Step(uint64_t n = 1) { Advance(done_ + n); }
  uint64_t done() const { return done_; }
  uint64_t total() const { return total_; }
  // The bar's position for `done` records: 0 to 100.
  int Percent(uint64_t done) const;

  // For the engine's scans (ORDCONDSET's fifth and sixth arguments, DBPACK's step): records
  // between two calls, about a thousandth of the total.
  int64_t EvalStep() const;
  // ORDCONDSET's eval block: each call counts EvalStep() records and answers true (go on).
  std::function<Value()> EvalBlock();
  // The same without an answer (ORDCONDSET's write block: the keys written after the scan).
  std::function<void()> Ticker();
  // The same as a code block of the expression language (for DBPACK and DBEVAL-like engine
  // calls that take one): each evaluation counts EvalStep() records.
  Value Block();

 private:
  void Update();

  uint64_t total_ = 0;
  uint64_t done_ = 0;
  int shown_ = -1;             // the bar's position last shown
  bool opened_ = false;        // this object opened the pop-up
  Progress* outer_ = nullptr;  // the Progress that was running when this one started
  std::chrono::steady_clock::time_point last_;  // last update of the pop-up
};

}  // namespace vosk

#endif  // VOSK_APP_PROGRESS_H_
