#ifndef VOSK_RDD_DBFNTX_NTX_FILE_H_
#define VOSK_RDD_DBFNTX_NTX_FILE_H_

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "expr/runtime_error.h"
#include "expr/status.h"
#include "platform/file.h"
#include "rdd/dbfntx/ntx_format.h"

namespace vosk {

class NtxArea;
class NtxOrder;
class NtxFile;

// One page image in the cache of a file.
struct NtxCachedPage {
  uint64_t offset = 0;
  int uses = 0;          // live NtxPageRef handles
  bool changed = false;  // written when the write lock is released
  std::array<uint8_t, kNtxBlockSize> data{};
};

// A page held in the cache while the handle lives.
class NtxPageRef {
 public:
  NtxPageRef() = default;
  ~NtxPageRef() { Release(); }
  NtxPageRef(const NtxPageRef&) = delete;
  NtxPageRef& operator=(const NtxPageRef&) = delete;
  NtxPageRef(NtxPageRef&& o) noexcept : page_(o.page_) { o.page_ = nullptr; }
  NtxPageRef& operator=(NtxPageRef&& o) noexcept {
    if (this != &o) {
      Release();
      page_ = o.page_;
      o.page_ = nullptr;
    }
    return *this;
  }

  uint8_t* data() { return page_->data.data(); }
  uint64_t offset() const { return page_->offset; }
  NtxCachedPage* page() { return page_; }
  void Reset(NtxCachedPage* p) {
    Release();
    page_ = p;
    ++page_->uses;
  }
  void Release() {
    if (page_) --page_->uses;
    page_ = nullptr;
  }

 private:
  NtxCachedPage* page_ = nullptr;
};

// An open NTX file (an order bag): the file, its header blocks, the orders it holds, the
// page cache, the counted index locks and the free-page list.
//
// Invariants:
//  - Pages are read only under a lock and changed only under the write lock; changed pages
//    and headers reach the disk when the last write lock is released.
//  - orders_ are in file order; a single-order file has exactly one.
class NtxFile {
 public:
  explicit NtxFile(NtxArea* area);
  ~NtxFile();
  NtxFile(const NtxFile&) = delete;
  NtxFile& operator=(const NtxFile&) = delete;

  // Opens an existing bag and reads its header(s) under a read lock.
  Status Open(const std::string& path, bool shared, bool read_only);
  // Creates (truncates) a bag file; no order yet.
  Status Create(const std::string& path, bool shared, bool temporary, bool large);
  // Closes the file (deleting it when temporary). Writes nothing.
  void Close();

  const std::string& path() const { return path_; }
  bool shared() const { return shared_; }
  bool read_only() const { return read_only_; }
  bool compound() const { return compound_; }
  bool large() const { return large_; }
  bool temporary() const { return temporary_; }
  bool structural() const { return structural_; }
  void set_structural(bool s) { structural_ = s; }
  NtxArea* area() const { return area_; }
  std::vector<std::unique_ptr<NtxOrder>>& orders() { return orders_; }
  File& file() { return file_; }

  // --- locks (counted; the file is locked at the first and unlocked at the last) ---
  Status ReadLock();
  void ReadUnlock();
  // reread false: the header is not read again (rebuild).
  Status WriteLock(bool reread = true);
  // Writes the changed pages and headers, then unlocks. discard: an exception is unwinding
  // through an unfinished change; the changed pages are dropped instead of written.
  Status WriteUnlock(bool discard = false);
  bool write_locked() const { return write_locks_ > 0; }
  bool locked() const { return read_locks_ + write_locks_ > 0; }

  // --- pages ---
  // Reads (or finds in the cache) the page at a byte offset and checks its layout for the
  // order's key length; a bad page is "Corruption detected".
  Status ReadPage(const NtxOrder& order, uint64_t offset, NtxPageRef* ref);
  void MarkChanged(NtxPageRef* ref);
  // A fresh page for the order, from the free list or at the end of the file.
  Status NewPage(const NtxOrder& order, NtxPageRef* ref);
  // Puts a page on the free list.
  Status FreePage(const NtxOrder& order, uint64_t offset);
  // An offset for a page the builder writes itself (from the free list or the end).
  Status TakePageOffset(const NtxOrder& order, uint64_t* offset);
  // Writes a run of whole pages at an offset (the builder's batch).
  Status WriteBlocks(const uint8_t* data, size_t count, uint64_t offset);
  // Drops every cached page (after another process wrote the file, or a truncation).
  void DiscardCache();
  // Copies `count` consecutive pages from `offset` into out (count blocks) in one read, for a
  // pass that only looks at them; a page held in the cache (a changed one too) is taken from
  // there. Every page is checked as ReadPage checks it.
  Status PeekPages(const NtxOrder& order, uint64_t offset, int count, uint8_t* out);
  // Keys in the subtree under an inner page, remembered while the subtree does not change (a
  // change here forgets the changed pages' counts and their ancestors'; another process's
  // change seen at a lock, a discarded change or a build forgets them all).
  bool KnownSubtreeCount(uint64_t offset, int64_t* out) const {
    auto it = subtree_counts_.find(offset);
    if (it == subtree_counts_.end()) return false;
    *out = it->second;
    return true;
  }
  void RememberSubtreeCount(uint64_t offset, int64_t n) { subtree_counts_[offset] = n; }
  void ForgetSubtreeCount(uint64_t offset) { subtree_counts_.erase(offset); }
  void ForgetSubtreeCounts() {
    if (!subtree_counts_.empty()) subtree_counts_.clear();
  }
  // While a change runs along one path of a tree, a changed page forgets only its own count:
  // the change forgets the counts of the path's pages (every changed page's ancestors) itself.
  void set_path_change(bool on) { path_change_ = on; }
  // Truncates to the header block: counter, free list and append position reset (rebuild).
  Status TruncateToHeader();

