#include "rdd/dbfcdx/cdx_check.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_key.h"
#include "rdd/dbfcdx/cdx_tag.h"
#include "rdd/order/indexed_area.h"
#include "rdd/order/key_audit.h"
#include "rdd/order/order_bag.h"

namespace vosk {
namespace {

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

bool NoPage(uint32_t link) { return link == 0 || link == kCdxNone; }

// An interior page of the walk: its entries and the next child to walk. While a child is
// walked (pending), the keys walked before it are counted: it must give at least one, and its
// last key must be the page's entry for it.
struct Frame {
  uint64_t offset;
  int depth;
  std::vector<CdxKeyEntry> entries;
  std::vector<uint32_t> children;
  size_t next = 0;
  bool pending = false;
  int64_t keys_before = 0;
};

// Walks one tag's tree in key order with an explicit stack of interior pages, leaf by leaf:
// page kinds and counts, interior entries equal to their child's last key, one leaf depth,
// key order, the leaf chain linked both ways in the order of the tree, no page reached
// twice. Keys go to the audit as they are met, so memory stays bounded. The read lock is let
// go after a leaf at the end of each chunk; when another program changed the file meanwhile,
// the walk descends again to the first key after the last one walked (keys and record
// numbers together order a tag's keys) and goes on from there: the pages seen, the leaf depth
// and the chain start again.
class TagWalker {
 public:
  TagWalker(CdxBag* bag, CdxTag* tag, NtxCheckReport* report, KeyAudit* audit,
            ChunkedReadLock* lock)
      : bag_(bag),
        tag_(tag),
        name_(tag->name().empty() ? "(directory)" : tag->name()),
        report_(report),
        audit_(audit),
        lock_(lock) {}

  // Failure only when the walk could not go on (an error was raised).
  Status Walk() {
    Descend();
    while (!stack_.empty() && Ok(status_)) {
      Frame& f = stack_.back();
      if (f.pending) {
        const CdxKeyEntry& e = f.entries[f.next - 1];
        if (keys_ == f.keys_before) {
          Problem("empty page under " + Hex(f.offset));
        } else if (last_.key != e.key || last_.recno != e.recno) {
          Problem("entry " + std::to_string(f.next - 1) + " of page " + Hex(f.offset) +
                  " is not its child's last key");
        }
        f.pending = false;
      }
      if (f.next >= f.children.size()) {
        stack_.pop_back();
        continue;
      }
      const size_t i = f.next++;
      f.pending = true;
      f.keys_before = keys_;
      if (Visit(f.children[i], f.depth + 1, false) == kLeaf && lock_->due()) {
        bool moved;
        if (Failed(lock_->Pause(&moved))) return kFailure;
        if (moved) Descend();
      }
    }
    if (Ok(status_) && chain_known_ && !NoPage(previous_right_)) {
      Problem("the last leaf " + Hex(previous_leaf_) + " links on to " + Hex(previous_right_));
    }
    return status_;
  }

  int64_t keys() const { return keys_; }
  // Problems were found in the tree itself.
  bool damaged() const { return damaged_; }

 private:
  void Problem(const std::string& s) {
    report_->problems.push_back("tag " + name_ + ": " + s);
    damaged_ = true;
  }

  // Negative, zero, positive: the key stands before, with, after the key met last.
  int AgainstLast(const std::string& key, uint32_t recno) const {
    int c = tag_->CompareKeys(reinterpret_cast<const uint8_t*>(key.data()), tag_->key_length(),
                              reinterpret_cast<const uint8_t*>(last_.key.data()),
                              tag_->key_length(), true);
    if (c == 0) c = recno < last_.recno ? -1 : recno > last_.recno;
    return c;
  }

  // Descends from the root to the first key after the one met last (to the first key of all
  // before any), leaving the path on the stack.
  void Descend() {
    stack_.clear();
    const int64_t size = std::max<int64_t>(bag_->file().Size(), 0);
    seen_.assign(static_cast<size_t>(size / kCdxPageSize) + 1, false);
    leaf_depth_ = -1;
    chain_known_ = keys_ == 0;  // at the start the first leaf has no left neighbour
    previous_leaf_ = 0;
    previous_right_ = kCdxNone;
    if (tag_->root() == 0) {
      Problem("no root page");
      return;
    }
    uint64_t offset = tag_->root();
    for (int depth = 0; Visit(offset, depth, true) == kInterior; ++depth) {
      Frame& f = stack_.back();
      size_t i = 0;
      while (keys_ > 0 && i < f.entries.size() &&
             AgainstLast(f.entries[i].key, f.entries[i].recno) <= 0) {
        ++i;
      }
      f.next = i;
      if (i == f.entries.size()) break;  // nothing after the last key under this page
      f.next = i + 1;
      f.pending = true;
      f.keys_before = keys_;
      offset = f.children[i];
    }
  }

  enum Visited { kUnusable, kInterior, kLeaf };

