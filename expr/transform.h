#ifndef VOSK_EXPR_TRANSFORM_H_
#define VOSK_EXPR_TRANSFORM_H_

#include <string>
#include <string_view>

#include "expr/value.h"

namespace vosk {

// TRANSFORM(x, cPicture): a value formatted by a picture. The picture is an optional function
// part ("@" and letters, up to the first blank) followed by a mask.
//
// Functions: "!" upper case; "R" mask characters that are not templates are inserted (without
// it they take the place of an input character); "Z" a zero number shows as blanks; "B" a
// number is left-aligned; "E" a number swaps "." and ","; "C" appends " CR" to a positive and
// "X" " DB" to a negative number; "(" shows a negative number in parentheses.
//
//  - Text: each template of the mask (A N X 9 # L Y !) takes the next input byte ("!" upper-
//    cases it), a blank when the input is used up; other mask characters are copied. Without
//    a mask the text is returned whole.
//  - Number: the digit templates 9 # * $ before the first "." give the integer positions,
//    those after it the decimals; the number is rounded as STR does and placed in them; a ","
//    shows only between digits; leading blanks become "*" or "$" in those positions. A number
//    that does not fit fills every digit position with "*". Without a mask: STR's text.
//  - Date: its DTOC text; timestamp: its TTOC text (the mask is not applied).
//  - Logical: "T"/"F", or "Y"/"N" when the mask holds a Y.
//  - Nil: "".
std::string Transform(const Value& value, std::string_view picture);

}  // namespace vosk

#endif  // VOSK_EXPR_TRANSFORM_H_
