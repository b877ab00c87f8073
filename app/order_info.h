#ifndef VOSK_APP_ORDER_INFO_H_
#define VOSK_APP_ORDER_INFO_H_

// What the status text and the menus ask of the orders of the current work area. Until the
// order interface of the engine exists the current table has no orders: these answer as a work
// area without any would, and they are the one place to connect to ORDCOUNT, ORDKEYNO,
// ORDKEYCOUNT, ORDSETFOCUS, ORDKEY and ORDISUNIQUE.

#include <cstdint>
#include <string>

namespace vosk {

int OrderCount();          // ORDCOUNT()
uint32_t OrderKeyNo();     // ORDKEYNO()
uint32_t OrderKeyCount();  // ORDKEYCOUNT()
std::string OrderFocus();  // ORDSETFOCUS(): name of the controlling order
std::string OrderKey();    // ORDKEY()
bool OrderIsUnique();      // ORDISUNIQUE()

}  // namespace vosk

#endif  // VOSK_APP_ORDER_INFO_H_
