// Candidate (primary key) orders: no two records share a key. A change that would give a
// record the key another record holds is refused before the record is written.

#include "rdd/order/indexed_area.h"

namespace vosk {

Status IndexedArea::RefuseDuplicateCandidates(bool append, bool* refused) {
  *refused = false;
  for (auto& b : bags_) {
    if (b->read_only()) continue;
    for (Order* o : b->orders()) {
      if (!o->candidate() || o->custom() || !o->usable()) continue;
      std::string key;
      bool in = false;
      if (Failed(EvalKey(o, &key)) || Failed(EvalFor(o, &in))) return kFailure;
      if (!in) continue;
      if (!append && o->hot_valid && o->old_for && key == o->old_key) continue;  // unchanged
      bool taken = false;
      {
        OrderReadLock lock(b.get());
        if (!lock.ok()) return kFailure;
        OrderCursor c;
        if (Failed(o->Seek(&c, key, false, true))) return kFailure;
        const auto* k = reinterpret_cast<const uint8_t*>(key.data());
        const int n = static_cast<int>(key.size());
        while (c.on && o->CompareKeys(reinterpret_cast<const uint8_t*>(c.key.data()),
                                      static_cast<int>(c.key.size()), k, n, true) == 0) {
          if (c.recno != recno_) {
            taken = true;
            break;
          }
          if (Failed(o->Next(&c))) return kFailure;
        }
      }
      if (!taken) continue;
      // Nothing of the change is written: the record is read again as it is in the file, and
      // an appended record not yet in the file goes.
      *refused = true;
      if (appended_) {
        appended_ = false;
        rec_count_ = recno_ - 1;
        recno_ = rec_count_ + 1;
        positioned_ = false;
        eof_ = true;
      }
      hot_ = valid_ = false;
      for (auto& bag : bags_) {
        for (Order* other : bag->orders()) other->hot_valid = false;
      }
      RuntimeError e;
      e.gen_code = kEgWrite;
      e.sub_code = kEdfWrite;
      e.file_name = b->path();
      e.operation = o->name();
      e.description = "Duplicate key in the candidate (primary key) order " + o->name() +
                      ": another record holds it; the change is not written";
      error(std::move(e));
      return kFailure;
    }
  }
  return kSuccess;
}

}  // namespace vosk
