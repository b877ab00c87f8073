#include "rdd/order/key_audit.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "rdd/byte_order.h"
#include "rdd/order/indexed_area.h"
#include "rdd/order/order.h"
#include "rdd/order/order_bag.h"

namespace vosk {
namespace {

// Sides of an entry; a tree entry sorts before the table entry of the same key and record.
constexpr uint8_t kTreeSide = 0;
constexpr uint8_t kTableSide = 1;
// Differences kept to be looked at again on their records; more are counted, not confirmed.
// Beside a busy writer most of them are changes made while the check ran, each settled by
// one look.
constexpr size_t kMaxDifferences = 100000;
// Reported lines of one order.
constexpr int kMaxLines = 20;

}  // namespace

std::string PrintableKey(const std::string& key) {
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

// An entry: the key bytes, the record number big-endian (so that bytes sort as numbers), the
// side. The sort runs ascending whatever the order's direction: only equality matters here.
KeyAudit::KeyAudit(IndexedArea* area, Order* order, const SortPolicy& policy, uint64_t expected)
    : area_(area),
      order_(order),
      key_length_(order->key_length()),
      sorter_(policy, order->key_length() + 5, false, false, expected * 2, 0),
      entry_(static_cast<size_t>(order->key_length()) + 5) {}

Status KeyAudit::Add(const uint8_t* key, uint32_t recno, uint8_t side) {
  std::memcpy(entry_.data(), key, static_cast<size_t>(key_length_));
  PutBe32(entry_.data() + key_length_, recno);
  entry_[static_cast<size_t>(key_length_) + 4] = side;
  return sorter_.Add(entry_.data(), 0);
}

Status KeyAudit::AddTreeKey(const uint8_t* key, uint32_t recno) {
  return Add(key, recno, kTreeSide);
}

Status KeyAudit::Finish(std::vector<std::string>* problems, std::vector<std::string>* notes) {
  const uint32_t saved = area_->record_number();
  if (!order_->custom() &&
      Failed(area_->ScanKeys(order_, nullptr, [this](const uint8_t* key, uint32_t recno) {
        return Add(key, recno, kTableSide);
      }))) {
    return kFailure;
  }
  const size_t klen = static_cast<size_t>(key_length_);
  const bool unique = order_->unique();
  // A custom order holds the keys its user gave: only its own consistency is checked.
  const bool compare = !order_->custom();
  const bool missing_counts = compare && !unique && !order_->partial();
  std::vector<Difference> differences;
  int64_t unconfirmed = 0;
  int lines = 0;
  auto problem = [&](const std::string& s) {
    if (lines++ < kMaxLines) problems->push_back(order_->name() + ": " + s);
  };
  auto differ = [&](const std::string& key, uint32_t recno, bool in_tree) {
    if (differences.size() < kMaxDifferences) differences.push_back({key, recno, in_tree});
    else ++unconfirmed;
  };
  // The group of entries with the current key bytes.
  std::string group;
  bool in_group = false;
  int64_t group_tree = 0;
  uint32_t group_first_record = 0;
  bool pending = false;  // a tree entry waiting for the table entry of its record
  uint32_t pending_recno = 0;
  auto flush_pending = [&] {
    if (pending && compare) differ(group, pending_recno, true);
    pending = false;
  };
  auto close_group = [&] {
    flush_pending();
    if (!in_group || !unique) return;
    if (group_tree > 1) problem("unique order holds \"" + PrintableKey(group) + "\" twice");
    if (group_tree == 0 && group_first_record != 0 && compare) {
      notes->push_back(order_->name() + ": no key for \"" + PrintableKey(group) + "\" (record " +
                       std::to_string(group_first_record) + "); a reindex restores it");
    }
  };
  Status s = sorter_.Finish([&](const uint8_t* e, uint32_t) -> Status {
    if (!in_group || std::memcmp(group.data(), e, klen) != 0) {
      close_group();
      group.assign(reinterpret_cast<const char*>(e), klen);
      in_group = true;
      group_tree = 0;
      group_first_record = 0;
    }
    uint32_t recno = GetBe32(e + klen);
    if (e[klen + 4] == kTreeSide) {
      if (pending && pending_recno == recno) {
        problem("key \"" + PrintableKey(group) + "\" of record " + std::to_string(recno) +
                " held twice");
        return kSuccess;
      }
      flush_pending();
      pending = true;
      pending_recno = recno;
      ++group_tree;
      return kSuccess;
    }
    if (group_first_record == 0) group_first_record = recno;
    if (pending && pending_recno == recno) {
      pending = false;  // the tree holds the record's key
    } else {
      flush_pending();
      if (missing_counts) differ(group, recno, false);
    }
    return kSuccess;
  });
  if (Failed(s)) return kFailure;
  close_group();
  int64_t confirmed = 0;
  for (const Difference& d : differences) {
    if (confirmed >= kMaxLines) {  // the order is damaged; the rest are only counted
      ++unconfirmed;
      continue;
    }
    bool real;
    if (Failed(Confirm(d, &real))) return kFailure;
    if (!real) continue;
    ++confirmed;
    problem(d.in_tree ? "key \"" + PrintableKey(d.key) + "\" of record " +
                            std::to_string(d.recno) + " does not match the record"
                      : "record " + std::to_string(d.recno) + " has no key \"" +
                            PrintableKey(d.key) + "\"");
  }
  if (confirmed > 0 && unconfirmed > 0) {
    problem(std::to_string(unconfirmed) + " further differences not looked at again");
  }
  if (lines > kMaxLines) {
    problems->push_back(order_->name() + ": " + std::to_string(lines - kMaxLines) +
                        " further problems");
  }
  return area_->go_to(saved);
}

// The difference is looked at again on the record. A writer changes a record and its keys
// under the record's lock (or the table's), so a look counts at once when this area holds that
// lock, and when nobody else held it just before and just after the look, twice in a row (a
// table opened read-only cannot take the lock; a change may begin and end between two tests
// of it, hardly twice). Otherwise the record is looked at again a few times over a second and a
// half, so that a change caught between its record and its keys is let finish. A bag that no
// other program may write (not shared), or a tree key of record 0, is looked at once: nothing
// can change under the check there.
Status KeyAudit::Confirm(const Difference& d, bool* real) {
  *real = false;
  const int attempts = order_->bag()->shared() && d.recno != 0 ? 6 : 1;
  int quiet_looks = 0;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(quiet_looks > 0 ? 2 : 50 << attempt));
    }
    bool locked = false;
    if (d.recno != 0 && Failed(area_->lock(2, d.recno, &locked))) return kFailure;
    const bool quiet_before = locked || (d.recno != 0 && !area_->RecordLockedElsewhere(d.recno));
    bool differs = false;
    {
      Status st = kSuccess;
      if (Failed(area_->go_to(d.recno))) st = kFailure;
      bool pass = false;
      std::string key;
      const bool exists = Ok(st) && !area_->eof();
      if (Ok(st) && exists) {
        if (Failed(area_->EvalFor(order_, &pass)) || (pass && Failed(area_->EvalKey(order_, &key)))) {
          st = kFailure;
        }
      }
      if (Ok(st)) {
        OrderReadLock lock(order_->bag());
        if (!lock.ok()) {
          st = kFailure;
        } else {
          OrderCursor c;
          const std::string& sought = d.in_tree ? d.key : key;
          if (d.in_tree || (exists && pass)) {
            if (Failed(order_->Locate(&c, sought, d.recno))) st = kFailure;
          }
          bool held = c.on && !c.between && c.recno == d.recno && c.key == sought;
          differs = d.in_tree ? held && !(exists && pass && key == d.key)
                              : exists && pass && !held;
        }
      }
      if (locked) (void)area_->unlock(d.recno);
      if (Failed(st)) return kFailure;
    }
    if (!differs) return kSuccess;
    if (locked) break;
    if (quiet_before && !area_->RecordLockedElsewhere(d.recno)) {
      if (++quiet_looks == 2) break;
    } else {
      quiet_looks = 0;
    }
  }
  *real = true;
  return kSuccess;
}

}  // namespace vosk
