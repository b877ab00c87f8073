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
  std::string sheet = SheetName(info.table.empty() ? BaseNameOf(file_name_) : info.table);
  sheet_ = workbook_add_worksheet(book_, sheet.c_str());
  if (!sheet_) return CellError(LXW_ERROR_SHEETNAME_ALREADY_USED);
  date_format_ = workbook_add_format(book_);
  format_set_num_format(date_format_, "yyyy-mm-dd");
  stamp_format_ = workbook_add_format(book_);
  format_set_num_format(stamp_format_, "yyyy-mm-dd hh:mm:ss.000");
  lxw_format* bold = workbook_add_format(book_);
  format_set_bold(bold);
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
    lxw_error rc = worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(i),
                                          ToUtf8(f.name, kProgramCodepage).c_str(), bold);
    if (rc != LXW_NO_ERROR) return CellError(rc);
  }
  values_.assign(fields_.size(), Value());
  recno_ = 1;
  eof_ = true;
  return kSuccess;
}

Status XlsxArea::WriteRow() {
  const lxw_row_t row = static_cast<lxw_row_t>(recno_);
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
        if (v.julian() != 0) {
          lxw_datetime dt = DateTimeOf(v.julian(), 0);
          rc = worksheet_write_datetime(sheet_, row, col, &dt, date_format_);
        }
        break;
      case Value::Type::kTimestamp:
        if (v.julian() != 0 || v.millis() != 0) {
          lxw_datetime dt = DateTimeOf(v.julian(), v.millis());
          rc = worksheet_write_datetime(sheet_, row, col, &dt, stamp_format_);
        }
        break;
      default:
        text_.clear();
        AppendValueText(&text_, v, f, kProgramCodepage);
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
