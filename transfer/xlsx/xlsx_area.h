#ifndef VOSK_TRANSFER_XLSX_XLSX_AREA_H_
#define VOSK_TRANSFER_XLSX_XLSX_AREA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/row_area.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace vosk {

// The XLSX driver (copying only): one worksheet (named by the open info's table, else after
// the file) with a header row of the field names and a row per record: numbers as numbers with
// the field's decimals as the cell format, dates and timestamps as dates, logicals as TRUE or
// FALSE, text and memos as text; empty values leave the cell empty. Rows are written in order
// with the library's constant-memory mode, so the size of a table does not matter. Rows past a
// sheet's last row go on in a next sheet (named after the first with its number), each with
// the header row; dates before 1900, which spreadsheets cannot show, are written as their ISO
// text. A copy that keeps deleted records adds a column _DELETED ("*" for a deleted record).
class XlsxArea : public RowArea {
 public:
  explicit XlsxArea(Driver* driver) : RowArea(driver) {}
  ~XlsxArea() override;

  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override { return Unsupported("open"); }
  Status close() override;
  Status info(int code, const Value& new_value, Value* out) override;

  // The rows of a sheet below its header row.
  static constexpr uint32_t kSheetRows = 1048575;

 protected:
  Status WriteRow() override;
  Status ReadRow(bool* got) override { return Unsupported("read"); }
  Status AddDeletedColumn() override;

 private:
  Status CellError(int code);
  Status NewSheet();
  // Writes a date or timestamp cell; the library's error code.
  int WriteDate(uint32_t row, uint16_t col, int32_t julian, int32_t millis, bool stamp);

  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  std::vector<lxw_format*> formats_;  // per field, nullptr: none
  lxw_format* date_format_ = nullptr;
  lxw_format* stamp_format_ = nullptr;
  lxw_format* bold_ = nullptr;
  std::string sheet_name_;          // of the first sheet
  int sheets_ = 0;
  uint32_t sheet_row_ = 0;          // data rows of the current sheet
  uint32_t rows_per_sheet_ = kSheetRows;
  std::string file_name_;
  std::string text_;
};

// Registers "XLSX" (transfer kind).
void RegisterXlsxDriver();

}  // namespace vosk

#endif  // VOSK_TRANSFER_XLSX_XLSX_AREA_H_
