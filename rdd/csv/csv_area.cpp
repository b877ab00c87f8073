#include "rdd/csv/csv_area.h"

#include <algorithm>
#include <cctype>

#include "expr/runtime_error.h"
#include "rdd/driver_registry.h"
#include "rdd/text/field_text.h"
#include "rdd/transfer.h"

namespace vosk {
namespace {

// Upper case with surrounding blanks removed (header names).
std::string HeaderKey(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t");
  std::string out = b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

Status CsvArea::Prepare() {
  rec_count_ = 0;
  file_cp_ = Codepage::kUtf8;  // unless told otherwise
  column_.assign(fields_.size(), -1);
  parsed_.assign(fields_.size(), Value());
  parsed_state_.assign(fields_.size(), kUnparsed);
  if (!read_only_) {
    header_pending_ = true;  // written before the first row, or at close
    cells_.assign(fields_.size(), std::string());
    record_fields_ = fields_;
    uint32_t offset = 1;
    whole_records_ = true;
    for (Field& f : record_fields_) {
      f.offset = offset;
      offset += f.length;
      whole_records_ = whole_records_ && !IsMemoKind(f.kind) && !(f.flags & 0x02) &&
                       f.kind != FieldKind::kVarLength && f.kind != FieldKind::kVariant &&
                       f.kind != FieldKind::kSystem;
    }
    record_length_ = offset;
    return kSuccess;
  }
  reader_ = std::make_unique<CsvReader>(file_.fd());
  std::string err;
  std::vector<std::string> header;
  if (!reader_->Next(&header, &err)) return kSuccess;  // an empty file: no records
  if (!err.empty()) return TextError(0, err);
  columns_ = header.size();
  if (!header.empty() && header[0].compare(0, 3, "\xEF\xBB\xBF") == 0) header[0].erase(0, 3);
  for (size_t c = 0; c < header.size(); ++c) {
    std::string key = HeaderKey(header[c]);
    if (key == "_DELETED") {
      deleted_column_ = static_cast<int>(c);
      continue;
    }
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (column_[i] < 0 && HeaderKey(ToUtf8(fields_[i].name, codepage_)) == key) {
        column_[i] = static_cast<int>(c);
        break;
      }
    }
  }
  return kSuccess;
}

// The header row: the columns asked for, then the field names decoded like text and quoted
// where needed.
void CsvArea::AppendHeader(std::string* out) {
  header_pending_ = false;
  if (bom_ && file_cp_ == Codepage::kUtf8) out->append("\xEF\xBB\xBF");
  size_t at = out->size();
  auto next = [&]() {
    if (out->size() > at) out->push_back(',');
  };
  if (text_columns_ & kTextColumnRecno) out->append("_RECNO");
  if (text_columns_ & kTextColumnDeleted) {
    next();
    out->append("_DELETED");
  }
  for (const Field& f : fields_) {
    next();
    std::string name = ToUtf8(f.name, codepage_);
    ToFileText(&name);
    AppendCsvField(out, name);
  }
  out->append("\r\n");
}

void CsvArea::ToFileText(std::string* text) {
  if (file_cp_ != Codepage::kUtf8) notes_.lost += TranslateBytes(text, Codepage::kUtf8, file_cp_);
}

Status CsvArea::close() {
  if (header_pending_ && !read_only_ && file_.is_open() && !changed_) {
    std::string header;
    AppendHeader(&header);
    (void)WriteNow(header);  // a failure is reported there; the close goes on
  }
  return TextArea::close();
}

void CsvArea::BlankRecord() {
  for (std::string& c : cells_) c.clear();
  whole_row_ = false;
  row_number_ = 0;
  row_deleted_ = false;
}

Status CsvArea::delete_record() {
  if (!read_only_ && positioned_) row_deleted_ = true;
  return kSuccess;
}

Status CsvArea::put_record(const std::string* buffer) {
  if (!changed_ || !buffer || !whole_records_ || buffer->size() < record_length_) {
    return kFailure;
  }
  const uint8_t* rec = reinterpret_cast<const uint8_t*>(buffer->data());
  whole_line_.clear();
  for (size_t i = 0; i < record_fields_.size(); ++i) {
    if (i > 0) whole_line_.push_back(',');
    (void)AppendFieldText(&whole_line_, record_fields_[i], rec, codepage_, false);
  }
  ToFileText(&whole_line_);
  whole_row_ = true;
  return kSuccess;
}

void CsvArea::FormatRecord(std::string* out) {
  if (header_pending_) AppendHeader(out);
  if (text_columns_ & kTextColumnRecno) {
    out->append(std::to_string(row_number_));
    out->push_back(',');
  }
  if (text_columns_ & kTextColumnDeleted) {
    if (row_deleted_) out->push_back('*');
    out->push_back(',');
  }
  if (whole_row_) {
    out->append(whole_line_);
    out->append("\r\n");
    return;
  }
  for (size_t i = 0; i < cells_.size(); ++i) {
    if (i > 0) out->push_back(',');
    AppendCsvField(out, cells_[i]);
  }
  out->append("\r\n");
}

Status CsvArea::ReadRecord(bool* got) {
  *got = false;
  if (!reader_ || columns_ == 0) return kSuccess;
  std::string err;
  for (;;) {
    if (!reader_->Next(&row_, &err)) return kSuccess;
    line_ = static_cast<uint64_t>(reader_->record_line());
    if (!err.empty()) return TextError(0, err);
    if (row_.size() == 1 && row_[0].empty()) continue;  // a blank line
    break;
  }
  std::fill(parsed_state_.begin(), parsed_state_.end(), kUnparsed);
  if (row_.size() != columns_) {
    return TextError(0, "expected " + std::to_string(columns_) + " values, found " +
                            std::to_string(row_.size()));
  }
  *got = true;
  return kSuccess;
}

const std::string* CsvArea::Cell(int pos) const {
  if (pos < 1 || pos > static_cast<int>(column_.size()) || !positioned_) return nullptr;
  int c = column_[static_cast<size_t>(pos - 1)];
  return c < 0 || static_cast<size_t>(c) >= row_.size() ? nullptr : &row_[static_cast<size_t>(c)];
}

Status CsvArea::TextError(int pos, const std::string& why) {
  RuntimeError e;
  e.gen_code = kEgDataType;
  e.sub_code = kEdfDataType;
  e.description = why;
  e.file_name = file_name_;
  e.operation = pos > 0 ? field_name(pos) : std::string();
  error(std::move(e));
  return kFailure;
}

// Parses the value of a field once per row: a value, nothing (a blank, or a value the field
// cannot hold, noted) or an error.
Status CsvArea::Parse(int pos) {
  const size_t i = static_cast<size_t>(pos - 1);
  if (parsed_state_[i] != kUnparsed) return kSuccess;
  const std::string* cell = Cell(pos);
  parsed_[i] = Value();
  parsed_state_[i] = kBlank;
  if (!cell) return kSuccess;
  if (cell->empty()) {
    if (empty_is_null_) parsed_state_[i] = kParsed;  // a null
    return kSuccess;
  }
  std::string_view text = *cell;
  std::string utf8;
  if (file_cp_ != Codepage::kUtf8) {
    utf8 = ToUtf8(text, file_cp_);
    text = utf8;
  }
  std::string why;
  if (ParseFieldText(text, fields_[i], codepage(), &parsed_[i], &why,
                     blank_bad_ ? &notes_.lost : nullptr)) {
    parsed_state_[i] = kParsed;
    return kSuccess;
  }
  parsed_[i] = Value();
  if (!blank_bad_) return TextError(pos, why);
  NoteBadValue(pos, *cell);
  return kSuccess;
}

Status CsvArea::field_is_blank(int pos, bool* out) {
  *out = true;
  if (pos < 1 || pos > static_cast<int>(fields_.size()) || !positioned_) return kSuccess;
  if (Failed(Parse(pos))) return kFailure;
  *out = parsed_state_[static_cast<size_t>(pos - 1)] == kBlank;
  return kSuccess;
}

Status CsvArea::get_value(int pos, Value* out) {
  *out = Value();
  if (pos < 1 || pos > static_cast<int>(fields_.size())) return kFailure;
  if (!positioned_) return kSuccess;
  if (Failed(Parse(pos))) return kFailure;
  *out = parsed_[static_cast<size_t>(pos - 1)];
  return kSuccess;
}

Status CsvArea::put_value(int pos, const Value& v) {
  if (pos < 1 || pos > static_cast<int>(cells_.size())) return kFailure;
  if (!positioned_) return kSuccess;
  if (!changed_) return kFailure;
  std::string& cell = cells_[static_cast<size_t>(pos - 1)];
  cell.clear();
  AppendValueText(&cell, v, fields_[static_cast<size_t>(pos - 1)], codepage());
  ToFileText(&cell);
  return kSuccess;
}

Status CsvArea::is_deleted(bool* out) {
  *out = positioned_ && deleted_column_ >= 0 &&
         static_cast<size_t>(deleted_column_) < row_.size() &&
         row_[static_cast<size_t>(deleted_column_)] == "*";
  return kSuccess;
}

Status CsvArea::info(int code, const Value& new_value, Value* out) {
  if (code == kDbiCanPutRec) {
    *out = Value::Logical(!read_only_ && whole_records_);
    return kSuccess;
  }
  if (code == kDbiTextColumns && !read_only_ && header_pending_ && new_value.is_numeric()) {
    *out = Value::Integer(text_columns_);
    text_columns_ = static_cast<int>(new_value.number());
    return kSuccess;
  }
  if (code == kDbiWriteBom || code == kDbiEmptyIsNull) {
    bool& flag = code == kDbiWriteBom ? bom_ : empty_is_null_;
    *out = Value::Logical(flag);
    if (new_value.is_logical()) flag = new_value.logical();
    return kSuccess;
  }
  if (code == kDbiRowNumber && !read_only_ && new_value.is_numeric()) {
    *out = Value::Integer(static_cast<int64_t>(row_number_));
    row_number_ = static_cast<uint64_t>(new_value.number());
    return kSuccess;
  }
  return TextArea::info(code, new_value, out);
}

// Fields that the file has no column for take no part in the transfer. Rows read are never
// whole records.
Status CsvArea::transfer(TransferInfo* info) {
  if (read_only_) {
    std::vector<TransferItem> kept;
    for (const TransferItem& item : info->items) {
      if (item.source >= 1 && item.source <= column_.size() && column_[item.source - 1] >= 0) {
        kept.push_back(item);
      }
    }
    if (kept.size() != info->items.size()) info->flags &= static_cast<uint16_t>(~kTransferMatch);
    info->items = std::move(kept);
  }
  info->flags &= static_cast<uint16_t>(~kTransferPutRec);
  return WorkArea::transfer(info);
}

Status CsvArea::transfer_record(TransferInfo* info) { return TransferCheckedRecord(info); }

void RegisterCsvDriver() {
  RegisterTransferKindDriver("CSV", ".csv", [](Driver* d) -> std::unique_ptr<WorkArea> {
    return std::make_unique<CsvArea>(d);
  });
}

}  // namespace vosk
