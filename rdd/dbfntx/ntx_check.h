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
  int64_t moves = 0;  // times the walk went on after another program changed the bag
};

// Keys walked under the bag's read lock before it is let go for other programs' writers (about
// 20 ms of walking; each let-go costs a pause of 1 ms).
inline constexpr int64_t kCheckChunkKeys = 25000;

// Walks every order of a bag and its free list: page bounds and layouts, key counts, one leaf
// depth, key order across pages, no page reached twice, the free list inside the file; then
// compares each order's keys with the keys of the table's records (FOR, unique and partial
// rules). Memory stays bounded whatever the bag's size. The read lock is let go every
// chunk_keys keys; a chunk after which another program changed the bag is walked again from
// the last key walked. The area's record position is restored. Failure only when the check
// itself could not run (an error was raised).
Status NtxCheckBag(IndexedArea* area, NtxFile* bag, NtxCheckReport* report,
                   int64_t chunk_keys = kCheckChunkKeys);

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_CHECK_H_
