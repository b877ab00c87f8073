#include "rdd/dbfcdx/cdx_check.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_tag.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/order/indexed_area.h"
#include "rdd/order/key_audit.h"

namespace vosk {
namespace {

struct Walk {
  std::set<uint64_t> seen;
  int leaf_depth = -1;
  int64_t keys = 0;
  std::vector<std::string> problems;
};

std::string Hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
  return buf;
}

// Checks the subtree under a page; *last gets its last key and record.
Status WalkPage(CdxTag* tag, uint64_t off, int depth, Walk* w, std::string* last,
                uint32_t* last_rec, bool* empty) {
  const std::string name = tag->name().empty() ? "(directory)" : tag->name();
  *empty = true;
  if (depth > 64 || !w->seen.insert(off).second) {
    w->problems.push_back("tag " + name + ": page " + Hex(off) + " reached twice");
    return kSuccess;
  }
  PageRef ref;
  if (Failed(tag->cdx_bag()->ReadPage(off, &ref))) return kFailure;
  const uint8_t* p = ref.data();
  int k = tag->key_length();
  if (GetLe16(p) & kCdxAttrLeaf) {
    const std::vector<CdxKeyEntry>* keys;
    ref.Release();
    if (Failed(tag->Leaf(off, &keys))) return kFailure;
    if (w->leaf_depth < 0) w->leaf_depth = depth;
    if (w->leaf_depth != depth) {
      w->problems.push_back("tag " + name + ": leaf " + Hex(off) + " at another depth");
    }
    w->keys += static_cast<int64_t>(keys->size());
    if (!keys->empty()) {
      *last = keys->back().key;
      *last_rec = keys->back().recno;
      *empty = false;
    }
    return kSuccess;
  }
  int n = GetLe16(p + kCdxPageCount);
  if (n < 1 || n > tag->max_interior()) {
    w->problems.push_back("tag " + name + ": interior page " + Hex(off) + " holds " +
                          std::to_string(n) + " entries");
    return kSuccess;
  }
  std::vector<std::string> ekeys;
  std::vector<uint32_t> erecs, children;
  for (int i = 0; i < n; ++i) {
    const uint8_t* e = p + kCdxIntEntries + i * (k + 8);
    ekeys.emplace_back(reinterpret_cast<const char*>(e), static_cast<size_t>(k));
    erecs.push_back(GetBe32(e + k));
    children.push_back(GetBe32(e + k + 4));
  }
  ref.Release();
  for (int i = 0; i < n; ++i) {
    std::string child_last;
    uint32_t child_rec = 0;
    bool child_empty;
    if (Failed(WalkPage(tag, children[static_cast<size_t>(i)], depth + 1, w, &child_last,
                        &child_rec, &child_empty))) {
      return kFailure;
    }
    if (child_empty) {
      w->problems.push_back("tag " + name + ": empty page under " + Hex(off));
    } else if (child_last != ekeys[static_cast<size_t>(i)] ||
               child_rec != erecs[static_cast<size_t>(i)]) {
      w->problems.push_back("tag " + name + ": entry " + std::to_string(i) + " of page " +
                            Hex(off) + " is not its child's last key");
    }
  }
  *last = ekeys.back();
  *last_rec = erecs.back();
  *empty = false;
  return kSuccess;
}

}  // namespace

Status CdxCheckBag(IndexedArea* area, CdxBag* bag, NtxCheckReport* report) {
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
  for (auto& t : bag->tags()) {
    audits.push_back(std::make_unique<KeyAudit>(area, t.get(), CdxSortPolicy(), count));
  }
  {
    // The trees are read under one read lock: what they show is one state of the file, and
    // anything wrong in it is damage.
    OrderReadLock lock(bag);
    if (!lock.ok()) return kFailure;
    std::vector<CdxTag*> tags = {bag->directory()};
    for (auto& t : bag->tags()) tags.push_back(t.get());
    for (size_t ti = 0; ti < tags.size(); ++ti) {
      CdxTag* t = tags[ti];
      std::string name = t->name().empty() ? "(directory)" : t->name();
      Walk w;
      std::string last;
      uint32_t last_rec;
      bool empty;
      if (t->root() == 0) {
        report->problems.push_back("tag " + name + ": no root page");
        continue;
      }
      if (Failed(WalkPage(t, t->root(), 0, &w, &last, &last_rec, &empty))) return kFailure;
      report->pages += static_cast<int64_t>(w.seen.size());
      for (auto& p : w.problems) report->problems.push_back(p);
      if (!w.problems.empty()) continue;
      std::vector<CdxKeyEntry> keys;
      if (Failed(t->AllKeys(&keys))) return kFailure;
      report->keys += static_cast<int64_t>(keys.size());
      if (static_cast<int64_t>(keys.size()) != w.keys) {
        report->problems.push_back("tag " + name + ": the leaf chain holds " +
                                   std::to_string(keys.size()) + " keys, the tree " +
                                   std::to_string(w.keys));
      }
      for (size_t i = 1; i < keys.size(); ++i) {
        const auto& a = keys[i - 1];
        const auto& b = keys[i];
        int c = t->CompareKeys(reinterpret_cast<const uint8_t*>(a.key.data()), t->key_length(),
                               reinterpret_cast<const uint8_t*>(b.key.data()), t->key_length(),
                               true);
        if (c > 0 || (c == 0 && a.recno >= b.recno)) {
          report->problems.push_back("tag " + name + ": keys out of order at key " +
                                     std::to_string(i + 1));
          break;
        }
      }
      if (ti == 0) continue;  // the directory names tags, not records
      for (const auto& e : keys) {
        if (Failed(audits[ti - 1]->AddTreeKey(reinterpret_cast<const uint8_t*>(e.key.data()),
                                              e.recno))) {
          return kFailure;
        }
      }
    }
  }
  // The keys of the table's records, compared tag by tag.
  for (auto& audit : audits) {
    if (Failed(audit->Finish(&report->problems, &report->notes))) return kFailure;
  }
  return kSuccess;
}

}  // namespace vosk
