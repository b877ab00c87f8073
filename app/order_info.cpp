#include "app/order_info.h"

#include "rdd/db_commands.h"

namespace vosk {

int OrderCount() { return 0; }
// Without orders the key position is not known yet: 0 of the record count.
uint32_t OrderKeyNo() { return 0; }
uint32_t OrderKeyCount() { return LASTREC(); }
std::string OrderFocus() { return ""; }
std::string OrderKey() { return ""; }
bool OrderIsUnique() { return false; }

}  // namespace vosk
