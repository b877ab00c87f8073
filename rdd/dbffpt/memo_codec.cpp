#include "rdd/dbffpt/memo_codec.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "rdd/byte_order.h"
#include "rdd/dbffpt/memo_format.h"

namespace vosk {
namespace {

void AppendLe32(std::string* out, uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  out->append(reinterpret_cast<const char*>(b), 4);
}

void AppendLe64(std::string* out, uint64_t v) {
  uint8_t b[8];
  PutLe64(b, v);
  out->append(reinterpret_cast<const char*>(b), 8);
}

void AppendDouble(std::string* out, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  AppendLe64(out, bits);
}

const uint8_t* Bytes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

double GetDouble(const uint8_t* p) {
  uint64_t bits = GetLe64(p);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

// Width and decimals of a number as they are kept in one byte each.
uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Encodes one value in a form. top: the value stands alone in a block (not an array element).
bool EncodeItem(ValueForm form, const Value& v, const TextCoding& coding, int depth, bool top,
                uint32_t* type, std::string* data) {
  data->clear();
  const bool six = form != ValueForm::kFlex;
  switch (v.type()) {
    case Value::Type::kNil:
      if (top) return false;
      *type = six ? kSerialNil : kFptNil;
      return true;
    case Value::Type::kLogical:
      if (six) {
        *type = kFptSixLogical;
        data->push_back(v.logical() ? 1 : 0);
      } else {
        *type = v.logical() ? kFptTrue : kFptFalse;
      }
      return true;
    case Value::Type::kInteger: {
      int64_t i = v.integer();
      if (six) {
        *type = kFptSixInteger;
        if (FitsInt32(i)) AppendLe32(data, static_cast<uint32_t>(i));
        else AppendLe64(data, static_cast<uint64_t>(i));
      } else if (i >= -128 && i <= 127) {
        *type = kFptInt8;
        data->push_back(static_cast<char>(i));
      } else if (i >= -32768 && i <= 32767) {
        *type = kFptInt16;
        uint8_t b[2];
        PutLe16(b, static_cast<uint16_t>(i));
        data->append(reinterpret_cast<const char*>(b), 2);
      } else if (FitsInt32(i)) {
        *type = kFptInt32;
        AppendLe32(data, static_cast<uint32_t>(i));
      } else {
        *type = kFptDouble;
        AppendDouble(data, static_cast<double>(i));
      }
      return true;
    }
    case Value::Type::kDouble:
      if (six) {
        *type = kFptSixNumber;
        data->push_back(static_cast<char>(ClampByte(v.width())));
        data->push_back(static_cast<char>(ClampByte(v.decimals())));
      } else {
        *type = kFptDouble;
      }
      AppendDouble(data, v.dbl());
      return true;
    case Value::Type::kDate:
      *type = six ? kFptSixDate : kFptDate;
      AppendLe32(data, static_cast<uint32_t>(v.julian()));
      return true;
    case Value::Type::kTimestamp:
      if (top) return false;
      *type = kFptSixTimestamp;
      AppendLe32(data, static_cast<uint32_t>(v.julian()));
      AppendLe32(data, static_cast<uint32_t>(v.millis()));
      return true;
    case Value::Type::kString:
      *type = six ? kFptSixText : kFptText;
      *data = v.str();
      coding.ToTable(data);
      return true;
    case Value::Type::kArray:
      *type = six ? kFptSixArray : kFptFlexArray;
      return EncodeArrayBody(form, v.array(), coding, depth + 1, data);
    default:
      return false;
  }
}

// Decodes one value of a form; element: an array element (types 0 and 64 allowed).
bool DecodeItem(ValueForm form, uint32_t type, std::string_view d, const TextCoding& coding,
                int depth, bool element, Value* out) {
  const uint8_t* p = Bytes(d);
  *out = Value();
  switch (type) {
    case kSerialNil:
      if (element) return d.empty();
      *out = Value::String(std::string(d), true);  // raw bytes, no translation
      return true;
    case kFptText:
    case kFptSixText: {
      std::string s(d);
      coding.ToProgram(&s);
      *out = Value::String(std::move(s), !element);
      return true;
    }
    case kFptSixInteger:
      if (d.size() == 4) *out = Value::Integer(static_cast<int32_t>(GetLe32(p)));
      else if (d.size() == 8) *out = Value::Integer(static_cast<int64_t>(GetLe64(p)));
      else return false;
      return true;
    case kFptSixNumber:
      if (d.size() != 10) return false;
      *out = Value::Double(GetDouble(p + 2), p[0], p[1]);
      return true;
    case kFptSixDate:
    case kFptDate:
      if (d.size() != 4) return false;
      *out = Value::Date(static_cast<int32_t>(GetLe32(p)));
      return true;
    case kFptSixTimestamp:
      if (!element || d.size() != 8) return false;
      *out = Value::Timestamp(static_cast<int32_t>(GetLe32(p)),
                              static_cast<int32_t>(GetLe32(p + 4)));
      return true;
    case kFptSixLogical:
      if (d.size() != 1) return false;
      *out = Value::Logical(p[0] != 0);
      return true;
    case kFptSixArray:
      return DecodeArrayBody(ValueForm::kSix, d, coding, depth + 1, out);
    case kFptFlexArray:
      return DecodeArrayBody(ValueForm::kFlex, d, coding, depth + 1, out);
    case kFptNil: return d.empty();
    case kFptTrue: *out = Value::Logical(true); return d.empty();
    case kFptFalse: *out = Value::Logical(false); return d.empty();
    case kFptInt8:
      if (d.size() != 1) return false;
      *out = Value::Integer(static_cast<int8_t>(p[0]));
      return true;
    case kFptUint8:
      if (d.size() != 1) return false;
      *out = Value::Integer(p[0]);
      return true;
    case kFptInt16:
      if (d.size() != 2) return false;
      *out = Value::Integer(static_cast<int16_t>(GetLe16(p)));
      return true;
    case kFptUint16:
      if (d.size() != 2) return false;
      *out = Value::Integer(GetLe16(p));
      return true;
    case kFptInt32:
      if (d.size() != 4) return false;
      *out = Value::Integer(static_cast<int32_t>(GetLe32(p)));
      return true;
    case kFptUint32:
      if (d.size() != 4) return false;
      *out = Value::Integer(GetLe32(p));
      return true;
    case kFptDouble:
      if (d.size() != 8) return false;
      *out = Value::Double(GetDouble(p));
      return true;
    case kFptDoubleZero:
      *out = Value::Double(0.0);
      return d.empty();
    default:
      return true;  // an unknown type reads as nil
  }
}

}  // namespace

void TextCoding::ToProgram(std::string* s) const {
  if (!binary && table != kProgramCodepage) TranslateBytes(s, table, kProgramCodepage);
}

void TextCoding::ToTable(std::string* s) const {
  if (!binary && table != kProgramCodepage) TranslateBytes(s, kProgramCodepage, table);
}

bool EncodeArrayBody(ValueForm form, const ValueArray& items, const TextCoding& coding, int depth,
                     std::string* out) {
  if (depth > kMaxArrayDepth || items.size() > 0xFFFFFFFFu) return false;
  out->clear();
  AppendLe32(out, static_cast<uint32_t>(items.size()));
  std::string data;
  for (const Value& item : items) {
    uint32_t type = 0;
    if (!EncodeItem(form, item, coding, depth, false, &type, &data)) return false;
    if (data.size() > 0xFFFFFFFFu) return false;
    AppendLe32(out, type);
    AppendLe32(out, static_cast<uint32_t>(data.size()));
    out->append(data);
  }
  return true;
}

bool DecodeArrayBody(ValueForm form, std::string_view data, const TextCoding& coding, int depth,
                     Value* out) {
  *out = Value();
  if (depth > kMaxArrayDepth || data.size() < 4) return false;
  uint32_t count = GetLe32(Bytes(data));
  size_t pos = 4;
  // Every element takes at least its 8-byte header: a larger count is a lie.
  if (count > (data.size() - pos) / 8) return false;
  ValueArray items;
  items.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (data.size() - pos < 8) return false;
    uint32_t type = GetLe32(Bytes(data) + pos);
    uint32_t len = GetLe32(Bytes(data) + pos + 4);
    pos += 8;
    if (len > data.size() - pos) return false;
    Value item;
    if (!DecodeItem(form, type, data.substr(pos, len), coding, depth, true, &item)) return false;
    items.push_back(std::move(item));
    pos += len;
  }
  if (pos != data.size()) return false;
  *out = Value::Array(std::move(items));
  return true;
}

bool EncodeMemoValue(ValueForm form, const Value& v, const TextCoding& coding, uint32_t* type,
                     std::string* data) {
  if (form != ValueForm::kSmt) return EncodeItem(form, v, coding, 0, true, type, data);
  uint32_t six_type = 0;
  std::string payload;
  if (!EncodeItem(ValueForm::kSix, v, coding, 0, true, &six_type, &payload)) return false;
  data->clear();
  switch (six_type) {
    case kFptSixInteger: {
      *type = kSmtInteger;
      int64_t i = v.integer();
      data->push_back(static_cast<char>(kSmtInteger));
      AppendLe64(data, static_cast<uint64_t>(i));
      return true;
    }
    case kFptSixNumber: *type = kSmtNumber; break;
    case kFptSixDate: *type = kSmtDate; break;
    case kFptSixLogical: *type = kSmtLogical; break;
    case kFptSixArray: *type = kSmtArray; break;
    default: return false;
  }
  data->push_back(static_cast<char>(*type));
  data->append(payload);
  return true;
}

bool DecodeFptValue(uint32_t type, std::string_view data, bool vfp, const TextCoding& coding,
                    Value* out) {
  if (type == kFptRaw) {
    *out = Value::String(std::string(data), true);
    return true;
  }
  if (type == kFptSixInteger && vfp) type = kFptText;
  if (type == kFptSixTimestamp) {  // only array elements carry timestamps
    *out = Value();
    return true;
  }
  return DecodeItem(ValueForm::kSix, type, data, coding, 0, false, out);
}

bool DecodeSmtValue(uint32_t type, std::string_view data, const TextCoding& coding, Value* out) {
  *out = Value();
  if (type == kSmtText) {
    std::string s(data);
    coding.ToProgram(&s);
    *out = Value::String(std::move(s), true);
    return true;
  }
  if (data.empty() || static_cast<uint8_t>(data[0]) != type) return false;
  std::string_view payload = data.substr(1);
  switch (type) {
    case kSmtInteger:
      if (payload.size() != 8) return false;
      *out = Value::Integer(static_cast<int64_t>(GetLe64(Bytes(payload))));
      return true;
    case kSmtNumber: return DecodeItem(ValueForm::kSix, kFptSixNumber, payload, coding, 0, false, out);
    case kSmtDate: return DecodeItem(ValueForm::kSix, kFptSixDate, payload, coding, 0, false, out);
    case kSmtLogical: return DecodeItem(ValueForm::kSix, kFptSixLogical, payload, coding, 0, false, out);
    case kSmtArray: return DecodeArrayBody(ValueForm::kSix, payload, coding, 1, out);
    default: return false;
  }
}

}  // namespace vosk
