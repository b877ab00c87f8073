// Building an order: the keys of the table's records go through the sort (key_sorter.h) into a
// tree written bottom-up, left to right, one level's open page at a time.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "rdd/dbfntx/ntx_area.h"
#include "rdd/order/key_sorter.h"

namespace vosk {
namespace {

// Writes the tree bottom-up: level 0 holds the leaves; when a level's open page is full, it is
// closed and the key moves up to the next level as the separator right of the closed page.
class NtxTreeWriter {
 public:
  NtxTreeWriter(NtxFile* bag, NtxOrder* order)
      : bag_(bag), order_(order), m_(order->max_keys()) {}

  Status Add(const uint8_t* key, uint32_t recno) {
    ++keys_;
    for (size_t level = 0;; ++level) {
      if (level >= levels_.size()) {
        if (levels_.size() >= static_cast<size_t>(kNtxMaxLevels)) {
          throw InternalError(9309, "ntxSortOut: memory structure corrupted.");
        }
        levels_.emplace_back();
        View(level).Init();
        last_closed_.push_back(0);
      }
      NtxPageView v = View(level);
      uint32_t below = level > 0 ? bag_->RefOf(last_closed_[level - 1]) : 0;
      if (v.count() < m_) {
        // Pages are filled in item order: the offset table keeps its fresh layout.
        v.SetEntry(v.count(), below, recno, key);
        v.set_count(v.count() + 1);
        return kSuccess;
      }
      v.set_child(m_, below);
      if (Failed(Close(level))) return kFailure;
      View(level).Init();
    }
  }

  uint64_t keys() const { return keys_; }

  Status Finish() {
    if (levels_.empty()) {
      levels_.emplace_back();
      View(0).Init();
      last_closed_.push_back(0);
    }
    bool short_page = false;
    for (size_t level = 0; level < levels_.size(); ++level) {
      NtxPageView v = View(level);
      v.set_child(v.count(), level > 0 ? bag_->RefOf(last_closed_[level - 1]) : 0);
      if (level + 1 < levels_.size() && v.count() < m_ / 2) short_page = true;
      if (Failed(Close(level))) return kFailure;
    }
    if (Failed(Flush())) return kFailure;
    order_->set_root(last_closed_.back());
    bag_->MarkHeaderChanged();
    if (short_page) return order_->FixRightEdge();
    order_->Touch();
    return kSuccess;
  }

 private:
  NtxPageView View(size_t level) {
    return NtxPageView(levels_[level].data(), order_->key_length(), m_);
  }

  Status Close(size_t level) {
    uint64_t offset;
    if (Failed(bag_->TakePageOffset(*order_, &offset))) return kFailure;
    if (batch_count_ > 0 &&
        (batch_count_ == kBatchPages || offset != batch_start_ + batch_count_ * kNtxBlockSize)) {
      if (Failed(Flush())) return kFailure;
    }
    if (batch_count_ == 0) batch_start_ = offset;
    std::memcpy(batch_.data() + batch_count_ * kNtxBlockSize, levels_[level].data(),
                kNtxBlockSize);
    ++batch_count_;
    last_closed_[level] = offset;
    return kSuccess;
  }

  Status Flush() {
    if (batch_count_ == 0) return kSuccess;
    Status s = bag_->WriteBlocks(batch_.data(), batch_count_, batch_start_);
    batch_count_ = 0;
    return s;
  }

  static constexpr size_t kBatchPages = 64;
  NtxFile* bag_;
  NtxOrder* order_;
  int m_;
  uint64_t keys_ = 0;
  std::vector<std::array<uint8_t, kNtxBlockSize>> levels_;  // the open page of each level
  std::vector<uint64_t> last_closed_;                       // last closed page of each level
  std::vector<uint8_t> batch_ = std::vector<uint8_t>(kBatchPages * kNtxBlockSize);
  size_t batch_count_ = 0;
  uint64_t batch_start_ = 0;
};

}  // namespace

// The run size of a build: ceil(sqrt(R / (k + 4))) * 128 entries, doubled while below 1 MB of
// entries, at most R; temporary-file failures are runtime errors of the driver.
SortPolicy NtxSortPolicy() {
  SortPolicy p;
  p.temp_prefix = "ntxsort";
  p.run_size = [](uint64_t expected, int key_length) {
    uint64_t r = std::max<uint64_t>(expected, 1);
    int64_t entry = key_length + 4;
    int64_t n = static_cast<int64_t>(std::ceil(std::sqrt(static_cast<double>(r) / entry))) * 128;
    while (n < 1048576 / entry) n *= 2;
    return std::min<int64_t>(n, static_cast<int64_t>(r));
  };
  p.on_error = [](SortPolicy::Stage stage, int os_code, const std::string& file) {
    int gen = stage == SortPolicy::Stage::kCreate  ? kEgCreate
              : stage == SortPolicy::Stage::kWrite ? kEgWrite
                                                   : kEgRead;
    int sub = stage == SortPolicy::Stage::kCreate  ? 1060
              : stage == SortPolicy::Stage::kWrite ? 1061
                                                   : 1062;
    RaiseError(RuntimeError{gen, "DBFNTX", sub, os_code, "", file, file});
  };
  return p;
}

Status NtxArea::BuildOrder(NtxOrder* o, const OrderCondition* cond) {
  NtxFile* bag = o->file();
  o->cached_count = -1;
  o->Touch();
  if (o->custom()) return o->MakeEmptyRoot();
  uint32_t count = 0;
  if (Failed(record_count(&count))) return kFailure;
  KeySorter sorter(NtxSortPolicy(), o->key_length(), o->descending(), o->sort_recno(), count,
                   SortRunKeys());
  if (Failed(ScanKeys(o, cond, &sorter))) return kFailure;
  NtxTreeWriter writer(bag, o);
  Status s = sorter.Finish(
      WrittenKeys(cond, [&](const uint8_t* k, uint32_t r) -> Status { return writer.Add(k, r); }),
      o->unique());
  if (Failed(s)) return kFailure;
  if (Failed(writer.Finish())) return kFailure;
  if (!o->scoped()) o->cached_count = static_cast<int64_t>(writer.keys());
  return kSuccess;
}

}  // namespace vosk
