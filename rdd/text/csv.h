#ifndef VOSK_RDD_TEXT_CSV_H_
#define VOSK_RDD_TEXT_CSV_H_

#include <string>
#include <string_view>
#include <vector>

#include "rdd/codepage.h"

namespace vosk {

// Appends one RFC 4180 field: quoted when it holds a comma, a quote, CR or LF.
void AppendCsvField(std::string* out, std::string_view text);
// Appends text in a code page as one RFC 4180 field in UTF-8, in one pass (what
// AppendCsvField(out, ToUtf8(bytes, cp)) appends).
void AppendCsvText(std::string* out, std::string_view bytes, Codepage cp);

// Reads RFC 4180 records from a file descriptor, strictly forwards (pipes too). Line numbers count physical lines, so an error can
// name the line where a record starts.
class CsvReader {
 public:
  explicit CsvReader(int fd) : fd_(fd) {}
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;
  // Reads the next record; false at end of input. *error is set for a malformed record.
  // The strings of *fields are reused from call to call.
  bool Next(std::vector<std::string>* fields, std::string* error);
  // Line on which the last record returned started (1-based).
  long record_line() const { return record_line_; }

 private:
  int Get() { return pos_ < len_ ? buf_[pos_++] : Refill(); }
  void Unget() { --pos_; }  // REQUIRES: the last Get() returned a byte
  int Refill();
  int fd_;
  long line_ = 1;
  long record_line_ = 0;
  unsigned char buf_[256 * 1024];
  size_t pos_ = 0;  // next byte of buf_
  size_t len_ = 0;  // bytes in buf_
};

}  // namespace vosk

#endif  // VOSK_RDD_TEXT_CSV_H_
