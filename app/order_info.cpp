#include "app/order_info.h"

#include "expr/expression.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"

namespace vosk {
namespace {

// A controlling order drives navigation; without one the table is in natural order, where the
// key position is the record number and the key count the record count.
bool Controlling() { return USED() && ORDCOUNT() > 0 && !ORDSETFOCUS().empty(); }

}  // namespace

bool OrderControls() { return Controlling(); }

// Without a table in the area there are no orders (the menus ask before any table is open).
int OrderCount() { return USED() ? ORDCOUNT() : 0; }

uint32_t OrderKeyNo() {
  if (Controlling()) return static_cast<uint32_t>(ORDKEYNO());
  return !USED() || EOF_() ? 0 : RECNO();
}

uint32_t OrderKeyCount() {
  if (Controlling()) return static_cast<uint32_t>(ORDKEYCOUNT());
  return USED() ? LASTREC() : 0;
}

void OrderKeyGoto(uint32_t key_no) {
  if (Controlling()) {
    ORDKEYGOTO(key_no);
  } else {
    DBGOTO(Value::Integer(key_no));
  }
}

std::string OrderFocus() { return OrderCount() > 0 ? ORDSETFOCUS() : ""; }
std::string OrderKey() { return Controlling() ? ORDKEY() : ""; }
bool OrderIsUnique() { return Controlling() && ORDISUNIQUE(); }
std::string OrderBagExt() { return ORDBAGEXT(); }

bool OrderFindRec(uint32_t record) {
  if (!Controlling()) {
    DBGOTO(Value::Integer(record));
    return !EOF_() && RECNO() == record;
  }
  return ORDFINDREC(record);
}

bool OrderBagsSupported() { return true; }
void OrderListClear() { ORDLISTCLEAR(); }
bool OrderListAdd(const std::string& bag) { return ORDLISTADD(Value::String(bag)); }

void OrderCheckKeys() {
  if (!USED()) return;
  for (int n = 1; n <= ORDCOUNT(); ++n) {
    EvalText(ORDKEY(Value::Integer(n)));
    const std::string condition = ORDFOR(Value::Integer(n));
    if (!condition.empty()) EvalText(condition);
  }
}

}  // namespace vosk
