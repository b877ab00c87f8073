#include "app/progress.h"

#include <algorithm>
#include <string>

#include "app/messages.h"
#include "expr/expression.h"
#include "expr/functions.h"

namespace vosk {
namespace {

// The innermost running Progress: what the code block of Block() moves.
Progress*& Running() {
  static Progress* running = nullptr;
  return running;
}

int& TickMs() {
  static int ms = Progress::kTickMs;
  return ms;
}

// The function behind the code block of Block().
constexpr char kStepFunction[] = "PROGRESSO";

}  // namespace

Progress::Progress(std::string_view text, uint64_t total)
    : total_(total), outer_(Running()), last_(std::chrono::steady_clock::now()) {
  opened_ = !ProgressText().has_value();
  if (opened_) POPMSG(text);
  Running() = this;
  if (opened_) Update();
}

Progress::~Progress() {
  Running() = outer_;
  if (!opened_) return;
  try {
    POPMSG();
  } catch (...) {
    // Closing a pop-up fails only with the window gone; nothing is left to tell.
  }
}

int Progress::SetTickMs(int ms) {
  const int previous = TickMs();
  TickMs() = ms;
  return previous;
}

int Progress::Percent(uint64_t done) const {
  if (total_ == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(done, total_) * 100 / total_);
}

void Progress::Advance(uint64_t done) {
  done_ = done;
  const auto now = std::chrono::steady_clock::now();
  // The last step always shows: the bar ends full.
  if (done_ < total_ && now - last_ < std::chrono::milliseconds(TickMs())) return;
  last_ = now;
  Update();
}

void Progress::Update() {
  ProgressOptions options;
  options.keep_open = true;
  const int percent = Percent(done_);
  if (percent != shown_) options.position = percent;
  shown_ = percent;
  POPMSG("", 0, "", options);  // moves the bar, then lets the window run
}

int64_t Progress::EvalStep() const {
  return static_cast<int64_t>(std::max<uint64_t>(1, total_ / 1000));
}

std::function<void()> Progress::Ticker() {
  return [this] { Step(static_cast<uint64_t>(EvalStep())); };
}

std::function<Value()> Progress::EvalBlock() {
  return [this] {
    Step(static_cast<uint64_t>(EvalStep()));
    return Value::Logical(true);
  };
}

Value Progress::Block() {
  RegisterFunction(kStepFunction, [](const ValueArray&) {
    if (Progress* p = Running()) p->Step(static_cast<uint64_t>(p->EvalStep()));
    return Value::Logical(true);
  });
  return EvalText(std::string("{|| ") + kStepFunction + "() }");
}

}  // namespace vosk
