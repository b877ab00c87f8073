#ifndef VOSK_TRANSFER_XLSX_XLSX_AREA_H_
#define VOSK_TRANSFER_XLSX_XLSX_AREA_H_

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
// with the library's constant-memory mode, so the size of a table does not matter.
class XlsxArea : public RowArea {
 public:
  explicit XlsxArea(Driver* driver) : RowArea(driver) {}
  ~XlsxArea() override;

  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override { return Unsupported("open"); }
  Status close() override;

 protected:
  Status WriteRow() override;
  Status ReadRow(bool* got) override { return Unsupported("read"); }

 private:
  Status CellError(int code);

  lxw_workbook* book_ = nullptr;
  lxw_worksheet* sheet_ = nullptr;
  std::vector<lxw_format*> formats_;  // per field, nullptr: none
  lxw_format* date_format_ = nullptr;
  lxw_format* stamp_format_ = nullptr;
  std::string file_name_;
  std::string text_;
};

// Registers "XLSX" (transfer kind).
void RegisterXlsxDriver();

}  // namespace vosk

#endif  // VOSK_TRANSFER_XLSX_XLSX_AREA_H_
