#include "rdd/dbfntx/ntx_check.h"

#include <algorithm>
#include <array>
#include <memory>

#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_key.h"
#include "rdd/order/key_audit.h"
#include "rdd/order/order_bag.h"

namespace vosk {
namespace {

// The pages reached so far, by block number, within the file's size when the walk began or
// last found the file changed.
struct PagesSeen {
  explicit PagesSeen(NtxFile* b) : bag(b) { Reset(); }

  NtxFile* bag;
  int64_t file_size = 0;
  std::vector<bool> seen;

  // Starts again: nothing reached but the orders' header blocks.
  void Reset() {
    file_size = std::max<int64_t>(bag->file().Size(), 0);
    seen.assign(static_cast<size_t>(file_size / kNtxBlockSize) + 1, false);
    for (auto& o : bag->ntx_orders()) {
      const uint64_t block = o->header_offset() / kNtxBlockSize;
      if (block != 0 && block < seen.size()) seen[block] = true;
    }
  }
};

// One page of the walk: its image and the next step in it (2i: the subtree left of key i;
// 2i+1: key i).
struct Frame {
  uint64_t offset;
  int depth;
  bool leaf;
  int count;
  int step;
  std::array<uint8_t, kNtxBlockSize> data;
};

// Walks one order's tree in key order with an explicit stack of page images. The read lock
// is let go between keys at the end of each chunk; when another program changed the file
// meanwhile, the walk descends again to the first key after the last one walked and goes on
// from there (the pages seen and the leaf depth start again: a page reached before the change
// may be reached again after it). Keys of an order whose equal keys are not ordered by record
// number are paused between only where the key changes, so that no equal key is walked twice
// or missed.
struct Walker {
  Walker(NtxFile* b, NtxOrder* o, PagesSeen* p, NtxCheckReport* r, KeyAudit* a,
         ChunkedReadLock* l)
      : bag(b), order(o), pages(p), report(r), audit(a), lock(l) {}

  NtxFile* bag;
  NtxOrder* order;
  PagesSeen* pages;
  NtxCheckReport* report;
  KeyAudit* audit;
  ChunkedReadLock* lock;
  std::vector<Frame> stack;
  int leaf_depth = -1;
  int64_t keys = 0;
  std::string previous;  // the key met last, with its record
  uint32_t previous_recno = 0;
  Status status = kSuccess;

  void Problem(const std::string& s) { report->problems.push_back(order->name() + ": " + s); }

  NtxPageView View(Frame* f) const {
    return NtxPageView(f->data.data(), order->key_length(), order->max_keys());
  }

  // Negative, zero, positive: the key stands before, with, after the key met last in the walk.
  int AgainstPrevious(const uint8_t* key, uint32_t recno) const {
    const int klen = order->key_length();
    int c = NtxCompare(key, klen, reinterpret_cast<const uint8_t*>(previous.data()), klen, true);
    if (order->descending()) c = -c;
    if (c == 0 && order->sort_recno()) c = recno < previous_recno ? -1 : recno > previous_recno;
    return c;
  }

  // Reads a page without trusting it and pushes it; false when it cannot be used.
  bool Push(uint64_t offset, int depth) {
    if (depth > 64) {
      Problem("tree deeper than 64 levels");
      return false;
    }
    if (offset < kNtxBlockSize || offset % kNtxBlockSize != 0 ||
        static_cast<int64_t>(offset) + kNtxBlockSize > pages->file_size) {
      Problem("page reference " + std::to_string(offset) + " outside the file");
      return false;
    }
    if (pages->seen[offset / kNtxBlockSize]) {
      Problem("page " + std::to_string(offset) + " reached twice");
      return false;
    }
    pages->seen[offset / kNtxBlockSize] = true;
    Frame f{offset, depth, false, 0, 0, {}};
    if (bag->file().ReadAt(f.data.data(), kNtxBlockSize, offset) != kNtxBlockSize) {
      Problem("page " + std::to_string(offset) + " cannot be read");
      return false;
    }
    ++report->pages;
    NtxPageView v = View(&f);
    if (!v.Check()) {
      Problem("page " + std::to_string(offset) + ": key count " + std::to_string(v.count()) +
              " or item offsets beyond the page (capacity " + std::to_string(order->max_keys()) +
              ")");
      return false;
    }
    f.count = v.count();
    f.leaf = v.child(0) == 0;
    // Only the root of an empty tree holds no key (and then no child either).
    if (f.count == 0 && (depth > 0 || !f.leaf)) {
      Problem("page " + std::to_string(offset) + " holds no key");
    }
    for (int i = 0; i <= f.count; ++i) {
      if ((v.child(i) == 0) != f.leaf) {
        Problem("page " + std::to_string(offset) + " mixes leaf and inner items");
        return false;
      }
    }
    if (f.leaf) {
      if (leaf_depth < 0) leaf_depth = depth;
      else if (leaf_depth != depth) Problem("leaves at different depths");
    }
    stack.push_back(f);
    return true;
  }