  uint64_t OffsetOf(uint32_t ref) const {
    return large_ ? static_cast<uint64_t>(ref) * kNtxBlockSize : ref;
  }
  uint32_t RefOf(uint64_t offset) const {
    return static_cast<uint32_t>(large_ ? offset / kNtxBlockSize : offset);
  }

  // --- headers ---
  // Writes the order's header block fields into its image and marks it for writing.
  void MarkHeaderChanged() { header_changed_ = true; }
  // Adds an order; a file that then holds two or more becomes compound.
  Status AddOrder(std::unique_ptr<NtxOrder> order);
  // Removes an order's directory entry (compound files).
  void RemoveOrder(NtxOrder* order);
  // Reads the header block(s) and (re)builds the orders' header fields. first_open: the
  // orders are created; otherwise existing orders are updated (roots, flags).
  Status ReadHeaders(bool first_open);
  uint64_t free_page() const { return free_page_; }

  // Raises an error of this bag (subsystem DBFNTX, file name as operation where given).
  ErrorAnswer Error(int gen_code, int sub_code, int os_code = 0, bool can_retry = false) const;
  Status Corrupt() const;

 private:
  Status WriteHeaders();
  Status WritePage(NtxCachedPage* p);
  NtxCachedPage* CacheSlot(uint64_t offset);
  Status LockFile(bool exclusive);
  void UnlockFile();

  NtxArea* area_;
  File file_;
  std::string path_;
  bool shared_ = false;
  bool read_only_ = false;
  bool compound_ = false;
  bool large_ = false;
  bool temporary_ = false;
  bool structural_ = false;
  std::vector<std::unique_ptr<NtxOrder>> orders_;
  std::array<uint8_t, kNtxBlockSize> header_{};  // block 0 as last read or written
  uint32_t update_counter_ = 0;
  uint64_t free_page_ = 0;    // byte offset of the first free page, 0 none
  uint64_t next_append_ = 0;  // byte offset of the next page appended
  bool header_changed_ = false;
  bool unwritten_ = false;  // created here; no header on disk yet
  int read_locks_ = 0;
  int write_locks_ = 0;
  uint32_t lock_position_ = 0;  // byte of the pool a shared lock took
  bool file_locked_ = false;
  std::unordered_map<uint64_t, std::unique_ptr<NtxCachedPage>> cache_;
  std::vector<NtxCachedPage*> changed_;
  std::unordered_map<uint64_t, int64_t> subtree_counts_;
  bool path_change_ = false;
  // State at the first write lock, restored when a change is abandoned.
  uint64_t saved_free_page_ = 0;
  uint64_t saved_next_append_ = 0;
  std::vector<uint64_t> saved_roots_;
};

// Locks held for the lifetime of the object.
class NtxReadLock {
 public:
  explicit NtxReadLock(NtxFile* f) : f_(f) { ok_ = Ok(f->ReadLock()); }
  ~NtxReadLock() {
    if (ok_) f_->ReadUnlock();
  }
  bool ok() const { return ok_; }
  NtxReadLock(const NtxReadLock&) = delete;
  NtxReadLock& operator=(const NtxReadLock&) = delete;

 private:
  NtxFile* f_;
  bool ok_;
};

class NtxWriteLock {
 public:
  explicit NtxWriteLock(NtxFile* f, bool reread = true)
      : f_(f), exceptions_(std::uncaught_exceptions()) {
    ok_ = Ok(f->WriteLock(reread));
  }
  ~NtxWriteLock() {
    if (ok_) (void)f_->WriteUnlock(std::uncaught_exceptions() > exceptions_);
  }
  // Releases now and reports whether the pages and headers were written.
  Status Release() {
    if (!ok_) return kFailure;
    ok_ = false;
    return f_->WriteUnlock();
  }
  bool ok() const { return ok_; }
  NtxWriteLock(const NtxWriteLock&) = delete;
  NtxWriteLock& operator=(const NtxWriteLock&) = delete;

 private:
  NtxFile* f_;
  int exceptions_;
  bool ok_;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_FILE_H_
