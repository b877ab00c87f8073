#include "expr/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "expr/settings.h"

namespace vosk {
namespace {

constexpr int kSignificantDigits = 15;
constexpr int kMaxDisplayWidth = 90;
constexpr int kMaxDecimals = 90;

// Adds one unit at the last digit of a string of decimal digits.
void IncrementDigits(std::string* digits) {
  int i = static_cast<int>(digits->size()) - 1;
  while (i >= 0) {
    if ((*digits)[i] == '9') {
      (*digits)[i] = '0';
      --i;
    } else {
      ++(*digits)[i];
      return;
    }
  }
  digits->insert(digits->begin(), '1');
}

// round(|x| * 10^dec) as a string of decimal digits (no leading zeros, "0" for zero), from at
// most 15 significant digits of x.
std::string ScaledDigits(double a, int dec) {
  if (a == 0.0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", kSignificantDigits - 1, a);
  // buf: d.dddddddddddddde[+-]XX
  std::string mant;
  mant += buf[0];
  mant.append(buf + 2, kSignificantDigits - 1);
  int exp10 = std::atoi(std::strchr(buf, 'e') + 1);
  // Digits kept: those down to 10^-dec.
  long keep = static_cast<long>(exp10) + 1 + dec;
  if (keep <= 0) {
    // Everything lies below half a unit of the last place, except a first digit of 5 or more
    // exactly one place below it.
    return (keep == 0 && mant[0] >= '5') ? "1" : "0";
  }
  std::string out;
  if (keep >= kSignificantDigits) {
    out = mant;
    out.append(static_cast<size_t>(keep - kSignificantDigits), '0');
  } else {
    out = mant.substr(0, static_cast<size_t>(keep));
    if (mant[keep] >= '5') IncrementDigits(&out);
  }
  size_t nz = out.find_first_not_of('0');
  return nz == std::string::npos ? "0" : out.substr(nz);
}

// Splits scaled digits into "int.frac" with dec decimals.
std::string PlaceDecimalPoint(const std::string& scaled, int dec) {
  if (dec <= 0) return scaled;
  std::string padded = scaled;
  if (static_cast<int>(padded.size()) <= dec) {
    padded.insert(0, static_cast<size_t>(dec + 1) - padded.size(), '0');
  }
  return padded.substr(0, padded.size() - dec) + "." + padded.substr(padded.size() - dec);
}

bool AllZeroDigits(const std::string& s) {
  for (char c : s) {
    if (c >= '1' && c <= '9') return false;
  }
  return true;
}

// Digits of |i| * 10^dec, exactly.
std::string IntegerDigits(int64_t i, int dec) {
  uint64_t u = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
  std::string s = std::to_string(u);
  if (u != 0) s.append(static_cast<size_t>(dec), '0');
  return s;
}

constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

// The common case without the C library: a x 10^dec below 10^15 (a >= 0) and clearly not
// half-way between two results, so rounding the scaled double gives the digits that rounding
// 15 significant digits gives. False otherwise (the general conversion then decides).
bool FixedDigitsFast(double a, int dec, std::string* out) {
  if (dec > 15) return false;
  a *= kPow10[dec];
  if (!(a < 1e15)) return false;
  double whole = std::floor(a);
  double frac = a - whole;
  // Rounding to 15 significant digits first may move the fraction across one half when it
  // lies within 10^(digits of a - 15) of it: those are left to the general conversion.
  int digits = 0;
  for (double w = whole; w >= 1.0 && digits < 16; w /= 10) ++digits;
  double margin = std::max(kPow10[digits] / 1e15, 1e-9);
  if (std::fabs(frac - 0.5) <= margin) return false;
  uint64_t n = static_cast<uint64_t>(whole) + (frac > 0.5 ? 1 : 0);
  char buf[40];
  char* end = buf + sizeof buf;
  char* p = end;
  int k = 0;
  do {
    if (k == dec && dec > 0) *--p = '.';
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
    ++k;
  } while (n > 0 || k <= dec);
  out->assign(p, end);
  return true;
}

}  // namespace

bool FormatFixed(double x, int dec, std::string* digits, bool* negative, bool fast) {
  if (!std::isfinite(x)) return false;
  if (dec < 0) dec = 0;
  if (dec > kMaxDecimals) dec = kMaxDecimals;
  std::string text;
  if (!fast || !FixedDigitsFast(std::fabs(x), dec, &text)) {
    text = PlaceDecimalPoint(ScaledDigits(std::fabs(x), dec), dec);
  }
  *negative = x < 0 && !AllZeroDigits(text);
  *digits = std::move(text);
  return true;
}

std::string StrOf(const Value& number, int width, int dec) {
  if (!number.is_numeric()) return std::string();
  bool width_given = width >= 0;
  if (dec < 0) {
    if (width_given) {
      dec = 0;
    } else if (number.is_double()) {
      dec = GlobalSettings().fixed() ? GlobalSettings().decimals() : number.decimals();
    } else {
      dec = 0;
    }
  }
  if (dec < 0) dec = 0;
  if (dec > kMaxDecimals) dec = kMaxDecimals;
  if (width_given) {
    if (width < 1) width = 10;
  } else {
    int w = number.width();
    if (w <= 0) w = 10;
    if (w > kMaxDisplayWidth) w = kMaxDisplayWidth;
    width = w + (dec > 0 ? dec + 1 : 0);
  }
  std::string stars(static_cast<size_t>(width), '*');
  if (dec > 0 && width <= dec + 1) return stars;

  std::string text;
  bool negative = false;
  if (number.is_integer()) {
    text = PlaceDecimalPoint(IntegerDigits(number.integer(), dec), dec);
    negative = number.integer() < 0;
  } else if (!FormatFixed(number.dbl(), dec, &text, &negative)) {
    return stars;
  }
  if (negative) text.insert(text.begin(), '-');
  if (static_cast<int>(text.size()) > width) return stars;
  text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

std::string StrZeroOf(const Value& number, int width, int dec) {
  std::string s = StrOf(number, width, dec);
  if (s.empty() || s[0] == '*') return s;
  size_t minus = s.find('-');
  for (char& c : s) {
    if (c == ' ' || c == '-') c = '0';
  }
  if (minus != std::string::npos) s[0] = '-';
  return s;
}

double RoundHalfUp(double x, int dec) {
  if (!std::isfinite(x) || x == 0.0) return x;
  if (dec > kMaxDecimals) return x;
  if (dec >= 0) {
    std::string digits;
    bool negative = false;
    FormatFixed(x, dec, &digits, &negative);
    double r = std::strtod(digits.c_str(), nullptr);
    return x < 0 ? -r : r;
  }
  // Negative decimals: round |x| / 10^-dec to an integer, then scale back.
  double scale = std::pow(10.0, -dec);
  double r = RoundHalfUp(std::fabs(x) / scale, 0) * scale;
  return x < 0 ? -r : r;
}

Value ValOf(std::string_view text) {
  size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::string digits;
  bool point = false;
  int dec = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      digits += c;
      if (point) ++dec;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  int width = static_cast<int>(n) - (point ? dec + 1 : 0);
  if (width < 1) width = 1;
  if (!point) {
    // Accumulate exactly while the value fits 64 bits.
    uint64_t u = 0;
    bool overflow = false;
    for (char c : digits) {
      uint64_t d = static_cast<uint64_t>(c - '0');
      if (u > (UINT64_MAX - d) / 10) {
        overflow = true;
        break;
      }
      u = u * 10 + d;
    }
    uint64_t limit = negative ? static_cast<uint64_t>(INT64_MAX) + 1 : INT64_MAX;
    if (!overflow && u <= limit) {
      int64_t v = negative ? static_cast<int64_t>(0 - u) : static_cast<int64_t>(u);
      return Value::Integer(v, width);
    }
  }
  double d = digits.empty() ? 0.0 : std::strtod((digits.substr(0, digits.size() - dec) + "." +
                                                  digits.substr(digits.size() - dec)).c_str(),
                                                 nullptr);
  return Value::Double(negative ? -d : d, width, dec);
}

}  // namespace vosk
