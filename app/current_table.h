#ifndef VOSK_APP_CURRENT_TABLE_H_
#define VOSK_APP_CURRENT_TABLE_H_

// The state of the current table, shared by every Application command. The work area of the
// current table always has the alias "DBF".

#include <optional>
#include <string>
#include <vector>

#include "expr/value.h"

namespace vosk {

inline constexpr char kCurrentAlias[] = "DBF";

struct CurrentTableState {
  std::string cCurTable;  // full path of the open table
  // Current sort of the view: nil = physical order or an opened index; a number = the field
  // number of the column the view is sorted by; a text = the key expression of the filter
  // dialog.
  Value xCurOrder;
  std::optional<std::string> cCurIndex;      // index file opened by the user or automatically
  std::optional<std::string> cCurFilter;     // condition text of the active filter
  std::vector<bool> aFieldVis;               // per field: shown as a column
  std::vector<int> aViewCols;                // field numbers of the shown columns, ascending
  std::optional<std::string> cPassword;      // applied to the table after every open
  bool lReadOnly = false;                    // opened read-only (read-only file, missing memo)
  std::optional<int> nSavedTop, nSavedLeft;  // window position before the last move
  std::string cColSearch;                    // last column-search text
  int nArrSearchPos = 0;                     // type-ahead state of field-list browses
  std::string cArrSearchBuf;
};

// The one state of the process.
CurrentTableState& CurTable();

// Every field shown: aFieldVis all true and aViewCols 1..nFields.
void ShowAllFields(int nFields);

}  // namespace vosk

#endif  // VOSK_APP_CURRENT_TABLE_H_
