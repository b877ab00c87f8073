#ifndef VOSK_APP_SORT_FILTER_H_
#define VOSK_APP_SORT_FILTER_H_

// Sorting and filtering the view. Both build a temporary order over the current table and make
// it the only open order; the browse then walks it. The filter is therefore a conditional
// order, not a record filter of the work area.
//
//   view          xCurOrder            cCurIndex   cCurFilter   open orders
//   physical      nil                  nil         nil          none
//   opened index  nil                  the index   nil          the index bag
//   column sort   field number         nil         nil          one temporary order
//   filter        key text or ""       nil         condition    one temporary order with FOR
//
// A temporary order lives in a bag of the temporary folder, named by GETNEWFNAME(); the engine
// deletes it when the order list is cleared or the table closed, and the start-up of the next
// run deletes those whose program was killed.

#include <functional>
#include <string>

#include "expr/value.h"

namespace vosk {

class Browse;

// The temporary bag name without extension: CHR(127), the date as YYYYMMDD and the
// centiseconds since midnight in decimal. Waits until the centisecond changes before it
// returns, so successive names differ.
std::string GETNEWFNAME();

// Creates an order: appends ".NTX" to cBag when its file-name part has no ".", removes every
// "FIELD->" from cKey, then ORDCREATE(cBag, cTag, cKey, bKey, lUnique). The condition of the
// order comes from the ORDCONDSET before it.
bool ORDBUILD(std::string cBag, const std::string& cTag, const std::string& cKey,
              std::function<Value()> bKey = nullptr, const Value& lUnique = Value());

// Runs `build` (the creation of an order) under a handler that abandons it on an error of its
// key or condition: one that does not compile, fails on a record or gives no key value. The
// answer is then false, as when `build` answers false; any other error (a full disk, a lock)
// goes to the program's handler.
bool BuildWithKeyCheck(const std::function<bool()>& build);

// The key ORDINA sorts field n by: the field name; "UPPER( LEFT( name, 240 ) )" for a
// character field longer than 240, "UPPER( name )" for a shorter one, "UPPER( PADR( name, 240,
// CHR( 1 ) ) )" for a memo; under DBFNTX "VAL( STR( name, 40, decimals ) )" for a float
// field, whose values may not fit the field's plain form.
std::string SortKeyText(int nField);

// ORDINA(oBrw, nCol): sorts the view by shown column nCol (1-based) with a temporary order;
// the record stays current. nCol 0: back to physical order without sort or filter. A column
// beyond the shown ones, or a time-stamp column under DBFNTX, only beeps. Any opened index and
// any filter are closed.
void ORDINA(Browse* oBrw, int nCol = 0);

// FILTRA(oBrw): the dialog "Imposta filtro" (condition, key, unique), then the filter order.
// An error while building it shows "Chiave non valida." and leaves the physical view (the
// orders were already closed).
void FILTRA(Browse* oBrw);

}  // namespace vosk

#endif  // VOSK_APP_SORT_FILTER_H_
