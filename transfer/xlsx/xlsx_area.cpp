#include "transfer/xlsx/xlsx_area.h"

#include <xlsxwriter.h>

#include <cctype>

#include "expr/runtime_error.h"
#include "rdd/driver_registry.h"
#include "rdd/text/field_text.h"
#include "rdd/transfer.h"

namespace vosk {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A worksheet name: at most 31 characters, none of []:*?/\.
std::string SheetName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (std::string_view("[]:*?/\\").find(c) == std::string_view::npos) out += c;
  }
  if (out.empty()) out = "Sheet1";
  if (out.size() > 31) out.resize(31);
  return out;
}

lxw_datetime DateTimeOf(int32_t julian, int32_t millis) {
  lxw_datetime dt{};
  int y = 0, m = 0, d = 0;
  if (julian != 0 && YmdFromJulian(julian, &y, &m, &d)) {
    dt.year = y;
    dt.month = m;
    dt.day = d;
  }
  if (millis < 0) millis = 0;
  dt.hour = millis / 3600000;
  dt.min = millis / 60000 % 60;
  dt.sec = (millis % 60000) / 1000.0;
  return dt;
}

}  // namespace

XlsxArea::~XlsxArea() {
  if (book_) workbook_close(book_);  // a workbook left open by an abandoned copy
}

Status XlsxArea::CellError(int code) {
  RuntimeError e;
  e.gen_code = kEgWrite;
  e.sub_code = kEdfWrite;
  e.file_name = file_name_;
  e.description = lxw_strerror(static_cast<lxw_error>(code));
  error(std::move(e));
  return kFailure;
}

Status XlsxArea::create(const OpenInfo& info) {
  file_name_ = info.file;
  read_only_ = false;
  TakeCodepage(info);
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.use_zip64 = LXW_TRUE;
  book_ = workbook_new_opt(file_name_.c_str(), &options);
  if (!book_) {
    DriverError(kEdfCreate, file_name_);
    return kFailure;
  }
  OpenInfo named = info;
  if (named.alias.empty()) named.alias = Upper(BaseNameOf(file_name_));
  if (Failed(WorkArea::open(named))) return kFailure;
  sheet_name_ = SheetName(info.table.empty() ? BaseNameOf(file_name_) : info.table);
  date_format_ = workbook_add_format(book_);
  format_set_num_format(date_format_, "yyyy-mm-dd");
  stamp_format_ = workbook_add_format(book_);
  format_set_num_format(stamp_format_, "yyyy-mm-dd hh:mm:ss.000");
  bold_ = workbook_add_format(book_);
  format_set_bold(bold_);
  formats_.assign(fields_.size(), nullptr);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    if (f.decimals > 0 && f.kind != FieldKind::kCharacter) {
      formats_[i] = workbook_add_format(book_);
      format_set_num_format(formats_[i], ("0." + std::string(f.decimals, '0')).c_str());
    } else if (f.kind == FieldKind::kCurrency) {
      formats_[i] = workbook_add_format(book_);
      format_set_num_format(formats_[i], "0.0000");
    }
  }
  if (Failed(NewSheet())) return kFailure;
  values_.assign(fields_.size(), Value());
  recno_ = 1;
  eof_ = true;
  return kSuccess;
}

// A sheet with the header row: the first named after the file (or the table asked for), the
// next ones after the first with their number.
Status XlsxArea::NewSheet() {
  std::string name = sheet_name_;
  if (++sheets_ > 1) {
    const std::string number = " " + std::to_string(sheets_);
    name = name.substr(0, 31 - number.size()) + number;
  }
  sheet_ = workbook_add_worksheet(book_, name.c_str());
  if (!sheet_) return CellError(LXW_ERROR_SHEETNAME_ALREADY_USED);
  sheet_row_ = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    lxw_error rc = worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(i),
                                          ToUtf8(fields_[i].name, codepage_).c_str(), bold_);
    if (rc != LXW_NO_ERROR) return CellError(rc);
  }
  if (deleted_column_) {
    lxw_error rc = worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(fields_.size()),
                                          "_DELETED", bold_);
    if (rc != LXW_NO_ERROR) return CellError(rc);
  }
  return kSuccess;
}

