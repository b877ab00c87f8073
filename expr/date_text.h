#ifndef VOSK_EXPR_DATE_TEXT_H_
#define VOSK_EXPR_DATE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

// Date and time text under the settings DATEFORMAT, EPOCH and the century flag.
//
// In a date format a run of D is the day (two digits), a run of M the month (two digits) and
// a run of Y the year: four digits when the century flag is on, else its last two. Every other
// character is copied. "dd/mm/yyyy" gives "31/01/2024".

// DTOC(): the date in the current format; the empty date gives the format's layout with
// blanks for the digits ("  /  /    ").
std::string DateToText(int32_t julian);

// CTOD(): reads up to three numbers (runs of digits, any other characters separate them) in
// the order of day, month and year in the current format. A year written with at most two
// digits is placed in the hundred years that start at EPOCH (EPOCH 1980: 79 is 2079, 80 is
// 1980). Text without digits, a missing part or an impossible date give the empty date (0).
int32_t TextToDate(std::string_view text);

// "hh:mm:ss.fff" (with_millis) or "hh:mm:ss" for milliseconds since midnight.
std::string TimeOfDayText(int32_t millis, bool with_millis = true);

// TTOC(): DateToText of the day, a blank and "hh:mm:ss.fff". The empty timestamp (day 0 and
// time 0) gives the same layout in blanks.
std::string TimestampToText(int32_t julian, int32_t millis);

// CTOT(): a date as TextToDate reads it, then after blanks an optional time
// "hh[:mm[:ss[.fff]]]" with an optional AM/PM suffix. A time out of range counts as 0.
// Text holding neither gives the empty timestamp.
Value TextToTimestamp(std::string_view text);

// TTOS(): "YYYYMMDDhhmmssfff" (17 characters); the empty timestamp gives 17 blanks.
std::string TimestampToDigits(int32_t julian, int32_t millis);

// STOT(): reads "YYYYMMDD" and then up to "hhmmssfff" from the digits of the text (other
// characters are skipped); an invalid date gives the empty timestamp.
Value TimestampFromDigits(std::string_view text);

// Today's date and the time of day now, from the local clock.
int32_t Today();
int32_t MillisNow();

// English day and month names; "" for out-of-range numbers.
const char* DayName(int dow);      // 1 = Sunday .. 7 = Saturday
const char* MonthName(int month);  // 1 = January .. 12

// Day of the week of a Julian day number: 1 = Sunday .. 7; 0 for the empty date.
int DayOfWeek(int32_t julian);

}  // namespace vosk

#endif  // VOSK_EXPR_DATE_TEXT_H_
