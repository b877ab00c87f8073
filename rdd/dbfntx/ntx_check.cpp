#include "rdd/dbfntx/ntx_check.h"

#include <algorithm>
#include <memory>

#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_key.h"
#include "rdd/order/key_audit.h"

namespace vosk {
namespace {

struct Walker {
  NtxFile* bag;
  NtxOrder* order;
  int64_t file_size;
  std::vector<bool>* seen;  // pages reached, by block number
  NtxCheckReport* report;
  KeyAudit* audit;
  int leaf_depth = -1;
  int64_t keys = 0;
  std::string previous;  // the key met last, with its record
  uint32_t previous_recno = 0;
  Status status = kSuccess;

  void Problem(const std::string& s) { report->problems.push_back(order->name() + ": " + s); }

  // Reads a page without trusting it; false when it cannot be used.
  bool Read(uint64_t offset, std::vector<uint8_t>* data) {
    if (offset < kNtxBlockSize || offset % kNtxBlockSize != 0 ||
        static_cast<int64_t>(offset) + kNtxBlockSize > file_size) {
      Problem("page reference " + std::to_string(offset) + " outside the file");
      return false;
    }
    if ((*seen)[offset / kNtxBlockSize]) {
      Problem("page " + std::to_string(offset) + " reached twice");
      return false;
    }
    (*seen)[offset / kNtxBlockSize] = true;
    data->resize(kNtxBlockSize);
    if (bag->file().ReadAt(data->data(), kNtxBlockSize, offset) != kNtxBlockSize) {
      Problem("page " + std::to_string(offset) + " cannot be read");
      return false;
    }
    ++report->pages;
    NtxPageView v(data->data(), order->key_length(), order->max_keys());
    if (!v.Check()) {
      Problem("page " + std::to_string(offset) + ": key count " + std::to_string(v.count()) +
              " or item offsets beyond the page (capacity " + std::to_string(order->max_keys()) +
              ")");
      return false;
    }
    return true;
  }

  // A key in walk order: it must not stand before the one met last; it goes to the audit.
  void Key(const uint8_t* key, uint32_t recno) {
    const int klen = order->key_length();
    if (keys > 0) {
      int c = NtxCompare(reinterpret_cast<const uint8_t*>(previous.data()), klen, key, klen,
                         true);
      if (order->descending()) c = -c;
      if (c == 0 && order->sort_recno() && previous_recno > recno) c = 1;
      if (c > 0) {
        Problem("keys out of order: \"" + PrintableKey(previous) + "\" (record " +
                std::to_string(previous_recno) + ") before \"" +
                PrintableKey(std::string(reinterpret_cast<const char*>(key),
                                         static_cast<size_t>(klen))) +
                "\" (record " + std::to_string(recno) + ")");
      }
    }
    previous.assign(reinterpret_cast<const char*>(key), static_cast<size_t>(klen));
    previous_recno = recno;
    ++keys;
    if (Ok(status) && audit) status = audit->AddTreeKey(key, recno);
  }

  void Walk(uint64_t offset, int depth, bool root) {
    if (depth > 64) {
      Problem("tree deeper than 64 levels");
      return;
    }
    std::vector<uint8_t> data;
    if (!Read(offset, &data)) return;
    NtxPageView v(data.data(), order->key_length(), order->max_keys());
    int n = v.count();
    bool leaf = v.child(0) == 0;
    // Only the root of an empty tree holds no key (and then no child either).
    if (n == 0 && (!root || v.child(0) != 0)) {
      Problem("page " + std::to_string(offset) + " holds no key");
    }
    for (int i = 0; i <= n; ++i) {
      if ((v.child(i) == 0) != leaf) {
        Problem("page " + std::to_string(offset) + " mixes leaf and inner items");
        return;
      }
    }
    if (leaf) {
      if (leaf_depth < 0) leaf_depth = depth;
      else if (leaf_depth != depth) Problem("leaves at different depths");
    }
    for (int i = 0; i <= n && Ok(status); ++i) {
      if (!leaf) Walk(bag->OffsetOf(v.child(i)), depth + 1, false);
      if (i < n) Key(v.key(i), v.recno(i));
    }
  }
};

}  // namespace

Status NtxCheckBag(IndexedArea* area, NtxFile* bag, NtxCheckReport* report) {
  if (Failed(area->go_cold())) return kFailure;
  uint32_t count = 0;
  if (Failed(area->record_count(&count))) return kFailure;
  std::vector<std::unique_ptr<KeyAudit>> audits;
  for (auto& o : bag->ntx_orders()) {
    audits.push_back(std::make_unique<KeyAudit>(area, o.get(), NtxSortPolicy(), count));
  }
  {
    // The tree and the free list are read under one read lock: what they show is one state
    // of the file, and anything wrong in it is damage.
    OrderReadLock lock(bag);
    if (!lock.ok()) return kFailure;
    int64_t size = bag->file().Size();
    std::vector<bool> seen(static_cast<size_t>(std::max<int64_t>(size, 0) / kNtxBlockSize) + 1);
    for (auto& o : bag->ntx_orders()) {
      if (o->header_offset() != 0) seen[o->header_offset() / kNtxBlockSize] = true;
    }
    for (size_t oi = 0; oi < bag->ntx_orders().size(); ++oi) {
      NtxOrder* o = bag->ntx_orders()[oi].get();
      Walker w{bag, o, size, &seen, report, audits[oi].get()};
      if (o->root() == 0) {
        w.Problem("no root page");
      } else {
        w.Walk(o->root(), 0, true);
      }
      if (Failed(w.status)) return kFailure;
      report->keys += w.keys;
    }
    // The free list: pages inside the file, no cycle, none shared with a tree.
    uint64_t free_page = bag->free_page();
    int64_t steps = 0;
    while (free_page != 0) {
      if (free_page < kNtxBlockSize || free_page % kNtxBlockSize != 0 ||
          static_cast<int64_t>(free_page) + kNtxBlockSize > size) {
        report->problems.push_back("free list: page " + std::to_string(free_page) +
                                   " outside the file");
        break;
      }
      if (seen[free_page / kNtxBlockSize]) {
        report->problems.push_back("free list: page " + std::to_string(free_page) +
                                   " is also used elsewhere (or the list loops)");
        break;
      }
      seen[free_page / kNtxBlockSize] = true;
      uint8_t block[kNtxBlockSize];
      if (bag->file().ReadAt(block, kNtxBlockSize, free_page) != kNtxBlockSize) break;
      ++report->pages;
      // Item 0's child: offset table entry 0, then the item.
      int off = GetLe16(block + kNtxPageOffsets);
      if (off < kNtxPageOffsets || off + 4 > kNtxBlockSize) {
        report->problems.push_back("free list: page " + std::to_string(free_page) +
                                   " has no usable link");
        break;
      }
      free_page = bag->OffsetOf(GetLe32(block + off));
      if (++steps > size / kNtxBlockSize) break;
    }
  }
  // The keys of the table's records, compared order by order.
  for (auto& audit : audits) {
    if (Failed(audit->Finish(&report->problems, &report->notes))) return kFailure;
  }
  return kSuccess;
}

}  // namespace vosk