Status XlsxArea::AddDeletedColumn() {
  lxw_error rc = worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(fields_.size()),
                                        "_DELETED", bold_);
  return rc == LXW_NO_ERROR ? kSuccess : CellError(rc);
}

Status XlsxArea::info(int code, const Value& new_value, Value* out) {
  if (code == kDbiSheetRows) {
    *out = Value::Integer(rows_per_sheet_);
    if (new_value.is_numeric() && new_value.number() >= 1 && new_value.number() <= kSheetRows) {
      rows_per_sheet_ = static_cast<uint32_t>(new_value.number());
    }
    return kSuccess;
  }
  return RowArea::info(code, new_value, out);
}

// A date a spreadsheet can show (from 1900 on) as a date cell, an earlier one as its ISO text.
int XlsxArea::WriteDate(uint32_t row, uint16_t col, int32_t julian, int32_t millis, bool stamp) {
  int y = 0, m = 0, d = 0;
  if (julian != 0 && YmdFromJulian(julian, &y, &m, &d) && y < 1900) {
    std::string iso = stamp ? TimestampText(julian, millis) : TimestampText(julian, 0).substr(0, 10);
    return worksheet_write_string(sheet_, row, col, iso.c_str(), nullptr);
  }
  lxw_datetime dt = DateTimeOf(julian, millis);
  return worksheet_write_datetime(sheet_, row, col, &dt, stamp ? stamp_format_ : date_format_);
}

Status XlsxArea::WriteRow() {
  if (sheet_row_ == rows_per_sheet_ && Failed(NewSheet())) return kFailure;
  const lxw_row_t row = static_cast<lxw_row_t>(++sheet_row_);
  if (deleted_column_ && row_deleted_) {
    lxw_error rc = worksheet_write_string(sheet_, row, static_cast<lxw_col_t>(fields_.size()), "*",
                                          nullptr);
    if (rc != LXW_NO_ERROR) return CellError(rc);
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    const Value& v = values_[i];
    const lxw_col_t col = static_cast<lxw_col_t>(i);
    lxw_error rc = LXW_NO_ERROR;
    switch (v.type()) {
      case Value::Type::kNil: break;
      case Value::Type::kLogical: rc = worksheet_write_boolean(sheet_, row, col, v.logical(), nullptr); break;
      case Value::Type::kInteger:
      case Value::Type::kDouble:
        rc = worksheet_write_number(sheet_, row, col, v.number(), formats_[i]);
        break;
      case Value::Type::kDate:
        if (v.julian() != 0) rc = static_cast<lxw_error>(WriteDate(row, col, v.julian(), 0, false));
        break;
      case Value::Type::kTimestamp:
        if (v.julian() != 0 || v.millis() != 0) {
          rc = static_cast<lxw_error>(WriteDate(row, col, v.julian(), v.millis(), true));
        }
        break;
      default:
        text_.clear();
        AppendValueText(&text_, v, f, codepage_);
        if (!text_.empty()) rc = worksheet_write_string(sheet_, row, col, text_.c_str(), nullptr);
        break;
    }
    if (rc != LXW_NO_ERROR) return CellError(rc);
  }
  return kSuccess;
}

Status XlsxArea::close() {
  Status s = kSuccess;
  if (book_) {
    s = go_cold();
    lxw_error rc = workbook_close(book_);
    book_ = nullptr;
    if (rc != LXW_NO_ERROR && Ok(s)) s = CellError(rc);
  }
  Status base = WorkArea::close();
  return Ok(s) ? base : s;
}

void RegisterXlsxDriver() {
  RegisterTransferKindDriver("XLSX", ".xlsx", [](Driver* d) -> std::unique_ptr<WorkArea> {
    return std::make_unique<XlsxArea>(d);
  });
}

}  // namespace vosk
