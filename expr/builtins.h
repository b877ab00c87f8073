#ifndef VOSK_EXPR_BUILTINS_H_
#define VOSK_EXPR_BUILTINS_H_

// The tables of built-in functions, one per family (internal to expr/).

#include <cmath>
#include <span>
#include <string>

#include "expr/functions.h"
#include "expr/value.h"

namespace vosk {
namespace builtins {

struct Row {
  const char* name;
  BuiltinFunction function;
};

std::span<const Row> TextFunctions();
std::span<const Row> NumberFunctions();
std::span<const Row> DateFunctions();
std::span<const Row> OtherFunctions();

// Helpers shared by the families.

// An integer argument: numbers truncated toward zero and clamped to +-2^62; anything else (nil
// included) gives `fallback`.
int64_t IntArg(const Value& v, int64_t fallback);

// Stores text into *result unless it exceeds the string limit, in which case "String overflow"
// (3/1234, operation = the function) is raised and the result is the substitute or nil.
void SetText(Value* result, std::string_view text, const char* function);
// True when a text of `length` bytes fits the string limit; otherwise raises as SetText does.
bool FitsStringLimit(uint64_t length, Value* result, const char* function);

// A double result with the natural width and `dec` decimals (0 to 15).
void SetNumber(Value* result, double d, int dec);

}  // namespace builtins
}  // namespace vosk

#endif  // VOSK_EXPR_BUILTINS_H_
