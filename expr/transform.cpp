#include "expr/transform.h"

#include <cstring>

#include "expr/date_text.h"
#include "expr/number_text.h"

namespace vosk {
namespace {

char UpperByte(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct Picture {
  std::string functions;  // letters after "@", upper-cased
  std::string mask;
  bool Has(char f) const { return functions.find(f) != std::string::npos; }
};

Picture Split(std::string_view picture) {
  Picture p;
  if (!picture.empty() && picture[0] == '@') {
    size_t blank = picture.find(' ');
    std::string_view f = picture.substr(1, blank == std::string_view::npos ? picture.npos : blank - 1);
    for (char c : f) p.functions += UpperByte(c);
    if (blank != std::string_view::npos) p.mask.assign(picture.substr(blank + 1));
  } else {
    p.mask.assign(picture);
  }
  return p;
}

bool IsTextTemplate(char c) { return std::strchr("ANX9#LY!anxly", c) != nullptr && c != 0; }
bool IsDigitTemplate(char c) { return c == '9' || c == '#' || c == '*' || c == '$'; }

std::string TransformText(const std::string& s, const Picture& p) {
  bool upper = p.Has('!');
  if (p.mask.empty()) {
    std::string out = s;
    if (upper) {
      for (char& c : out) c = UpperByte(c);
    }
    return out;
  }
  bool insert = p.Has('R');
  std::string out;
  size_t in = 0;
  for (char m : p.mask) {
    if (IsTextTemplate(m)) {
      char c = in < s.size() ? s[in] : ' ';
      ++in;
      if (upper || m == '!') c = UpperByte(c);
      out += c;
    } else {
      out += m;
      if (!insert) ++in;
    }
  }
  return out;
}

std::string TransformNumber(const Value& v, const Picture& p) {
  bool negative = v.number() < 0;
  bool parens = p.Has('(') && negative;
  Value shown = v;
  if (parens) {
    shown = v.is_integer() && v.integer() != INT64_MIN ? Value::Integer(-v.integer())
                                                        : Value::Double(-v.number());
  }

  std::string out;
  if (p.mask.empty()) {
    out = StrOf(shown);
  } else {
    int int_positions = 0, dec_positions = 0;
    bool point = false;
    for (char m : p.mask) {
      if (m == '.' && !point) {
        point = true;
      } else if (IsDigitTemplate(m)) {
        (point ? dec_positions : int_positions)++;
      }
    }
    int width = int_positions + (dec_positions > 0 ? dec_positions + 1 : 0);
    std::string num = width > 0 ? StrOf(shown, width, dec_positions) : std::string();
    bool overflow = !num.empty() && num[0] == '*';
    std::string int_part = num.substr(0, static_cast<size_t>(int_positions));
    std::string dec_part =
        dec_positions > 0 ? num.substr(static_cast<size_t>(int_positions) + 1) : std::string();
    size_t ii = 0, di = 0;
    bool after_point = false;
    for (char m : p.mask) {
      if (m == '.' && !after_point) {
        after_point = true;
        out += '.';
      } else if (IsDigitTemplate(m)) {
        char c;
        if (overflow) {
          c = '*';
        } else if (after_point) {
          c = di < dec_part.size() ? dec_part[di++] : '0';
        } else {
          c = ii < int_part.size() ? int_part[ii++] : ' ';
          if (c == ' ' && (m == '*' || m == '$')) c = m;
        }
        out += c;
      } else if (m == ',') {
        char prev = out.empty() ? ' ' : out.back();
        out += (overflow || (prev >= '0' && prev <= '9')) ? ',' : (prev == '*' || prev == '$' ? prev : ' ');
      } else {
        out += m;
      }
    }
  }
  if (p.Has('Z') && v.number() == 0.0) return std::string(out.size(), ' ');
  if (p.Has('E')) {
    for (char& c : out) c = c == '.' ? ',' : c == ',' ? '.' : c;
  }
  if (parens) {
    size_t start = out.find_first_not_of(' ');
    if (start == std::string::npos) start = out.size();
    out = out.substr(0, start > 0 ? start - 1 : 0) + "(" + out.substr(start) + ")";
  }
  if (p.Has('B')) {
    size_t start = out.find_first_not_of(' ');
    if (start != std::string::npos && start > 0) out = out.substr(start) + std::string(start, ' ');
  }
  if (p.Has('C') && !negative && v.number() > 0) out += " CR";
  if (p.Has('X') && negative) out += " DB";
  return out;
}

}  // namespace

std::string Transform(const Value& value, std::string_view picture) {
  Picture p = Split(picture);
  switch (value.type()) {
    case Value::Type::kString:
      return TransformText(value.str(), p);
    case Value::Type::kInteger:
    case Value::Type::kDouble:
      return TransformNumber(value, p);
    case Value::Type::kDate:
      return DateToText(value.julian());
    case Value::Type::kTimestamp:
      return TimestampToText(value.julian(), value.millis());
    case Value::Type::kLogical: {
      bool yes_no = p.mask.find_first_of("Yy") != std::string::npos;
      return value.logical() ? (yes_no ? "Y" : "T") : (yes_no ? "N" : "F");
    }
    default:
      return std::string();
  }
}

}  // namespace vosk
