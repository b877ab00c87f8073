#ifndef VOSK_APP_ORDER_INFO_H_
#define VOSK_APP_ORDER_INFO_H_

// What the Application asks of the orders of the current work area, through the engine's order
// interface. Without a controlling order the table is in natural order: the key position is the
// record number (0 at end of file), the key count the record count, and a key position is
// reached with DBGOTO.

#include <cstdint>
#include <string>

namespace vosk {

int OrderCount();  // ORDCOUNT()
// True when a controlling order drives navigation. Its key positions (ORDKEYNO, ORDKEYCOUNT,
// ORDKEYGOTO) are counted through the index (an NTX page holds no counts of the keys below
// it), so callers that move row by row count the rows themselves.
bool OrderControls();
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
// Evaluates the key and condition of every open order on the current record, so that an order
// built for another table (its key names a field this table lacks) shows at once: the
// evaluation raises "Variable does not exist" through the installed handler.
void OrderCheckKeys();

}  // namespace vosk

#endif  // VOSK_APP_ORDER_INFO_H_
