#ifndef VOSK_RDD_DBF1_DBF_FORMAT_H_
#define VOSK_RDD_DBF1_DBF_FORMAT_H_

// DBF data file. All integers little-endian.
//
// Header (32 bytes at offset 0):
//   OFFSET  SIZE  DESCRIPTION
//        0     1  version byte (kind of table, memo kind, enciphered records)
//        1     3  date of last update: year - 1900 (mod 256), month, day
//        4     4  record count (a copy for other programs; the engine counts from the size)
//        8     2  header length = offset of record 1
//       10     2  record length (written; ignored on open)
//       12     2  reserved
//       14     1  header flag byte (0 or 1)
//       15    13  reserved
//       28     1  table flags: bit 0 structural order bag, bit 1 memo file (Visual FoxPro)
//       29     1  code-page byte (every kind of table; 0 = not marked)
//       30     2  reserved
//
// Field descriptors (32 bytes each from offset 32, ended by 0x0D):
//   OFFSET  SIZE  DESCRIPTION
//        0    11  name, NUL-padded (byte 10 always treated as NUL)
//       11     1  type letter
//       12     4  Visual FoxPro: bytes 12-13 the field's offset in the record
//       16     1  length (character fields: low byte of the length)
//       17     1  decimals (character fields: high byte of the length)
//       18     1  flags: 1 hidden system field, 2 nullable, 4 binary, 8 autoincrement
//       19     4  autoincrement counter (next value)
//       23     1  autoincrement step
//       24     8  row-version counter of a "^" field
//
// After the last descriptor: 0x0D, then one 0x00 for tables other than Visual FoxPro, or
// for Visual FoxPro tables the 263-byte backlink area (zeros: no database container).
// Readers take any header length: records start at the header length, whatever lies
// between the terminator and it is skipped.
// Records follow at the header length: a deletion byte (' ' live, '*' deleted; 'E'/'D' in
// enciphered tables) and the fields packed without gaps. A 0x1A byte follows the last record.

#include <cstdint>

namespace vosk {

inline constexpr int kDbfHeaderSize = 32;
inline constexpr int kDbfFieldSize = 32;
inline constexpr uint8_t kDbfHeaderEnd = 0x0D;
inline constexpr uint8_t kDbfEofByte = 0x1A;
inline constexpr int kDbfMaxHeaderLength = 65535;
// Visual FoxPro tables: after the terminator, the name of the database container the table
// belongs to (all zero: none).
inline constexpr size_t kDbfVfpBacklinkSize = 263;
inline constexpr int kDbfFieldNameSize = 11;
inline constexpr int kDbfMaxFieldName = 10;

// Header offsets.
inline constexpr int kHdrVersion = 0;
inline constexpr int kHdrYear = 1;
inline constexpr int kHdrRecCount = 4;
inline constexpr int kHdrHeaderLen = 8;
inline constexpr int kHdrRecordLen = 10;
inline constexpr int kHdrFlagByte = 14;
// Enciphered tables written here: a check value of the key (4 bytes) and its complement (4
// bytes) in bytes the format leaves reserved; other programs ignore them.
inline constexpr int kHdrKeyCheck = 20;
inline constexpr int kHdrTableFlags = 28;
inline constexpr int kHdrCodepage = 29;

// Descriptor offsets.
inline constexpr int kFldName = 0;
inline constexpr int kFldType = 11;
inline constexpr int kFldOffset = 12;
inline constexpr int kFldLen = 16;
inline constexpr int kFldDec = 17;
inline constexpr int kFldFlags = 18;
inline constexpr int kFldCounter = 19;
inline constexpr int kFldStep = 23;
inline constexpr int kFldRowVer = 24;

// Table flags (header offset 28).
inline constexpr uint8_t kTblStructuralBag = 0x01;
inline constexpr uint8_t kTblMemo = 0x02;

// Field flags (descriptor offset 18).
inline constexpr uint8_t kFfSystem = 0x01;
inline constexpr uint8_t kFfNullable = 0x02;
inline constexpr uint8_t kFfBinary = 0x04;
inline constexpr uint8_t kFfAutoInc = 0x08;

// Deletion bytes.
inline constexpr uint8_t kRecLive = ' ';
inline constexpr uint8_t kRecDeleted = '*';
inline constexpr uint8_t kRecCipherLive = 'E';
inline constexpr uint8_t kRecCipherDeleted = 'D';

enum class TableKind : int { kStandard = 1, kVfp = 2, kDbase4 = 3 };
enum class MemoKind : int { kNone = 0, kDbt = 1, kFpt = 2, kSmt = 3 };

// Lock schemes: base offset, direction and file-lock length of each.
enum class LockDirection { kUp, kDown, kByRecord };
struct LockScheme {
  uint64_t base;
  LockDirection direction;
  uint64_t file_lock_length;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBF1_DBF_FORMAT_H_
