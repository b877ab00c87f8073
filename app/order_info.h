#ifndef VOSK_APP_ORDER_INFO_H_
#define VOSK_APP_ORDER_INFO_H_

// What the Application asks of the orders of the current work area. The order interface of the
// engine is not connected yet: these answer as a work area in natural order (no orders, key
// position = record number, key count = record count), and they are the one place to connect to
// ORDCOUNT, ORDKEYNO, ORDKEYCOUNT, ORDKEYGOTO, ORDSETFOCUS, ORDKEY, ORDFOR, ORDISUNIQUE,
// ORDBAGEXT, ORDLISTCLEAR, ORDLISTADD and ORDFINDREC.

#include <cstdint>
#include <string>

namespace vosk {

int OrderCount();                    // ORDCOUNT()
uint32_t OrderKeyNo();               // ORDKEYNO(): 0 at end of file
uint32_t OrderKeyCount();            // ORDKEYCOUNT()
void OrderKeyGoto(uint32_t key_no);  // ORDKEYGOTO()
std::string OrderFocus();            // ORDSETFOCUS(): name of the controlling order
std::string OrderKey();              // ORDKEY()
bool OrderIsUnique();                // ORDISUNIQUE()
std::string OrderBagExt();           // ORDBAGEXT() of the default driver, with the dot
// ORDFINDREC(n): positions on record n within the controlling order; false when it is not
// reachable there.
bool OrderFindRec(uint32_t record);
// Whether order bags can be opened (ORDLISTCLEAR / ORDLISTADD exist).
bool OrderBagsSupported();
// ORDLISTCLEAR() and ORDLISTADD(bag); OrderListAdd is false when bags cannot be opened.
void OrderListClear();
bool OrderListAdd(const std::string& bag);

}  // namespace vosk

#endif  // VOSK_APP_ORDER_INFO_H_
