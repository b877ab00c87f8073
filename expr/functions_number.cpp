// Number functions. Edges:
//  - STR and STRZERO follow StrOf (expr/number_text.h): a given width below 1 means 10,
//    negative decimals mean 0, a width only means 0 decimals.
//  - INT truncates toward zero; ROUND rounds half away from zero over 15 significant digits
//    (ROUND(2.675, 2) is 2.68), to tens, hundreds, ... with negative decimals.
//  - SQRT of a negative number is 0; LOG of 0 or less and EXP overflow give values that STR
//    shows as "*" (not finite).
//  - MAX and MIN take two numbers, two dates (or timestamps) or two logicals.
//  - HEXTONUM reads up to 16 hexadecimal digits (either case); any other character, or more
//    digits, gives 0. NUMTOHEX writes upper-case digits, a negative number in 64-bit two's
//    complement, padded with zeros to nLength when given.

#include <algorithm>
#include <climits>
#include <cmath>

#include "expr/builtins.h"
#include "expr/expr_errors.h"
#include "expr/number_text.h"
#include "expr/settings.h"
#include "expr/transform.h"

namespace vosk {
namespace builtins {
namespace {

constexpr int kMaxStrDecimals = 90;

// Width and decimals arguments of STR/STRZERO: -1 when not given.
bool StrArgs(const FunctionArgs& a, Value* r, const char* name, int* width, int* dec) {
  *width = -1;
  *dec = -1;
  if (a[1].is_numeric()) {
    int64_t w = IntArg(a[1], 0);
    if (w < 1) w = 0;
    if (!FitsStringLimit(static_cast<uint64_t>(w), r, name)) return false;
    *width = static_cast<int>(std::min<int64_t>(w, INT_MAX));
    if (a[2].is_numeric()) {
      *dec = static_cast<int>(std::clamp<int64_t>(IntArg(a[2], 0), 0, kMaxStrDecimals));
    }
  }
  return true;
}

void Str(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric() || !(a[1].is_nil() || a[1].is_numeric()) ||
      !(a[2].is_nil() || a[2].is_numeric())) {
    return RaiseArgumentError(r, 1099, "STR");
  }
  int width, dec;
  if (!StrArgs(a, r, "STR", &width, &dec)) return;
  r->AssignString(StrOf(a[0], width, dec));
}

void Strzero(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric() || !(a[1].is_nil() || a[1].is_numeric()) ||
      !(a[2].is_nil() || a[2].is_numeric())) {
    return RaiseArgumentError(r, kSubFunctionArgument, "STRZERO");
  }
  int width, dec;
  if (!StrArgs(a, r, "STRZERO", &width, &dec)) return;
  r->AssignString(StrZeroOf(a[0], width, dec));
}

void Val(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, 1098, "VAL");
  *r = ValOf(a[0].str());
}

void Int(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1090, "INT");
  if (a[0].is_integer()) {
    *r = a[0];
    return;
  }
  double t = std::trunc(a[0].dbl());
  if (t > -9.2e18 && t < 9.2e18) {
    r->SetInteger(static_cast<int64_t>(t), a[0].width());
  } else {
    r->SetDouble(t, a[0].width(), 0);
  }
}

void Round(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric() || !a[1].is_numeric()) return RaiseArgumentError(r, 1094, "ROUND");
  int dec = static_cast<int>(std::clamp<int64_t>(IntArg(a[1], 0), -kMaxStrDecimals,
                                                 kMaxStrDecimals));
  if (a[0].is_integer() && dec >= 0) {
    r->SetInteger(a[0].integer());
    return;
  }
  double d = RoundHalfUp(a[0].number(), dec);
  if (dec <= 0 && d > -9.2e18 && d < 9.2e18) {
    r->SetInteger(static_cast<int64_t>(d));
  } else {
    r->SetDouble(d, 0, std::max(dec, 0));
  }
}

void Abs(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1089, "ABS");
  const Value& v = a[0];
  if (v.is_integer()) {
    *r = v.integer() == INT64_MIN ? Value::Double(-v.number(), 20, 0)
                                  : Value::Integer(v.integer() < 0 ? -v.integer() : v.integer(),
                                                   v.width());
  } else {
    r->SetDouble(std::fabs(v.dbl()), v.width(), v.decimals());
  }
}

