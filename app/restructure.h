#ifndef VOSK_APP_RESTRUCTURE_H_
#define VOSK_APP_RESTRUCTURE_H_

// Restructuring the current table for the structure editor: the conversion map, the value
// conversion and the restructure itself, over the engine's one implementation
// (rdd/restructure.h), which `dbutool restructure` uses too.

#include <string>

#include "expr/value.h"

namespace vosk {

// ACONVDATI(aStruct): for each new field the number of the old field (of the table open in
// the current work area) whose values it receives, 0 for none.
ValueArray ACONVDATI(const ValueArray& aStruct);
// CONVDATO(xValue, aOldField, aNewField): the value of the old field converted for the new
// field; the fields are structure rows {name, type, len, dec}.
Value CONVDATO(const Value& xValue, const Value& aOldField, const Value& aNewField);
// ADJNUM(cText): "1.234,56" gives "1234.56"; a text without comma is returned unchanged.
std::string ADJNUM(const std::string& cText);
// Restructures the table open in the current work area (CurTable().cCurTable) to aStruct
// ({name, type, len, dec} rows); progress pop-up "Modifica della struttura in corso..."
// with a real bar; errors reported through the error handler / a clear Italian message;
// the caller (CREATAB/MODPROP) has already checked OKEXCL and reopens the table after.
void MODITAB(const ValueArray& aStruct);

}  // namespace vosk

#endif  // VOSK_APP_RESTRUCTURE_H_
