#ifndef VOSK_RDD_RESTRUCTURE_INDEXES_H_
#define VOSK_RDD_RESTRUCTURE_INDEXES_H_

// The indexes of a restructured table (used by RestructureTable only): what the orders of the
// table were before, and building them again over the new table once it is in place.

#include <string>
#include <vector>

#include "rdd/order_bag_build.h"
#include "rdd/restructure.h"

namespace vosk {

// An index file of the table and its orders.
struct RestructureBag {
  std::string path;
  std::string driver;     // the index driver that builds it
  bool structural = false;
  bool tags_known = false;  // false: read from the backup after the swap
  std::vector<OrderDefinition> tags;
};

// The index files to build again, from the table open in the current area: every bag open
// there (view indexes in the temporary folder excepted), and the table's structural bag when
// its header says it has one and it was not open.
std::vector<RestructureBag> IndexesToRebuild();

// After the swap: the old structural bag goes with the backup (renamed like it, so that the
// backup table opens with it), and every bag is built again over the new table from the
// definitions of its orders (BuildBagBeside: beside its file, which it replaces once whole and,
// under hard commit, on the disk). Tags that do not build (a key or condition no longer valid
// on the new fields) are dropped and reported in report->index_problems.
void RebuildIndexes(const std::string& table, const std::vector<RestructureBag>& bags,
                    const std::string& password, RestructureReport* report);

}  // namespace vosk

#endif  // VOSK_RDD_RESTRUCTURE_INDEXES_H_