  // Descends from the root to the first key after the one met last (to the first key of all
  // before any), leaving the path on the stack.
  void Descend() {
    stack.clear();
    leaf_depth = -1;
    if (order->root() == 0) {
      Problem("no root page");
      return;
    }
    uint64_t offset = order->root();
    for (int depth = 0; Push(offset, depth); ++depth) {
      Frame& f = stack.back();
      NtxPageView v = View(&f);
      int i = 0;
      while (keys > 0 && i < f.count && AgainstPrevious(v.key(i), v.recno(i)) <= 0) ++i;
      f.step = 2 * i + 1;
      if (f.leaf) break;
      offset = bag->OffsetOf(v.child(i));
    }
  }

  // A key in walk order: it must not stand before the one met last; it goes to the audit.
  void Key(const uint8_t* key, uint32_t recno) {
    const size_t klen = static_cast<size_t>(order->key_length());
    if (keys > 0 && AgainstPrevious(key, recno) < 0) {
      Problem("keys out of order: \"" + PrintableKey(previous) + "\" (record " +
              std::to_string(previous_recno) + ") before \"" +
              PrintableKey(std::string(reinterpret_cast<const char*>(key), klen)) +
              "\" (record " + std::to_string(recno) + ")");
    }
    previous.assign(reinterpret_cast<const char*>(key), klen);
    previous_recno = recno;
    ++keys;
    lock->Count();
    if (Ok(status) && audit) status = audit->AddTreeKey(key, recno);
  }

  void Walk() {
    Descend();
    while (!stack.empty() && Ok(status)) {
      Frame& f = stack.back();
      if (f.step > 2 * f.count) {
        stack.pop_back();
        continue;
      }
      const int i = f.step / 2;
      NtxPageView v = View(&f);
      if (f.step++ % 2 == 0) {
        if (!f.leaf) Push(bag->OffsetOf(v.child(i)), f.depth + 1);
        continue;
      }
      if (lock->due() && (keys == 0 || AgainstPrevious(v.key(i), v.recno(i)) != 0)) {
        bool moved;
        if (Failed(lock->Pause(&moved))) {
          status = kFailure;
          return;
        }
        if (moved) {
          pages->Reset();
          Descend();
          continue;
        }
      }
      Key(v.key(i), v.recno(i));
    }
  }
};

}  // namespace

Status NtxCheckBag(IndexedArea* area, NtxFile* bag, NtxCheckReport* report, int64_t chunk_keys) {
  if (Failed(area->go_cold())) return kFailure;
  uint32_t count = 0;
  if (Failed(area->record_count(&count))) return kFailure;
  std::vector<std::unique_ptr<KeyAudit>> audits;
  for (auto& o : bag->ntx_orders()) {
    audits.push_back(std::make_unique<KeyAudit>(area, o.get(), NtxSortPolicy(), count));
  }
  {
    // The trees are read under the read lock in chunks (see Walker); what each chunk shows is
    // one state of the file, and anything wrong in it is damage.
    ChunkedReadLock lock(bag, chunk_keys);
    if (!lock.ok()) return kFailure;
    PagesSeen pages(bag);
    for (size_t oi = 0; oi < bag->ntx_orders().size(); ++oi) {
      Walker w(bag, bag->ntx_orders()[oi].get(), &pages, report, audits[oi].get(), &lock);
      w.Walk();
      if (Failed(w.status)) return kFailure;
      report->keys += w.keys;
    }
    report->moves += lock.moves();
    // The free list: pages inside the file, no cycle, none shared with a tree. When the file
    // changed during the walk, the trees' pages were seen in other states than the list's:
    // the list is then checked on its own.
    if (lock.moves() > 0) pages.Reset();
    const int64_t size = pages.file_size;
    std::vector<bool>& seen = pages.seen;
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
