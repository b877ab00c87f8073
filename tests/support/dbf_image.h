#ifndef VOSK_TESTS_SUPPORT_DBF_IMAGE_H_
#define VOSK_TESTS_SUPPORT_DBF_IMAGE_H_

// Test helpers that stand outside the engine: a builder of DBF table images byte by byte (as
// another program would have written them), a small independent parser of such images for
// checking what the engine wrote, and a temporary directory per test.
//
// Only the standard library is used, so every test suite can link this.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vosk::test {

// One field descriptor (32 bytes on disk).
struct DbfDescriptor {
  std::string name;        // at most 11 bytes are written, NUL-padded
  char type = 'C';         // byte 11
  int length = 1;          // byte 16
  int decimals = 0;        // byte 17 (high length byte of character fields)
  uint8_t flags = 0;       // byte 18
  uint32_t counter = 0;    // bytes 19-22
  uint8_t step = 0;        // byte 23
  uint16_t offset = 0;     // bytes 12-13 (Visual FoxPro)
};

// A whole table file: header, descriptors, terminator, records, end-of-file byte.
struct DbfImage {
  uint8_t version = 0x03;
  uint8_t table_flags = 0;            // header byte 28
  std::vector<DbfDescriptor> fields;
  std::vector<std::string> records;   // each: deletion byte followed by the field bytes
  int64_t header_count = -1;          // record count at offset 4; -1: records.size()
  int header_length = -1;             // -1: 32 + 32 x n + 2 (0x0D and one 0x00); a smaller
                                      // one is only written into the header
  bool eof_byte = true;

  // 1 + the sum of the descriptor lengths (character fields: length + 256 x decimals).
  int RecordLength() const;
  int HeaderLength() const;
  std::string Bytes() const;
};

// Concatenates field texts behind a deletion byte (' ' or '*').
std::string Record(std::initializer_list<std::string> fields, bool deleted = false);

std::string Le16(uint16_t v);
std::string Le24(uint32_t v);
std::string Le32(uint32_t v);
std::string Le64(uint64_t v);
uint32_t GetLe(const std::string& bytes, size_t offset, int width);

// What a table file says about itself, read without the engine.
struct ParsedField {
  std::string name;
  char type = 0;
  int length = 0;
  int decimals = 0;
  uint8_t flags = 0;
  size_t offset = 0;         // inside the record (1 for the first field)
  size_t descriptor = 0;     // file offset of the descriptor
};
struct ParsedDbf {
  uint8_t version = 0;
  uint32_t header_count = 0;
  int header_length = 0;
  int record_length = 0;     // as stored at offset 10
  std::vector<ParsedField> fields;

  const ParsedField* Field(const std::string& name) const;
};
// Parses header and descriptors (up to the 0x0D). REQUIRES: a well-formed image.
ParsedDbf ParseDbf(const std::string& bytes);
// The bytes of field `name` of record `recno` (1-based) in a file image.
std::string FieldBytes(const std::string& bytes, uint32_t recno, const std::string& name);

// A fresh directory under the test temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace vosk::test

#endif  // VOSK_TESTS_SUPPORT_DBF_IMAGE_H_
