#include "rdd/sdf1/sdf_area.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "expr/number_text.h"
#include "expr/runtime_error.h"
#include "rdd/driver_registry.h"
#include "rdd/transfer.h"

namespace vosk {
namespace {

// Text width of a binary number of n bytes.
int WidthOfBytes(int n) {
  static const int kWidths[] = {0, 4, 6, 8, 11, 13, 16, 18, 20};
  return n >= 0 && n <= 8 ? kWidths[n] : 20;
}

int Digits(const char* p, int n) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return -1;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

// The timestamp read from text: YYYY?MM?DD HH:MM:SS.mmm, as far as the text goes.
Value ParseTimestamp(const char* p, size_t len) {
  size_t n = 0;
  while (n < len && n < 23 && p[n] != 0) ++n;
  if (n < 10) return Value::Timestamp(0, 0);
  int y = Digits(p, 4), m = Digits(p + 5, 2), d = Digits(p + 8, 2);
  int32_t julian = y > 0 && m > 0 && d > 0 ? JulianFromYmd(y, m, d) : 0;
  int32_t ms = 0;
  if (n >= 16) {
    int h = Digits(p + 11, 2), mi = Digits(p + 14, 2);
    if (h >= 0 && h <= 23 && mi >= 0 && mi <= 59) {
      int s = n >= 19 ? Digits(p + 17, 2) : 0;
      int f = n >= 23 ? Digits(p + 20, 3) : 0;
      if (s < 0 || s > 59) s = 0;
      if (f < 0 || f > 999) f = 0;
      ms = ((h * 60 + mi) * 60 + s) * 1000 + f;
    }
  }
  return Value::Timestamp(julian, ms);
}

// A time of day HH:MM:SS.mmm (the 12-character form).
int32_t ParseTimeOfDay(const char* p) {
  int h = Digits(p, 2), mi = Digits(p + 3, 2), s = Digits(p + 6, 2), f = Digits(p + 9, 3);
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || f < 0) return 0;
  return ((h * 60 + mi) * 60 + s) * 1000 + f;
}

// A number as a field stores it: blanks, an optional sign, digits with at most one point
// (or a field of asterisks, a number that did not fit), blanks.
bool ValidNumberText(std::string_view t) {
  size_t b = t.find_first_not_of(' ');
  size_t e = t.find_last_not_of(' ');
  if (b == std::string_view::npos) return true;
  t = t.substr(b, e - b + 1);
  if (t.find_first_not_of('*') == std::string_view::npos) return true;
  size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
  bool digit = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') digit = true;
    else if (t[i] == '.' && !point) point = true;
    else return false;
  }
  return digit;
}

// A date as YYYYMMDD of a real day.
bool ValidDateText(const char* p) {
  int y = Digits(p, 4), m = Digits(p + 4, 2), d = Digits(p + 6, 2);
  return y > 0 && m > 0 && d > 0 && JulianFromYmd(y, m, d) != 0;
}

}  // namespace

bool SdfArea::ValidText(TextType t, std::string_view text) const {
  switch (t) {
    case TextType::kNumber: return ValidNumberText(text);
    case TextType::kDate: return text.size() == 8 && ValidDateText(text.data());
    case TextType::kLogical:
      return std::string_view("TtFfYyNn? ").find(text[0]) != std::string_view::npos;
    default: return true;
  }
}

Status SdfArea::set_field_extent(int count) {
  types_.clear();
  return WorkArea::set_field_extent(count);
}

// The text type and width of a field given by a structure array.
Status SdfArea::add_field(Field f) {
  TextType t = TextType::kNone;
  int width = 0;
  bool raw = false;
  const int bytes = f.length;
  switch (f.kind) {
    case FieldKind::kCharacter: t = TextType::kCharacter; width = f.length; raw = true; break;
    case FieldKind::kNumeric:
    case FieldKind::kFloat: t = TextType::kNumber; width = f.length; raw = true; break;
    case FieldKind::kLogical: t = TextType::kLogical; width = 1; raw = f.length == 1; break;
    case FieldKind::kDate: t = TextType::kDate; width = 8; raw = f.length == 8; break;
    case FieldKind::kInteger:
    case FieldKind::kRowVersion:
    case FieldKind::kAutoInc:
    case FieldKind::kCurrency:
      t = TextType::kNumber;
      width = WidthOfBytes(bytes) + (f.decimals > 0 ? 1 : 0);
      break;
    case FieldKind::kDouble:
    case FieldKind::kDoubleCurrency: t = TextType::kNumber; width = 20; break;
    // An 8-byte timestamp has the same text form as the modification stamps.
    case FieldKind::kTimestamp:
    case FieldKind::kModTime:
    case FieldKind::kModStamp: t = TextType::kTimestamp; width = 23; break;
    case FieldKind::kTime: t = TextType::kTimestamp; width = 12; break;
    case FieldKind::kVarLength: t = TextType::kCharacter; width = f.length; break;
    case FieldKind::kMemo:
    case FieldKind::kPicture:
    case FieldKind::kBlob:
    case FieldKind::kGeneral:
    case FieldKind::kBinaryMemo: t = TextType::kMemo; width = 0; break;
    case FieldKind::kVariant:
      if (bytes == 3) {
        t = TextType::kDate;
        width = 8;
      } else if (bytes >= 1 && bytes <= 5) {
        t = TextType::kNumber;
        width = WidthOfBytes(bytes) + (f.decimals > 0 ? 1 : 0);
      } else {
        t = TextType::kMemo;
      }
      break;
    default: break;
  }
  if (!raw) raw_copy_ = false;
  f.flags = static_cast<uint8_t>(f.flags & ~0x08);  // no autoincrement in text
  f.length = static_cast<uint16_t>(width);
  if (t != TextType::kNumber) f.decimals = 0;
  types_.push_back(t);
  return WorkArea::add_field(std::move(f));
}

