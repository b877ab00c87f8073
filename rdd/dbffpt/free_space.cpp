#include "rdd/dbffpt/free_space.h"

#include <algorithm>

namespace vosk {

void FreeSpace::Reset(uint32_t next_free, int capacity) {
  runs_.clear();
  next_free_ = next_free;
  capacity_ = capacity;
  changed_ = false;
}

void FreeSpace::Sort() {
  std::sort(runs_.begin(), runs_.end(), [](const FreeRun& a, const FreeRun& b) {
    return a.length != b.length ? a.length < b.length : a.start < b.start;
  });
}

void FreeSpace::FoldTail() {
  for (bool again = true; again;) {
    again = false;
    for (auto it = runs_.begin(); it != runs_.end(); ++it) {
      if (it->start + it->length == next_free_) {
        next_free_ = it->start;
        runs_.erase(it);
        again = true;
        break;
      }
    }
  }
}

bool FreeSpace::AddLoaded(uint32_t start, uint32_t length) {
  if (length == 0 || start > next_free_ || length > next_free_ - start) return false;
  for (const FreeRun& r : runs_) {
    uint64_t a0 = start, a1 = a0 + length, b0 = r.start, b1 = b0 + r.length;
    if (a0 < b1 && b0 < a1) return false;  // runs overlap
  }
  runs_.push_back({start, length});
  Sort();
  FoldTail();
  return true;
}

bool FreeSpace::Allocate(uint32_t blocks, uint32_t* start) {
  for (auto it = runs_.begin(); it != runs_.end(); ++it) {
    if (it->length < blocks) continue;
    *start = it->start;
    it->start += blocks;
    it->length -= blocks;
    if (it->length == 0) runs_.erase(it);
    Sort();
    changed_ = true;
    return true;
  }
  if (static_cast<uint64_t>(next_free_) + blocks > 0xFFFFFFFFULL) return false;
  *start = next_free_;
  next_free_ += blocks;
  changed_ = true;
  return true;
}

void FreeSpace::Free(uint32_t start, uint32_t blocks) {
  if (blocks == 0) return;
  changed_ = true;
  if (static_cast<uint64_t>(start) + blocks == next_free_) {
    next_free_ = start;
    FoldTail();
    return;
  }
  if (capacity_ == 0) return;  // no list: the run is forgotten
  FreeRun run{start, blocks};
  bool merged = false;
  for (bool again = true; again;) {
    again = false;
    for (auto it = runs_.begin(); it != runs_.end(); ++it) {
      if (it->start + it->length == run.start || run.start + run.length == it->start) {
        run.start = std::min(run.start, it->start);
        run.length += it->length;
        runs_.erase(it);
        merged = again = true;
        break;
      }
    }
  }
  if (!merged && static_cast<int>(runs_.size()) >= capacity_) {
    // The list is full: keep the longer of the freed run and the shortest run listed.
    if (runs_.empty() || runs_.front().length >= run.length) return;
    runs_.front() = run;
  } else {
    runs_.push_back(run);
  }
  Sort();
  FoldTail();
}

}  // namespace vosk
