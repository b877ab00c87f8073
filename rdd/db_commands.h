#ifndef VOSK_RDD_DB_COMMANDS_H_
#define VOSK_RDD_DB_COMMANDS_H_

// The database command interface: free functions acting on the current work area, as the
// Application and the command-line tool call them. With no table in the current area they
// raise "Workarea not in use" (DBCMD 35/2001) unless stated otherwise.

#include <cstdint>
#include <optional>
#include <string>

#include "expr/value.h"
#include "rdd/work_area.h"

namespace vosk {

// Everything an open or a create can be given.
struct AreaOptions {
  std::string file;
  std::string driver;                  // empty: the default driver
  std::string alias;                   // empty: the file's base name
  std::optional<bool> shared;          // open: nullopt = not the EXCLUSIVE setting
  bool read_only = false;              // open only
  std::string codepage;                // empty: the program's code page
  int connection = 0;
  const ValueArray* structure = nullptr;  // open: fields defined before the file is opened
  Value delimiter;                     // not nil: handed to the area's info 6 first
  std::string table;                   // a table inside a database file
  std::string query;                   // rows of a query inside a database file
};

// Opens a table (see the positional form below).
bool DBUSEAREA(bool new_area, const AreaOptions& options);
// Creates a table (see the positional form below).
bool DBCREATE(const AreaOptions& options, const ValueArray& structure,
              std::optional<bool> keep_open);

// Opens a table. new_area true = first free area, false = the current one (closing what is
// there). driver empty = default driver; alias empty = the file's base name; shared nullopt =
// not the EXCLUSIVE setting. True on success.
bool DBUSEAREA(bool new_area, const std::string& driver, const std::string& file,
               const std::string& alias = "", std::optional<bool> shared = std::nullopt,
               bool read_only = false, const std::string& codepage = "");
// Creates a table from a structure array ({name, type, len, dec[, flags]} per field).
// keep_open: nullopt = close after creating, true = open in a new area, false = in the current.
bool DBCREATE(const std::string& file, const ValueArray& structure,
              const std::string& driver = "", std::optional<bool> keep_open = std::nullopt,
              const std::string& alias = "", const std::string& codepage = "");
void DBCLOSEAREA();

// The structural CDX bag that a table's header flags (the bag of the table's base name, kept
// current with the table): `flagged` when the header says so, `path` the bag's file as it is
// spelled on disk, `present` when it is there.
struct StructuralBag {
  bool flagged = false;
  bool present = false;
  std::string path;
};
StructuralBag StructuralBagOf(const std::string& table);
void DBCLOSEALL();
void DBSELECTAREA(int area);
void DBSELECTAREA(const std::string& designator);
int SELECT();
int SELECT(const Value& designator);
std::string ALIAS(int area = 0);
bool USED();
// Returns the previous default; an unknown name raises "Argument error" (1015).
std::string RDDSETDEFAULT(const std::string& driver = "");

bool DBAPPEND(bool release_locks = true);
void DBDELETE();
void DBRECALL();
void DBCOMMIT();
void DBGOTOP();
void DBGOBOTTOM();
void DBGOTO(const Value& record);
void DBSKIP(int64_t count = 1);

bool BOF();
bool EOF_();  // EOF() of the command set; EOF itself is a C library macro.
bool FOUND();
bool DELETED();
uint32_t RECNO();
uint32_t LASTREC();
uint32_t RECCOUNT();
int FCOUNT();
std::string FIELDNAME(int pos);
int FIELDPOS(const std::string& name);
// FIELDPOS in a given area (0 when a is null or has no such field).
int FieldPosition(WorkArea* a, const std::string& name);
Value FIELDGET(int pos);
// Returns the value when the write succeeded, nil otherwise.
Value FIELDPUT(int pos, const Value& value);
Value FIELDTYPE(int pos);
int FIELDLEN(int pos);
int FIELDDEC(int pos);
// {name, type letter, length, decimals, flags} for every visible field.
Value DBSTRUCT();

bool RLOCK();
bool FLOCK();
void DBUNLOCK();
// Returns the network-error flag, then sets it when a value is given.
bool NETERR(std::optional<bool> value = std::nullopt);

// Evaluates block over the scope of records (for, while, next, record, rest).
bool DBEVAL(const std::function<void()>& block, const Scope& scope = Scope());
// Installs the locate condition and runs it; DBCONTINUE searches again.
bool DBLOCATE(const Scope& scope);
bool DBCONTINUE();
// Installs a filter compiled from text (true on success); an empty text clears it.
bool DBSETFILTER(const std::string& text);
void DBCLEARFILTER();

bool DBPACK(const Value& progress_block = Value(), int step = 0);
bool DBZAP();
std::string DBFILTER();

// Files of tables and order bags, through a driver (empty = the default one). The bag name,
// when not empty, is the file acted on, else the table name; a name without extension gets the
// driver's bag or table extension. Dropping or renaming a table takes its memo file, its
// structural bag and its .cpg file along. A file open anywhere (in this program or another)
// is neither dropped nor renamed, and a rename never replaces an existing file; the new name
// stays in the old one's folder when it names none. False when nothing was done.
bool DBDROP(const std::string& table, const std::string& bag = "", const std::string& driver = "");
bool DBEXISTS(const std::string& table, const std::string& bag = "",
              const std::string& driver = "");
bool DBRENAME(const std::string& table, const std::string& bag, const std::string& new_name,
              const std::string& driver = "");

// Relations of the current area into child areas. The child is an area number or a designator
// text; the key is compiled in the current (parent) area. When the parent moves, the child is
// repositioned before its next use: by seeking the key in its controlling order, or, without
// one, by going to the key as a record number; at the parent's end of file the child goes to
// its phantom record. A scoped relation also limits the child's controlling order to the key.
// Not additive: the area's other relations are dropped first. False after raising "Argument
// error" (1006) for a missing key or child, "Alias does not exist" (15/1002) for an unknown
// child.
bool DBSETRELATION(const Value& child, const std::string& key_text, bool additive = false,
                   bool scoped = false);
void DBCLEARRELATION();
// Key text of relation n (1-based) of the current area, empty when none.
std::string DBRELATION(int n = 1);
// Child area number of relation n, 0 when none.
int DBRSELECT(int n = 1);

Value DBINFO(int code, const Value& new_value = Value());
Value RDDINFO(int code, const Value& new_value = Value(), const std::string& driver = "");
// Record inquiry of the current area (code 1 deleted, 2 locked, 7 raw record, ...).
// arg: the argument of a code that takes one (10: 0 time, 1 date, 2 computer name).
Value DBRECORDINFO(int code, uint32_t recno = 0, const Value& arg = Value());

// Registers the built-in drivers and installs the engine's access for expressions. Safe to
// call more than once.
void InitDatabaseEngine();

}  // namespace vosk

#endif  // VOSK_RDD_DB_COMMANDS_H_