Status SdfArea::Prepare() {
  offsets_.clear();
  uint32_t off = 1;
  for (const Field& f : fields_) {
    offsets_.push_back(off);
    off += f.length;
  }
  record_len_ = off - 1;
  record_.assign(1 + record_len_, ' ');
  record_ += separator_;
  text_.reserve(record_len_);
  rec_count_ = 0;
  return kSuccess;
}

void SdfArea::BlankRecord() { std::memset(record_.data() + 1, ' ', record_len_); }

void SdfArea::FormatRecord(std::string* out) {
  out->append(record_, 1, std::string::npos);
}

// One line: a line ends at CR or LF, and the other of the two right after it belongs to the
// same end (CR, LF, CR LF and LF CR each end one line; CR CR ends two). Bytes beyond the record
// and the end byte 0x1A are dropped; a short line leaves the rest blank.
Status SdfArea::ReadRecord(bool* got) {
  text_.clear();
  bool separator = false;
  ++line_;
  for (;;) {
    TakeRun("\r\n\x1a", 3, &text_, record_len_);
    int c = GetByte();
    if (c < 0) break;
    if (c == '\r' || c == '\n') {
      int d = GetByte();
      if (d >= 0 && (d == c || (d != '\r' && d != '\n'))) UngetByte();
      separator = true;
      break;
    }
    if (c != 0x1A && text_.size() < record_len_) text_.push_back(static_cast<char>(c));
  }
  std::memcpy(record_.data() + 1, text_.data(), text_.size());
  std::memset(record_.data() + 1 + text_.size(), ' ', record_len_ - text_.size());
  *got = separator || !text_.empty();
  return kSuccess;
}

// A whole record read: the values its fields cannot hold are blanked (and noted) first.
Status SdfArea::get_record(std::string* out) {
  if (read_only_) {
    for (size_t i = 0; i < types_.size(); ++i) {
      char* p = record_.data() + offsets_[i];
      const uint16_t n = fields_[i].length;
      if (!ValidText(types_[i], std::string_view(p, n))) {
        NoteBadValue(static_cast<int>(i + 1), std::string_view(p, n));
        std::memset(p, ' ', n);
      }
    }
  }
  if (out) out->assign(record_.data(), 1 + record_len_);
  return kSuccess;
}

Status SdfArea::put_record(const std::string* buffer) {
  if (!changed_ || !buffer) return kFailure;
  size_t n = buffer->size() > 1 ? std::min<size_t>(buffer->size() - 1, record_len_) : 0;
  std::memcpy(record_.data() + 1, buffer->data() + 1, n);
  return kSuccess;
}

Status SdfArea::get_value(int pos, Value* out) {
  if (pos < 1 || pos > static_cast<int>(types_.size())) return kFailure;
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  const char* p = record_.data() + offsets_[static_cast<size_t>(pos - 1)];
  switch (types_[static_cast<size_t>(pos - 1)]) {
    case TextType::kCharacter: {
      std::string s(p, f.length);
      if (!(f.flags & 0x04) && file_cp_ != codepage_) {
        notes_.lost += TranslateBytes(&s, file_cp_, codepage_);
      }
      *out = Value::String(std::move(s));
      return kSuccess;
    }
    case TextType::kNumber: {
      Value v = ValOf(std::string_view(p, f.length));
      if (f.decimals > 0) {
        *out = Value::Double(v.number(), f.length - f.decimals - 1, f.decimals);
      } else if (v.is_integer()) {
        *out = Value::Integer(v.integer(), f.length);
      } else {
        *out = Value::Double(v.number(), f.length, 0);
      }
      return kSuccess;
    }
    case TextType::kDate: {
      int y = Digits(p, 4), m = Digits(p + 4, 2), d = Digits(p + 6, 2);
      *out = Value::Date(y > 0 && m > 0 && d > 0 ? JulianFromYmd(y, m, d) : 0);
      return kSuccess;
    }
    case TextType::kLogical:
      *out = Value::Logical(*p == 'T' || *p == 'Y' || *p == 't' || *p == 'y');
      return kSuccess;
    case TextType::kTimestamp:
      *out = f.length == 12 ? Value::Timestamp(0, ParseTimeOfDay(p)) : ParseTimestamp(p, f.length);
      return kSuccess;
    case TextType::kMemo: *out = Value::String("", true); return kSuccess;
    case TextType::kNone: *out = Value(); return kSuccess;
  }
  DriverError(kEdfDataType, "", 0, f.name);
  return kFailure;
}

