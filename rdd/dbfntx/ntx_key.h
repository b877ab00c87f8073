#ifndef VOSK_RDD_DBFNTX_NTX_KEY_H_
#define VOSK_RDD_DBFNTX_NTX_KEY_H_

// Key encodings and key comparison of NTX orders. A key is always exactly key-length bytes:
//  - character: the bytes, cut to the key length and padded with blanks;
//  - numeric: the number as fixed-width decimal text of the key length with the key's
//    decimals; leading blanks become "0"; a negative number has its "-" turned into "0" and
//    then every digit c into the byte 92 - c, so that byte order is numeric order
//    (-1.5 in 6.1 is 2C 2C 2C 2B 2E 27, 1.5 is 30 30 30 31 2E 35);
//  - date: "YYYYMMDD", eight blanks for the empty date;
//  - timestamp: "YYYYMMDDhhmmssfff" (17 characters, the date part blank when empty); a date
//    given to a timestamp order is its midnight, and as a seek or scope value its whole day;
//  - logical: "T" or "F", the rest zero bytes.

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"
#include "rdd/order/order.h"

namespace vosk {

inline constexpr int kNtxTimestampKeyLength = 17;

// The numeric key text of a number.
std::string NtxNumericKey(const Value& number, int length, int decimals);
// Turns canonical fixed-width number text (as a numeric field of that width and decimals
// holds it) into the key in place; false when the text is not canonical (then format the
// decoded value instead).
bool NtxNumericKeyFromText(char* text, int length, int decimals);

// The key bytes of an evaluated key value of an order of type `type` ('C', 'N', 'D', 'T', 'L').
// False when the value's type does not fit the order.
bool NtxEncodeKey(const Value& value, char type, int length, int decimals, std::string* out);

// The search key of a seek or scope value: character values keep their own length (at most
// the key length) so that a shorter value matches by prefix; other values give full keys; a
// value of another type than the order's gives zero bytes.
std::string NtxSearchKey(const Value& value, char type, int length, int decimals);

// Compares key bytes as unsigned bytes over the common length (see CompareKeyBytes).
inline int NtxCompare(const uint8_t* a, int alen, const uint8_t* b, int blen, bool exact) {
  return CompareKeyBytes(a, alen, b, blen, exact);
}

// The type letter an evaluated key value gives the order ('C', 'N', 'D', 'T', 'L'; 0 for
// others), with its key length and decimals.
char NtxKeyTypeOf(const Value& value, int* length, int* decimals);

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_KEY_H_
