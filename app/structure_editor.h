#ifndef VOSK_APP_STRUCTURE_EDITOR_H_
#define VOSK_APP_STRUCTURE_EDITOR_H_

// The table structure editor: a list of fields, one row per field, to define a new table or to
// change the fields of the open one; the field dialog "CAMPO"; the change of the one field
// under the browse cursor; creating an empty table; the free-space test before a file is
// written.
//
// A structure array holds one row per field: {name, type letter, length, decimals} (rows read
// from the table keep their fifth value, the field flags). The editor routines work on the
// editor's dialog (`oList`: its first control is the field list) and on nAt, the 1-based current
// row of the list, which they may move.

#include <cstdint>
#include <string>

#include "expr/value.h"

namespace vosk {

class Browse;
struct Dialog;

// CREATAB(oBrw, lNew): the structure editor. lNew: a new table (the file is asked for after the
// editor, created empty and opened); else the open table's fields, restructured on "OK". True
// when a table was created or restructured; it is then the current table, open shared. oBrw
// may be null (start-up).
bool CREATAB(Browse* oBrw = nullptr, bool lNew = true);
// MODPROP(oBrw): the field of the browse's current column in the field dialog, then the table
// restructured with it.
void MODPROP(Browse* oBrw);

// The field dialog for a new field (appended at the end, or inserted before row nAt) or for row
// nAt. True when the structure changed; the list then shows it and is marked changed.
bool MODCAMPO(Dialog& oList, ValueArray& aStruct, int& nAt, bool lNew, bool lAppend);
// Removes row nAt (without asking) and keeps nAt on a row.
void ELICAMPO(Dialog& oList, ValueArray& aStruct, int& nAt);
// True when a row of the structure has exactly the name cName.
bool DUP(const ValueArray& aStruct, const std::string& cName);
// The field list's keys: Enter edits the current field, Insert inserts one before it, Delete
// deletes it, Ctrl+A appends one. True when the key was taken.
bool TASTI2(Dialog& oList, int nKey, bool ctrl, ValueArray& aStruct, int& nAt);
// The field list's pop-up menu at (nRow, nCol) of the list; runs the chosen entry.
void RMENU2(Dialog& oList, ValueArray& aStruct, int& nAt, int nRow, int nCol);
// The editor's button bar: OK, CANCEL, INSERT, APPEND, EDIT, DELETE.
void TOOLBAR2(Dialog& oDlg, ValueArray& aStruct);

// DBGEN(cFile, aStruct): creates the empty table with the default driver, unless the disk that
// would hold it is full (ISFULL). False when nothing was created.
bool DBGEN(const std::string& cFile, const ValueArray& aStruct);
// ISFULL(cDrive, nBytes): true, after "Disco non pronto." or "Spazio su disco insufficiente.",
// when the folder cDrive cannot be reached or has less than nBytes free; "" is never full.
bool ISFULL(const std::string& cDrive, int64_t nBytes = 8192);

}  // namespace vosk

#endif  // VOSK_APP_STRUCTURE_EDITOR_H_
