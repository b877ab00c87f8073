#include "expr/date_text.h"

#include <cstdio>

#include "expr/settings.h"
#include "platform/system.h"

namespace vosk {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Expands a year written with at most two digits into the hundred years starting at EPOCH.
int ExpandYear(int year) {
  int epoch = GlobalSettings().epoch();
  int y = epoch / 100 * 100 + year;
  if (y < epoch) y += 100;
  return y;
}

void AppendNumber(std::string* out, int value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", digits, value);
  std::string s(buf);
  out->append(s.substr(s.size() - static_cast<size_t>(digits)));
}

}  // namespace

std::string DateToText(int32_t julian) {
  const std::string& format = GlobalSettings().date_format();
  bool century = GlobalSettings().century();
  int year = 0, month = 0, day = 0;
  bool valid = YmdFromJulian(julian, &year, &month, &day);
  std::string out;
  size_t i = 0;
  while (i < format.size()) {
    char c = Upper(format[i]);
    size_t run = 1;
    while (i + run < format.size() && Upper(format[i + run]) == c) ++run;
    if (c == 'D' || c == 'M' || c == 'Y') {
      int digits = (c == 'Y') ? (century ? 4 : 2) : 2;
      if (!valid) {
        out.append(static_cast<size_t>(digits), ' ');
      } else {
        AppendNumber(&out, c == 'D' ? day : c == 'M' ? month : year, digits);
      }
    } else {
      out.append(format, i, run);
    }
    i += run;
  }
  return out;
}

int32_t TextToDate(std::string_view text) {
  // Order of the parts in the format.
  const std::string& format = GlobalSettings().date_format();
  char order[3];
  int parts = 0;
  for (size_t i = 0; i < format.size() && parts < 3; ++i) {
    char c = Upper(format[i]);
    if (c != 'D' && c != 'M' && c != 'Y') continue;
    bool seen = false;
    for (int k = 0; k < parts; ++k) seen = seen || order[k] == c;
    if (!seen) order[parts++] = c;
  }
  if (parts < 3) return 0;
  int day = 0, month = 0, year = 0, year_digits = 0;
  size_t pos = 0;
  for (int k = 0; k < 3; ++k) {
    while (pos < text.size() && !IsDigit(text[pos])) ++pos;
    if (pos >= text.size()) return 0;
    int value = 0, digits = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
      if (digits < 9) value = value * 10 + (text[pos] - '0');
      ++digits;
      ++pos;
    }
    if (order[k] == 'D') day = value;
    if (order[k] == 'M') month = value;
    if (order[k] == 'Y') {
      year = value;
      year_digits = digits;
    }
  }
  if (year_digits <= 2) year = ExpandYear(year);
  return JulianFromYmd(year, month, day);
}

std::string TimeOfDayText(int32_t millis, bool with_millis) {
  if (millis < 0 || millis >= kMillisPerDay) millis = 0;
  char buf[32];
  int s = millis / 1000;
  if (with_millis) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", s / 3600, s / 60 % 60, s % 60,
                  millis % 1000);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  }
  return buf;
}

std::string TimestampToText(int32_t julian, int32_t millis) {
  std::string out = DateToText(julian);
  out += ' ';
  if (julian == 0 && millis == 0) {
    out += "  :  :  .   ";
  } else {
    out += TimeOfDayText(millis);
  }
  return out;
}

Value TextToTimestamp(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t date_end = text.find(' ', i);
  if (date_end == std::string_view::npos) date_end = text.size();
  std::string_view date_part = text.substr(i, date_end - i);
  int32_t julian = TextToDate(date_part);
  std::string_view rest = text.substr(date_end);
  // Time: up to four numbers separated by ':' and '.', then AM or PM.
  int numbers[4] = {0, 0, 0, 0};
  int digits_of[4] = {0, 0, 0, 0};
  int count = 0;
  size_t p = 0;
  while (p < rest.size() && rest[p] == ' ') ++p;
  while (p < rest.size() && count < 4 && IsDigit(rest[p])) {
    int v = 0, d = 0;
    while (p < rest.size() && IsDigit(rest[p])) {
      if (d < 9) v = v * 10 + (rest[p] - '0');
      ++d;
      ++p;
    }
    digits_of[count] = d;
    numbers[count++] = v;
    if (p < rest.size() && (rest[p] == ':' || (rest[p] == '.' && count == 3))) {
      ++p;
    } else {
      break;
    }
  }
  while (p < rest.size() && rest[p] == ' ') ++p;
  if (p < rest.size()) {
    char a = Upper(rest[p]);
    char m = p + 1 < rest.size() ? Upper(rest[p + 1]) : 0;
    if (m == 'M' && (a == 'A' || a == 'P') && numbers[0] >= 1 && numbers[0] <= 12) {
      if (a == 'A' && numbers[0] == 12) numbers[0] = 0;
      if (a == 'P' && numbers[0] != 12) numbers[0] += 12;
    }
  }
  // Milliseconds as written: ".5" is 500.
  int ms = numbers[3];
  if (digits_of[3] == 1) ms *= 100;
  if (digits_of[3] == 2) ms *= 10;
  while (digits_of[3] > 3) {
    ms /= 10;
    --digits_of[3];
  }
  int32_t millis = 0;
  if (numbers[0] <= 23 && numbers[1] <= 59 && numbers[2] <= 59 && ms <= 999) {
    millis = ((numbers[0] * 60 + numbers[1]) * 60 + numbers[2]) * 1000 + ms;
  }
  if (julian == 0 && count == 0) return Value::Timestamp(0, 0);
  return Value::Timestamp(julian, millis);
}

std::string TimestampToDigits(int32_t julian, int32_t millis) {
  if (julian == 0 && millis == 0) return std::string(17, ' ');
  std::string out = DateToDigits(julian);
  if (millis < 0 || millis >= kMillisPerDay) millis = 0;
  char buf[16];
  int s = millis / 1000;
  std::snprintf(buf, sizeof buf, "%02d%02d%02d%03d", s / 3600, s / 60 % 60, s % 60,
                millis % 1000);
  out += buf;
  return out;
}

Value TimestampFromDigits(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (IsDigit(c)) digits += c;
    if (digits.size() == 17) break;
  }
  int32_t julian = DateFromDigits(digits);
  if (julian == 0) return Value::Timestamp(0, 0);
  digits.resize(17, '0');
  auto num = [&](size_t at, size_t len) { return std::stoi(digits.substr(at, len)); };
  int h = num(8, 2), m = num(10, 2), s = num(12, 2), f = num(14, 3);
  int32_t millis = (h <= 23 && m <= 59 && s <= 59) ? ((h * 60 + m) * 60 + s) * 1000 + f : 0;
  return Value::Timestamp(julian, millis);
}

int32_t Today() {
  LocalTime t = Now();
  return JulianFromYmd(t.year, t.month, t.day);
}

int32_t MillisNow() {
  LocalTime t = Now();
  return ((t.hour * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

const char* DayName(int dow) {
  static const char* const kNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
  return (dow >= 1 && dow <= 7) ? kNames[dow - 1] : "";
}

const char* MonthName(int month) {
  static const char* const kNames[] = {"January", "February", "March",     "April",
                                       "May",     "June",     "July",      "August",
                                       "September", "October", "November", "December"};
  return (month >= 1 && month <= 12) ? kNames[month - 1] : "";
}

int DayOfWeek(int32_t julian) {
  if (julian <= 0) return 0;
  // Julian day 0 fell on a Monday; (jd + 1) % 7 is 0 for Sunday.
  return static_cast<int>((julian + 1) % 7) + 1;
}

}  // namespace vosk
