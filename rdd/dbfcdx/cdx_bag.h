#ifndef VOSK_RDD_DBFCDX_CDX_BAG_H_
#define VOSK_RDD_DBFCDX_CDX_BAG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/order/order_bag.h"
#include "rdd/order/page_cache.h"

namespace vosk {

class CdxTag;

// An open CDX file: the directory tag, the tags (in header-offset order), the page cache, the
// counted locks with the version check, and the free-page list.
//
// Invariants:
//  - Pages are read only under a lock, changed only under the write lock, and written when
//    the last write lock is released (dropped when the change is abandoned).
//  - In shared mode the cached pages are valid while the free-list head and the update counter
//    at file offset 4 are the ones last seen; the first lock compares them.
class CdxBag : public OrderBag {
 public:
  explicit CdxBag(OrderHost* host);
  ~CdxBag() override;

  // Opens an existing bag: the directory and every tag header are loaded and checked under a
  // read lock; a damaged or too short file is error 32/1012.
  Status Open(const std::string& path, bool shared, bool read_only);
  // Creates (truncates) a bag file with an empty directory; written at the write unlock.
  Status Create(const std::string& path, bool shared, bool temporary);
  void Close() noexcept;

  size_t order_count() const override { return tags_.size(); }
  Order* order_at(size_t i) const override;
  const std::vector<std::unique_ptr<CdxTag>>& tags() const { return tags_; }
  CdxTag* directory() const { return directory_.get(); }
  File& file() { return file_; }

  void MarkHeaderChanged() override;
  Status RemoveOrderAndPages(Order* order) override;

  // --- pages ---
  // Reads (or finds in the cache) the page at a byte offset; a reference outside the file or
  // not on a page boundary, or a short read, is error 32/1012.
  Status ReadPage(uint64_t offset, PageRef* ref);
  void MarkChanged(PageRef* ref);
  // A fresh zeroed page (freed in this lock, else from the free list, else at the end).
  Status NewPage(PageRef* ref);
  // Returns a page to the free list (written at the release of the write lock).
  void FreePage(uint64_t offset);
  // Two new pages at the end of the file for a tag header.
  Status NewHeader(uint64_t* offset);
  // A page for a bulk build: a freed or free-list page is a changed cache page as from
  // NewPage (*direct false); a page at the end of the file (*direct true) stays out of the
  // cache and is written by the builder with WriteBuiltPages (nothing refers to it before the
  // tag's header is written at the release of the write lock).
  Status NewBuildPage(uint64_t* offset, bool* direct);
  Status WriteBuiltPages(const uint8_t* pages, size_t count, uint64_t offset);
  // Changes whenever a cached page may have changed: decoded leaves older than it are stale.
  uint64_t epoch() const override { return epoch_; }

  // --- tags ---
  // Adds a tag (header already placed) to the directory and the list; write lock held.
  Status AddTag(std::unique_ptr<CdxTag> tag);
  // Drops the tag's directory key and, unless shared, frees its pages and header.
  Status DropTag(CdxTag* tag);
  // Empties the file to a fresh directory (rebuild; a damaged existing file).
  Status Reset();
  // Writes a tag's header image at its offset (at once; write lock held).
  Status WriteTagHeader(const CdxTag& tag);
  // A data-integrity fault of a page: the diagnostic goes to standard error and the bag
  // raises error 32/1012.
  Status PageFault(const char* what, uint64_t page) const;

 protected:
  bool HeadUnchanged(const uint8_t* head) const override;
  Status Reread(bool reread) override { return reread ? CheckVersion() : kSuccess; }
  void BeginChange() override;
  Status EndChange(bool discard) override;
  void DropChange() noexcept override;
  const char* EngineName() const override { return "cdx"; }

 private:
  Status LoadTags();
  Status CheckVersion();
  void DropCache();
  Status WriteVersion();
  // Bytes at the end of the file (the next page position, learnt from the file size first).
  uint64_t TakeEnd(uint64_t bytes);

  static constexpr size_t kFlushPages = 128;
  PageCache cache_;
  std::vector<uint8_t> flush_buffer_;
  std::unique_ptr<CdxTag> directory_;
  std::vector<std::unique_ptr<CdxTag>> tags_;
  uint32_t counter_ = 0;
  uint32_t free_head_ = 0;     // 0: empty
  uint64_t next_page_ = 0;     // 0: unknown (taken from the file size)
  std::vector<uint64_t> freed_;  // pages freed under the current write lock
  bool version_changed_ = false;  // free list changed under this write lock
  bool wrote_ = false;            // something was written under this write lock
  bool headers_changed_ = false;  // tag headers are written at the release
  uint64_t epoch_ = 1;
  // State at the first write lock, restored when a change is abandoned.
  uint32_t saved_free_head_ = 0;
  uint64_t saved_next_page_ = 0;
  uint64_t end_at_lock_ = 0;  // the end of the file before pages were taken there (0: none)
  std::vector<std::pair<CdxTag*, uint64_t>> saved_roots_;
  std::vector<std::unique_ptr<CdxTag>> saved_tags_;
  bool saved_valid_ = false;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_BAG_H_
