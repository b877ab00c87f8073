#ifndef VOSK_APP_COPY_IMPORT_H_
#define VOSK_APP_COPY_IMPORT_H_

// Copying the current table into another file and importing another file's records into it.
// Both hand the record work to the transfer engine (DBCOPYTO, DBAPPFROM, DBSDF); the other file
// is a DBF table, an SDF or CSV text file, a SQLite database or (copy only) an XLSX workbook.

#include <string>
#include <vector>

namespace vosk {

class Browse;

// The kinds of file a copy writes, as the dialog's "Formato" choice offers them, in order.
struct CopyFormat {
  const char* name;       // shown in the choice: "DBF", "SDF", "CSV", "SQLite", "XLSX"
  const char* extension;  // given to the target: ".DBF", ".TXT", ".CSV", ".SQLITE", ".XLSX"
  const char* driver;     // transfer driver; "" for the default table driver
  bool can_import;        // IMPORTAREC reads it too
};
const std::vector<CopyFormat>& CopyFormats();

// The format a file name's extension stands for (case-insensitive; ".DB" and ".SQLITE3" are
// SQLite too); nullptr when the extension names none.
const CopyFormat* FormatOfFile(const std::string& file);

// "Copia tabella...": asks for the target, shows the dialog "COPIATAB" (condition, order key,
// "Formato", "Unique:", "Solo struttura:") and copies the records of the current table that
// satisfy the condition, in the order of the key (record order without one), one per key value
// with "Unique:", through a temporary order on a second work area of the same table. The
// browse's work area, orders and position are not touched.
void COPIATAB();

// "Importa record...": asks for a DBF, SDF, CSV or SQLite source (for SQLite, which of its
// tables), shows the dialog "IMPORTAREC" (condition checked against the source's fields) and
// appends the source's records that satisfy it to the current table, then re-synchronises the
// browse.
void IMPORTAREC(Browse* oBrw);

}  // namespace vosk

#endif  // VOSK_APP_COPY_IMPORT_H_
