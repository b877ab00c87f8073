#ifndef VOSK_RDD_TABLE_DRIVER_H_
#define VOSK_RDD_TABLE_DRIVER_H_

// Which driver opens a table, decided once for every program from the table's own files.
//
// - The memo file is the one the table has: its kind follows the version byte, and a memo
//   extension setting that names no file of the table gives way to the file that is there
//   (rdd/dbffpt).
// - A table whose header flags a structural CDX bag that is there opens with DBFCDX and that
//   bag, whatever driver the settings name, so that every change keeps the bag current for
//   the other programs that use the table.
// - A flagged bag that is missing, does not open, or holds a tag that cannot be evaluated on
//   the table cannot be kept current: an open for reading goes on without it and says why; an
//   open that may change records is refused, nothing opened.

#include <string>

#include "rdd/db_commands.h"

namespace vosk {

// Why a table's flagged structural bag cannot be kept current.
struct BagTrouble {
  enum class Kind {
    kNone,
    kMissing,      // the header flags it, the file is not there
    kDamaged,      // it does not open, or a tag's key or FOR condition fails on the table
    kOtherDriver,  // the open asks for a driver that cannot keep a CDX bag (DBFNTX)
  };
  Kind kind = Kind::kNone;
  std::string bag;     // the bag's file as spelled on disk (or as it would be)
  std::string reason;  // kDamaged: the error it gave; kOtherDriver: the driver asked for
  explicit operator bool() const { return kind != Kind::kNone; }
};

// The driver that opens `table`: DBFCDX when its header flags a structural bag that is there
// and `wanted` is empty (no preference), a driver without orders or a CDX driver; otherwise
// `wanted`, or the default driver's name when `wanted` is empty.
std::string DriverForTable(const std::string& table, const std::string& wanted);

// What opening a table by the rule did.
struct TableOpening {
  bool opened = false;
  std::string driver;     // the driver it was opened (or would be opened) with
  bool with_bag = false;  // its structural bag is open in the area
  BagTrouble trouble;     // the flagged bag that is not kept current, and why
};

// Opens a table as DBUSEAREA does, with the driver DriverForTable gives for options.driver and
// with the table's structural bag when the header flags one. A bag that cannot be kept
// current: an open for a command that may change records (`for_change`) is refused (not
// opened, `trouble` set); any other open goes on without it (opened, `trouble` set for the
// caller to warn). Errors other than the bag's go to the installed handler as DBUSEAREA's do.
TableOpening UseTable(bool new_area, const AreaOptions& options, bool for_change);

}  // namespace vosk

#endif  // VOSK_RDD_TABLE_DRIVER_H_
