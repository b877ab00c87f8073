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
#include "rdd/order/paged_bag.h"

namespace vosk {

class NtxOrder;

// An open NTX file (an order bag): its header blocks, the orders it holds and its page layout;
// the pages reach the file through PagedBag.
//
// Invariants:
//  - Pages are read only under a lock and changed only under the write lock; changed pages
//    and headers reach the disk when the last write lock is released.
//  - orders_ are in file order; a single-order file has exactly one.
//  - A free page is an empty page whose child 0 names the next free page.
class NtxFile : public PagedBag {
 public:
  explicit NtxFile(OrderHost* host);
  ~NtxFile() override;
  NtxFile(const NtxFile&) = delete;
  NtxFile& operator=(const NtxFile&) = delete;

  // Opens an existing bag and reads its header(s) under a read lock.
  Status Open(const std::string& path, bool shared, bool read_only);
  // Creates (truncates) a bag file; no order yet.
  Status Create(const std::string& path, bool shared, bool temporary, bool large);
  // Closes the file (deleting it when temporary). Writes nothing, raises nothing.
  void Close() noexcept;

  bool compound() const { return compound_; }
  bool large() const { return large_; }
  std::vector<std::unique_ptr<NtxOrder>>& ntx_orders() { return orders_; }
  size_t order_count() const override { return orders_.size(); }
  Order* order_at(size_t i) const override;

  Status RemoveOrderAndPages(Order* order) override;

  // --- pages ---
  // Reads (or finds in the cache) the page at a byte offset and checks its layout for the
  // order's key length; a bad page is "Corruption detected".
  Status ReadPage(const NtxOrder& order, uint64_t offset, PageRef* ref);
  void MarkChanged(PageRef* ref);
  // A fresh page for the order, from the free list or at the end of the file.
  Status NewPage(const NtxOrder& order, PageRef* ref);
  // Puts a page on the free list.
  Status FreePage(const NtxOrder& order, uint64_t offset);
  // An offset for a page the builder writes itself (from the free list or the end).
  Status TakePageOffset(const NtxOrder& order, uint64_t* offset);
  // Writes a run of whole pages at an offset (the builder's batch).
  Status WriteBlocks(const uint8_t* data, size_t count, uint64_t offset);
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
  void MarkHeaderChanged() override { header_changed_ = true; }
  // Adds an order; a file that then holds two or more becomes compound.
  Status AddOrder(std::unique_ptr<NtxOrder> order);
  // Removes an order's directory entry (compound files); kept until the change is over.
  void RemoveOrder(NtxOrder* order);
  // Reads the header block(s) and (re)builds the orders' header fields. first_open: the
  // orders are created; otherwise existing orders are updated (roots, flags), when block 0
  // changed or `force`.
  Status ReadHeaders(bool first_open, bool force = false);
  uint64_t free_page() const { return free_head_; }

 protected:
  bool HeadUnchanged(const uint8_t* head) const override;
  Status RereadShared() override { return unwritten_ ? kSuccess : ReadHeaders(false); }
  Status Reload() override { return unwritten_ ? kSuccess : ReadHeaders(false, true); }
  uint64_t FreeLink(const uint8_t* page) const override;
  void MakeFree(uint8_t* page, uint64_t next) const override;
  void SaveState() override;
  void RestoreState() noexcept override;
  bool WriteHeaders(bool pages_written) override;
  void ForgetDecoded() noexcept override;
  const char* EngineName() const override { return "ntx"; }

 private:
  bool compound_ = false;
  bool large_ = false;
  std::vector<std::unique_ptr<NtxOrder>> orders_;
  std::vector<std::unique_ptr<NtxOrder>> removed_;  // orders removed under the current change
  std::array<uint8_t, kNtxBlockSize> header_{};  // block 0 as last read or written
  uint32_t update_counter_ = 0;
  bool header_changed_ = false;
  bool unwritten_ = false;  // created here; no header on disk yet
  std::unordered_map<uint64_t, int64_t> subtree_counts_;
  bool path_change_ = false;
  // State at the first write lock, restored when a change is given up.
  struct SavedOrder {
    NtxOrder* order;
    uint64_t root;
    uint64_t header_offset;
  };
  struct Saved {
    std::vector<SavedOrder> orders;
    std::array<uint8_t, kNtxBlockSize> header{};
    uint32_t update_counter = 0;
    bool compound = false;
    bool header_changed = false;
    bool unwritten = false;
  } saved_;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_FILE_H_
