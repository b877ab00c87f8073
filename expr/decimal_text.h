#ifndef VOSK_EXPR_DECIMAL_TEXT_H_
#define VOSK_EXPR_DECIMAL_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vosk {

// Decimal text of a number with a fixed count of decimals, rounded half up over at most 15
// significant digits (so 2.675 gives "2.68" although its binary value lies just below).
// No padding; "-" only when the rounded result is not zero. Non-finite values give "".
std::string FormatDecimal(double value, int decimals);
std::string FormatDecimal(int64_t value, int decimals);

// Right-aligns text in width; text longer than width gives width asterisks.
std::string RightAlign(const std::string& text, int width);

// Parses the text of a numeric field: leading blanks skipped, optional sign, digits, at most
// one decimal point, optionally an exponent ("e+008", as some programs write floats); parsing
// stops at the first other byte; all blanks give 0. *is_integer tells whether the text had no
// decimal point nor exponent and fits a 64-bit integer. Every reader of number fields decodes
// them with this.
double ParseDecimal(std::string_view text, int64_t* as_integer, bool* is_integer);

}  // namespace vosk

#endif  // VOSK_EXPR_DECIMAL_TEXT_H_
