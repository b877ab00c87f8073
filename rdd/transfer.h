#ifndef VOSK_RDD_TRANSFER_H_
#define VOSK_RDD_TRANSFER_H_

// Record transfer between the current work area and another file: copying the current area's
// records into a new file (DBCOPYTO) and appending another file's records to it (DBAPPFROM).
// The other file is served by any registered driver: a table driver, or a driver of the
// transfer kind (kTransferKind: SDF and CSV text, and the database and spreadsheet drivers
// registered at start-up) that is given the layout instead of reading one.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "expr/value.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area.h"

namespace vosk {

// Driver kinds: table drivers and the transfer kind.
inline constexpr int kTableKind = 1;
inline constexpr int kTransferKind = 2;

// What a transfer met on its way (filled when TransferArgs::report is given).
struct TransferReport {
  uint64_t copied = 0;
  // Characters a code page of the way lacked, written as '?', and the first source record
  // (for a text source: its row) that had one.
  uint64_t lost = 0;
  uint32_t first_lost = 0;
  // Values read from text that their field cannot hold, left blank: how many, and the first
  // of them.
  uint64_t bad = 0;
  std::vector<BadValue> first_bad;
  // Records whose store failed: appended and marked deleted.
  uint64_t failed = 0;
  uint32_t first_failed = 0;
};

// Text of a report for people, in Italian (empty when there is nothing to say): characters
// written as '?', values left blank, records marked deleted.
std::string TransferReportText(const TransferReport& report);

// The arguments of DBCOPYTO and DBAPPFROM. Absent values are not given.
struct TransferArgs {
  std::string file;
  std::vector<std::string> fields;  // names; empty names are skipped; empty = every field
  Condition for_cond;
  Condition while_cond;
  // Condition texts compiled in the source area once it is open (used when the compiled
  // condition above is not given).
  std::string for_text;
  std::string while_text;
  std::optional<int64_t> next;
  std::optional<uint32_t> record;
  std::optional<bool> rest;
  std::string driver;    // empty: the default driver
  int connection = 0;
  // Code page of the text of the other file: a table's (empty: a new table takes the current
  // table's, a table read its own), or an SDF or CSV file's (empty: SDF in the current
  // table's, CSV in UTF-8). Databases and spreadsheets hold UTF-8.
  std::string codepage;
  // Code page of the current table's text when it is not the one the table names (the window
  // reads an unmarked table in its DOS code page when asked to); empty: the table's own.
  std::string table_codepage;
  // Code page of another table that names none (empty: the program's).
  std::string unmarked_codepage;
  Value delimiter;       // not nil: handed to the other area's info 6
  std::string table;     // table inside a database file
  std::string query;     // query of a database file (import only)
  std::function<void(uint64_t copied)> progress;  // called now and then during the walk
  // Text targets that carry them (CSV): kTextColumn* columns before the fields.
  int text_columns = 0;
  // Copies to CSV, SQLite and XLSX leave deleted records out unless this is set; then they
  // carry a _DELETED column ("*" for a deleted record), which an import turns back into the
  // deletion mark.
  bool include_deleted = false;
  bool bom = false;          // a CSV target starts with the UTF-8 byte-order mark
  bool empty_is_null = false;  // an empty CSV value is null in a nullable field
  // A value read from SDF or CSV text that its field cannot hold is left blank and reported
  // (false: it stops the import with an error).
  bool blank_bad_values = true;
  // Spreadsheet targets: rows per sheet (0: the format's limit); past them the rows go on in
  // a next sheet, or (sheet_overflow false) a copy that needs more is refused before anything
  // is written.
  uint32_t sheet_rows = 0;
  bool sheet_overflow = true;
  TransferReport* report = nullptr;  // filled when given
};

// Copies the current area's records into a new file. True when the transfer succeeded.
bool DBCOPYTO(const TransferArgs& args);
// Appends the records of another file to the current area. True when it succeeded.
bool DBAPPFROM(const TransferArgs& args);
// DBCOPYTO (export) or DBAPPFROM with the driver "SDF".
bool DBSDF(bool export_to, TransferArgs args);

// Registers a driver of the transfer kind (no parent) with its default file extension; a
// failure stops the program (internal error 9004).
void RegisterTransferKindDriver(const std::string& name, const std::string& extension,
                                AreaFactory factory);

// The tables inside a database file, for the drivers whose files hold several (SQLITE): a
// driver registers how it lists them; TransferTables asks it. False when the driver lists none
// or the file cannot be read as one of its databases.
using TableLister =
    std::function<bool(const std::string& file, std::vector<std::string>* tables)>;
void RegisterTableLister(const std::string& driver, TableLister lister);
bool TransferTables(const std::string& driver, const std::string& file,
                    std::vector<std::string>* tables);

// Derives the transfer items from a source area and a destination (nullptr: none, then
// *structure receives the layout of the new file). False when no item results.
bool DeriveTransferLayout(WorkArea* source, WorkArea* dest,
                          const std::vector<std::string>& fields,
                          std::vector<TransferItem>* items, uint16_t* flags,
                          ValueArray* structure);

}  // namespace vosk

#endif  // VOSK_RDD_TRANSFER_H_
