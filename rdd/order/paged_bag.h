#ifndef VOSK_RDD_ORDER_PAGED_BAG_H_
#define VOSK_RDD_ORDER_PAGED_BAG_H_

// The pages of an order bag on their way between the file and the orders, for every index
// format: the open and create of the file, reading and checking pages, marking them changed,
// the free list, the append position, and the one routine that writes a change.
//
// A change is everything done under the outermost write lock. It reaches the file by the
// rules of SQLite's pager:
//  1. Pages beyond the file's size at the start of the change are written first: nothing on
//     the disk refers to them yet, and cutting the file back removes them.
//  2. Then the pages that existed: the bytes each one holds on the disk are kept in memory
//     before it is overwritten.
//  3. Then the headers (roots, free list, counters), last.
//  4. When any of these fails, the pages and headers already overwritten get their old bytes
//     back, the file is cut back to its size at the start of the change, the state saved at
//     the first write lock (roots, order list, free list, append position, header images,
//     counters) is restored, the cache is dropped, and then the error is raised. The bag
//     refuses reads and writes until the next lock has read it again from the file.
// A change given up (released with discard, or its locks dropped after an error) returns to
// the same saved state and file size: nothing of it reached the file but pages beyond the
// start size, which are cut off.
//
// Invariants:
//  - No page or header below the size the file had at the start of the change is written
//    before the change is flushed; builders write runs of pages themselves only beyond it
//    (WriteBuilt sends any other page through the cache).
//  - A change that cut the file itself (an in-place rebuild) cannot be rolled back: when it
//    fails, the bag is read again from what the file holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "expr/status.h"
#include "rdd/order/order_bag.h"
#include "rdd/order/page_cache.h"

namespace vosk {

class PagedBag : public OrderBag {
 public:
  PagedBag(OrderHost* host, size_t page_size, size_t clean_pages, uint64_t first_page);
  PagedBag(const PagedBag&) = delete;
  PagedBag& operator=(const PagedBag&) = delete;

  File& file() { return file_; }
  uint64_t epoch() const override { return epoch_; }
  uint64_t free_head() const { return free_head_; }
  // Drops every cached page (another program wrote the file; a truncation).
  void DiscardCache();

 protected:
  // How a page read from the file is accepted; context is the engine's (an order, say).
  using PageCheck = bool (*)(const uint8_t* page, const void* context);
  enum class Fetched {
    kOk,
    kFailed,  // a read error (raised)
    kShort,   // the page lies beyond the end of the file (nothing raised)
    kRefused  // the check refused the page (nothing raised)
  };

  // Opens or creates the bag's file, asking the error handler whether to try again.
  Status OpenFile(const std::string& path, bool shared, bool read_only);
  Status CreateFile(const std::string& path, bool shared, bool temporary);
  // Forgets every page and closes the file (deleted when temporary or not published).
  void ClosePages() noexcept;

  // The page at an offset, from the cache or read from the file and checked.
  Fetched FetchPage(uint64_t offset, PageRef* ref, PageCheck check = nullptr,
                    const void* context = nullptr);
  // REQUIRES: the write lock is held.
  void MarkPage(CachedPage* p) { cache_.MarkChanged(p); }
  // A page image, zeroed, to be written with the change (a page taken from the free list or
  // the end of the file).
  CachedPage* FreshPage(uint64_t offset);
  // A page of the free list taken off it: the first freed under this change, else the head
  // of the list, else a new page at the end of the file.
  Status TakePage(uint64_t* offset);
  // A page freed under this change: reused first, joined to the free list when the change is
  // flushed.
  void DeferFree(uint64_t offset) { freed_.push_back(offset); }
  bool has_freed() const { return !freed_.empty(); }
  // Bytes at the end of the file (the append position, learnt from the file's size first).
  uint64_t TakeEnd(uint64_t bytes);
  // Writes bytes the engine made itself (a builder's run of pages, a new tag header): at once
  // when beyond the start size, else page by page through the cache. A failed write is raised.
  Status WriteBuilt(const uint8_t* data, size_t bytes, uint64_t offset);
  // Cuts the file inside a change (an in-place rebuild): the change can no longer be undone.
  Status CutFile(uint64_t size);
  // Writes a header at flush time (inside WriteHeaders); the old bytes are kept first.
  bool WriteHeaderBytes(const uint8_t* data, size_t bytes, uint64_t offset);

  // --- what a format supplies ---
  // The next page of the free list named by a free page, or kBadLink when the link is broken.
  static constexpr uint64_t kBadLink = ~0ull;
  virtual uint64_t FreeLink(const uint8_t* page) const = 0;
  // Makes a page image a free page naming `next` (0: the end of the list).
  virtual void MakeFree(uint8_t* page, uint64_t next) const = 0;
  // The first write lock: the format's state that a change given up returns to.
  virtual void SaveState() = 0;
  // Back to that state (order list, roots, header images, counters); the pages are dropped.
  virtual void RestoreState() noexcept = 0;
  // Writes the headers through WriteHeaderBytes; pages_written: the change wrote pages.
  virtual bool WriteHeaders(bool pages_written) = 0;
  // The cache was dropped: decoded pages and counts of the orders are stale.
  virtual void ForgetDecoded() noexcept {}
  // Reads the headers again after a failed change (the next lock).
  virtual Status Reload() = 0;
  bool ReloadDue() const final { return stale_; }

  // The lock frame of OrderBag.
  Status Reread(bool reread) final;
  void BeginChange() final;
  Status EndChange(bool discard) final;
  void DropChange() noexcept final;
  // Under a shared lock, what other programs may have changed (the format's version check).
  virtual Status RereadShared() = 0;

  PageCache cache_;
  uint64_t free_head_ = 0;    // byte offset of the first free page, 0 none
  uint64_t next_append_ = 0;  // byte offset of the next page appended, 0 not known yet
  uint64_t epoch_ = 1;        // raised whenever cached pages may have changed

 private:
  struct Journal {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  // Writes the change; on failure undoes it, then raises the error.
  Status Flush();
  // Writes pages[begin, end) in runs of consecutive pages; existing: their old bytes are kept.
  bool WriteRuns(const std::vector<CachedPage*>& pages, size_t begin, size_t end, bool existing,
                 bool freeing);
  bool WriteKept(const uint8_t* data, size_t bytes, uint64_t offset, bool journal);
  // Undoes a change: old bytes back, file cut back, state restored, cache dropped.
  void Undo() noexcept;

  size_t page_size_;
  uint64_t first_page_;            // no page lies before this offset (the header)
  std::vector<uint64_t> freed_;    // pages freed under this change
  std::vector<uint8_t> run_;       // a run of consecutive pages being written
  std::vector<Journal> journal_;   // old bytes of what the flush overwrote
  int flush_error_ = 0;            // OS code of the flush's failure
  bool changing_ = false;          // between BeginChange and EndChange/DropChange
  bool cut_ = false;               // the file was cut inside this change
  bool stale_ = false;             // read the bag again at the next lock
  int64_t start_size_ = 0;         // the file's size at the first write lock
  uint64_t saved_free_head_ = 0;
  uint64_t saved_next_append_ = 0;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_PAGED_BAG_H_
