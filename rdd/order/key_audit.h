#ifndef VOSK_RDD_ORDER_KEY_AUDIT_H_
#define VOSK_RDD_ORDER_KEY_AUDIT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "expr/status.h"
#include "rdd/order/key_sorter.h"

namespace vosk {

class IndexedArea;
class Order;

// The key bytes with every byte outside printable ASCII written as \xNN.
std::string PrintableKey(const std::string& key);

// Compares the keys an order's tree holds with the keys of the table's records in bounded
// memory, whatever the table's size: both sides go through one external sort as (key, record,
// side) entries, so that equal pairs meet. A difference may come from another program changing
// the table while the check runs: it counts only when the record itself still shows it, read
// again under its record lock and the bag's read lock.
class KeyAudit {
 public:
  KeyAudit(IndexedArea* area, Order* order, const SortPolicy& policy, uint64_t expected);

  // A key met in the walk of the tree.
  Status AddTreeKey(const uint8_t* key, uint32_t recno);
  // Scans the table's records, compares and confirms; problems and notes (not faults) are
  // appended, each starting with the order's name. The record position is restored.
  Status Finish(std::vector<std::string>* problems, std::vector<std::string>* notes);

 private:
  struct Difference {
    std::string key;
    uint32_t recno;
    bool in_tree;  // the tree holds a key the record does not give (else the reverse)
  };
  Status Add(const uint8_t* key, uint32_t recno, uint8_t side);
  Status Confirm(const Difference& d, bool* real);

  IndexedArea* area_;
  Order* order_;
  int key_length_;
  KeySorter sorter_;
  std::vector<uint8_t> entry_;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_KEY_AUDIT_H_
