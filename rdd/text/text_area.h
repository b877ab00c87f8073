#ifndef VOSK_RDD_TEXT_TEXT_AREA_H_
#define VOSK_RDD_TEXT_TEXT_AREA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "rdd/work_area.h"

namespace vosk {

// What the text drivers (SDF, CSV) share: a work area over a text file that is either written
// strictly forwards, one line per appended record (create), or read strictly forwards from its
// first line (open, always shared and read-only). Its states while reading: before the first
// line (record number 0), on a record (positioned) and at end of file. Operations that would
// move any other way are refused with "Operation not supported".
//
// Invariants:
//  - a written file receives the line of a record when the next record is appended, or at
//    flush or close; lines gather in out_ and reach the file in large writes.
//  - read_only_ implies the area came from open(); only then is the read buffer used.
class TextArea : public WorkArea {
 public:
  explicit TextArea(Driver* driver) : WorkArea(driver) {}
  ~TextArea() override;

  Status go_to(uint32_t recno) override;
  Status go_to_id(const Value& id) override;
  Status go_top() override;
  Status skip_raw(int64_t n) override;
  Status append(bool release_locks) override;
  Status delete_record() override { return kSuccess; }
  Status recall() override { return kSuccess; }
  Status is_deleted(bool* out) override {
    *out = false;
    return kSuccess;
  }
  Status flush() override;
  Status go_cold() override;
  Status go_hot() override;
  Status record_count(uint32_t* out) override;
  uint32_t record_number() const override { return static_cast<uint32_t>(recno_); }
  Status close() override;
  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override;
  Status info(int code, const Value& new_value, Value* out) override;

 protected:
  // Prepares the layout and buffers after the file was created or opened.
  virtual Status Prepare() = 0;
  // Empties the record of a newly appended line.
  virtual void BlankRecord() = 0;
  // Appends the text of the current record (with its line end) to *out.
  virtual void FormatRecord(std::string* out) = 0;
  // Reads the next record from the file; false at end of file.
  virtual Status ReadRecord(bool* got) = 0;
  // The byte written at the end of a created file (none: -1).
  virtual int EndByte() const { return -1; }
  // Notes a value of field pos on the current line that its field cannot hold.
  void NoteBadValue(int pos, std::string_view text);
  // Writes text at the end of the file at once (header lines).
  Status WriteNow(const std::string& text);

  // Buffered reading of the file: the next byte, or -1 at end of file.
  int GetByte() {
    if (in_pos_ < in_len_) return static_cast<unsigned char>(in_[in_pos_++]);
    return Refill();
  }
  // Puts back the byte just read (REQUIRES: the last GetByte() returned a byte).
  void UngetByte() { --in_pos_; }
  // Reads a run of bytes that are none of stop[0, stops): appends them to *out (at most max
  // bytes kept, the rest dropped). Stops before a stop byte or at the end of the buffer.
  size_t TakeRun(const char* stops, size_t nstops, std::string* out, size_t max);

  // Raises a value error of a field (data type 1020 or width 1021, may default); success when
  // the handler answered default (the store counts as done).
  Status ValueError(int sub_code, int pos);

  File file_;
  std::string file_name_;
  bool shared_ = false;
  bool read_only_ = false;
  bool positioned_ = false;
  bool changed_ = false;
  bool streaming_ = false;  // "-": the standard output (created) or input (opened)
  bool flush_pending_ = false;
  uint64_t rec_count_ = 0;
  uint64_t recno_ = 0;
  uint64_t line_ = 0;  // line on which the current record started (reading), 1-based
  // The code page of the file's text (values are in codepage_, the table's).
  Codepage file_cp_ = kProgramCodepage;
  // A value read that its field cannot hold: left blank and noted, or an error.
  bool blank_bad_ = true;

 private:
  int Refill();
  Status WriteOut();
  // Reads the record after the current one: positioned on it, or at end of file.
  Status NextRecord();

  std::string out_;         // lines not yet written
  uint64_t out_offset_ = 0; // where out_ goes in the file
  std::vector<char> in_;
  size_t in_pos_ = 0, in_len_ = 0;
  uint64_t in_offset_ = 0;  // file offset of the next refill
};

// Info code of the text drivers: the line on which the current record starts.
inline constexpr int kDbiTextLine = 1001;

}  // namespace vosk

#endif  // VOSK_RDD_TEXT_TEXT_AREA_H_
