#ifndef VOSK_RDD_SDF1_SDF_AREA_H_
#define VOSK_RDD_SDF1_SDF_AREA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rdd/text/text_area.h"

namespace vosk {

// The SDF driver: fixed-width text, one record per line, the fields at fixed offsets with
// nothing between them, no header and no deletion mark. It cannot describe its own layout: the
// transfer defines its fields from a structure array, each turned into a text type and width.
//
// Invariants:
//  - record_ holds a space (standing for the deletion flag), the record part of record_len_
//    bytes and the line separator, so one append emits record and separator together.
//  - types_ and offsets_ have one entry per field.
class SdfArea : public TextArea {
 public:
  enum class TextType : uint8_t { kCharacter, kNumber, kLogical, kDate, kTimestamp, kMemo, kNone };

  explicit SdfArea(Driver* driver) : TextArea(driver) {}

  Status add_field(Field field) override;
  Status set_field_extent(int count) override;
  Status get_record(std::string* out) override;
  Status put_record(const std::string* buffer) override;
  Status get_value(int pos, Value* out) override;
  Status field_is_blank(int pos, bool* out) override;
  Status put_value(int pos, const Value& value) override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status transfer(TransferInfo* info) override;

 protected:
  Status Prepare() override;
  void BlankRecord() override;
  void FormatRecord(std::string* out) override;
  Status ReadRecord(bool* got) override;
  // Files end with 0x1A; the standard output does not.
  int EndByte() const override { return streaming_ ? -1 : 0x1A; }

 private:
  // Whether text of a field of type t holds a value the field can take (blanks do).
  bool ValidText(TextType t, std::string_view text) const;

  std::vector<TextType> types_;
  std::vector<uint32_t> offsets_;  // of each field in record_ (the first at 1)
  std::string record_;
  std::string separator_ = "\r\n";
  uint32_t record_len_ = 0;
  bool raw_copy_ = true;  // every field kept its table type and width
  std::string text_;      // the line being read
};

// Registers "SDF" (transfer kind).
void RegisterSdfDriver();

}  // namespace vosk

#endif  // VOSK_RDD_SDF1_SDF_AREA_H_
