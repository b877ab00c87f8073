#ifndef VOSK_APP_OPEN_TABLE_H_
#define VOSK_APP_OPEN_TABLE_H_

// Opening tables and indexes, the recently-used list and the three storage settings (driver,
// memo format, text encoding). Every command works on the current table (alias "DBF").

#include <optional>
#include <string>
#include <vector>

namespace vosk {

class Browse;

// DBUSEAREA with the same arguments, then the work area's password set to "". When the open
// failed because another program holds the table (NETERR), shows "E' in corso un'operazione di
// sistema..." (shared) or "Spegnere tutti i terminali..." (exclusive, title "Attenzione") and
// repeats the open, letting window messages run, until it succeeds; any progress pop-up that
// was open is closed first and shown again afterwards.
void DBOPEN(bool lNew, const std::string& cDriver, const std::string& cFile,
            const std::string& cAlias, bool lShared, bool lReadOnly);
// Tells, naming it, when the structural bag that cFile's header flags is missing or cannot be
// kept current (the table then opens read-only); true when it did.
bool ExplainStructuralBag(const std::string& cFile);

// Closes the work area of the alias (default the current one) and its view index file.
void DBCLOSE(const std::string& cAlias = "");

// Test-opens a table (and an index) in a spare work area, read-only when lReadOnly; on failure
// shows why and returns false. The current work area and error handler are as before afterwards.
// The message names the file that failed: the one of the error, else the index when the table
// itself opened, else the table.
bool OKOPEN(const std::string& cFile, const std::string& cIndex = "", bool lReadOnly = false);

// The automatic index file of a table: its directory and base name with ".NTX" under VOSK(),
// else the default driver's order-bag extension in upper case; when no such file exists, the
// name with the driver's extension as it stands.
std::string AutoIndexName(const std::string& table);

// The extension of the index files the commands offer and create, in upper case: "NTX" under
// VOSK(), else the last three letters of the default driver's order-bag extension.
std::string IndexFileExt();

void APRITAB(Browse* oBrw, const std::string& cFile = "");
void APRIIND(Browse* oBrw);
void SELEZTAG(Browse* oBrw);
// The dialog "SELEZTAG" titled cTitle: a list of the orders (ATAG()) starting on the
// controlling one, with the key, FOR condition and unique flag of the order chosen, read-only.
// The name chosen, or nullopt when the dialog closed without "&Conferma".
std::optional<std::string> ChooseTag(const std::string& cTitle);
// The names of the open orders in order-number order, without the temporary order of a sorted
// or filtered view (its name starts with the byte 0x7F).
std::vector<std::string> ATAG();
void AUTOOPEN(Browse* oBrw);

// The recently-used list as stored in section "Mru" (File1 ...), most recent first.
std::vector<std::string> ReadMru();
// Puts a table first in the list (at most 15, no duplicates regardless of case) and rebuilds
// the submenu; without a table only rebuilds the submenu.
void ADDMRU(const std::string& cFile = "");
// The action of a recently-used entry: opens that table and sets the window title.
void BLOCKMRU(Browse* oBrw, const std::string& cFile);

void CAMBIARDD(Browse* oBrw, const std::string& cDriver);
void CAMBIAMEMO(Browse* oBrw, int nType);
void CAMBIAANSI(Browse* oBrw, const std::string& cCod);

}  // namespace vosk

#endif  // VOSK_APP_OPEN_TABLE_H_
