#ifndef VOSK_TRANSFER_ROW_AREA_H_
#define VOSK_TRANSFER_ROW_AREA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "expr/value.h"
#include "rdd/work_area.h"

namespace vosk {

// What the database and spreadsheet transfer drivers share: a work area of the transfer kind
// that is given its fields, and that is written one row per appended record (the row's values
// gather in the area and go out when the next record is appended, at go_cold or at close) or
// read strictly forwards. A field that receives no value stays empty (NULL, no cell).
class RowArea : public WorkArea {
 public:
  explicit RowArea(Driver* driver) : WorkArea(driver) {}

  Status append(bool release_locks) override;
  Status go_cold() override;
  Status go_hot() override;
  Status put_value(int pos, const Value& value) override;
  // Marks the row written deleted (when the area has a _DELETED column).
  Status delete_record() override;
  Status recall() override { return kSuccess; }
  Status is_deleted(bool* out) override {
    *out = positioned_ && row_deleted_;
    return kSuccess;
  }
  Status flush() override { return go_cold(); }
  Status record_count(uint32_t* out) override;
  uint32_t record_number() const override { return static_cast<uint32_t>(recno_); }
  Status get_value(int pos, Value* out) override;
  Status field_is_blank(int pos, bool* out) override;
  Status go_top() override;
  Status skip_raw(int64_t n) override;
  Status go_to(uint32_t recno) override;
  Status go_to_id(const Value& id) override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status transfer_record(TransferInfo* info) override { return TransferCheckedRecord(info); }

 protected:
  // Writes the gathered row (values_, nil where nothing was put).
  virtual Status WriteRow() = 0;
  // Reads the next row into values_ (nil for empty values); *got false at the end.
  virtual Status ReadRow(bool* got) = 0;

  // The base name of a file, for the name of the table or sheet a copy makes.
  static std::string BaseNameOf(const std::string& file);
  // Adds the _DELETED column after the fields of a file being written (before any row).
  virtual Status AddDeletedColumn() { return Unsupported("_DELETED"); }
  // The code page of the values: the one the open info names, else the program's.
  void TakeCodepage(const OpenInfo& info);

  std::vector<Value> values_;  // one per field
  bool read_only_ = false;
  bool positioned_ = false;
  bool changed_ = false;
  bool deleted_column_ = false;  // written rows carry a _DELETED column
  bool row_deleted_ = false;     // the row (written or read) is deleted
  uint64_t rec_count_ = 0;
  uint64_t recno_ = 0;
};

}  // namespace vosk

#endif  // VOSK_TRANSFER_ROW_AREA_H_
