#include "app/browse.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/order_info.h"
#include "app/voskdbu.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

bool NonEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

}  // namespace

std::optional<std::string> STATMSG(const Browse* oBrw) {
  if (oBrw == nullptr) return std::nullopt;
  const CurrentTableState& state = CurTable();
  std::string text;
  auto piece = [&text](const std::string& p) { text += p + "     "; };
  auto num = [](auto n) { return std::to_string(n); };

  const int column = oBrw->nColAct();
  const int fields = FCOUNT();
  if (column > 0 && column <= static_cast<int>(state.aViewCols.size())) {
    piece("Campo: " + num(state.aViewCols[column - 1]) + "/" + num(fields));
  } else {
    piece("Campi: " + num(fields));
  }
  piece("RecNo: " + num(EOF_() ? 0u : RECNO()) + "/" + num(LASTREC()));
  // Under an order the grid's scroll bar holds the key position and count: asking the index
  // would count its keys at every move.
  if (OrderControls()) {
    piece("KeyNo: " + num(oBrw->KeyPosition()) + "/" + num(oBrw->KeyCount()));
  } else {
    piece("KeyNo: " + num(OrderKeyNo()) + "/" + num(OrderKeyCount()));
  }
  const Value& order = state.xCurOrder;
  if (order.is_numeric() && order.number() != 0) {
    piece("Ordine: " + FIELDNAME(static_cast<int>(order.number())));
  }
  if (NonEmpty(state.cCurIndex)) {
    const std::string base = CFILENOEXT(*state.cCurIndex);
    piece("Indice: " + base);
    if (OrderCount() > 1 || OrderFocus() != base) piece("Tag: " + OrderFocus());
    piece("Chiave: " + OrderKey());
    if (OrderIsUnique()) piece("UNIQUE");
  }
  if (NonEmpty(state.cCurFilter)) piece("Filtro: " + *state.cCurFilter);
  if (order.is_string() && !order.str().empty()) {
    piece("Ordine: " + order.str());
    if (OrderIsUnique()) piece("UNIQUE");
  }
  // A table opened read-only says so in the window too, not only in its title.
  if (state.lReadOnly) piece("Sola lettura");
  return text;
}

}  // namespace vosk