// Numbers, dates, logicals and timestamps of all blanks hold no value; neither does one that
// its field cannot hold (a date that is no day, a number that is no number), which is noted.
Status SdfArea::field_is_blank(int pos, bool* out) {
  *out = false;
  if (pos < 1 || pos > static_cast<int>(types_.size())) return kSuccess;
  const TextType t = types_[static_cast<size_t>(pos - 1)];
  if (t == TextType::kCharacter || t == TextType::kMemo || t == TextType::kNone) return kSuccess;
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  const char* p = record_.data() + offsets_[static_cast<size_t>(pos - 1)];
  *out = std::all_of(p, p + f.length, [](char c) { return c == ' '; });
  if (!*out && read_only_ && !ValidText(t, std::string_view(p, f.length))) {
    NoteBadValue(pos, std::string_view(p, f.length));
    *out = true;
  }
  return kSuccess;
}

Status SdfArea::put_value(int pos, const Value& v) {
  if (pos < 1 || pos > static_cast<int>(types_.size())) return kFailure;
  if (!positioned_) return kSuccess;
  if (!changed_) return kFailure;
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  char* p = record_.data() + offsets_[static_cast<size_t>(pos - 1)];
  const TextType t = types_[static_cast<size_t>(pos - 1)];
  // A null value (Visual FoxPro) leaves the field blank.
  if (v.is_nil() || t == TextType::kMemo || t == TextType::kNone) return kSuccess;
  switch (t) {
    case TextType::kCharacter: {
      if (!v.is_string()) return ValueError(kEdfDataType, pos);
      std::string_view text = v.str();
      std::string translated;
      if (!(f.flags & 0x04) && file_cp_ != codepage_ && AsciiRun(text) != text.size()) {
        translated.assign(text);
        notes_.lost += TranslateBytes(&translated, codepage_, file_cp_);
        text = translated;
      }
      size_t n = std::min<size_t>(text.size(), f.length);
      std::memcpy(p, text.data(), n);
      std::memset(p + n, ' ', f.length - n);
      return kSuccess;
    }
    case TextType::kNumber: {
      if (!v.is_numeric()) return ValueError(kEdfDataType, pos);
      std::string text = StrOf(v, f.length, f.decimals);
      if (text.size() != f.length || text.find('*') != std::string::npos) {
        std::memset(p, '*', f.length);
        return ValueError(kEdfDataWidth, pos);
      }
      std::memcpy(p, text.data(), f.length);
      return kSuccess;
    }
    case TextType::kDate: {
      if (!v.is_date() && !v.is_timestamp()) return ValueError(kEdfDataType, pos);
      if (v.julian() == 0) {
        std::memset(p, ' ', 8);
      } else {
        std::string digits = DateToDigits(v.julian());
        if (digits.size() != 8) return ValueError(kEdfDataType, pos);
        std::memcpy(p, digits.data(), 8);
      }
      return kSuccess;
    }
    case TextType::kLogical:
      if (!v.is_logical()) return ValueError(kEdfDataType, pos);
      *p = v.logical() ? 'T' : 'F';
      return kSuccess;
    case TextType::kTimestamp: {
      if (!v.is_timestamp() && !v.is_date()) return ValueError(kEdfDataType, pos);
      int ms = v.is_timestamp() ? v.millis() : 0;
      if (ms < 0) ms = 0;
      char buf[40];
      if (f.length == 12) {
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", ms / 3600000 % 100,
                      ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
      } else if (v.julian() == 0 && ms == 0) {
        std::memset(buf, ' ', 23);
      } else {
        int y = 0, m = 0, d = 0;
        if (v.julian() != 0) (void)YmdFromJulian(v.julian(), &y, &m, &d);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y % 10000, m, d,
                      ms / 3600000 % 100, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
      }
      std::memcpy(p, buf, f.length);
      return kSuccess;
    }
    default: return kSuccess;
  }
}

Status SdfArea::info(int code, const Value& new_value, Value* out) {
  switch (code) {
    case kDbiCanPutRec: *out = Value::Logical(raw_copy_ && file_cp_ == codepage_); return kSuccess;
    case 7: *out = Value::Integer(record_len_); return kSuccess;
    default: return TextArea::info(code, new_value, out);
  }
}

// Whole records when the layouts match, every field kept its table type and width and both
// areas use one code page.
Status SdfArea::transfer(TransferInfo* info) {
  if (Failed(DecideWholeRecords(info, raw_copy_ && file_cp_ == codepage_))) return kFailure;
  return WorkArea::transfer(info);
}

void RegisterSdfDriver() {
  RegisterTransferKindDriver("SDF", ".txt", [](Driver* d) -> std::unique_ptr<WorkArea> {
    return std::make_unique<SdfArea>(d);
  });
}

}  // namespace vosk
