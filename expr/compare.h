#ifndef VOSK_EXPR_COMPARE_H_
#define VOSK_EXPR_COMPARE_H_

#include <cstdint>
#include <string_view>

namespace vosk {

// String comparison of the expression operators.

// Selects the collation of the active codepage: 256 sort weights indexed by byte value, which
// must outlive the selection; nullptr compares unsigned bytes. Returns the previous table.
const uint8_t* SetCollation(const uint8_t* weights);
const uint8_t* GetCollation();

// The comparison of =, !=, <, <=, > and >= (negative, zero or positive for A <, =, > B):
//  1. With EXACT on, trailing blanks are ignored on both sides and the comparison is exact.
//  2. The first min(len A, len B) bytes are compared by the collation; the first difference
//     decides.
//  3. Equal common part, different lengths: in an exact comparison, or when A is the shorter,
//     the shorter string is smaller.
//  4. Otherwise (non-exact, B a prefix of A, B possibly empty) the strings are equal.
int CompareNonExact(std::string_view a, std::string_view b);

// Steps 2 and 3 only: a full comparison where a proper prefix is smaller.
int CompareExact(std::string_view a, std::string_view b);

}  // namespace vosk

#endif  // VOSK_EXPR_COMPARE_H_
