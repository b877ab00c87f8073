#include "cli/field_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "expr/decimal_text.h"
#include "rdd/byte_order.h"

namespace vosk {
namespace {

// UTF-8 forms of every byte of a code page, built once per code page.
struct Utf8Table {
  std::string text[256];
};

const Utf8Table& TableFor(Codepage cp) {
  static const auto build = [](Codepage c) {
    Utf8Table t;
    for (int b = 0; b < 256; ++b) {
      char ch = static_cast<char>(b);
      t.text[b] = ToUtf8(std::string_view(&ch, 1), c);
    }
    return t;
  };
  static const Utf8Table ansi = build(Codepage::kCp1252);
  static const Utf8Table oem = build(Codepage::kCp850);
  return cp == Codepage::kCp850 ? oem : ansi;
}

void AppendText(std::string* out, const uint8_t* p, size_t n, Codepage cp) {
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  bool plain = true;
  for (size_t i = 0; i < n; ++i) {
    if (p[i] >= 0x80 || p[i] == '"' || p[i] == ',' || p[i] == '\r' || p[i] == '\n') {
      plain = false;
      break;
    }
  }
  if (plain) {
    out->append(reinterpret_cast<const char*>(p), n);
    return;
  }
  std::string utf8;
  const Utf8Table& t = TableFor(cp);
  for (size_t i = 0; i < n; ++i) utf8 += t.text[p[i]];
  bool quote = utf8.find_first_of(",\"\r\n") != std::string::npos;
  if (!quote) {
    out->append(utf8);
    return;
  }
  out->push_back('"');
  for (char c : utf8) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

void AppendDate(std::string* out, int32_t julian) {
  int y, m, d;
  if (!YmdFromJulian(julian, &y, &m, &d)) return;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  out->append(buf);
}

int64_t Pow10i(int d) {
  int64_t p = 1;
  for (int i = 0; i < d && i < 18; ++i) p *= 10;
  return p;
}

int64_t GetSigned(const uint8_t* p, int width) {
  switch (width) {
    case 1: return static_cast<int8_t>(p[0]);
    case 2: return static_cast<int16_t>(GetLe16(p));
    case 3: {
      uint32_t v = GetLe24(p);
      return (v & 0x800000) ? static_cast<int64_t>(v) - 0x1000000 : static_cast<int64_t>(v);
    }
    case 4: return static_cast<int32_t>(GetLe32(p));
    default: return static_cast<int64_t>(GetLe64(p));
  }
}

// Integer scaled by 10^dec as decimal text, exactly.
std::string ScaledText(int64_t v, int dec) {
  if (dec <= 0) return std::to_string(v);
  bool neg = v < 0;
  uint64_t a = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  std::string digits = std::to_string(a);
  if (digits.size() <= static_cast<size_t>(dec)) {
    digits = std::string(static_cast<size_t>(dec) + 1 - digits.size(), '0') + digits;
  }
  digits.insert(digits.size() - static_cast<size_t>(dec), ".");
  return (neg ? "-" : "") + digits;
}

// Shortest decimal text that reads back as the same double.
std::string DoubleText(double d, int dec) {
  if (!std::isfinite(d)) return std::string();
  if (dec > 0) return FormatDecimal(d, dec);
  char buf[40];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  // Plain notation for ordinary magnitudes.
  if (std::strchr(buf, 'e') && std::fabs(d) < 1e15 && std::fabs(d) >= 1e-6) {
    std::snprintf(buf, sizeof buf, "%.17f", d);
    std::string s = buf;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
  }
  return buf;
}

}  // namespace

std::string TimestampText(int32_t julian, int32_t millis) {
  std::string out;
  if (julian != 0) {
    AppendDate(&out, julian);
    out += ' ';
  }
  char buf[24];
  int ms = millis < 0 ? 0 : millis;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  out += buf;
  return out;
}

bool AppendFieldText(std::string* out, const Field& f, const uint8_t* rec, Codepage cp,
                     bool is_null) {
  if (is_null) return true;
  const uint8_t* p = rec + f.offset;
  switch (f.kind) {
    case FieldKind::kCharacter:
    case FieldKind::kVarLength:
      AppendText(out, p, f.length, cp);
      return true;
    case FieldKind::kLogical:
      if (p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y') out->push_back('T');
      else if (p[0] != ' ' && p[0] != '?' && p[0] != 0) out->push_back('F');
      return true;
    case FieldKind::kDate:
      if (f.length == 3) AppendDate(out, static_cast<int32_t>(GetLe24(p)));
      else if (f.length == 4) AppendDate(out, static_cast<int32_t>(GetLe32(p)));
      else AppendDate(out, DateFromDigits(std::string_view(reinterpret_cast<const char*>(p), 8)));
      return true;
    case FieldKind::kNumeric:
    case FieldKind::kFloat: {
      std::string_view t(reinterpret_cast<const char*>(p), f.length);
      size_t b = t.find_first_not_of(' ');
      if (b == std::string_view::npos) return true;
      t = t.substr(b);
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      // The stored text is already the canonical form when it has the field's decimals.
      size_t dot = t.find('.');
      bool canonical = t.find_first_not_of("-0123456789.") == std::string_view::npos &&
                       (f.decimals == 0 ? dot == std::string_view::npos
                                        : dot != std::string_view::npos &&
                                              t.size() - dot - 1 == f.decimals && dot > 0 &&
                                              !(t[0] == '-' && dot == 1));
      if (canonical) {
        out->append(t);
        return true;
      }
      if (t.find_first_of("eE") != std::string_view::npos) {
        // Exponent form, as some programs write floats: the number the whole text denotes.
        std::string text(t);
        char* end = nullptr;
        double d = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && std::isfinite(d)) {
          out->append(FormatDecimal(d, f.decimals));
          return true;
        }
      }
      int64_t i = 0;
      bool is_int = false;
      double d = ParseDecimal(t, &i, &is_int);
      out->append(is_int && f.decimals == 0 ? std::to_string(i) : FormatDecimal(d, f.decimals));
      return true;
    }
    case FieldKind::kInteger:
    case FieldKind::kAutoInc:
    case FieldKind::kRowVersion:
      out->append(ScaledText(GetSigned(p, f.length), f.decimals));
      return true;
    case FieldKind::kCurrency:
      out->append(ScaledText(GetSigned(p, f.length), 4));
      return true;
    case FieldKind::kDouble:
    case FieldKind::kDoubleCurrency: {
      double d;
      uint64_t bits = GetLe64(p);
      std::memcpy(&d, &bits, 8);
      out->append(DoubleText(d, f.decimals));
      return true;
    }
    case FieldKind::kTimestamp:
    case FieldKind::kModTime:
    case FieldKind::kModStamp: {
      int32_t j = static_cast<int32_t>(GetLe32(p));
      int32_t ms = static_cast<int32_t>(GetLe32(p + 4));
      if (j == 0 && ms == 0) return true;
      out->append(TimestampText(j, ms));
      return true;
    }
    case FieldKind::kTime:
      out->append(TimestampText(0, static_cast<int32_t>(GetLe32(p))));
      return true;
    case FieldKind::kVariant:
      if (f.length == 3) {
        AppendDate(out, static_cast<int32_t>(GetLe24(p)));
        return true;
      }
      if (f.length == 4) {
        out->append(std::to_string(static_cast<int32_t>(GetLe32(p))));
        return true;
      }
      return false;
    default:
      return false;
  }
}

namespace {

bool ParseDateText(std::string_view t, int32_t* julian) {
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  int y = 0, m = 0, d = 0;
  for (int i = 0; i < 10; ++i) {
    if (i == 4 || i == 7) continue;
    if (t[i] < '0' || t[i] > '9') return false;
  }
  y = (t[0] - '0') * 1000 + (t[1] - '0') * 100 + (t[2] - '0') * 10 + (t[3] - '0');
  m = (t[5] - '0') * 10 + (t[6] - '0');
  d = (t[8] - '0') * 10 + (t[9] - '0');
  *julian = JulianFromYmd(y, m, d);
  return *julian != 0;
}

bool ParseTimeText(std::string_view t, int32_t* millis) {
  int h, mi, s, ms = 0;
  std::string str(t);
  int n = std::sscanf(str.c_str(), "%2d:%2d:%2d.%3d", &h, &mi, &s, &ms);
  if (n < 3 || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0 || ms < 0) return false;
  *millis = ((h * 60 + mi) * 60 + s) * 1000 + ms;
  return true;
}

// Accepts [sign] digits [. digits] [e [sign] digits], the forms that listing writes (doubles
// far from 1 are listed with an exponent).
bool ParseNumberText(std::string_view t, Value* out) {
  if (t.empty()) return false;
  size_t i = 0;
  if (t[0] == '-' || t[0] == '+') i = 1;
  bool digit = false, point = false;
  int frac = 0;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      digit = true;
      if (point) ++frac;
    } else if (t[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digit) return false;
  if (i < t.size()) {
    if (t[i] != 'e' && t[i] != 'E') return false;
    size_t e = i + 1;
    if (e < t.size() && (t[e] == '-' || t[e] == '+')) ++e;
    if (e == t.size() || t.find_first_not_of("0123456789", e) != std::string_view::npos) {
      return false;
    }
    std::string text(t);
    double d = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(d)) return false;
    *out = Value::Double(d, 20, 0);
    return true;
  }
  if (!point) {
    // Every integer of 64 bits exactly, whatever its count of digits.
    int64_t iv = 0;
    const char* b = t.data() + (t[0] == '+' ? 1 : 0);
    auto [end, ec] = std::from_chars(b, t.data() + t.size(), iv);
    if (ec == std::errc() && end == t.data() + t.size()) {
      *out = Value::Integer(iv);
      return true;
    }
  }
  int64_t iv = 0;
  bool is_int = false;
  double d = ParseDecimal(t, &iv, &is_int);
  *out = is_int ? Value::Integer(iv) : Value::Double(d, 10, frac);
  return true;
}

}  // namespace

bool ParseFieldText(std::string_view text, const Field& f, Codepage cp, Value* out,
                    std::string* why) {
  switch (f.kind) {
    case FieldKind::kCharacter: {
      std::string bytes;
      size_t bad = 0;
      if (!FromUtf8(text, cp, &bytes, &bad)) {
        *why = "character not in the table's code page at byte " + std::to_string(bad + 1);
        return false;
      }
      if (bytes.size() > f.length) {
        *why = "text of " + std::to_string(bytes.size()) + " bytes does not fit width " +
               std::to_string(f.length);
        return false;
      }
      *out = Value::String(std::move(bytes));
      return true;
    }
    case FieldKind::kLogical:
      if (text == "T" || text == "t" || text == "Y" || text == "y" || text == ".T.") {
        *out = Value::Logical(true);
      } else if (text == "F" || text == "f" || text == "N" || text == "n" || text == ".F.") {
        *out = Value::Logical(false);
      } else {
        *why = "not a logical value";
        return false;
      }
      return true;
    case FieldKind::kDate: {
      int32_t j = 0;
      if (!ParseDateText(text, &j) || text.size() != 10) {
        *why = "not a date (YYYY-MM-DD)";
        return false;
      }
      *out = Value::Date(j);
      return true;
    }
    case FieldKind::kTimestamp:
    case FieldKind::kModTime:
    case FieldKind::kTime: {
      int32_t j = 0, ms = 0;
      std::string_view time = text;
      if (f.kind != FieldKind::kTime) {
        if (!ParseDateText(text, &j)) {
          *why = "not a timestamp (YYYY-MM-DD HH:MM:SS.mmm)";
          return false;
        }
        time = text.size() > 11 ? text.substr(11) : std::string_view();
      }
      if (!time.empty() && !ParseTimeText(time, &ms)) {
        *why = "not a time (HH:MM:SS.mmm)";
        return false;
      }
      *out = Value::Timestamp(j, ms);
      return true;
    }
    case FieldKind::kNumeric:
    case FieldKind::kFloat:
    case FieldKind::kInteger:
    case FieldKind::kDouble:
    case FieldKind::kDoubleCurrency:
    case FieldKind::kCurrency:
      if (!ParseNumberText(text, out)) {
        *why = "not a number";
        return false;
      }
      return true;
    case FieldKind::kMemo:
    case FieldKind::kPicture:
    case FieldKind::kBlob:
    case FieldKind::kGeneral:
    case FieldKind::kBinaryMemo:
    case FieldKind::kVariant: {
      // Memo fields take the text whole, in the table's code page.
      std::string bytes;
      size_t bad = 0;
      if (!FromUtf8(text, cp, &bytes, &bad)) {
        *why = "character not in the table's code page at byte " + std::to_string(bad + 1);
        return false;
      }
      *out = Value::String(std::move(bytes), f.kind != FieldKind::kVariant);
      return true;
    }
    default:
      *why = "field type cannot be written from text";
      return false;
  }
}

}  // namespace vosk
