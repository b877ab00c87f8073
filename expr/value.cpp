#include "expr/value.h"

#include <cstdio>

#include "expr/settings.h"

namespace vosk {

Value Value::Logical(bool b) {
  Value v;
  v.type_ = Type::kLogical;
  v.b_ = b;
  return v;
}

Value Value::Integer(int64_t i, int width) {
  Value v;
  v.SetInteger(i, width);
  return v;
}

Value Value::Double(double d, int width, int decimals) {
  Value v;
  v.SetDouble(d, width, decimals);
  return v;
}

void Value::SetInteger(int64_t i, int width) {
  Become(Type::kInteger);
  i_ = i;
  if (width == 0) {
    width = (i >= -999999999 && i <= 9999999999LL) ? 10 : 20;
  }
  width_ = static_cast<int16_t>(width);
  decimals_ = 0;
}

void Value::SetDouble(double d, int width, int decimals) {
  Become(Type::kDouble);
  d_ = d;
  if (decimals < 0) decimals = GlobalSettings().decimals();
  if (width == 0) width = (d > -1000000000.0 && d < 10000000000.0) ? 10 : 20;
  width_ = static_cast<int16_t>(width);
  decimals_ = static_cast<int16_t>(decimals);
}

Value Value::Date(int32_t julian) {
  Value v;
  v.type_ = Type::kDate;
  v.julian_ = julian;
  return v;
}

Value Value::Timestamp(int32_t julian, int32_t millis) {
  Value v;
  v.type_ = Type::kTimestamp;
  v.julian_ = julian;
  v.millis_ = millis;
  return v;
}

Value Value::String(std::string s, bool memo) {
  Value v;
  v.type_ = Type::kString;
  v.s_ = std::move(s);
  v.memo_ = memo;
  return v;
}

Value Value::Array(ValueArray items) {
  return Array(std::make_shared<ValueArray>(std::move(items)));
}

Value Value::Array(std::shared_ptr<ValueArray> items) {
  Value v;
  v.type_ = Type::kArray;
  v.arr_ = std::move(items);
  return v;
}

Value Value::Block(std::shared_ptr<const CodeBlock> block) {
  Value v;
  v.type_ = Type::kBlock;
  v.block_ = std::move(block);
  return v;
}

void Value::AssignString(std::string_view s, bool memo) {
  type_ = Type::kString;
  memo_ = memo;
  s_.assign(s.data(), s.size());
  if (arr_) arr_.reset();
  if (block_) block_.reset();
}

char Value::type_letter() const {
  switch (type_) {
    case Type::kNil: return 'U';
    case Type::kLogical: return 'L';
    case Type::kInteger:
    case Type::kDouble: return 'N';
    case Type::kDate: return 'D';
    case Type::kTimestamp: return 'T';
    case Type::kString: return memo_ ? 'M' : 'C';
    case Type::kArray: return 'A';
    case Type::kBlock: return 'B';
  }
  return 'U';
}

// Fliegel and Van Flandern's conversion, valid for all dates from year 1 to 9999.
int32_t JulianFromYmd(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return 0;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int dim = kDays[month - 1];
  if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) dim = 29;
  if (day > dim) return 0;
  int a = (14 - month) / 12;
  int y = year + 4800 - a;
  int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

bool YmdFromJulian(int32_t julian, int* year, int* month, int* day) {
  // 1721426 is 0001-01-01, 5373484 is 9999-12-31.
  if (julian < 1721426 || julian > 5373484) return false;
  int64_t a = static_cast<int64_t>(julian) + 32044;
  int64_t b = (4 * a + 3) / 146097;
  int64_t c = a - 146097 * b / 4;
  int64_t d = (4 * c + 3) / 1461;
  int64_t e = c - 1461 * d / 4;
  int64_t m = (5 * e + 2) / 153;
  *day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  *month = static_cast<int>(m + 3 - 12 * (m / 10));
  *year = static_cast<int>(100 * b + d - 4800 + m / 10);
  return true;
}

std::string DateToDigits(int32_t julian) {
  int y, m, d;
  if (!YmdFromJulian(julian, &y, &m, &d)) return std::string(8, ' ');
  char buf[8] = {static_cast<char>('0' + y / 1000), static_cast<char>('0' + y / 100 % 10),
                 static_cast<char>('0' + y / 10 % 10), static_cast<char>('0' + y % 10),
                 static_cast<char>('0' + m / 10),      static_cast<char>('0' + m % 10),
                 static_cast<char>('0' + d / 10),      static_cast<char>('0' + d % 10)};
  return std::string(buf, 8);
}

int32_t DateFromDigits(std::string_view digits) {
  if (digits.size() < 8) return 0;
  int parts[3] = {0, 0, 0};
  static const int kStart[] = {0, 4, 6}, kLen[] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (int i = 0; i < kLen[p]; ++i) {
      char c = digits[kStart[p] + i];
      if (c < '0' || c > '9') return 0;
      parts[p] = parts[p] * 10 + (c - '0');
    }
  }
  return JulianFromYmd(parts[0], parts[1], parts[2]);
}

}  // namespace vosk
