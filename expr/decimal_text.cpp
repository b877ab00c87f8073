#include "expr/decimal_text.h"

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
  // 15 significant digits, correctly rounded by the C library: d.dddddddddddddde+XX.
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  int exp = std::atoi(buf + 17);
  // value = 0.digits x 10^(exp + 1); keep the digits up to `decimals` places after the point.
  int int_digits = exp + 1;
  int keep = int_digits + decimals;
  if (keep < 0) {
    digits.clear();
  } else if (keep < static_cast<int>(digits.size())) {
    bool up = digits[keep] >= '5';
    digits.resize(keep);
    if (up) {
      int i = keep - 1;
      for (; i >= 0; --i) {
        if (digits[i] == '9') {
          digits[i] = '0';
        } else {
          ++digits[i];
          break;
        }
      }
      if (i < 0) {
        digits.insert(digits.begin(), '1');
        ++int_digits;
      }
    }
  }
  // Build integer and fraction parts from digits placed at int_digits.
  std::string int_part, frac_part;
  for (int pos = 0; pos < int_digits; ++pos) {
    int_part += pos < static_cast<int>(digits.size()) && pos >= 0 ? digits[pos] : '0';
  }
  for (int k = 0; k < decimals; ++k) {
    int pos = int_digits + k;
    frac_part += (pos >= 0 && pos < static_cast<int>(digits.size())) ? digits[pos] : '0';
  }
  size_t nz = int_part.find_first_not_of('0');
  int_part = nz == std::string::npos ? "0" : int_part.substr(nz);
  bool zero = int_part == "0" && frac_part.find_first_not_of('0') == std::string::npos;
  std::string out = (value < 0 && !zero) ? "-" : "";
  out += int_part;
  if (decimals > 0) out += "." + frac_part;
  return out;
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
    if (mant_digits >= 18) {
      overflow = true;
      continue;
    }
    mant = mant * 10 + static_cast<uint64_t>(c - '0');
    if (mant) ++mant_digits;
    if (point) ++frac;
  }
  double v;
  if (!overflow) {
    v = frac <= 22 ? static_cast<double>(mant) / kPow10[frac]
                   : static_cast<double>(mant) * std::pow(10.0, -frac);
    if (is_integer) *is_integer = !point;
    if (as_integer) *as_integer = neg ? -static_cast<int64_t>(mant) : static_cast<int64_t>(mant);
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
