#include "app/command_state.h"

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "expr/memvars.h"

namespace vosk {
namespace {

int& Depth() {
  static int depth = 0;
  return depth;
}

struct DisplayErrors {
  std::optional<RuntimeError> pending;
  std::set<std::string> reported;  // Key() of the errors shown since the table was opened
  std::set<std::string> told;      // upper-case names of files whose errors are not shown
};

DisplayErrors& Errors() {
  static DisplayErrors errors;
  return errors;
}

// Errors of the same kind on the same file are one fault for the user.
std::string Key(const RuntimeError& e) {
  return std::to_string(e.gen_code) + "/" + std::to_string(e.sub_code) + "/" +
         std::to_string(e.os_code) + "/" + e.subsystem + "/" + e.file_name;
}

ErrorAnswer KeepAndAbandon(const RuntimeError& e) {
  if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
  DisplayErrors& errors = Errors();
  // A value the driver cannot decode is its cell's own trouble: the cell shows its mark.
  const bool undecodable = e.gen_code == kEgDataType;
  if (!undecodable && !errors.pending && !errors.reported.count(Key(e)) &&
      !errors.told.count(UpperName(e.file_name))) {
    errors.pending = e;
  }
  throw Abandon(e);
}

std::vector<std::function<void()>>& AfterSteps() {
  static std::vector<std::function<void()>> steps;
  return steps;
}

}  // namespace

bool CommandRunning() { return Depth() > 0; }

void AfterCommand(std::function<void()> step) { AfterSteps().push_back(std::move(step)); }

void RunAfterCommand() {
  std::vector<std::function<void()>> steps;
  steps.swap(AfterSteps());
  for (const auto& step : steps) step();
}

CommandScope::CommandScope() { ++Depth(); }
CommandScope::~CommandScope() { --Depth(); }

DisplayReadScope::DisplayReadScope() : handler_(&KeepAndAbandon) {}

bool DisplayErrorPending() { return Errors().pending.has_value(); }

void ReportDisplayError() {
  DisplayErrors& errors = Errors();
  if (!errors.pending) return;
  RuntimeError e = std::move(*errors.pending);
  errors.pending.reset();
  if (!errors.reported.insert(Key(e)).second) return;
  (void)RaiseError(std::move(e));
}

void ForgetDisplayErrors() {
  Errors().pending.reset();
  Errors().reported.clear();
  Errors().told.clear();
}

void MarkFileTold(const std::string& file) { Errors().told.insert(UpperName(file)); }

}  // namespace vosk
