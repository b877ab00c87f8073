// The record scan of a build: the keys of the records an order covers go into the sorter;
// the engine then writes its tree from the sorted keys.

#include <algorithm>
#include <cstring>

#include "expr/expression.h"
#include "expr/settings.h"
#include "rdd/order/indexed_area.h"
#include "rdd/work_area_table.h"

namespace vosk {

Status IndexedArea::ScanKeys(Order* o, const OrderCondition* cond, KeySorter* sorter) {
  return ScanKeys(o, cond, [sorter](const uint8_t* key, uint32_t recno) {
    return sorter->Add(key, recno);
  });
}

Status IndexedArea::ScanKeys(Order* o, const OrderCondition* cond, const KeySink& given) {
  uint32_t count = 0;
  if (Failed(record_count(&count))) return kFailure;
  // A build for the records of a rewrite: the keys of the records kept, under their new
  // numbers.
  KeySink renumbered;
  if (renumber_) {
    if (renumber_->size() <= 1) return kSuccess;
    renumbered = [this, &given](const uint8_t* key, uint32_t recno) -> Status {
      const uint32_t now = recno < renumber_->size() ? (*renumber_)[recno] : 0;
      return now == 0 ? kSuccess : given(key, now);
    };
  }
  const KeySink& sink = renumber_ ? renumbered : given;
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
        o->MarkPartial();
        return kSuccess;
      }
    }
    bool pass;
    if (Failed(EvalFor(o, &pass))) return kFailure;
    if (!pass) return kSuccess;
    if (Failed(EvalKey(o, &key))) {
      o->MarkPartial();
      return kFailure;
    }
    return sink(reinterpret_cast<const uint8_t*>(key.data()), r);
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
    const bool raw = direct && o->KeyIsFieldBytes();
    const Field* kf = o->key_field > 0 ? &fields_[static_cast<size_t>(o->key_field - 1)] : nullptr;
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
        if (raw) {
          if (Failed(sink(rec + kf->offset, r))) return kFailure;
          continue;
        }
        if (direct && o->KeyFromField(rec + kf->offset, &key)) {
          if (Failed(sink(reinterpret_cast<const uint8_t*>(key.data()), r))) {
            return kFailure;
          }
          continue;
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
  return go_to(saved);
}

IndexedArea::KeySink IndexedArea::WrittenKeys(const OrderCondition* cond, KeySink write) {
  if (!cond || !cond->write_block || cond->eval_step <= 0) return write;
  return [cond, write = std::move(write), written = int64_t{0}](const uint8_t* key,
                                                               uint32_t recno) mutable {
    if (++written % cond->eval_step == 0) cond->write_block();
    return write(key, recno);
  };
}

}  // namespace vosk
