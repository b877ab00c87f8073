#ifndef VOSK_RDD_CSV_CSV_AREA_H_
#define VOSK_RDD_CSV_CSV_AREA_H_

#include <memory>
#include <string>
#include <vector>

#include "rdd/text/csv.h"
#include "rdd/text/text_area.h"

namespace vosk {

// The CSV driver: RFC 4180 text in UTF-8 with a header row of field names, one record per
// row, values in the text forms of rdd/text/field_text.h. Like SDF it is given its layout: a
// created file gets a header row of the given fields; an opened file's columns are matched to
// the given fields by name (letter case and surrounding blanks ignored), columns that name no
// field are ignored, a column "_DELETED" holding "*" marks the record deleted, and a field
// without a column, or an empty value, stays blank. Every value of a row is checked before the
// destination record is appended.
class CsvArea : public TextArea {
 public:
  explicit CsvArea(Driver* driver) : TextArea(driver) {}

  Status field_is_blank(int pos, bool* out) override;
  Status get_value(int pos, Value* out) override;
  Status put_value(int pos, const Value& value) override;
  Status get_record(std::string* out) override { return Unsupported("get_record"); }
  // Takes a whole DBF record of the same layout (see info kDbiCanPutRec).
  Status put_record(const std::string* buffer) override;
  Status is_deleted(bool* out) override;
  // Marks the row written deleted ("_DELETED" column, when asked for).
  Status delete_record() override;
  Status close() override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status transfer(TransferInfo* info) override;
  Status transfer_record(TransferInfo* info) override;

 protected:
  Status Prepare() override;
  void BlankRecord() override;
  void FormatRecord(std::string* out) override;
  Status ReadRecord(bool* got) override;

 private:
  // The text of a field in the current row (nullptr when the file has no such column).
  const std::string* Cell(int pos) const;
  void AppendHeader(std::string* out);
  // A data type error of a field, with the reason as its description.
  Status TextError(int pos, const std::string& why);
  // Parses field pos of the row read into parsed_ (see parsed_state_).
  Status Parse(int pos);
  // UTF-8 text turned into the file's code page (characters it lacks noted).
  void ToFileText(std::string* text);

  enum : char { kUnparsed, kParsed, kBlank };
  std::vector<Value> parsed_;       // per field of the row read: its value once parsed
  std::vector<char> parsed_state_;  // per field: kUnparsed, kParsed (nil: a null) or kBlank
  bool bom_ = false;                // a written file starts with the UTF-8 byte-order mark
  bool empty_is_null_ = false;      // an empty value read is null

  std::unique_ptr<CsvReader> reader_;
  std::vector<std::string> row_;    // the row read
  std::vector<int> column_;         // per field: its column in the file, -1 when none
  size_t columns_ = 0;              // columns of the header row
  int deleted_column_ = -1;
  std::vector<std::string> cells_;  // the row being written, one text per field
  // Whole records: the fields at their offsets in a DBF record of this layout, usable when
  // every field's text can be read from its bytes alone (no memo, no null flags).
  std::vector<Field> record_fields_;
  size_t record_length_ = 0;
  bool whole_records_ = false;
  bool whole_row_ = false;          // the row to write is whole_line_
  std::string whole_line_;
  bool header_pending_ = false;  // the header row is not written yet
  int text_columns_ = 0;         // kTextColumn* bits: columns before the fields
  uint64_t row_number_ = 0;      // of the row being written
  bool row_deleted_ = false;
};

// Registers "CSV" (transfer kind).
void RegisterCsvDriver();

}  // namespace vosk

#endif  // VOSK_RDD_CSV_CSV_AREA_H_
