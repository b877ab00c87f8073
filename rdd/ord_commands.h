#ifndef VOSK_RDD_ORD_COMMANDS_H_
#define VOSK_RDD_ORD_COMMANDS_H_

// The order interface: functions acting on the orders of the current work area. With no table
// in the current area they raise "Workarea not in use" (DBCMD 35/2001), except ORDCONDSET and
// ORDDESTROY (false), INDEXORD (0) and ORDBAGEXT (asks the default driver).
//
// Order specs are a name or a 1-based number (nil: the controlling order); bag specs are a
// file name or a 1-based number (nil: all bags). An argument of the wrong type counts as absent.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "expr/value.h"
#include "rdd/order_types.h"

namespace vosk {

// The arguments of ORDCONDSET by name (argument numbers in the comments).
struct OrdCondArgs {
  std::string for_text;                   // 1
  std::function<Value()> for_block;       // 2
  std::optional<bool> all;                // 3 (default true)
  std::function<Value()> while_block;     // 4
  std::function<Value()> eval_block;      // 5
  int64_t eval_step = 0;                  // 6
  uint32_t start_record = 0;              // 7
  int64_t next = 0;                       // 8
  uint32_t record = 0;                    // 9
  bool rest = false;                      // 10
  bool descending = false;                // 11
  bool compound = false;                  // 12
  bool additive = false;                  // 13
  bool use_current = false;               // 14
  bool custom = false;                    // 15
  bool no_optimize = false;               // 16
  std::string while_text;                 // 17
  bool temporary = false;                 // 18
  bool use_filter = false;                // 19
  bool exclusive = false;                 // 20
  bool candidate = false;  // a candidate (primary) key (not an argument of the classic interface)
  // Called every eval_step keys written into the new tree, once the records are scanned (a
  // progress note for the rest of the build; not an argument of the classic interface).
  std::function<void()> write_block;
};

std::string ORDBAGEXT();
bool ORDCONDSET(const OrdCondArgs& args = OrdCondArgs());
// unique nil: the SET UNIQUE setting.
bool ORDCREATE(const std::string& bag, const std::string& tag, const std::string& key_text,
               std::function<Value()> key_block = nullptr, const Value& unique = Value());
bool ORDDESTROY(const Value& order, const Value& bag = Value());
std::string ORDFOR(const Value& order = Value(), const Value& bag = Value(),
                   const Value& new_for = Value());
std::string ORDKEY(const Value& order = Value(), const Value& bag = Value());
bool ORDLISTADD(const Value& bag, const Value& order = Value());
void ORDLISTCLEAR();
bool ORDLISTREBUILD();
std::string ORDNAME(const Value& order, const Value& bag = Value());
int ORDNUMBER(const Value& order, const Value& bag = Value());
// which 0 top, 1 bottom, 2 both. No value: read (0, 1) or clear both (2); a nil value clears.
Value ORDSCOPE(int which, std::optional<Value> value = std::nullopt);
// Name of the previously controlling order; with an order given (not nil) makes it controlling.
std::string ORDSETFOCUS(const Value& order = Value(), const Value& bag = Value());
int ORDCOUNT(const Value& bag = Value());
bool ORDFINDREC(uint32_t recno, bool continue_search = false);
bool ORDISUNIQUE(const Value& order = Value(), const Value& bag = Value());
int64_t ORDKEYCOUNT(const Value& order = Value(), const Value& bag = Value());
int64_t ORDKEYNO(const Value& order = Value(), const Value& bag = Value());
bool ORDKEYGOTO(int64_t position);
Value ORDKEYVAL();
// Adds / deletes the current record's key in a custom order; a template order takes
// key_value as the key when it is given.
bool ORDKEYADD(const Value& order = Value(), const Value& bag = Value(),
               const Value& key_value = Value());
bool ORDKEYDEL(const Value& order = Value(), const Value& bag = Value(),
               const Value& key_value = Value());
bool ORDDESCEND(const Value& order = Value(), const Value& bag = Value(),
                const Value& new_value = Value());
// code nil: argument error 1014.
Value DBORDERINFO(const Value& code, const Value& bag = Value(), const Value& order = Value(),
                  std::optional<Value> new_value = std::nullopt);
int INDEXORD();
// A scoped relation of the current area into a child through the child's controlling order:
// the child shows only the records whose key equals the parent's key (additive).
bool ORDSETRELATION(const Value& child, const std::string& key_text);
// soft nil: the SET SOFTSEEK setting. A nil key: argument error 1001.
bool DBSEEK(const Value& key, const Value& soft = Value(), const Value& last = Value());

// Convenience procedures.
bool DBCREATEINDEX(const std::string& bag, const std::string& key_text,
                   std::function<Value()> key_block = nullptr, const Value& unique = Value());
bool DBSETINDEX(const std::string& bag);
void DBCLEARINDEX();
void DBREINDEX();
void DBSETORDER(int order);
std::string INDEXEXT();
std::string INDEXKEY(int order);

}  // namespace vosk

#endif  // VOSK_RDD_ORD_COMMANDS_H_