  // Reads a page without trusting it: an interior page is pushed, a leaf's keys are walked
  // (from the first after the one met last when resuming).
  Visited Visit(uint64_t offset, int depth, bool resuming) {
    const int64_t size = bag_->file().Size();
    if (offset < kCdxHeaderSize || offset % kCdxPageSize != 0 ||
        static_cast<int64_t>(offset) + kCdxPageSize > size) {
      Problem("page reference " + Hex(offset) + " outside the file");
      return kUnusable;
    }
    if (depth > 64 || seen_[offset / kCdxPageSize]) {
      Problem("page " + Hex(offset) + " reached twice");
      return kUnusable;
    }
    seen_[offset / kCdxPageSize] = true;
    uint8_t page[kCdxPageSize];
    if (bag_->file().ReadAt(page, kCdxPageSize, static_cast<int64_t>(offset)) != kCdxPageSize) {
      Problem("page " + Hex(offset) + " cannot be read");
      return kUnusable;
    }
    ++report_->pages;
    if (GetLe16(page + kCdxPageAttr) & kCdxAttrLeaf) {
      return Leaf(offset, depth, page, resuming) ? kLeaf : kUnusable;
    }
    const int n = GetLe16(page + kCdxPageCount);
    if (n < 1 || n > tag_->max_interior()) {
      Problem("interior page " + Hex(offset) + " holds " + std::to_string(n) + " entries");
      return kUnusable;
    }
    const int k = tag_->key_length();
    Frame f{offset, depth, {}, {}};
    for (int i = 0; i < n; ++i) {
      const uint8_t* e = page + kCdxIntEntries + i * (k + 8);
      f.entries.push_back({std::string(reinterpret_cast<const char*>(e), static_cast<size_t>(k)),
                           GetBe32(e + k)});
      f.children.push_back(GetBe32(e + k + 4));
    }
    stack_.push_back(std::move(f));
    return kInterior;
  }

  bool Leaf(uint64_t offset, int depth, const uint8_t* page, bool resuming) {
    if (!CdxDecodeLeaf(page, tag_->key_length(), tag_->pad(), &leaf_)) {
      Problem("leaf " + Hex(offset) + " cannot be decoded");
      return false;
    }
    if (leaf_depth_ < 0) leaf_depth_ = depth;
    if (leaf_depth_ != depth) Problem("leaf " + Hex(offset) + " at another depth");
    const uint32_t left = GetLe32(page + kCdxPageLeft);
    if (chain_known_) {
      if (previous_leaf_ == 0 ? !NoPage(left) : left != previous_leaf_) {
        Problem("leaf " + Hex(offset) + " links back to " + Hex(left));
      }
      if (previous_leaf_ != 0 && previous_right_ != offset) {
        Problem("leaf " + Hex(previous_leaf_) + " links on to " + Hex(previous_right_) +
                " instead of " + Hex(offset));
      }
    }
    chain_known_ = true;
    previous_leaf_ = offset;
    previous_right_ = GetLe32(page + kCdxPageRight);
    size_t i = 0;
    while (resuming && keys_ > 0 && i < leaf_.size() &&
           AgainstLast(leaf_[i].key, leaf_[i].recno) <= 0) {
      ++i;
    }
    for (; i < leaf_.size() && Ok(status_); ++i) {
      const CdxKeyEntry& e = leaf_[i];
      if (keys_ > 0 && AgainstLast(e.key, e.recno) <= 0 && !out_of_order_) {
        out_of_order_ = true;
        Problem("keys out of order at key " + std::to_string(keys_ + 1));
      }
      last_ = e;
      ++keys_;
      if (audit_) {
        status_ = audit_->AddTreeKey(reinterpret_cast<const uint8_t*>(e.key.data()), e.recno);
      }
    }
    lock_->Count(static_cast<int64_t>(leaf_.size()));
    return true;
  }

  CdxBag* bag_;
  CdxTag* tag_;
  std::string name_;
  NtxCheckReport* report_;
  KeyAudit* audit_;  // none for the directory, whose keys name tags
  ChunkedReadLock* lock_;
  std::vector<Frame> stack_;
  std::vector<bool> seen_;  // pages reached, by page number
  std::vector<CdxKeyEntry> leaf_;
  int leaf_depth_ = -1;
  bool chain_known_ = true;  // the leaf met last is known (not so after resuming)
  uint64_t previous_leaf_ = 0;
  uint32_t previous_right_ = kCdxNone;
  int64_t keys_ = 0;
  CdxKeyEntry last_;  // the key met last
  bool out_of_order_ = false;
  bool damaged_ = false;
  Status status_ = kSuccess;
};

}  // namespace

Status CdxCheckBag(IndexedArea* area, CdxBag* bag, NtxCheckReport* report, int64_t chunk_keys) {
  if (Failed(area->go_cold())) return kFailure;
  for (auto& t : bag->tags()) {
    if (t->type() == 0) {
      std::string key;
      if (Failed(area->EvalKey(t.get(), &key))) return kFailure;  // learns the key type
    }
  }
  uint32_t count = 0;
  if (Failed(area->record_count(&count))) return kFailure;
  std::vector<std::unique_ptr<KeyAudit>> audits;
  std::vector<bool> compared;  // the tag's tree was sound enough to compare its keys
  for (auto& t : bag->tags()) {
    audits.push_back(std::make_unique<KeyAudit>(area, t.get(), CdxSortPolicy(), count));
  }
  {
    // The trees are read under the read lock in chunks (see TagWalker); what each chunk shows
    // is one state of the file, and anything wrong in it is damage.
    ChunkedReadLock lock(bag, chunk_keys);
    if (!lock.ok()) return kFailure;
    std::vector<CdxTag*> tags = {bag->directory()};
    for (auto& t : bag->tags()) tags.push_back(t.get());
    for (size_t ti = 0; ti < tags.size(); ++ti) {
      TagWalker w(bag, tags[ti], report, ti == 0 ? nullptr : audits[ti - 1].get(), &lock);
      if (Failed(w.Walk())) return kFailure;
      report->keys += w.keys();
      if (ti > 0) compared.push_back(!w.damaged());
    }
    report->moves += lock.moves();
  }
  // The keys of the table's records, compared tag by tag (a tag whose tree is damaged is
  // reported as such: its keys are not compared).
  for (size_t i = 0; i < audits.size(); ++i) {
    if (compared[i] && Failed(audits[i]->Finish(&report->problems, &report->notes))) {
      return kFailure;
    }
  }
  return kSuccess;
}

}  // namespace vosk
