#ifndef VOSK_RDD_ORDER_ORDER_BAG_H_
#define VOSK_RDD_ORDER_ORDER_BAG_H_

// An order bag (an index file holding one or more orders) as the work area sees it, the narrow
// host interface through which a bag reaches its table, and the counted lock guards.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "expr/runtime_error.h"
#include "expr/status.h"
#include "platform/file.h"
#include "platform/file_map.h"

namespace vosk {

class Order;

// What a bag needs of the table it belongs to.
class OrderHost {
 public:
  virtual ~OrderHost() = default;
  // Raises a runtime error through the table's error handling.
  virtual ErrorAnswer RaiseOrderError(RuntimeError e) = 0;
  // Locks or unlocks an index file at the positions of the table's lock scheme.
  virtual bool LockOrderFile(File* file, bool lock, bool shared, bool wait, uint32_t* position) = 0;
  // Index reads take no file lock (dirty-read mode of the table and the driver).
  virtual bool DirtyRead() const = 0;
  // The table's file name (for messages).
  virtual std::string TableFileName() const = 0;
};

// Invariants:
//  - Pages are read only under a lock and changed only under the write lock.
//  - Locks are counted: the file is locked at the first and unlocked at the last.
//  - A write lock released with discard drops every change made since the first write lock.
class OrderBag {
 public:
  explicit OrderBag(OrderHost* host) : host_(host) {}
  virtual ~OrderBag() = default;
  OrderBag(const OrderBag&) = delete;
  OrderBag& operator=(const OrderBag&) = delete;

  const std::string& path() const { return path_; }
  bool shared() const { return shared_; }
  bool read_only() const { return read_only_; }
  bool temporary() const { return temporary_; }
  bool structural() const { return structural_; }
  void set_structural(bool s) { structural_ = s; }
  OrderHost* host() const { return host_; }

  // The orders in file order.
  virtual size_t order_count() const = 0;
  virtual Order* order_at(size_t i) const = 0;
  std::vector<Order*> orders() const {
    std::vector<Order*> out;
    for (size_t i = 0; i < order_count(); ++i) out.push_back(order_at(i));
    return out;
  }

  // Counted locks: the first takes the file lock of a shared bag and reads again what other
  // programs may have changed (Reread); the last releases it.
  Status ReadLock();
  void ReadUnlock();
  // reread false: the header is not read again (rebuild).
  Status WriteLock(bool reread = true);
  // Writes the changed pages and headers, then unlocks; discard: the changes are dropped (an
  // inner lock's discard makes the outermost release discard too).
  Status WriteUnlock(bool discard = false);
  // Releases every lock still held without raising anything (closing after a failure).
  void ForceUnlock() noexcept;
  // Under hard commit, makes the changes written since the last sync durable (the table's
  // commit and close); a failed sync is raised.
  Status Sync();
  bool locked() const { return read_locks_ + write_locks_ > 0; }
  bool write_locked() const { return write_locks_ > 0; }
  // The headers are written at the release of the write lock (an order's FOR text changed).
  virtual void MarkHeaderChanged() = 0;
  // Removes an order from a bag that holds others; the caller holds the write lock.
  virtual Status RemoveOrderAndPages(Order* order) = 0;
  // Moves (at least) whenever a lock found the bag changed by another program: pages read
  // before may be stale.
  virtual uint64_t epoch() const = 0;

  // A new bag is built under an owned name beside the name it is meant for (BuildBeside
  // gives that name; the file that has the name now is held, opened in the bag's share mode,
  // so that a bag another program holds is refused as a create over it would be) and takes
  // that name only once it is whole and, under hard commit, on the disk (Publish): a build
  // that fails part-way, on a full disk say, leaves the file of that name as it was, or no
  // file. The file of a bag not published is removed when the bag closes; the files of such
  // builds whose owner is gone are removed at the next build beside the same name.
  Status BuildBeside(const std::string& final_path, bool shared, std::string* build_path);
  // A change of an existing bag (a tag added) is made the same way, in a copy: the file that
  // has the name is held exclusively, so that no other program has it open (it would go on
  // with the old file), and copied as it is under an owned name beside it (build_path); the
  // caller opens the copy, changes it and publishes it. A copy that fails is removed.
  Status CopyBeside(const std::string& final_path, std::string* build_path);
  Status Publish();
  // A rebuild of the bag as it is open (reindex, pack, zap) is made the same way: the bag goes
  // on in a new file named build_path (an owned name beside the bag, BesideName) while its own
  // file is held as the one to replace; the engine then builds its orders again into the new
  // file and Publish gives it the bag's name. A bag whose rebuild does not get that far is
  // closed (the new file goes with it) and opened again from its file, which is as it was.
  Status RebuildBeside(const std::string& build_path);
  // The owned name beside final_path under which a bag is built (files of such builds whose
  // owner is gone removed first).
  static std::string BesideName(const std::string& final_path);
  // The new file of a build not yet published, for a caller that gives it the bag's name
  // itself (a table rewrite swaps its files and its bags together); Published() afterwards.
  File* building_file() { return final_path_.empty() ? nullptr : &file_; }
  const std::string& final_path() const { return final_path_; }
  void Published();
  // True when the bag, read without a lock, is as this process last read it under a lock: no
  // other program changed it since. Always true for a bag not opened shared or whose reads
  // take no lock. Costs no system call once the head of the file is mapped; false (when
  // unsure) only costs the caller a lock.
  bool Unchanged();

  // Raises an error of this bag (file name as operation).
  ErrorAnswer Error(int gen_code, int sub_code, int os_code = 0, bool can_retry = false,
                    bool can_default = false) const;
  Status Corrupt() const;

