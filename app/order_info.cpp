#include "app/order_info.h"

#include "rdd/db_commands.h"

namespace vosk {

int OrderCount() { return 0; }
uint32_t OrderKeyNo() { return EOF_() ? 0 : RECNO(); }
uint32_t OrderKeyCount() { return LASTREC(); }
void OrderKeyGoto(uint32_t key_no) { DBGOTO(Value::Integer(key_no)); }
std::string OrderFocus() { return ""; }
std::string OrderKey() { return ""; }
bool OrderIsUnique() { return false; }
std::string OrderBagExt() { return RDDSETDEFAULT() == "DBFCDX" ? ".cdx" : ".ntx"; }
bool OrderFindRec(uint32_t record) {
  DBGOTO(Value::Integer(record));
  return !EOF_() && RECNO() == record;
}
bool OrderBagsSupported() { return false; }
void OrderListClear() {}
bool OrderListAdd(const std::string& bag) { return false; }

}  // namespace vosk
