#include "rdd/dbfntx/ntx_key.h"

#include <algorithm>
#include <cstdio>

#include "expr/number_text.h"
#include "rdd/dbfntx/ntx_format.h"

namespace vosk {
namespace {

// Applies the digit transform to number text as STR() writes it.
void TransformNumberText(char* s, int length) {
  bool negative = false;
  for (int i = 0; i < length; ++i) {
    if (s[i] == ' ') {
      s[i] = '0';
    } else if (s[i] == '-') {
      s[i] = '0';
      negative = true;
    }
  }
  if (negative) {
    for (int i = 0; i < length; ++i) {
      if (s[i] >= '0' && s[i] <= '9') s[i] = static_cast<char>(92 - s[i]);
    }
  }
}

// A timestamp as 17 characters that sort as the values do: the date's eight digits, then hours,
// minutes, seconds and milliseconds ("YYYYMMDDhhmmssfff"); the empty date stays blank.
std::string TimestampKey(int32_t julian, int32_t millis) {
  std::string out = DateToDigits(julian);
  if (millis < 0 || millis >= 86400000) millis = 0;
  char time[10];
  std::snprintf(time, sizeof time, "%02d%02d%02d%03d", millis / 3600000, millis / 60000 % 60,
                millis / 1000 % 60, millis % 1000);
  return out + time;
}

}  // namespace

std::string NtxNumericKey(const Value& number, int length, int decimals) {
  std::string s = StrOf(number, length, decimals);
  s.resize(static_cast<size_t>(length), ' ');
  TransformNumberText(s.data(), length);
  return s;
}

bool NtxNumericKeyFromText(char* text, int length, int decimals) {
  // Canonical: blanks, an optional "-", at least one digit, and with decimals a point followed
  // by exactly `decimals` digits at the end. A negative value must show a nonzero digit.
  int point = decimals > 0 ? length - decimals - 1 : length;
  if (point < 1) return false;
  int i = 0;
  while (i < point && text[i] == ' ') ++i;
  bool negative = i < point && text[i] == '-';
  if (negative) ++i;
  if (i >= point) return false;
  bool nonzero = false;
  for (int j = i; j < point; ++j) {
    if (text[j] < '0' || text[j] > '9') return false;
    nonzero |= text[j] != '0';
  }
  if (point - i > 1 && text[i] == '0') return false;  // a leading zero STR() would not write
  if (decimals > 0) {
    if (text[point] != '.') return false;
    for (int j = point + 1; j < length; ++j) {
      if (text[j] < '0' || text[j] > '9') return false;
      nonzero |= text[j] != '0';
    }
  }
  if (negative && !nonzero) return false;
  TransformNumberText(text, length);
  return true;
}

bool NtxEncodeKey(const Value& value, char type, int length, int decimals, std::string* out) {
  switch (type) {
    case 'C':
      if (!value.is_string()) return false;
      out->assign(value.str(), 0, std::min<size_t>(value.str().size(), static_cast<size_t>(length)));
      out->resize(static_cast<size_t>(length), ' ');
      return true;
    case 'N':
      if (!value.is_numeric()) return false;
      *out = NtxNumericKey(value, length, decimals);
      return true;
    case 'D':
      if (!value.is_date()) return false;
      *out = DateToDigits(value.julian());
      out->resize(static_cast<size_t>(length), ' ');
      return true;
    case 'T':
      if (value.is_timestamp()) *out = TimestampKey(value.julian(), value.millis());
      else if (value.is_date()) *out = TimestampKey(value.julian(), 0);
      else return false;
      out->resize(static_cast<size_t>(length), ' ');
      return true;
    case 'L':
      if (!value.is_logical()) return false;
      out->assign(static_cast<size_t>(length), '\0');
      (*out)[0] = value.logical() ? 'T' : 'F';
      return true;
    default:
      return false;
  }
}

std::string NtxSearchKey(const Value& value, char type, int length, int decimals) {
  std::string out;
  if (type == 'C' && value.is_string()) {
    out.assign(value.str(), 0, std::min<size_t>(value.str().size(), static_cast<size_t>(length)));
    return out;
  }
  if (type == 'T' && value.is_date()) return DateToDigits(value.julian());  // the whole day
  if (NtxEncodeKey(value, type, length, decimals, &out)) return out;
  return std::string(static_cast<size_t>(length), '\0');
}

char NtxKeyTypeOf(const Value& value, int* length, int* decimals) {
  *decimals = 0;
  if (value.is_string()) {
    *length = static_cast<int>(std::min<size_t>(value.str().size(), kNtxMaxKeyLength));
    return 'C';
  }
  if (value.is_numeric()) {
    int width = value.width() > 0 ? value.width() : 10;
    *decimals = value.decimals() > 0 ? value.decimals() : 0;
    *length = width + (*decimals > 0 ? *decimals + 1 : 0);
    return 'N';
  }
  if (value.is_date()) {
    *length = 8;
    return 'D';
  }
  if (value.is_logical()) {
    *length = 1;
    return 'L';
  }
  if (value.is_timestamp()) {
    *length = kNtxTimestampKeyLength;
    return 'T';
  }
  return 0;
}

}  // namespace vosk
