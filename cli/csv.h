#ifndef VOSK_CLI_CSV_H_
#define VOSK_CLI_CSV_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vosk {

// Appends one RFC 4180 field: quoted when it holds a comma, a quote, CR or LF.
void AppendCsvField(std::string* out, std::string_view text);

// Reads RFC 4180 records from a stream. Line numbers count physical lines, so an error can
// name the line where a record starts.
class CsvReader {
 public:
  explicit CsvReader(std::FILE* in) : in_(in) {}
  // Reads the next record; false at end of input. *error is set for a malformed record.
  bool Next(std::vector<std::string>* fields, std::string* error);
  // Line on which the last record returned started (1-based).
  long record_line() const { return record_line_; }

 private:
  int Get();
  std::FILE* in_;
  long line_ = 1;
  long record_line_ = 0;
  int pending_ = -2;  // one byte of look-ahead; -2 = none
};

}  // namespace vosk

#endif  // VOSK_CLI_CSV_H_
