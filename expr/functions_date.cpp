// Date and time functions. Edges:
//  - The date functions accept a date or a timestamp (its day); the empty date gives 0 for
//    DAY, MONTH, YEAR and DOW and "" for CDOW and CMONTH.
//  - DTOC and CTOD follow DATEFORMAT, EPOCH and the century flag (expr/date_text.h); DTOS and
//    STOD use "YYYYMMDD", blanks for the empty date.
//  - STOD of a text whose first 8 characters hold no valid date is the empty date.
//  - TTOC(t) is DTOC of the day and "hh:mm:ss.fff"; TTOC(t, 1) is "YYYYMMDDhhmmss", TTOC(t, 2)
//    the time only. TTOS is "YYYYMMDDhhmmssfff". A date given to them counts as midnight.
//  - ISLEAP takes a date, a timestamp or a year number; without an argument, today.

#include "expr/builtins.h"
#include "expr/date_text.h"
#include "expr/expr_errors.h"
#include "expr/number_text.h"

namespace vosk {
namespace builtins {
namespace {

bool IsDay(const Value& v) { return v.is_date() || v.is_timestamp(); }

void Date(const FunctionArgs&, Value* r) { *r = Value::Date(Today()); }

void Time(const FunctionArgs&, Value* r) { r->AssignString(TimeOfDayText(MillisNow(), false)); }

// SECONDS(): seconds since midnight, with hundredths.
void Seconds(const FunctionArgs&, Value* r) {
  r->SetDouble(static_cast<double>(MillisNow() / 10) / 100.0, 0, 2);
}

// DAY / MONTH / YEAR with the display widths 3, 3 and 5.
void DatePart(const FunctionArgs& a, Value* r, int part, int sub_code, const char* name) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, sub_code, name);
  int y = 0, m = 0, d = 0;
  YmdFromJulian(a[0].julian(), &y, &m, &d);
  int value = part == 0 ? d : part == 1 ? m : y;
  r->SetInteger(value, part == 2 ? 5 : 3);
}

void Day(const FunctionArgs& a, Value* r) { DatePart(a, r, 0, 1114, "DAY"); }
void Month(const FunctionArgs& a, Value* r) { DatePart(a, r, 1, 1113, "MONTH"); }
void Year(const FunctionArgs& a, Value* r) { DatePart(a, r, 2, 1112, "YEAR"); }

void Dow(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, 1115, "DOW");
  r->SetInteger(DayOfWeek(a[0].julian()), 3);
}

void Cdow(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, 1117, "CDOW");
  r->AssignString(DayName(DayOfWeek(a[0].julian())));
}

void Cmonth(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, 1116, "CMONTH");
  int y = 0, m = 0, d = 0;
  YmdFromJulian(a[0].julian(), &y, &m, &d);
  r->AssignString(MonthName(m));
}

void Dtoc(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, 1118, "DTOC");
  r->AssignString(DateToText(a[0].julian()));
}

void Dtos(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, 1120, "DTOS");
  r->AssignString(DateToDigits(a[0].julian()));
}

void Ctod(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1119, "CTOD");
  r->SetDate(TextToDate(a[0].str()));
}

void Stod(const FunctionArgs& a, Value* r) {
  if (a[0].is_nil()) {
    r->SetDate(0);
    return;
  }
  if (!a[0].is_string()) return RaiseArgumentError(r, kSubFunctionArgument, "STOD");
  r->SetDate(DateFromDigits(a[0].str()));
}

void Ctot(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, kSubFunctionArgument, "CTOT");
  *r = TextToTimestamp(a[0].str());
}

void Stot(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, kSubFunctionArgument, "STOT");
  *r = TimestampFromDigits(a[0].str());
}

void Ttoc(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, kSubFunctionArgument, "TTOC");
  int32_t julian = a[0].julian();
  int32_t millis = a[0].is_timestamp() ? a[0].millis() : 0;
  int64_t mode = a[1].is_numeric() ? IntArg(a[1], 0) : 0;
  if (mode == 1) {
    r->AssignString(TimestampToDigits(julian, millis).substr(0, 14));
  } else if (mode == 2) {
    r->AssignString(TimeOfDayText(millis));
  } else {
    r->AssignString(TimestampToText(julian, millis));
  }
}

void Ttod(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, kSubFunctionArgument, "TTOD");
  r->SetDate(a[0].julian());
}

void Ttos(const FunctionArgs& a, Value* r) {
  if (!IsDay(a[0])) return RaiseArgumentError(r, kSubFunctionArgument, "TTOS");
  r->AssignString(TimestampToDigits(a[0].julian(), a[0].is_timestamp() ? a[0].millis() : 0));
}

void Isleap(const FunctionArgs& a, Value* r) {
  int year = 0;
  if (a[0].is_nil()) {
    int m, d;
    YmdFromJulian(Today(), &year, &m, &d);
  } else if (IsDay(a[0])) {
    int m, d;
    if (!YmdFromJulian(a[0].julian(), &year, &m, &d)) year = 0;
  } else if (a[0].is_numeric()) {
    year = static_cast<int>(IntArg(a[0], 0) % 400000);
  } else {
    return RaiseArgumentError(r, kSubFunctionArgument, "ISLEAP");
  }
  bool leap = year != 0 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0);
  r->SetLogical(leap);
}

constexpr Row kRows[] = {
    {"DATE", Date},     {"TIME", Time},     {"SECONDS", Seconds}, {"DAY", Day},
    {"MONTH", Month},   {"YEAR", Year},     {"DOW", Dow},         {"CDOW", Cdow},
    {"CMONTH", Cmonth}, {"DTOC", Dtoc},     {"DTOS", Dtos},       {"CTOD", Ctod},
    {"STOD", Stod},     {"CTOT", Ctot},     {"STOT", Stot},       {"TTOC", Ttoc},
    {"TTOD", Ttod},     {"TTOS", Ttos},     {"ISLEAP", Isleap},
};

}  // namespace

std::span<const Row> DateFunctions() { return kRows; }

}  // namespace builtins
}  // namespace vosk
