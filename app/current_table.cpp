#include "app/current_table.h"

namespace vosk {

CurrentTableState& CurTable() {
  static CurrentTableState state;
  return state;
}

void ShowAllFields(int nFields) {
  CurrentTableState& s = CurTable();
  s.aFieldVis.assign(static_cast<size_t>(nFields), true);
  s.aViewCols.clear();
  for (int i = 1; i <= nFields; ++i) s.aViewCols.push_back(i);
}

}  // namespace vosk
