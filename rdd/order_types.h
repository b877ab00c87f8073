#ifndef VOSK_RDD_ORDER_TYPES_H_
#define VOSK_RDD_ORDER_TYPES_H_

// What the order interface hands to a work area's order operations.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "expr/value.h"

namespace vosk {

// A condition or key evaluated in a work area, with its text (defined in rdd/work_area.h).
struct Condition;

// The order condition record of ORDCONDSET, held by the work area until the next order
// create consumes it. Fields in the order of the record.
struct OrderCondition {
  bool active = false;
  std::string for_text;
  std::string while_text;
  std::function<Value()> for_block;    // empty: none
  std::function<Value()> while_block;  // empty: none
  std::function<Value()> eval_block;   // empty: none; a false result stops a build
  int64_t eval_step = 0;               // records between EVAL calls
  // empty: none; called every eval_step keys written into the new tree, after the scan (so a
  // progress note goes on while the sorted keys are written)
  std::function<void()> write_block;
  uint32_t start_record = 0;           // 0: the current record
  int64_t next = 0;                    // NEXT count (0: none)
  uint32_t record = 0;                 // single record (0: none)
  bool rest = false;
  bool descending = false;
  bool scoped = false;
  bool all = true;
  bool additive = false;
  bool use_current = false;
  bool custom = false;
  bool candidate = false;
  bool no_optimize = false;
  bool compound = false;
  bool use_filter = false;
  bool temporary = false;
  bool exclusive = false;
};

// The arguments of an order create.
struct OrderCreateInfo {
  std::string bag_name;
  std::string tag_name;
  std::string key_text;
  std::function<Value()> key_block;  // empty: compiled from key_text
  bool unique = false;
};

// Order-info codes the order interface uses.
enum OrderInfoCode : int {
  kOiCondition = 1, kOiExpression = 2, kOiPosition = 3, kOiName = 5, kOiNumber = 6,
  kOiBagName = 7, kOiBagExt = 8, kOiCount = 9, kOiIsDesc = 12, kOiUnique = 13,
  kOiKeyType = 24, kOiKeySize = 25, kOiKeyCount = 26, kOiKeyDec = 28, kOiKeyAdd = 36,
  kOiKeyDelete = 37, kOiKeyVal = 38, kOiScopeTop = 39, kOiScopeBottom = 40,
  kOiScopeTopClear = 41, kOiScopeBottomClear = 42, kOiCustom = 45, kOiFindRec = 107,
  kOiFindRecCont = 108, kOiScopeSet = 109, kOiScopeClear = 110, kOiRelKeyPos = 130,
  kOiCandidate = 150,  // this program's own: a candidate (primary) key
};

// One order-info request: the bag designator (a name or a 1-based number, nil when absent), the
// order designator (likewise), the new value when one is given, and the result.
struct OrderInfoRequest {
  int code = 0;
  Value bag;
  Value order;
  std::optional<Value> new_value;
  Value result;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_TYPES_H_
