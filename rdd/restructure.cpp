#include "rdd/restructure.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "expr/date_text.h"
#include "expr/number_text.h"

namespace vosk {
namespace {

constexpr char kBackupMark[] = "_ORIGINALE";

std::string Trim(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string TrimRight(std::string_view s) {
  size_t e = s.find_last_not_of(' ');
  return e == std::string_view::npos ? "" : std::string(s.substr(0, e + 1));
}

// The number as text without leading blanks (STR() of the value, left-trimmed).
std::string NumberText(const Value& v) { return Trim(StrOf(v)); }

// The class of the old value: the type letter of the conversion table. Numbers of any numeric
// field type convert as "N" (but "+" keeps its rows); timestamps of "T" and "@" alike.
char OldClass(const Value& v, const FieldSpec& f) {
  switch (v.type()) {
    case Value::Type::kString: return v.is_memo() || f.type == 'M' ? 'M' : 'C';
    case Value::Type::kDate: return 'D';
    case Value::Type::kLogical: return 'L';
    case Value::Type::kTimestamp: return f.type == '@' ? '@' : 'T';
    case Value::Type::kInteger:
    case Value::Type::kDouble: return f.type == '+' ? '+' : 'N';
    default: return '?';
  }
}

bool IsNumericTarget(char t) {
  return t == 'N' || t == 'F' || t == 'I' || t == 'Y' || t == 'B' || t == '8' || t == '2' ||
         t == '4' || t == 'Z';
}

// A number for the new field: fit for the text-stored kinds (N, F), as it is for the binary
// ones, which the driver stores by their own rules.
Value NumberFor(double number, const FieldSpec& to) {
  if (to.type == 'N' || to.type == 'F') return FitNumber(number, to.length, to.decimals);
  return Value::Double(number, 0, to.decimals);
}

Value NumberOfText(std::string_view text, const FieldSpec& to) {
  return NumberFor(ValOf(AdjustNumberText(text)).number(), to);
}

Value DateOfDigits(std::string_view text) {
  return Value::Date(DateFromDigits(text.substr(0, std::min<size_t>(8, text.size()))));
}

Value TimestampOfText(const std::string& text) {
  Value t = TextToTimestamp(text);
  if (t.is_timestamp() && (t.julian() != 0 || t.millis() != 0)) return t;
  const std::string trimmed = Trim(text);
  t = TimestampFromDigits(std::string_view(trimmed).substr(0, std::min<size_t>(18, trimmed.size())));
  if (t.is_timestamp() && t.julian() != 0) return t;
  int32_t day = TextToDate(std::string_view(trimmed).substr(0, std::min<size_t>(10, trimmed.size())));
  if (day == 0) day = DateFromDigits(std::string_view(trimmed).substr(0, std::min<size_t>(8, trimmed.size())));
  return Value::Timestamp(day, 0);
}

bool TimestampEmpty(const Value& v) { return v.julian() == 0 && v.millis() == 0; }

// "YYYYMMDDhhmmss" of a timestamp.
std::string TimestampDigits14(const Value& v) {
  return TimestampToDigits(v.julian(), v.millis()).substr(0, 14);
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

FieldSpec FieldSpecOfRow(const Value& row) {
  FieldSpec f;
  if (!row.is_array()) return f;
  const ValueArray& r = row.array();
  if (r.size() > 0 && r[0].is_string()) f.name = Trim(r[0].str());
  for (char& c : f.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (r.size() > 1 && r[1].is_string() && !r[1].str().empty()) {
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(r[1].str()[0])));
  }
  if (r.size() > 2 && r[2].is_numeric()) f.length = static_cast<int>(r[2].number());
  if (r.size() > 3 && r[3].is_numeric()) f.decimals = static_cast<int>(r[3].number());
  if (r.size() > 4 && r[4].is_numeric()) f.flags = static_cast<int>(r[4].number());
  return f;
}

std::vector<FieldSpec> FieldSpecsOf(const ValueArray& structure) {
  std::vector<FieldSpec> out;
  out.reserve(structure.size());
  for (const Value& row : structure) out.push_back(FieldSpecOfRow(row));
  return out;
}

std::vector<int> ConversionMap(const std::vector<FieldSpec>& old_fields,
                               const std::vector<FieldSpec>& new_fields) {
  std::vector<int> map(new_fields.size(), 0);
  auto in_new = [&](const std::string& name) {
    return std::any_of(new_fields.begin(), new_fields.end(),
                       [&](const FieldSpec& f) { return SameName(f.name, name); });
  };
  for (size_t i = 0; i < new_fields.size(); ++i) {
    for (size_t j = 0; j < old_fields.size(); ++j) {
      if (SameName(old_fields[j].name, new_fields[i].name)) {
        map[i] = static_cast<int>(j + 1);
        break;
      }
    }
    if (map[i] == 0 && i < old_fields.size() && !in_new(old_fields[i].name)) {
      map[i] = static_cast<int>(i + 1);
    }
  }
  return map;
}

std::string AdjustNumberText(std::string_view text) {
  if (text.find(',') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '.') continue;
    out.push_back(c == ',' ? '.' : c);
  }
  return out;
}

Value FitNumber(double number, int len, int dec) {
  const std::string text = StrOf(Value::Double(number), len, dec);
  const double fitted =
      text.empty() || text.find('*') != std::string::npos ? 0.0 : ValOf(text).number();
  if (dec <= 0) return Value::Integer(static_cast<int64_t>(fitted), len);
  return Value::Double(fitted, len, dec);
}

Value ConvertFieldValue(const Value& value, const FieldSpec& old_field,
                        const FieldSpec& new_field) {
  const char o = OldClass(value, old_field);
  char n = new_field.type;
  if (IsNumericTarget(n)) n = 'N';
  const bool to_text = n == 'C' || n == 'M';
  switch (o) {
    case 'C':
    case 'M': {
      const std::string& text = value.str();
      if (o == 'C' && n == 'M') return Value::String(TrimRight(text), true);
      if (n == 'D') {
        int32_t day = TextToDate(text);
        if (day == 0) day = DateOfDigits(Trim(text)).julian();
        return Value::Date(day);
      }
      if (n == 'N') return NumberOfText(text, new_field);
      if (n == 'L') {
        const std::string t = Trim(text);
        return Value::Logical(!(t.empty() || ::strncasecmp(t.c_str(), ".F.", 3) == 0));
      }
      if (n == 'T') return TimestampOfText(text);
      if (o == 'M' && n == 'C') {
        std::string out;
        out.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
          if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out.push_back(' ');
            ++i;
          } else {
            out.push_back(text[i]);
          }
        }
        return Value::String(std::move(out));
      }
      break;
    }
    case 'D':
      if (to_text) {
        // An empty memo rather than a memo of 8 blanks.
        if (value.julian() == 0) return Value::String(n == 'M' ? "" : "        ", n == 'M');
        return Value::String(DateToText(value.julian()), n == 'M');
      }
      if (n == 'N') return NumberFor(ValOf(DateToDigits(value.julian())).number(), new_field);
      if (n == 'L') return Value::Logical(value.julian() != 0);
      // A date into a timestamp: that day at midnight.
      if (n == 'T') return Value::Timestamp(value.julian(), 0);
      break;
    case 'N':
      if (to_text) {
        return Value::String(value.number() == 0 ? "" : NumberText(value), n == 'M');
      }
      if (n == 'D') return DateOfDigits(NumberText(value));
      if (n == 'N') return NumberFor(value.number(), new_field);
      if (n == 'T') {
        const std::string t = NumberText(value);
        return TimestampFromDigits(std::string_view(t).substr(0, std::min<size_t>(18, t.size())));
      }
      if (n == 'L') return Value::Logical(value.number() != 0);
      break;
    case 'L':
      if (to_text) return Value::String(value.logical() ? ".T." : "", n == 'M');
      if (n == 'D') return Value::Date(0);
      if (n == 'N') return NumberFor(value.logical() ? 1 : 0, new_field);
      // A logical has no time: the empty timestamp, as the empty date above.
      if (n == 'T') return Value::Timestamp(0, 0);
      break;
    case 'T':
    case '@':
      if (to_text) {
        if (TimestampEmpty(value)) return Value::String("", n == 'M');
        return Value::String(TimestampToText(value.julian(), value.millis()), n == 'M');
      }
      if (n == 'D') return Value::Date(value.julian());
      if (n == 'N') return NumberFor(ValOf(TimestampDigits14(value)).number(), new_field);
      if (n == 'L') return Value::Logical(o == '@' || !TimestampEmpty(value));
      break;
    case '+':
      if (to_text) return Value::String(NumberText(value), n == 'M');
      if (n == 'D') return DateOfDigits(NumberText(value));
      if (n == 'N') return NumberFor(value.number(), new_field);
      if (n == 'L') return Value::Logical(true);
      break;
    default:
      break;
  }
  return value;
}

std::string PathWithoutExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

std::string RestructureBackupName(const std::string& file) {
  const std::string base = PathWithoutExtension(file);
  return base + kBackupMark + file.substr(base.size());
}

}  // namespace vosk