// MAX / MIN: the larger / smaller argument, as it is (width and decimals kept).
void Extreme(const FunctionArgs& a, Value* r, bool larger, int sub_code, const char* name) {
  const Value& x = a[0];
  const Value& y = a[1];
  bool x_first;
  if (x.is_numeric() && y.is_numeric()) {
    x_first = larger ? x.number() >= y.number() : x.number() <= y.number();
  } else if ((x.is_date() || x.is_timestamp()) && (y.is_date() || y.is_timestamp())) {
    int64_t kx = static_cast<int64_t>(x.julian()) * 86400000 + (x.is_timestamp() ? x.millis() : 0);
    int64_t ky = static_cast<int64_t>(y.julian()) * 86400000 + (y.is_timestamp() ? y.millis() : 0);
    x_first = larger ? kx >= ky : kx <= ky;
  } else if (x.is_logical() && y.is_logical()) {
    x_first = larger ? x.logical() >= y.logical() : x.logical() <= y.logical();
  } else {
    return RaiseArgumentError(r, sub_code, name);
  }
  *r = x_first ? x : y;
}

void Max(const FunctionArgs& a, Value* r) { Extreme(a, r, true, 1093, "MAX"); }
void Min(const FunctionArgs& a, Value* r) { Extreme(a, r, false, 1092, "MIN"); }

void Exp(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1096, "EXP");
  r->SetDouble(std::exp(a[0].number()));
}

void Log(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1095, "LOG");
  double x = a[0].number();
  r->SetDouble(x > 0 ? std::log(x) : -HUGE_VAL);
}

void Sqrt(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, 1097, "SQRT");
  double x = a[0].number();
  r->SetDouble(x > 0 ? std::sqrt(x) : 0.0);
}

void TransformFn(const FunctionArgs& a, Value* r) {
  if (!(a[1].is_nil() || a[1].is_string()) || a[0].is_array() || a[0].is_block()) {
    return RaiseArgumentError(r, 1122, "TRANSFORM");
  }
  SetText(r, Transform(a[0], a[1].is_string() ? a[1].str() : std::string()), "TRANSFORM");
}

void Hextonum(const FunctionArgs& a, Value* r) {
  if (!a[0].is_string()) return RaiseArgumentError(r, kSubFunctionArgument, "HEXTONUM");
  const std::string& s = a[0].str();
  uint64_t v = 0;
  bool valid = !s.empty() && s.size() <= 16;
  for (char c : s) {
    if (!valid) break;
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      d = c - 'a' + 10;
    } else {
      valid = false;
      break;
    }
    v = v * 16 + static_cast<uint64_t>(d);
  }
  if (!valid) v = 0;
  if (v <= static_cast<uint64_t>(INT64_MAX)) {
    r->SetInteger(static_cast<int64_t>(v));
  } else {
    r->SetDouble(static_cast<double>(v), 0, 0);
  }
}

void Numtohex(const FunctionArgs& a, Value* r) {
  if (!a[0].is_numeric()) return RaiseArgumentError(r, kSubFunctionArgument, "NUMTOHEX");
  uint64_t v = static_cast<uint64_t>(IntArg(a[0], 0));
  if (a[0].is_integer()) v = static_cast<uint64_t>(a[0].integer());
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  int64_t len = a[1].is_numeric() ? IntArg(a[1], 0) : 0;
  if (len > 64) len = 64;
  if (len > static_cast<int64_t>(out.size())) out.insert(0, static_cast<size_t>(len) - out.size(), '0');
  r->AssignString(out);
}

constexpr Row kRows[] = {
    {"STR", Str},   {"STRZERO", Strzero},     {"VAL", Val},           {"INT", Int},
    {"ROUND", Round}, {"ABS", Abs},           {"MAX", Max},           {"MIN", Min},
    {"EXP", Exp},   {"LOG", Log},             {"SQRT", Sqrt},         {"TRANSFORM", TransformFn},
    {"HEXTONUM", Hextonum}, {"NUMTOHEX", Numtohex},
};

}  // namespace

std::span<const Row> NumberFunctions() { return kRows; }

}  // namespace builtins
}  // namespace vosk
