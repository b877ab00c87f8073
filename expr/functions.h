#ifndef VOSK_EXPR_FUNCTIONS_H_
#define VOSK_EXPR_FUNCTIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

// Functions callable by name from expressions.
//
// A call is resolved, in this order, to: a function registered with RegisterFunction (the
// Application's own, such as DTOCHR), a built-in function of the expression language, and
// finally a function of the table engine through DatabaseAccess::CallFunction (RECNO, EOF,
// DBSEEK, ...). A name none of them knows raises "Undefined function" (12/1001) when the call
// is evaluated. Built-in names may be abbreviated to their first four or more letters when the
// abbreviation designates one built-in function only ("SUBS" is SUBSTR).

// The arguments of a call; missing ones read as nil.
class FunctionArgs {
 public:
  FunctionArgs(const Value* const* values, int count) : values_(values), count_(count) {}
  int size() const { return count_; }
  const Value& operator[](int i) const { return i < count_ ? *values_[i] : Nil(); }
  static const Value& Nil();

 private:
  const Value* const* values_;
  int count_;
};

// A built-in function writes its result into *result, which holds the previous result of the
// same call site (its text storage can be reused).
using BuiltinFunction = void (*)(const FunctionArgs& args, Value* result);

// A function registered by another layer.
using ExternalFunction = std::function<Value(const ValueArray& args)>;

// Registers (or replaces) a function under an upper-cased name. user_defined marks the
// Application's own functions: TYPE() answers "UI" for a text that calls one, without
// evaluating it.
void RegisterFunction(std::string_view name, ExternalFunction function, bool user_defined = true);
bool UnregisterFunction(std::string_view name);

// What a name designates.
struct FunctionEntry {
  std::string name;
  BuiltinFunction builtin = nullptr;
  ExternalFunction external;
  bool user_defined = false;
};

// The registered or built-in function of that (upper-case) name, or nullptr. Abbreviations of
// built-in names are accepted as described above.
const FunctionEntry* FindFunction(std::string_view upper_name);
// Changes whenever a function is registered or unregistered; resolutions cached before are
// then repeated.
uint64_t FunctionRegistryGeneration();

// The upper bound of a text's length (String overflow beyond it): 2^32 - 1 bytes.
uint64_t MaxStringLength();
// Lowers the bound, so that tests of the overflow rules need no 4 GB strings. 0 restores it.
void SetMaxStringLengthForTesting(uint64_t limit);

// Raises "Argument error" (general 1) with the subcode and the function's name as operation,
// and stores the handler's substitute in *result (nil when it answers default).
void RaiseArgumentError(Value* result, int sub_code, const char* operation);

}  // namespace vosk

#endif  // VOSK_EXPR_FUNCTIONS_H_
