#ifndef VOSK_RDD_DBFFPT_FREE_SPACE_H_
#define VOSK_RDD_DBFFPT_FREE_SPACE_H_

#include <cstdint>
#include <vector>

namespace vosk {

// A run of free blocks in a memo file.
struct FreeRun {
  uint32_t start = 0;   // first block
  uint32_t length = 0;  // blocks
  bool operator==(const FreeRun& o) const { return start == o.start && length == o.length; }
};

// The in-memory free-space list of a memo file: the free runs and the next free block.
//
// Invariants:
//  - runs() is sorted by length, then by start block: the first run that is long enough is
//    the best fit, and the first run is the one given up when the list is full.
//  - No two runs overlap, and none ends at next_free() (such a run is folded into the end of
//    the file).
//  - runs().size() <= capacity() (the list may be loaded fuller from a larger list block; it
//    never grows beyond that).
class FreeSpace {
 public:
  // Starts an empty list. capacity 0 keeps no list: freed runs are forgotten unless they end
  // at the next free block.
  void Reset(uint32_t next_free, int capacity);

  // Adds a run read from the file. False when it is empty, overlaps another run or does not
  // end before next_free (the caller reports the list as corrupt).
  [[nodiscard]] bool AddLoaded(uint32_t start, uint32_t length);
  // Raises the capacity to hold what an existing list block holds.
  void set_capacity(int capacity) { capacity_ = capacity; }

  // Takes `blocks` blocks: from the first run long enough, else at the next free block.
  // False when the file would pass block 2^32 - 1.
  [[nodiscard]] bool Allocate(uint32_t blocks, uint32_t* start);
  // Gives back `blocks` blocks from `start`.
  void Free(uint32_t start, uint32_t blocks);
  // Moves the next free block without a run (list blocks placed at the end of the file).
  void set_next_free(uint32_t next_free) { next_free_ = next_free; changed_ = true; }

  uint32_t next_free() const { return next_free_; }
  const std::vector<FreeRun>& runs() const { return runs_; }
  int capacity() const { return capacity_; }
  bool changed() const { return changed_; }
  void clear_changed() { changed_ = false; }

 private:
  void Sort();
  // Folds runs that end at the next free block into the end of the file.
  void FoldTail();

  std::vector<FreeRun> runs_;
  uint32_t next_free_ = 0;
  int capacity_ = 0;
  bool changed_ = false;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_FREE_SPACE_H_
