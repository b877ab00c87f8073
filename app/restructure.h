#ifndef VOSK_APP_RESTRUCTURE_H_
#define VOSK_APP_RESTRUCTURE_H_

// Restructuring the current table for the structure editor: the conversion map, the value
// conversion and the restructure itself, over the engine's one implementation
// (rdd/restructure.h), which `dbutool restructure` uses too.

#include <cstdint>
#include <string>
#include <vector>

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
// The values of one new field that the field would not hold as they are.
struct FieldLoss {
  std::string field;  // the new field's name
  uint64_t cut = 0;    // texts longer than the field: cut to its length
  uint64_t blank = 0;  // values the field cannot hold: left blank (numbers: 0)
  bool number = false; // the new field holds numbers
};
// Reads every record of the table open in the current work area and says, field by field of
// aStruct, how many values would be cut or left blank by the restructure (fields that lose
// nothing are left out). The record pointer goes back where it was.
std::vector<FieldLoss> ValuesThatWouldNotFit(const ValueArray& aStruct);
// "NOME: 3 valori troncati" lines, one per field, joined by ";"; "" when nothing is lost.
std::string LossLines(const std::vector<FieldLoss>& losses);

// Restructures the table open in the current work area (CurTable().cCurTable) to aStruct
// ({name, type, len, dec} rows); progress pop-up "Modifica della struttura in corso..."
// with a real bar; errors reported through the error handler / a clear Italian message;
// the caller (CREATAB/MODPROP) has already checked OKEXCL and reopens the table after.
// `expected`: what ValuesThatWouldNotFit() found, for the closing message, which says how many
// values were cut or left blank in which fields.
void MODITAB(const ValueArray& aStruct, const std::vector<FieldLoss>& expected = {});

}  // namespace vosk

#endif  // VOSK_APP_RESTRUCTURE_H_
