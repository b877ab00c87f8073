#ifndef VOSK_EXPR_DATABASE_ACCESS_H_
#define VOSK_EXPR_DATABASE_ACCESS_H_

#include <cstdint>
#include <string_view>

#include "expr/status.h"
#include "expr/value.h"

namespace vosk {

// How expressions reach the work areas. The table engine implements it and installs it at
// start-up (SetDatabaseAccess); the expression language never includes the engine's headers.
//
// Area numbers are those of the work-area table: 1..65534, 65535 the memory-variable
// pseudo-area ("M"), 0 none.
class DatabaseAccess {
 public:
  virtual ~DatabaseAccess() = default;

  // The current area number (0 when none is selected).
  virtual int CurrentArea() = 0;
  // Selects an area by number; returns the previously current one.
  virtual int SelectArea(int area) = 0;
  // The area an alias designates: a single letter A-K (either case) gives 1-11, M or m gives
  // 65535, otherwise an alias in use; 0 when unknown. Raises nothing.
  virtual int AreaOfAlias(std::string_view alias) = 0;
  // 1-based position of a field in an area holding a table, 0 when absent or the area is empty.
  virtual int FieldPos(int area, std::string_view name) = 0;
  // Reads / writes a field of an area (the driver's get_value / put_value).
  virtual Status GetField(int area, int field, Value* out) = 0;
  virtual Status PutField(int area, int field, const Value& value) = 0;
  // Functions that ask a work area (RECNO, EOF, DELETED, ORDKEYNO, DBSEEK, ...). Sets *known to
  // false when the engine does not provide a function of that (upper-case) name.
  virtual Value CallFunction(std::string_view name, const ValueArray& args, bool* known) = 0;

  // A stamp of what an area holds, so that compiled expressions can keep the field positions
  // and alias areas they resolved: while an area's stamp stays the same nonzero number, its
  // alias and the positions of its fields by name have not changed. An engine changes the
  // stamp whenever a table is opened in or closed from the area (any counter that never
  // repeats will do). 0 means "not tracked": names are then resolved at every evaluation,
  // which is correct but slower.
  virtual uint64_t AreaStamp(int area) { return 0; }
};

// The installed access, or nullptr when no engine is present.
DatabaseAccess* GetDatabaseAccess();
void SetDatabaseAccess(DatabaseAccess* access);

}  // namespace vosk

#endif  // VOSK_EXPR_DATABASE_ACCESS_H_
