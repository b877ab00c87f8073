#include "rdd/text/field_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "expr/decimal_text.h"
#include "expr/number_text.h"
#include "rdd/byte_order.h"

namespace vosk {
namespace {

// UTF-8 forms of every byte of a code page, built once per code page. The UTF-8 form of a
// byte of 0x80 or more never holds an ASCII byte, so quoting can be decided on the raw bytes.
struct Utf8Table {
  char bytes[256][4];
  uint8_t size[256];
};

const Utf8Table& TableFor(Codepage cp) {
  static Utf8Table tables[kCodepageCount];
  static std::once_flag once[kCodepageCount];
  const int i = static_cast<int>(cp);
  std::call_once(once[i], [&] {
    Utf8Table& t = tables[i];
    for (int b = 0; b < 256; ++b) {
      std::string_view utf8 = ByteToUtf8(static_cast<uint8_t>(b), cp);
      t.size[b] = static_cast<uint8_t>(std::min<size_t>(utf8.size(), 4));
      std::memcpy(t.bytes[b], utf8.data(), t.size[b]);
    }
  });
  return tables[i];
}

// Bytes that make text leave the plain path: 1 = needs CSV quoting, 2 = not ASCII.
struct ByteClasses {
  uint8_t of[256] = {};
  constexpr ByteClasses() {
    of[static_cast<uint8_t>('"')] = of[static_cast<uint8_t>(',')] = 1;
    of[static_cast<uint8_t>('\r')] = of[static_cast<uint8_t>('\n')] = 1;
    for (int b = 0x80; b < 0x100; ++b) of[b] = 2;
  }
};
constexpr ByteClasses kByteClasses;

// Eight bytes at a time: listing a table is mostly copying text. Words are loaded
// little-endian (the first byte is the lowest).
static_assert(std::endian::native == std::endian::little);
constexpr uint64_t kEachByte = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

uint64_t Load8(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Nonzero when some byte of w equals c (exact as a yes/no answer).
uint64_t HasByte(uint64_t w, uint8_t c) {
  uint64_t v = w ^ (kEachByte * c);
  return (v - kEachByte) & ~v & kHighBits;
}

bool IsPlain(uint64_t w) {
  return (w & kHighBits) == 0 && !HasByte(w, '"') && !HasByte(w, ',') && !HasByte(w, '\r') &&
         !HasByte(w, '\n');
}

// Classes (as in kByteClasses) of the bytes of p[0, n).
uint8_t ClassesOf(const uint8_t* p, size_t n) {
  if (n >= 8) {
    size_t i = 0;
    while (i + 8 <= n && IsPlain(Load8(p + i))) i += 8;
    if (i + 8 > n && IsPlain(Load8(p + n - 8))) return 0;  // the tail, overlapping
  }
  uint8_t classes = 0;
  for (size_t i = 0; i < n; ++i) classes |= kByteClasses.of[p[i]];
  return classes;
}

// Length of p[0, n) without its trailing blanks and NULs.
size_t TrimmedLength(const uint8_t* p, size_t n) {
  while (n >= 8) {
    uint64_t other = Load8(p + n - 8) ^ (kEachByte * ' ');
    if (other != 0) {
      n -= static_cast<size_t>(__builtin_clzll(other)) / 8;  // blanks at the high addresses
      break;
    }
    n -= 8;
  }
  while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
  return n;
}

void AppendText(std::string* out, const uint8_t* p, size_t n, Codepage cp) {
  n = TrimmedLength(p, n);
  uint8_t classes = ClassesOf(p, n);
  if (classes == 0) {
    out->append(reinterpret_cast<const char*>(p), n);
    return;
  }
  const Utf8Table& t = TableFor(cp);
  bool quote = classes & 1;
  if (quote) out->push_back('"');
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = p[i];
    if (c < 0x80) {
      if (c == '"' && quote) out->push_back('"');
      out->push_back(static_cast<char>(c));
    } else {
      out->append(t.bytes[c], t.size[c]);
    }
  }
  if (quote) out->push_back('"');
}

// Appends n decimal digits of v (0 <= v < 10^n).
void AppendDigits(std::string* out, int v, int n) {
  char buf[4];
  for (int i = n - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out->append(buf, static_cast<size_t>(n));
}

void AppendDate(std::string* out, int32_t julian) {
  int y, m, d;
  if (!YmdFromJulian(julian, &y, &m, &d)) return;
  AppendDigits(out, y, 4);
  out->push_back('-');
  AppendDigits(out, m, 2);
  out->push_back('-');
  AppendDigits(out, d, 2);
}

// A date stored as YYYYMMDD digits; a valid date (year 1-9999, a day of the month) is copied
// as it stands, anything else lists as empty.
void AppendDigitsDate(std::string* out, const uint8_t* p) {
  const char* c = reinterpret_cast<const char*>(p);
  int v[8];
  for (int i = 0; i < 8; ++i) {
    v[i] = c[i] - '0';
    if (v[i] < 0 || v[i] > 9) return;
  }
  int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5];
  int d = v[6] * 10 + v[7];
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || d < 1) return;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return;
  char buf[10] = {c[0], c[1], c[2], c[3], '-', c[4], c[5], '-', c[6], c[7]};
  out->append(buf, sizeof buf);
}

// Stored numeric text that is already in the listed form: [-]digits, with a point and exactly
// `decimals` digits after it when decimals > 0, at least one digit before the point.
bool IsCanonicalNumber(std::string_view t, int decimals) {
  size_t i = t[0] == '-' ? 1 : 0;
  size_t digits_before = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) ++digits_before;
  if (digits_before == 0) return false;
  if (decimals == 0) return i == t.size();
  if (i == t.size() || t[i] != '.' || t.size() - i - 1 != static_cast<size_t>(decimals)) {
    return false;
  }
  for (++i; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
  }
  return true;
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
      else AppendDigitsDate(out, p);
      return true;
    case FieldKind::kNumeric:
    case FieldKind::kFloat: {
      const char* c = reinterpret_cast<const char*>(p);
      size_t b = 0, e = f.length;
      while (b < e && c[b] == ' ') ++b;
      if (b == e) return true;  // blank
      while (c[e - 1] == ' ') --e;
      std::string_view t(c + b, e - b);
      // Filled with "*": a value that did not fit, or how some programs store a null. Shown
      // empty, as a blank field is (in expressions and keys both read as 0).
      if (t.find_first_not_of('*') == std::string_view::npos) return true;
      if (IsCanonicalNumber(t, f.decimals)) {
        out->append(t);
        return true;
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
      out->append(ScaledText(GetLeSigned(p, f.length), f.decimals));
      return true;
    case FieldKind::kCurrency:
      out->append(ScaledText(GetLeSigned(p, f.length), 4));
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

void AppendValueText(std::string* out, const Value& v, const Field& f, Codepage cp) {
  switch (v.type()) {
    case Value::Type::kNil: return;
    case Value::Type::kLogical: out->push_back(v.logical() ? 'T' : 'F'); return;
    case Value::Type::kDate: if (v.julian() != 0) AppendDate(out, v.julian()); return;
    case Value::Type::kTimestamp:
      if (f.kind == FieldKind::kTime) {
        out->append(TimestampText(0, v.millis()));
      } else if (v.julian() != 0 || v.millis() != 0) {
        out->append(TimestampText(v.julian(), v.millis()));
      }
      return;
    case Value::Type::kInteger:
      out->append(ScaledText(v.integer(), 0));
      if (f.decimals > 0 && f.kind != FieldKind::kDouble && f.kind != FieldKind::kDoubleCurrency) {
        out->push_back('.');
        out->append(f.decimals, '0');
      }
      return;
    case Value::Type::kDouble:
      if (f.kind == FieldKind::kDouble || f.kind == FieldKind::kDoubleCurrency ||
          f.kind == FieldKind::kVariant) {
        out->append(DoubleText(v.number(), f.decimals));
      } else if (f.kind == FieldKind::kCurrency) {
        out->append(FormatDecimal(v.number(), 4));
      } else if (f.decimals > 0) {
        out->append(FormatDecimal(v.number(), f.decimals));
      } else {
        out->append(DoubleText(v.number(), 0));
      }
      return;
    case Value::Type::kString: {
      std::string_view t = v.str();
      if (!v.is_memo() && (f.kind == FieldKind::kCharacter || f.kind == FieldKind::kVarLength)) {
        size_t n = t.size();
        while (n > 0 && (t[n - 1] == ' ' || t[n - 1] == 0)) --n;
        t = t.substr(0, n);
      }
      const Utf8Table& table = TableFor(cp);
      for (unsigned char c : t) {
        if (c < 0x80) out->push_back(static_cast<char>(c));
        else out->append(table.bytes[c], table.size[c]);
      }
      return;
    }
    default: return;
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

// Text turned into a code page: characters it lacks become '?' and are counted in *lost, or
// (lost null) make it fail with *why set.
bool EncodeText(std::string_view text, Codepage cp, std::string* bytes, uint64_t* lost,
                std::string* why) {
  if (lost) {
    bytes->assign(text);
    *lost += TranslateBytes(bytes, Codepage::kUtf8, cp);
    return true;
  }
  size_t bad = 0;
  if (!FromUtf8(text, cp, bytes, &bad)) {
    *why = "character not in the table's code page at byte " + std::to_string(bad + 1);
    return false;
  }
  return true;
}

}  // namespace

bool ParseFieldText(std::string_view text, const Field& f, Codepage cp, Value* out,
                    std::string* why, uint64_t* lost) {
  switch (f.kind) {
    case FieldKind::kCharacter:
    case FieldKind::kVarLength: {
      std::string bytes;
      if (!EncodeText(text, cp, &bytes, lost, why)) return false;
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
      if ((f.kind == FieldKind::kNumeric || f.kind == FieldKind::kFloat) &&
          StrOf(*out, f.length, f.decimals).find('*') != std::string::npos) {
        *why = "number does not fit width " + std::to_string(f.length) +
               (f.decimals ? "," + std::to_string(f.decimals) : "");
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
      if (!EncodeText(text, cp, &bytes, lost, why)) return false;
      *out = Value::String(std::move(bytes), f.kind != FieldKind::kVariant);
      return true;
    }
    default:
      *why = "field type cannot be written from text";
      return false;
  }
}

}  // namespace vosk
