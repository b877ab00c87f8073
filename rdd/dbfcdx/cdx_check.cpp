#include "rdd/dbfcdx/cdx_check.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_tag.h"
#include "rdd/order/indexed_area.h"

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
  OrderReadLock lock(bag);
  if (!lock.ok()) return kFailure;
  std::vector<CdxTag*> tags = {bag->directory()};
  for (auto& t : bag->tags()) tags.push_back(t.get());
  std::vector<std::vector<CdxKeyEntry>> stored(tags.size());
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
    if (Failed(t->AllKeys(&stored[ti]))) return kFailure;
    const auto& keys = stored[ti];
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
                             reinterpret_cast<const uint8_t*>(b.key.data()), t->key_length(), true);
      if (c > 0 || (c == 0 && a.recno >= b.recno)) {
        report->problems.push_back("tag " + name + ": keys out of order at key " +
                                   std::to_string(i + 1));
        break;
      }
    }
  }
  // The table's keys.
  uint32_t saved = area->record_number();
  uint32_t count = 0;
  if (Failed(area->record_count(&count))) return kFailure;
  std::vector<std::vector<CdxKeyEntry>> expected(tags.size());
  std::string key;
  for (uint32_t r = 1; r <= count; ++r) {
    if (Failed(area->go_to(r))) return kFailure;
    for (size_t ti = 1; ti < tags.size(); ++ti) {
      CdxTag* t = tags[ti];
      if (t->custom() || t->partial()) continue;
      bool pass;
      if (Failed(area->EvalFor(t, &pass))) return kFailure;
      if (!pass) continue;
      if (Failed(area->EvalKey(t, &key))) return kFailure;
      expected[ti].push_back({key, r});
    }
  }
  for (size_t ti = 1; ti < tags.size(); ++ti) {
    CdxTag* t = tags[ti];
    if (t->custom() || t->partial()) continue;
    auto& want = expected[ti];
    std::sort(want.begin(), want.end(), [](const CdxKeyEntry& a, const CdxKeyEntry& b) {
      return a.key != b.key ? a.key < b.key : a.recno < b.recno;
    });
    std::vector<CdxKeyEntry> have = stored[ti];
    std::sort(have.begin(), have.end(), [](const CdxKeyEntry& a, const CdxKeyEntry& b) {
      return a.key != b.key ? a.key < b.key : a.recno < b.recno;
    });
    if (t->unique()) {
      // One key per distinct value, held by a record that has that value; a value whose
      // owning record changed may be missing (a note, not a fault).
      std::set<std::pair<std::string, uint32_t>> pairs;
      std::set<std::string> values;
      for (auto& e : want) {
        pairs.insert({e.key, e.recno});
        values.insert(e.key);
      }
      std::set<std::string> held;
      bool ok = true;
      for (auto& e : have) {
        ok = ok && pairs.count({e.key, e.recno}) > 0 && held.insert(e.key).second;
      }
      if (!ok) {
        report->problems.push_back("tag " + t->name() + ": a key that no record holds");
      } else if (held.size() != values.size()) {
        report->notes.push_back("tag " + t->name() + ": " +
                                std::to_string(values.size() - held.size()) +
                                " value(s) without a key (their first record changed)");
      }
      continue;
    }
    size_t i = 0;
    while (i < have.size() && i < want.size() && have[i].key == want[i].key &&
           have[i].recno == want[i].recno) {
      ++i;
    }
    if (i < have.size() || i < want.size()) {
      auto hex = [](const std::string& k) {
        std::string out;
        for (unsigned char c : k) out += Hex(c).size() < 2 ? "0" + Hex(c) : Hex(c);
        return out;
      };
      std::string at = i < have.size() ? "record " + std::to_string(have[i].recno) + " key " + hex(have[i].key)
                                       : "";
      if (i < want.size()) at += ", table record " + std::to_string(want[i].recno) + " key " + hex(want[i].key);
      report->problems.push_back("tag " + t->name() + ": " + std::to_string(have.size()) +
                                 " keys, the table's records give " +
                                 std::to_string(want.size()) + "; first difference at " + at +
                                 " (stale or damaged)");
    }
  }
  return area->go_to(saved);
}

}  // namespace vosk
