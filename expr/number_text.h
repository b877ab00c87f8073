#ifndef VOSK_EXPR_NUMBER_TEXT_H_
#define VOSK_EXPR_NUMBER_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

// Number-to-text conversion: STR() and the text form of numbers in numeric fields and NTX keys.
//
//  - width -1 (not given): the number's display width (at most 90; 10 when it has none), plus
//    the decimals and one for the point when there are decimals. A given width below 1 is 10.
//  - dec -1 (not given): 0 when a width is given; otherwise the number's own decimals, or the
//    DECIMALS setting for a non-integer number when FIXED is on.
//  - The result is right-aligned in the width with a minus sign before the first digit. The
//    whole width is "*" when the number does not fit, is not finite, or when the width leaves
//    no room for a digit before the point (width <= dec + 1 with decimals).
//  - The last shown digit is rounded half up (away from zero) from the next digit, taking at
//    most 15 significant digits of a double into account (so 2.675 shows as 2.68); integers
//    are exact. A value whose shown digits are all zero has no minus sign.
//  - A value that is not a number gives the empty text.
std::string StrOf(const Value& number, int width = -1, int dec = -1);

// STRZERO(): as StrOf, with the leading blanks turned into zeros and the minus sign, if any,
// moved in front of them ("-0012"). An overflow stays all "*".
std::string StrZeroOf(const Value& number, int width = -1, int dec = -1);

// The decimal digits of |x| rounded half up at `dec` decimals as StrOf does, without sign or
// padding ("12.50" for 12.5 and dec 2). False when x is not finite. Values whose scaled
// digits are plain (below 10^15, not near a half) take a short way without the C library;
// fast = false always takes the general conversion (tests compare the two).
bool FormatFixed(double x, int dec, std::string* digits, bool* negative, bool fast = true);

// ROUND(): x rounded half away from zero at `dec` decimals (negative dec rounds to tens,
// hundreds, ...), using the same 15 significant digits as StrOf.
double RoundHalfUp(double x, int dec);

// VAL(): leading blanks are skipped, then an optional sign, digits and at most one decimal
// point; reading stops at the first other character. Without a point the result is an integer
// (a double when it exceeds 64 bits); with one, a double whose decimals are the digits written
// after the point. The display width is the text's length less the point and the decimals
// (at least 1).
Value ValOf(std::string_view text);

}  // namespace vosk

#endif  // VOSK_EXPR_NUMBER_TEXT_H_
