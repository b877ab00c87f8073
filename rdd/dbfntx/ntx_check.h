#ifndef VOSK_RDD_DBFNTX_NTX_CHECK_H_
#define VOSK_RDD_DBFNTX_NTX_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "expr/status.h"

namespace vosk {

class IndexedArea;
class NtxFile;

// What a check of a bag found: one line per problem (empty: sound), and notes that are not
// faults (a unique order without the key of a value whose owning record changed).
struct NtxCheckReport {
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  int64_t keys = 0;   // keys walked in all orders
  int64_t pages = 0;  // pages reached (trees and free list)
};

// Walks every order of a bag and its free list: page bounds and layouts, key counts, one leaf
// depth, key order across pages, no page reached twice, the free list inside the file; then
// compares each order's keys with the keys of the table's records (FOR, unique and partial
// rules). The area's record position is restored. Failure only when the check itself could
// not run (an error was raised).
Status NtxCheckBag(IndexedArea* area, NtxFile* bag, NtxCheckReport* report);

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_CHECK_H_
