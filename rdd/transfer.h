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
  std::string codepage;  // code page of the other file; empty: the program's
  Value delimiter;       // not nil: handed to the other area's info 6
  std::string table;     // table inside a database file
  std::string query;     // query of a database file (import only)
  std::function<void(uint64_t copied)> progress;  // called now and then during the walk
  // Text targets that carry them (CSV): kTextColumn* columns before the fields.
  int text_columns = 0;
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
