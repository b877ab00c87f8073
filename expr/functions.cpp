// The function registry: functions registered by other layers, the built-in tables, and the
// helpers they share.

#include <algorithm>
#include <map>
#include <memory>

#include "expr/builtins.h"
#include "expr/expr_errors.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"

namespace vosk {
namespace {

constexpr uint64_t kDefaultStringLimit = 0xFFFFFFFFull;
uint64_t g_string_limit = kDefaultStringLimit;

struct Registry {
  std::map<std::string, std::unique_ptr<FunctionEntry>, std::less<>> registered;
  std::map<std::string, std::unique_ptr<FunctionEntry>, std::less<>> builtin;
  uint64_t generation = 1;

  Registry() {
    for (auto table : {builtins::TextFunctions(), builtins::NumberFunctions(),
                       builtins::DateFunctions(), builtins::OtherFunctions()}) {
      for (const builtins::Row& row : table) {
        auto e = std::make_unique<FunctionEntry>();
        e->name = row.name;
        e->builtin = row.function;
        builtin[row.name] = std::move(e);
      }
    }
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

const Value& FunctionArgs::Nil() {
  static const Value nil;
  return nil;
}

void RegisterFunction(std::string_view name, ExternalFunction function, bool user_defined) {
  Registry& r = TheRegistry();
  auto e = std::make_unique<FunctionEntry>();
  e->name = UpperName(name);
  e->external = std::move(function);
  e->user_defined = user_defined;
  std::string key = e->name;
  r.registered[key] = std::move(e);
  ++r.generation;
}

bool UnregisterFunction(std::string_view name) {
  Registry& r = TheRegistry();
  auto it = r.registered.find(UpperName(name));
  if (it == r.registered.end()) return false;
  r.registered.erase(it);
  ++r.generation;
  return true;
}

const FunctionEntry* FindFunction(std::string_view upper_name) {
  Registry& r = TheRegistry();
  if (auto it = r.registered.find(upper_name); it != r.registered.end()) return it->second.get();
  if (auto it = r.builtin.find(upper_name); it != r.builtin.end()) return it->second.get();
  if (upper_name.size() < 4) return nullptr;
  // An abbreviation of exactly one built-in name.
  auto it = r.builtin.lower_bound(upper_name);
  if (it == r.builtin.end() || it->first.compare(0, upper_name.size(), upper_name) != 0) {
    return nullptr;
  }
  auto next = std::next(it);
  if (next != r.builtin.end() && next->first.compare(0, upper_name.size(), upper_name) == 0) {
    return nullptr;
  }
  return it->second.get();
}

uint64_t FunctionRegistryGeneration() { return TheRegistry().generation; }

uint64_t MaxStringLength() { return g_string_limit; }

void SetMaxStringLengthForTesting(uint64_t limit) {
  g_string_limit = limit == 0 ? kDefaultStringLimit : limit;
}

void RaiseArgumentError(Value* result, int sub_code, const char* operation) {
  RuntimeError e;
  e.gen_code = kEgArg;
  e.subsystem = "BASE";
  e.sub_code = sub_code;
  e.operation = operation;
  e.can_default = true;
  e.can_substitute = true;
  ErrorAnswer a = RaiseError(std::move(e));
  *result = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value();
}

namespace builtins {

int64_t IntArg(const Value& v, int64_t fallback) {
  if (v.is_integer()) {
    return std::clamp<int64_t>(v.integer(), -(int64_t{1} << 62), int64_t{1} << 62);
  }
  if (v.is_double()) {
    double d = v.dbl();
    if (std::isnan(d)) return 0;
    if (d > 4.6e18) return int64_t{1} << 62;
    if (d < -4.6e18) return -(int64_t{1} << 62);
    return static_cast<int64_t>(d);
  }
  return fallback;
}

bool FitsStringLimit(uint64_t length, Value* result, const char* function) {
  if (length <= MaxStringLength()) return true;
  RuntimeError e;
  e.gen_code = kEgStrOverflow;
  e.subsystem = "BASE";
  e.sub_code = kSubStringOverflowFunction;
  e.operation = function;
  e.can_default = true;
  e.can_substitute = true;
  ErrorAnswer a = RaiseError(std::move(e));
  *result = a.kind == ErrorAnswer::Kind::kSubstitute ? std::move(a.value) : Value();
  return false;
}

void SetText(Value* result, std::string_view text, const char* function) {
  if (FitsStringLimit(text.size(), result, function)) result->AssignString(text);
}

void SetNumber(Value* result, double d, int dec) {
  if (dec > 15) dec = 15;
  if (dec < 0) dec = 0;
  result->SetDouble(d, 0, dec);
}

}  // namespace builtins
}  // namespace vosk
