#include "app/key_search.h"

#include <cctype>

#include "app/browse.h"
#include "app/current_table.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/order_types.h"

namespace vosk {
namespace {

struct KeySearchState {
  std::string buffer;   // the characters typed, upper-cased
  uint32_t record = 0;  // RECNO() where the last search ended
};

KeySearchState& State() {
  static KeySearchState state;
  return state;
}

bool Handled(int nKey) { return (nKey >= 32 && nKey <= 126) || nKey == kBackspace; }

// Adds the typed character to `buffer` (upper-cased), or removes the last one for Backspace.
void Type(std::string& buffer, int nKey) {
  if (nKey == kBackspace) {
    if (!buffer.empty()) buffer.pop_back();
  } else {
    buffer += static_cast<char>(std::toupper(nKey));
  }
}

// Typed characters are a prefix of a character key only: a number, date or logical key
// cannot begin with them.
bool CharacterKey() {
  const Value type = DBORDERINFO(Value::Integer(kOiKeyType));
  return type.is_string() && type.str() == "C";
}

}  // namespace

void KEYSEARCH() { State().buffer.clear(); }

const std::string& KeySearchBuffer() { return State().buffer; }

void KEYSEARCH(Browse* oBrw, int nKey, const std::string& cPrefix) {
  KeySearchState& s = State();
  if (s.record != RECNO()) s.buffer.clear();  // the user moved: a new search
  if (!Handled(nKey) || !CharacterKey()) return;
  const uint32_t nRec = RECNO();
  const bool deleting = nKey == kBackspace && !s.buffer.empty();
  Type(s.buffer, nKey);
  DBSEEK(Value::String(cPrefix + s.buffer));
  if (!FOUND()) {
    if (!deleting) s.buffer.pop_back();
    DBGOTO(Value::Integer(nRec));
  }
  if (SET(kSetDeleted).logical() && DELETED()) DBSKIP(1);
  if (RECNO() != nRec && oBrw) {
    oBrw->Refresh();
    oBrw->Change();
  }
  s.record = RECNO();
}

void KEYSEARCHARRAY() { CurTable().cArrSearchBuf.clear(); }

bool KEYSEARCHARRAY(const std::vector<std::string>& aRows, int& nAt, int nKey) {
  CurrentTableState& state = CurTable();
  std::string& buffer = state.cArrSearchBuf;
  if (state.nArrSearchPos != nAt) buffer.clear();
  if (!Handled(nKey)) return false;
  const int nOld = nAt;
  const bool deleting = nKey == kBackspace && !buffer.empty();
  Type(buffer, nKey);
  int found = 0;
  for (size_t i = 0; i < aRows.size() && found == 0; ++i) {
    std::string name = aRows[i];
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.compare(0, buffer.size(), buffer) == 0) found = static_cast<int>(i) + 1;
  }
  if (found == 0) {
    if (!deleting && !buffer.empty()) buffer.pop_back();
    nAt = nOld;
  } else {
    nAt = found;
  }
  state.nArrSearchPos = nAt;
  return nAt != nOld;
}

}  // namespace vosk
