#include "rdd/dbfntx/ntx_check.h"

#include <algorithm>
#include <map>
#include <set>

#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_key.h"

namespace vosk {
namespace {

std::string Printable(const std::string& key) {
  std::string out;
  for (unsigned char c : key) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

struct Walker {
  NtxFile* bag;
  NtxOrder* order;
  int64_t file_size;
  std::set<uint64_t>* seen;
  NtxCheckReport* report;
  std::vector<std::pair<std::string, uint32_t>> keys;  // in walk order
  int leaf_depth = -1;

  void Problem(const std::string& s) { report->problems.push_back(order->name() + ": " + s); }

  // Reads a page without trusting it; false when it cannot be used.
  bool Read(uint64_t offset, std::vector<uint8_t>* data) {
    if (offset < kNtxBlockSize || offset % kNtxBlockSize != 0 ||
        static_cast<int64_t>(offset) + kNtxBlockSize > file_size) {
      Problem("page reference " + std::to_string(offset) + " outside the file");
      return false;
    }
    if (!seen->insert(offset).second) {
      Problem("page " + std::to_string(offset) + " reached twice");
      return false;
    }
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
    if (!root && n == 0) Problem("page " + std::to_string(offset) + " holds no key");
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
    for (int i = 0; i <= n; ++i) {
      if (!leaf) Walk(bag->OffsetOf(v.child(i)), depth + 1, false);
      if (i < n) {
        keys.push_back({std::string(reinterpret_cast<const char*>(v.key(i)),
                                    static_cast<size_t>(order->key_length())),
                        v.recno(i)});
      }
    }
  }
};

}  // namespace

Status NtxCheckBag(IndexedArea* area, NtxFile* bag, NtxCheckReport* report) {
  if (Failed(area->go_cold())) return kFailure;
  int64_t size = bag->file().Size();
  std::set<uint64_t> seen;
  std::vector<std::vector<std::pair<std::string, uint32_t>>> all_keys;
  {
    OrderReadLock lock(bag);
    if (!lock.ok()) return kFailure;
    for (auto& o : bag->ntx_orders()) {
      if (o->header_offset() != 0) seen.insert(o->header_offset());
    }
    for (auto& o : bag->ntx_orders()) {
      Walker w{bag, o.get(), size, &seen, report, {}};
      if (o->root() == 0) {
        w.Problem("no root page");
      } else {
        w.Walk(o->root(), 0, true);
      }
      for (size_t i = 1; i < w.keys.size(); ++i) {
        const auto& a = w.keys[i - 1];
        const auto& b = w.keys[i];
        int c = NtxCompare(reinterpret_cast<const uint8_t*>(a.first.data()),
                           static_cast<int>(a.first.size()),
                           reinterpret_cast<const uint8_t*>(b.first.data()),
                           static_cast<int>(b.first.size()), true);
        if (o->descending()) c = -c;
        if (c == 0 && o->sort_recno() && a.second > b.second) c = 1;
        if (c > 0) {
          w.Problem("keys out of order: \"" + Printable(a.first) + "\" (record " +
                    std::to_string(a.second) + ") before \"" + Printable(b.first) +
                    "\" (record " + std::to_string(b.second) + ")");
        }
      }
      report->keys += static_cast<int64_t>(w.keys.size());
      all_keys.push_back(std::move(w.keys));
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
      if (!seen.insert(free_page).second) {
        report->problems.push_back("free list: page " + std::to_string(free_page) +
                                   " is also used elsewhere (or the list loops)");
        break;
      }
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
  // The keys of the table's records.
  uint32_t saved = area->record_number();
  uint32_t count = 0;
  if (Failed(area->record_count(&count))) return kFailure;
  for (size_t oi = 0; oi < bag->ntx_orders().size(); ++oi) {
    NtxOrder* o = bag->ntx_orders()[oi].get();
    if (o->custom()) continue;
    std::multiset<std::pair<std::string, uint32_t>> have(all_keys[oi].begin(), all_keys[oi].end());
    std::multiset<std::pair<std::string, uint32_t>> want;
    std::map<std::string, uint32_t> first_owner;
    for (uint32_t r = 1; r <= count; ++r) {
      if (Failed(area->go_to(r))) return kFailure;
      bool pass;
      std::string key;
      if (Failed(area->EvalFor(o, &pass))) return kFailure;
      if (!pass) continue;
      if (Failed(area->EvalKey(o, &key))) return kFailure;
      want.insert({key, r});
      first_owner.emplace(key, r);
    }
    auto problem = [&](const std::string& s) { report->problems.push_back(o->name() + ": " + s); };
    int shown = 0;
    for (const auto& k : have) {
      if (want.find(k) == want.end() && shown++ < 20) {
        problem("key \"" + Printable(k.first) + "\" of record " + std::to_string(k.second) +
                " does not match the record");
      }
    }
    if (o->unique()) {
      std::set<std::string> values;
      for (const auto& k : have) {
        if (!values.insert(k.first).second && shown++ < 20) {
          problem("unique order holds \"" + Printable(k.first) + "\" twice");
        }
      }
      for (const auto& [key, r] : first_owner) {
        if (!values.count(key)) {
          report->notes.push_back(o->name() + ": no key for \"" + Printable(key) +
                                  "\" (record " + std::to_string(r) +
                                  "); a reindex restores it");
        }
      }
    } else if (!o->partial()) {
      for (const auto& k : want) {
        if (have.find(k) == have.end() && shown++ < 20) {
          problem("record " + std::to_string(k.second) + " has no key \"" + Printable(k.first) +
                  "\"");
        }
      }
    }
  }
  return area->go_to(saved);
}

}  // namespace vosk
