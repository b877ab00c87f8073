// Record transfer out of and into DBF tables: blank fields, the choice of whole-record copies,
// and the block copy of a whole table into a new one.

#include <algorithm>
#include <cstring>

#include "expr/settings.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/order_types.h"

namespace vosk {
namespace {

constexpr size_t kBlockCopyBytes = 1 << 20;

bool WithoutOrders(WorkArea* area) {
  OrderInfoRequest req;
  req.code = kOiCount;
  return Ok(area->order_info(&req)) && req.result.is_numeric() && req.result.number() == 0;
}

}  // namespace

// Numbers, dates and logicals of all blanks (a logical also "?") hold no value.
Status DbfArea::field_is_blank(int pos, bool* out) {
  *out = false;
  if (pos < 1 || pos > static_cast<int>(fields_.size())) return kSuccess;
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  const bool text_kind = f.kind == FieldKind::kNumeric || f.kind == FieldKind::kFloat ||
                         f.kind == FieldKind::kLogical ||
                         (f.kind == FieldKind::kDate && f.length == 8);
  if (!text_kind) return kSuccess;
  const uint8_t* rec = RawRecord();
  if (!rec) return kFailure;
  if (!positioned_) return kSuccess;
  const uint8_t* p = rec + f.offset;
  bool blank = true;
  for (uint16_t i = 0; i < f.length && blank; ++i) {
    blank = p[i] == ' ' || (f.kind == FieldKind::kLogical && p[i] == '?');
  }
  *out = blank;
  return kSuccess;
}

// Whole records are copied when both layouts are identical, the table has no memo fields and
// both areas use one code page: at once between areas of one driver, otherwise when the
// destination says it takes whole records.
Status DbfArea::transfer(TransferInfo* info) {
  const bool memo_fields = std::any_of(fields_.begin(), fields_.end(), [](const Field& f) {
    return IsMemoKind(f.kind) || (f.kind == FieldKind::kVariant && f.length >= 6);
  });
  if (Failed(DecideWholeRecords(info, !memo_fields))) return kFailure;
  if (DbfArea* dest = BlockCopyTarget(info)) return CopyRecordBlocks(info, dest);
  return WorkArea::transfer(info);
}

// A copy of every record in record order, whole, into a table of this driver that takes them
// as they are stored: the records move in large blocks, as the file holds them (deleted ones
// keep their mark). Anything that looks at single records stands in the way: a scope or
// condition, an order, a filter, hidden deleted records, relations, a cipher, triggers,
// counters and stamps filled on append, or orders of the destination to keep current.
DbfArea* DbfArea::BlockCopyTarget(TransferInfo* info) {
  const uint16_t whole = kTransferMatch | kTransferPutRec;
  if ((info->flags & whole) != whole || info->dest->driver() != driver_) return nullptr;
  auto* dest = dynamic_cast<DbfArea*>(info->dest);
  const Scope& scope = info->scope;
  if (!dest || scope.for_cond || scope.while_cond || scope.next || scope.record || scope.rest ||
      filter() || GlobalSettings().deleted() || (info->flags & kTransferSkipDeleted) || !relations().empty() || pending_parent_ ||
      key_ || table_enciphered_ || trigger_active_) {
    return nullptr;
  }
  if (dest->shared_ || dest->read_only_ || dest->key_ || dest->table_enciphered_ ||
      dest->trigger_active_ || dest->autoinc_ || dest->stamp_fields_ ||
      dest->record_len_ != record_len_ || !dest->relations().empty() ||
      !WithoutOrders(this) || !WithoutOrders(dest)) {
    return nullptr;
  }
  return dest;
}

Status DbfArea::CopyRecordBlocks(TransferInfo* info, DbfArea* dest) {
  if (Failed(FlushPending()) || Failed(dest->go_cold()) || Failed(dest->FlushPending())) {
    return kFailure;
  }
  if (shared_ && Failed(RefreshCount())) return kFailure;
  const uint32_t total = rec_count_;
  const uint32_t per_block =
      std::max<uint32_t>(1, static_cast<uint32_t>(kBlockCopyBytes / record_len_));
  for (uint32_t first = 1; first <= total;) {
    const uint32_t n = std::min(per_block, total - first + 1);
    const size_t bytes = static_cast<size_t>(n) * record_len_;
    // The records are read straight into the destination's gathered appends, which go out
    // with their end-of-file byte and the count kept to what the file took.
    std::vector<uint8_t>& block = dest->pending_;
    block.resize(bytes);
    const uint64_t off = header_len_ + static_cast<uint64_t>(first - 1) * record_len_;
    if (data_.ReadAt(block.data(), bytes, off) != static_cast<int64_t>(bytes)) {
      block.clear();
      DriverError(kEdfRead, file_name_, data_.last_error());
      return kFailure;
    }
    dest->pending_first_ = dest->rec_count_ + 1;
    dest->rec_count_ += n;
    dest->header_dirty_ = true;
    if (Failed(dest->FlushAppends())) return kFailure;
    const uint64_t before = info->copied;
    info->copied += n;
    if (info->progress && (before >> 16) != (info->copied >> 16)) info->progress(info->copied);
    first += n;
  }
  if (Failed(dest->go_to(dest->rec_count_))) return kFailure;
  return go_to(total + 1);
}

}  // namespace vosk
