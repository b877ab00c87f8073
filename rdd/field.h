#ifndef VOSK_RDD_FIELD_H_
#define VOSK_RDD_FIELD_H_

#include <cstdint>
#include <string>

namespace vosk {

// Internal kind of a field; the letter on disk maps to one of these.
enum class FieldKind : uint8_t {
  kCharacter,      // C
  kLogical,        // L
  kDate,           // D: width 8, 3 or 4
  kNumeric,        // N
  kFloat,          // F
  kInteger,        // I, 2, 4: binary signed integer, optional decimals
  kCurrency,       // Y
  kDouble,         // B (width 8), 8, O
  kDoubleCurrency, // Z: stored as a double
  kBinaryMemo,     // B of width 10 in dBase IV tables
  kTimestamp,      // T width 8
  kTime,           // T width 4
  kModTime,        // @
  kModStamp,       // =
  kRowVersion,     // ^
  kAutoInc,        // +
  kVarLength,      // Q (and V in Visual FoxPro tables)
  kVariant,        // V
  kMemo,           // M
  kPicture,        // P
  kBlob,           // W
  kGeneral,        // G
  kSystem,         // 0: _NullFlags and _DBASELOCK
};

// True for the kinds whose record bytes hold a memo reference.
inline bool IsMemoKind(FieldKind k) {
  return k == FieldKind::kMemo || k == FieldKind::kPicture || k == FieldKind::kBlob ||
         k == FieldKind::kGeneral || k == FieldKind::kBinaryMemo;
}

// One field of a work area.
struct Field {
  std::string name;       // upper-case, at most 10 characters
  FieldKind kind = FieldKind::kCharacter;
  char letter = 'C';      // type letter as stored on disk
  uint16_t length = 0;
  uint16_t decimals = 0;
  uint8_t flags = 0;      // descriptor flags (system, nullable, binary, autoincrement)
  int null_bit = -1;      // bit number in _NullFlags, -1 when none
  int length_bit = -1;    // variable-length fields: the _NullFlags bit that says the last byte
                          // holds the length of a shorter value; -1 when none
  uint32_t offset = 0;    // offset inside the record (1 for the first field)
  uint16_t desc_index = 0;  // position of the descriptor in the file (0-based)
};

// Type letter reported by the structure inquiry for a kind.
char ReportedTypeLetter(FieldKind kind);

}  // namespace vosk

#endif  // VOSK_RDD_FIELD_H_
