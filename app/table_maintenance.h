#ifndef VOSK_APP_TABLE_MAINTENANCE_H_
#define VOSK_APP_TABLE_MAINTENANCE_H_

// Emptying (zap) and packing the current table, which need it for this program alone, and the
// order-bag list routines that keep the open indexes across a zap.
//
// Both commands refuse a read-only table, ask, make sure no other program has the table open,
// then reopen it exclusively, rewrite it through the engine (DBZAP, DBPACK: the new files are
// built beside the old ones and swapped in, so an error or a crash leaves the table as it was)
// and reopen it shared in natural order, without the index, sort or filter the user had. An
// error in between (a full disk) is told, and the table is open shared again all the same.

#include <string>
#include <vector>

namespace vosk {

class Browse;

// The start of the message of a command that needs the table for this program alone, which
// another program has open; the command's infinitive and "." follow.
inline constexpr char kOpenElsewhere[] =
    "La tabella risulta attualmente aperta da un altro programma. Impossibile ";

// Opens the current table again in its work area (alias "DBF"), shared or exclusive, with its
// password; no order is open afterwards.
void OpenCurrent(bool shared);

// SVUOTA(oBrw): "Svuota tabella".
void SVUOTA(Browse* oBrw);
// COMPATTA(oBrw): "Compatta tabella".
void COMPATTA(Browse* oBrw);

// OKEXCL(oBrw, cTable): true when no other program has the table open. Closes the current
// table for the test and reopens it shared on the same record, in natural order (ORDINA).
bool OKEXCL(Browse* oBrw, const std::string& cTable);
// NETUSED(cFile): true when another program has the file open (".DBF" added to a name without
// extension); a file that does not exist is not in use.
bool NETUSED(const std::string& cFile);

// DBZAPKEEP(): DBZAP keeping the open order bags, the controlling order and its scopes; the
// record pointer goes to the top.
void DBZAPKEEP();
// ORDLIST(): the bag of every open order (full paths), in order number order (a bag holding
// several orders is listed once per order). With a name: the same without that bag (".NTX"
// added to a name without extension). With a list: opens each bag (ORDADD) that is not open
// yet.
std::vector<std::string> ORDLIST();
std::vector<std::string> ORDLIST(const std::string& cExclude);
void ORDLIST(const std::vector<std::string>& aBags);
// ORDADD(cBag): opens an order bag (ORDLISTADD), adding the default driver's bag extension to
// a name without one.
void ORDADD(const std::string& cBag);

}  // namespace vosk

#endif  // VOSK_APP_TABLE_MAINTENANCE_H_
