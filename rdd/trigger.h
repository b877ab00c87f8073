#ifndef VOSK_RDD_TRIGGER_H_
#define VOSK_RDD_TRIGGER_H_

#include <functional>
#include <string>

#include "expr/value.h"

namespace vosk {

// Trigger events fired by the DBF driver.
enum TriggerEvent : int {
  kTrgPreUse = 1, kTrgPostUse = 2, kTrgUpdate = 3, kTrgAppend = 4, kTrgDelete = 5,
  kTrgRecall = 6, kTrgPack = 7, kTrgZap = 8, kTrgPut = 9, kTrgGet = 10, kTrgPreClose = 11,
  kTrgPostClose = 12,
};

// A trigger function of the application: called with the event, the area number, the extra
// argument (the file name on pre-use, the field number on put/get) and, for put/get, the
// value; either may be changed in place. The operation goes on only when it answers true.
using TriggerFunction = std::function<bool(int event, int area, Value* extra, Value* value)>;

// Application functions are found by (upper-case) name.
void RegisterTriggerFunction(const std::string& name, TriggerFunction fn);
const TriggerFunction* FindTriggerFunction(const std::string& name);

}  // namespace vosk

#endif  // VOSK_RDD_TRIGGER_H_
