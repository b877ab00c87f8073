#ifndef VOSK_RDD_TEXT_FIELD_TEXT_H_
#define VOSK_RDD_TEXT_FIELD_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"
#include "rdd/codepage.h"
#include "rdd/field.h"

namespace vosk {

// The text forms of field values that dbutool reads and writes (UTF-8):
//   character  the text without trailing blanks
//   numbers    decimal text with the field's decimals, no leading blanks; blank field: empty
//   date       YYYY-MM-DD; empty date: empty
//   timestamp  YYYY-MM-DD HH:MM:SS.mmm (time fields: HH:MM:SS.mmm)
//   logical    T or F; an unset byte (blank or "?"): empty
//   null       empty

// Appends the text of a field taken from raw record bytes. Returns false when the field is of
// a kind that must be read through the driver (memo kinds).
bool AppendFieldText(std::string* out, const Field& field, const uint8_t* record,
                     Codepage text_cp, bool is_null);

// Appends the text form of a value read from a field (UTF-8, not quoted). Nil (a null) gives
// nothing; a character field's trailing blanks are left out.
void AppendValueText(std::string* out, const Value& value, const Field& field, Codepage text_cp);

// Parses the text form of a value for a field. On failure returns false with *why set. With
// lost given, characters of text that text_cp lacks become '?' and are counted there instead
// of failing.
bool ParseFieldText(std::string_view text, const Field& field, Codepage text_cp, Value* out,
                    std::string* why, uint64_t* lost = nullptr);

// Text of a timestamp (julian day, milliseconds).
std::string TimestampText(int32_t julian, int32_t millis);

}  // namespace vosk

#endif  // VOSK_RDD_TEXT_FIELD_TEXT_H_
