#include "expr/decimal_text.h"

#include "expr/number_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vosk {
namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

}  // namespace

std::string FormatDecimal(double value, int decimals) {
  if (!std::isfinite(value)) return std::string();
  if (decimals < 0) decimals = 0;
  std::string text;
  bool negative = false;
  if (!FormatFixed(value, decimals, &text, &negative)) return std::string();
  return negative ? "-" + text : text;
}

std::string FormatDecimal(int64_t value, int decimals) {
  std::string out = std::to_string(value);
  if (decimals > 0) out += "." + std::string(static_cast<size_t>(decimals), '0');
  return out;
}

std::string RightAlign(const std::string& text, int width) {
  if (width < 0) width = 0;
  if (static_cast<int>(text.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - text.size(), ' ') + text;
}

double ParseDecimal(std::string_view t, int64_t* as_integer, bool* is_integer) {
  size_t i = 0, n = t.size();
  while (i < n && t[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (t[i] == '-' || t[i] == '+')) {
    neg = t[i] == '-';
    ++i;
  }
  uint64_t mant = 0;
  int mant_digits = 0, frac = 0;
  bool point = false, overflow = false;
  for (; i < n; ++i) {
    char c = t[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (mant_digits >= 18 && (mant_digits >= 19 || point || mant > (UINT64_MAX - 9) / 10)) {
      overflow = true;
      continue;
    }
    mant = mant * 10 + static_cast<uint64_t>(c - '0');
    if (mant) ++mant_digits;
    if (point) ++frac;
  }
  if (i + 1 < n && (t[i] == 'e' || t[i] == 'E')) {
    // Exponent form, as some programs write floats ("7.28159472653e+008"): the number the
    // whole text denotes.
    size_t e = i + 1;
    if (t[e] == '-' || t[e] == '+') ++e;
    size_t end = e;
    while (end < n && t[end] >= '0' && t[end] <= '9') ++end;
    if (end > e) {
      const std::string clean(t.substr(0, end));
      const double d = std::fabs(std::strtod(clean.c_str() + clean.find_first_not_of(" +-"), nullptr));
      if (std::isfinite(d)) {
        if (is_integer) *is_integer = false;
        if (as_integer) *as_integer = 0;
        return neg ? -d : d;
      }
    }
  }
  double v;
  if (!overflow) {
    v = frac <= 22 ? static_cast<double>(mant) / kPow10[frac]
                   : static_cast<double>(mant) * std::pow(10.0, -frac);
    bool fits = mant <= static_cast<uint64_t>(INT64_MAX);
    if (is_integer) *is_integer = !point && fits;
    if (as_integer) {
      *as_integer = !fits ? 0 : neg ? -static_cast<int64_t>(mant) : static_cast<int64_t>(mant);
    }
  } else {
    // Too many digits for exact arithmetic: let the C library convert the cleaned text.
    std::string clean;
    for (size_t k = 0; k < n; ++k) {
      char c = t[k];
      if ((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+') clean += c;
      else if (c != ' ' || !clean.empty()) break;
    }
    v = std::fabs(std::strtod(clean.c_str(), nullptr));
    if (is_integer) *is_integer = false;
    if (as_integer) *as_integer = 0;
  }
  return neg ? -v : v;
}

}  // namespace vosk
