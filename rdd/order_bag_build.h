#ifndef VOSK_RDD_ORDER_BAG_BUILD_H_
#define VOSK_RDD_ORDER_BAG_BUILD_H_

// Building a whole order bag anew without ever losing the one it replaces: the orders are
// built into a new file beside the bag and, only once every one of them is built, that file
// takes the bag's name. The window's "Nuovo indice..." and "Ricostruisci indice attivo..."
// and `dbutool reindex` build their bags this way.

#include <string>
#include <vector>

#include "rdd/ord_commands.h"

namespace vosk {

// What an order is made of, as it is created again.
struct OrderDefinition {
  std::string name;
  std::string key_text;
  std::string for_text;  // "" without a condition
  bool unique = false;
  bool descending = false;
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
bool BuildBagBeside(const std::string& bag, const std::vector<OrderDefinition>& orders,
                    const OrdCondArgs& scan = OrdCondArgs());

// Builds the open bag `bag` anew with the definitions of its orders (BuildBagBeside); the
// order that controlled before controls again when it was one of them. Needs the table for
// this program alone only as far as the engine's own rules do.
bool RebuildBagBeside(const std::string& bag, const OrdCondArgs& scan = OrdCondArgs());

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_BAG_BUILD_H_
