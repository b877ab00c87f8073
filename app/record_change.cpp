#include "app/record_change.h"

#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/ansi.h"
#include "app/messages.h"
#include "app/ui.h"
#include "expr/runtime_error.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr auto kPatience = std::chrono::seconds(3);
constexpr useconds_t kRetryPause = 50 * 1000;

// Runs `step` with errors abandoning it silently; false when one did.
bool Quietly(const std::function<void()>& step) {
  ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    step();
    return true;
  } catch (...) {
    return false;
  }
}

// The busy pop-up for its lifetime, in place of the progress pop-up that was open.
class BusyPopup {
 public:
  BusyPopup() : previous_(ProgressText()) {
    if (previous_) POPMSG();
    POPMSG(Ansi("Il sistema è momentaneamente occupato..."));
  }
  ~BusyPopup() {
    Quietly([this] {
      POPMSG();
      if (previous_) POPMSG(*previous_);
    });
  }
  BusyPopup(const BusyPopup&) = delete;
  BusyPopup& operator=(const BusyPopup&) = delete;

 private:
  std::optional<std::string> previous_;
};

// Tries `attempt` until it succeeds: for 3 seconds, then under the busy pop-up. Window
// messages run between the attempts. `attempt` answers true (done), false (try again) or
// nullopt (give up: false).
bool Persist(const std::function<std::optional<bool>()>& attempt) {
  const auto start = std::chrono::steady_clock::now();
  std::optional<BusyPopup> busy;
  for (;;) {
    const std::optional<bool> done = attempt();
    if (!done) return false;
    if (*done) return true;
    if (!busy && std::chrono::steady_clock::now() - start >= kPatience) busy.emplace();
    GetUi().ProcessEvents();
    ::usleep(kRetryPause);
  }
}

}  // namespace

RecordChange::RecordChange(Lock lock) {
  switch (lock) {
    case kRecord:
      held_ = RLOCK();
      break;
    case kTable:
      held_ = FLOCK();
      break;
    case kAppended:
      held_ = true;
      break;
  }
}

RecordChange::~RecordChange() {
  if (!held_) return;
  Quietly([] {
    DBCOMMIT();
    DBSKIP(0);
  });
  Quietly([] { DBUNLOCK(); });
}

void RecordChange::Finish() {
  if (!held_) return;
  held_ = false;
  struct Unlock {
    ~Unlock() {
      Quietly([] { DBUNLOCK(); });
    }
  } unlock;
  DBCOMMIT();
  DBSKIP(0);
}

void DBLOCK(bool lRecord) {
  (void)Persist([lRecord]() -> std::optional<bool> { return lRecord ? RLOCK() : FLOCK(); });
}

bool DBAPP() {
  DBLOCK(false);
  // An append the table refuses (an enciphered table without its key) abandons the command:
  // the table lock goes with it.
  struct UnlockUnlessKept {
    bool keep = false;
    ~UnlockUnlessKept() {
      if (!keep) Quietly([] { DBUNLOCK(); });
    }
  } unlock;
  const bool appended = Persist([]() -> std::optional<bool> {
    NETERR(false);
    if (DBAPPEND()) return !NETERR();
    if (NETERR()) return false;
    return std::nullopt;
  });
  if (!appended) return false;
  unlock.keep = true;
  DBLOCK(true);
  return true;
}

}  // namespace vosk
