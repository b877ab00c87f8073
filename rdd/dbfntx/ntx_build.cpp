// Building an order: the keys of the table's records go through the sort (ntx_sort.h) into a
// tree written bottom-up, left to right, one level's open page at a time.

#include <algorithm>
#include <array>
#include <cstring>

#include "expr/expression.h"
#include "expr/settings.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_key.h"
#include "rdd/dbfntx/ntx_sort.h"
#include "rdd/work_area_table.h"

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

Status NtxArea::BuildOrder(NtxOrder* o, const OrderCondition* cond) {
  NtxFile* bag = o->file();
  o->cached_count = -1;
  o->Touch();
  if (o->custom()) return o->MakeEmptyRoot();
  uint32_t count = 0;
  if (Failed(record_count(&count))) return kFailure;
  NtxSorter sorter(bag, o->key_length(), o->descending(), o->sort_recno(), count,
                   SortRunKeys());
  const uint32_t saved = recno_;
  bool stopped = false;  // a WHILE or EVAL condition ended the scan
  int64_t evaluated = 0;
  std::string key;
  std::unique_ptr<Expression> while_expr;
  if (cond && !cond->while_block && !cond->while_text.empty()) {
    CompileError err;
    while_expr = Compile(cond->while_text, &err);
    if (!while_expr) {
      error(err.ToRuntimeError(cond->while_text));
      return kFailure;
    }
  }
  auto take = [&](uint32_t r) -> Status {
    // The record is in the buffer: WHILE, FOR, key.
    if (cond && (cond->while_block || while_expr)) {
      Value w;
      {
        int prev = CurrentAreaNumber();
        if (prev != area_) SelectAreaNumber(area_);
        w = cond->while_block ? cond->while_block() : while_expr->Eval();
        if (prev != area_) SelectAreaNumber(prev);
      }
      if (!(w.is_logical() && w.logical())) {
        stopped = true;
        return kSuccess;
      }
    }
    if (cond && cond->eval_block && cond->eval_step > 0 && ++evaluated % cond->eval_step == 0) {
      Value v = cond->eval_block();
      if (v.is_logical() && !v.logical()) {
        stopped = true;
        o->set_flags(o->flags() | kNtxFlagPartial | kNtxFlagFor);
        return kSuccess;
      }
    }
    bool pass;
    if (Failed(EvalFor(o, &pass))) return kFailure;
    if (!pass) return kSuccess;
    if (Failed(EvalKey(o, &key))) {
      o->set_flags(o->flags() | kNtxFlagPartial | kNtxFlagFor);
      return kFailure;
    }
    return sorter.Add(reinterpret_cast<const uint8_t*>(key.data()), r);
  };

  bool subset = cond && (cond->record != 0 || cond->rest || cond->next > 0 || cond->use_filter ||
                         cond->use_current);
  bool bulk = !GlobalSettings().strictread() && !subset && !table_enciphered_ && !key_ &&
              !hot_ && count > 0;
  if (bulk && Failed(FlushPending())) return kFailure;
  if (bulk) {
    // Records straight from the file, 64 KB at a time, evaluated in the record buffer.
    const uint32_t per_block = std::max<uint32_t>(1, 65536u / record_len_);
    std::vector<uint8_t> block(static_cast<size_t>(per_block) * record_len_);
    const bool direct = o->key_field > 0 && !o->for_expr && !o->for_block && !cond;
    const Field* kf = o->key_field > 0 ? &fields_[static_cast<size_t>(o->key_field - 1)] : nullptr;
    std::string numeric;
    for (uint32_t first = 1; first <= count && !stopped; first += per_block) {
      uint32_t n = std::min(per_block, count - first + 1);
      size_t bytes = static_cast<size_t>(n) * record_len_;
      int64_t got = data_.ReadAt(block.data(), bytes,
                                 header_len_ + static_cast<uint64_t>(first - 1) * record_len_);
      if (got != static_cast<int64_t>(bytes)) {
        DriverError(kEdfRead, file_name_, data_.last_error());
        return kFailure;
      }
      for (uint32_t i = 0; i < n && !stopped; ++i) {
        const uint8_t* rec = block.data() + static_cast<size_t>(i) * record_len_;
        uint32_t r = first + i;
        if (direct && o->type() != 'L') {
          const uint8_t* p = rec + kf->offset;
          if (o->type() == 'N') {
            numeric.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(o->key_length()));
            if (NtxNumericKeyFromText(numeric.data(), o->key_length(), o->key_decimals())) {
              if (Failed(sorter.Add(reinterpret_cast<const uint8_t*>(numeric.data()), r))) {
                return kFailure;
              }
              continue;
            }
          } else {
            if (Failed(sorter.Add(p, r))) return kFailure;
            continue;
          }
        }
        std::memcpy(record_.data(), rec, record_len_);
        recno_ = r;
        positioned_ = true;
        valid_ = true;
        deleted_ = rec[0] == '*';
        if (Failed(take(r))) {
          valid_ = false;
          (void)go_to(saved);
          return kFailure;
        }
      }
    }
    valid_ = false;
    DropReadAhead();
  } else if (count > 0) {
    // Record by record through the work area.
    int64_t left = cond && cond->next > 0 ? cond->next : -1;
    if (cond && cond->record != 0) {
      if (Failed(go_to(cond->record))) return kFailure;
      left = 1;
    } else if (cond && (cond->rest || cond->next > 0)) {
      if (cond->start_record != 0 && Failed(go_to(cond->start_record))) return kFailure;
    } else if (cond && cond->use_filter) {
      if (Failed(go_top())) return kFailure;
    } else if (Failed(Base::go_to(1))) {
      return kFailure;
    }
    // The filter's and the current order's records come through the work area; all others
    // in physical order.
    bool walk_order = cond && (cond->use_filter || cond->use_current);
    while (!eof_ && !stopped && left != 0) {
      if (recno_ <= count && Failed(take(recno_))) {
        (void)go_to(saved);
        return kFailure;
      }
      if (left > 0) --left;
      if (walk_order) {
        if (Failed(skip(1))) return kFailure;
      } else if (Failed(Base::go_to(recno_ + 1))) {
        return kFailure;
      }
    }
  }
  if (Failed(go_to(saved))) return kFailure;
  NtxTreeWriter writer(bag, o);
  std::string previous;
  bool have_previous = false;
  const size_t klen = static_cast<size_t>(o->key_length());
  Status s = sorter.Finish([&](const uint8_t* k, uint32_t r) -> Status {
    if (o->unique()) {
      if (have_previous && std::memcmp(previous.data(), k, klen) == 0) return kSuccess;
      previous.assign(reinterpret_cast<const char*>(k), klen);
      have_previous = true;
    }
    return writer.Add(k, r);
  });
  if (Failed(s)) return kFailure;
  if (Failed(writer.Finish())) return kFailure;
  if (!o->scoped()) o->cached_count = static_cast<int64_t>(writer.keys());
  return kSuccess;
}

}  // namespace vosk
