#ifndef VOSK_APP_INDEX_COMMANDS_H_
#define VOSK_APP_INDEX_COMMANDS_H_

// The index commands of the window: a new index file, a new TAG in the current index, a change
// of the active TAG, the removal of a TAG and the rebuild of the current index. Each leaves the
// index file open with the order it made (or kept) controlling the browse, and any column sort
// or filter of the view gone.
//
// No command loses an index already on disk before the new one is whole: a new index file and
// a rebuild are built beside the file they replace and take its name at the end; a new or
// changed TAG of a compound file is written under the file's lock, all or nothing. A key or
// condition that cannot be built shows "Chiave non valida." and the index that was open is
// open again.

#include <string>

namespace vosk {

class Browse;

// CREAIND(oBrw, lTag): "Nuovo indice..." (lTag false) or "Nuovo TAG..." (true). A new TAG of a
// file that holds one order only (NTX) says so and offers a new index file instead.
void CREAIND(Browse* oBrw, bool lTag = false);
// MODIIND(oBrw): "Modifica TAG attivo...": key, condition and unique flag of the controlling
// order, built again under the same name in the same file.
void MODIIND(Browse* oBrw);
// ELIMINATAG(oBrw): "Elimina TAG...": removes the TAG chosen in the dialog "SELEZTAG". The
// controlling order stays when another was removed; when the controlling one was removed, the
// one listed before it controls (the new first when it was the first). Without orders left
// the view is in natural order, without index.
void ELIMINATAG(Browse* oBrw);
// RICOSTIND(oBrw): "Ricostruisci indice attivo...": every order of the current index built
// again with its key, condition and unique flag, after the user confirmed and once no other
// program has the table open; the same order controls afterwards, on the same record.
void RICOSTIND(Browse* oBrw);

// ESISTETAG(cTag): an order of the list has a name that begins with the trimmed cTag (CUST
// finds CUSTNAME).
bool ESISTETAG(const std::string& cTag);
// OKEXCL2(cTable, cInd, cFocus): true when no other program has the table open. Closes the
// table for the test and reopens it shared with the index cInd, cFocus controlling, on the
// same record.
bool OKEXCL2(const std::string& cTable, const std::string& cInd, const std::string& cFocus);

}  // namespace vosk

#endif  // VOSK_APP_INDEX_COMMANDS_H_