 protected:
  // The file lock of a shared bag, placed by the table's lock scheme (nothing when the bag is
  // not shared). UnlockFile is false when the lock could not be released.
  Status LockFile(bool exclusive);
  bool UnlockFile() noexcept;
  // Takes the file lock and runs `reread` (what other programs may have changed) under it; the
  // lock is released again when the re-read fails or the error handler abandons the command.
  template <class Reread>
  Status LockAndReread(bool exclusive, Reread reread) {
    if (Failed(LockFile(exclusive))) return kFailure;
    Status s;
    try {
      s = reread();
    } catch (...) {
      (void)UnlockFile();
      throw;
    }
    if (Failed(s)) {
      (void)UnlockFile();
      return kFailure;
    }
    return kSuccess;
  }
  // The file goes when the bag closes: a temporary bag, or a new one never published.
  bool RemovedOnClose() const { return temporary_ || !final_path_.empty(); }
  // What an engine does inside the lock frame. Reread: under a new file lock of a shared bag,
  // what other programs may have changed (reread false: a rebuild needs nothing read).
  virtual Status Reread(bool reread) = 0;
  // The first write lock: the state that a discarded change returns to.
  virtual void BeginChange() = 0;
  // The last write unlock: the change written, or dropped (discard: the result is failure).
  virtual Status EndChange(bool discard) = 0;
  // The locks are dropped after a failure: the change is forgotten, nothing raised.
  virtual void DropChange() noexcept = 0;
  // A failed change left the bag to be read again from the file at the next lock, shared or
  // not; until then it refuses reads and writes.
  virtual bool ReloadDue() const { return false; }
  // "ntx" or "cdx": the internal errors of the lock frame name their engine.
  virtual const char* EngineName() const = 0;
  [[noreturn]] void LockFault(int code, const char* what) const;
  int read_locks_ = 0;
  int write_locks_ = 0;
  bool discard_pending_ = false;  // an inner write lock abandoned its change

  // The first kHeadBytes of the file still show the state last read under a lock.
  virtual bool HeadUnchanged(const uint8_t* head) const { return false; }
  // Unlocks and closes the file (a temporary bag's file is deleted); no lock is held after.
  void CloseFile() noexcept;
  static constexpr size_t kHeadBytes = 1024;

  OrderHost* host_;
  File file_;
  bool file_locked_ = false;
  bool unsynced_ = false;       // changes written since the last sync
  uint32_t lock_position_ = 0;  // byte of the pool a shared lock took
  FileMap head_map_;            // the head of a shared bag, for Unchanged()
  std::string path_;
  std::string final_path_;  // the name a bag being built takes at Publish
  File replaced_;           // the file that has that name now, held until then
  bool shared_ = false;
  bool read_only_ = false;
  bool temporary_ = false;
  bool structural_ = false;
};

// A read lock held for the lifetime of the object. The destructor never throws.
class OrderReadLock {
 public:
  explicit OrderReadLock(OrderBag* b) : b_(b) { ok_ = Ok(b->ReadLock()); }
  ~OrderReadLock();
  bool ok() const { return ok_; }
  OrderReadLock(const OrderReadLock&) = delete;
  OrderReadLock& operator=(const OrderReadLock&) = delete;

 private:
  OrderBag* b_;
  bool ok_;
};

// A read lock for a long read of a whole bag (the check): let go at the end of every chunk of
// steps and taken again after a short pause, so that the writers of other programs wait one
// chunk at most. The reader learns whether the bag changed in between; pages it read before
// are then stale. A bag no other program may write is read under one lock.
class ChunkedReadLock {
 public:
  ChunkedReadLock(OrderBag* b, int64_t chunk) : b_(b), chunk_(chunk), epoch_(b->epoch()) {
    lock_.emplace(b);
  }
  bool ok() const { return lock_.has_value() && lock_->ok(); }
  void Count(int64_t steps = 1) { steps_ += steps; }
  // The chunk is complete: the reader should pause where it can take the read up again.
  bool due() const { return steps_ >= chunk_; }
  // Lets the lock go and takes it again; *moved: another program changed the bag meanwhile.
  // Failure: the lock could not be had again (the error was raised).
  Status Pause(bool* moved);
  // Pauses after which the bag had changed.
  int64_t moves() const { return moves_; }
  ChunkedReadLock(const ChunkedReadLock&) = delete;
  ChunkedReadLock& operator=(const ChunkedReadLock&) = delete;

 private:
  OrderBag* b_;
  int64_t chunk_;
  int64_t steps_ = 0;
  uint64_t epoch_;
  int64_t moves_ = 0;
  std::optional<OrderReadLock> lock_;
};

// A write lock held for the lifetime of the object. Changes reach the file only through
// Release(); a lock left without Release() (a failed step returned early, or an exception
// unwinds) drops every change made under it, so a bag never holds half of a change. The
// destructor never throws.
class OrderWriteLock {
 public:
  explicit OrderWriteLock(OrderBag* b, bool reread = true) : b_(b) {
    ok_ = Ok(b->WriteLock(reread));
  }
  ~OrderWriteLock();
  // Releases now and reports whether the pages and headers were written. When the error
  // handler abandons the command during the writing, the bag's locks are dropped before the
  // exception goes on.
  Status Release() {
    if (!ok_) return kFailure;
    ok_ = false;
    try {
      return b_->WriteUnlock();
    } catch (...) {
      b_->ForceUnlock();
      throw;
    }
  }
  bool ok() const { return ok_; }
  OrderWriteLock(const OrderWriteLock&) = delete;
  OrderWriteLock& operator=(const OrderWriteLock&) = delete;

 private:
  OrderBag* b_;
  bool ok_;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_ORDER_BAG_H_
