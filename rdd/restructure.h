#ifndef VOSK_RDD_RESTRUCTURE_H_
#define VOSK_RDD_RESTRUCTURE_H_

// Restructuring a table: the table gets a new list of fields and every record is carried over,
// each value converted to its field's new type. The one implementation behind the structure
// editor (MODITAB) and `dbutool restructure`.
//
// The new table is built beside the table under a name owned by this process and swapped in
// through a TableRewrite, which keeps the old table (and memo file) under the "_ORIGINALE"
// backup names. Whatever happens before the swap (a full disk, an error during the copy, the
// process killed), the table stays as it was and the new files are removed (at once, or by the
// next open of the table after a kill); once the swap is committed, the new table is in place
// and the backup holds the whole old data.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/value.h"
#include "rdd/work_area.h"

namespace vosk {

// A structure row ({name, type, len, dec[, flags]}, as DBSTRUCT() gives it) decoded; the type
// letter upper case, missing numbers 0.
FieldSpec FieldSpecOfRow(const Value& row);
std::vector<FieldSpec> FieldSpecsOf(const ValueArray& structure);

// The conversion map: for each new field (in order) the 1-based number of the old field whose
// values it receives: the old field of the same name; else, when old field i exists and its
// name occurs nowhere in the new structure (the field was renamed in place), old field i; else
// 0 (a new field, left blank). Names are compared without regard to letter case.
std::vector<int> ConversionMap(const std::vector<FieldSpec>& old_fields,
                               const std::vector<FieldSpec>& new_fields);

// Italian number punctuation to a plain decimal number: in a text holding a comma every "." is
// removed and the comma becomes "." ("1.234,56" gives "1234.56"); other texts are unchanged.
std::string AdjustNumberText(std::string_view text);

// The number as a field of width `len` with `dec` decimals holds it: rounded to dec decimals,
// 0 when it does not fit the width.
Value FitNumber(double number, int len, int dec);

// A value of the old field converted for the new field (the conversion table of the structure
// editor). Dates read and written as text use the DATEFORMAT setting. Pairs the table does not
// name give the value unchanged: the table driver stores it by its own rules.
Value ConvertFieldValue(const Value& value, const FieldSpec& old_field,
                        const FieldSpec& new_field);

// New fields of these types are filled by the table driver itself, never from the old table.
inline bool FilledByDriver(char type) { return type == '+' || type == '@'; }

struct RestructureOptions {
  // The password of an enciphered table: the new table is enciphered with it. Needed (and only
  // used) when the table is enciphered.
  std::string password;
  // Called now and then with the fraction of the records carried over (0 to 1).
  std::function<void(double done)> progress;
  // The code page of the table's text when the table names none (the window's DOS setting);
  // the new table is marked with it. Empty: the table's.
  std::string codepage;
};

struct RestructureReport {
  uint32_t records = 0;           // records carried over (deleted ones included)
  uint64_t values_left_blank = 0; // values the new field could not take
  std::string backup;             // the old table under its backup name
  // One line for each tag of an index of the table that could not be rebuilt (its key or
  // condition no longer compiles on the new fields), and for each other open index file that
  // was not rebuilt.
  std::vector<std::string> index_problems;
  std::vector<std::string> tags_rebuilt;  // "BAG:TAG" of every tag rebuilt
};

// Gives the table open in the current work area the structure `structure` (rows as
// DBSTRUCT()). REQUIRES: the table is held exclusively (no other program has it open), in
// natural order. The records are carried over in record-number order, deleted ones stay
// deleted, memo contents move to the new memo file; the table kind, memo kind (when the new
// table has memo fields), code page and cipher stay. Afterwards the orders that were open on
// the table are built again over the new table: the structural bag keeps its tags (a tag whose
// key no longer compiles is dropped and reported), its flag and its name.
//
// The current area is closed when this returns, whatever the outcome; the caller reopens the
// table. True on success; false after an error raised through the error handler (which may
// also abandon), with the table as it was.
bool RestructureTable(const ValueArray& structure, const RestructureOptions& options,
                      RestructureReport* report);

// The backup name of a table or memo file: "<path/base>_ORIGINALE<.ext>".
std::string RestructureBackupName(const std::string& file);
// The path without the extension of its file part ("dir/t.dbf" gives "dir/t").
std::string PathWithoutExtension(const std::string& path);

}  // namespace vosk

#endif  // VOSK_RDD_RESTRUCTURE_H_
