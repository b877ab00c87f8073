#ifndef VOSK_RDD_ORDER_BAG_BUILD_H_
#define VOSK_RDD_ORDER_BAG_BUILD_H_

// Building a whole order bag anew from the definitions of its orders without ever losing the
// one it replaces: the orders are built into a new file beside the bag and, only once every one
// of them is built, that file takes the bag's name. The window's "Nuovo indice..." and the
// restructure build their bags this way; a bag that is open is built again as it is defined
// by ORDLISTREBUILD (the work area's own rebuild beside, used by reindex, pack and zap too).

#include <functional>
#include <string>
#include <vector>

#include "rdd/ord_commands.h"

namespace vosk {

class Order;

// Everything an order is made of, as it is created again.
struct OrderDefinition {
  std::string name;
  std::string key_text;
  std::string for_text;  // "" without a condition
  bool unique = false;
  bool descending = false;
  bool custom = false;     // holds only the keys given to it: built empty
  bool candidate = false;  // a key of one record only: a second is refused
  std::string bag;         // the bag's file as it was named ("" when given apart)
};

// The definitions of the orders of the open bag `bag` (a file name as ORDLISTADD took it), in
// their order in the bag.
std::vector<OrderDefinition> BagOrderDefinitions(const std::string& bag);

// Builds a bag of `orders`, in that sequence, for the file `bag` (the default extension added
// to a name without one), each order scanned with the arguments of `scan` (its eval and write
// blocks, say; its FOR text is the order's own). The orders are built into a new file beside
// the bag; once all are built it is committed (under hard commit) and renamed over `bag`.
// Before the build the order list is closed and the file named `bag`, when there is one, is
// held exclusively, so a bag that another program holds is refused (create error 20/1006,
// retry offered) before anything is built.
// Afterwards the order list holds the new bag and its first order controls. On a failure
// reported through the error handler (an order that cannot be built, a full disk), or an
// abandon, the new file is removed, the file named `bag` is as it was and the order list is
// left closed; the answer is false (or the abandon goes on).
// With `report` given, an order that cannot be built is left out instead (its error told as
// usual) and report(order, ok) learns of each order; the bag is replaced when at least one
// order is built.
bool BuildBagBeside(const std::string& bag, const std::vector<OrderDefinition>& orders,
                    const OrdCondArgs& scan = OrdCondArgs(),
                    const std::function<void(const OrderDefinition&, bool ok)>& report = nullptr);

// The definition of an open order as it stands.
OrderDefinition DefinitionOf(const Order& order);

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_BAG_BUILD_H_
