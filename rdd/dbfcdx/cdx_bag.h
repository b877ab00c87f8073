#ifndef VOSK_RDD_DBFCDX_CDX_BAG_H_
#define VOSK_RDD_DBFCDX_CDX_BAG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"
#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/order/paged_bag.h"

namespace vosk {

class CdxTag;

// An open CDX file: the directory tag, the tags (in header-offset order) and the version check;
// the pages reach the file through PagedBag.
//
// Invariants:
//  - Pages are read only under a lock, changed only under the write lock, and written when
//    the last write lock is released (dropped when the change is abandoned).
//  - In shared mode the cached pages are valid while the free-list head and the update counter
//    at file offset 4 are the ones last seen; the first lock compares them.
//  - A free page is zeroed but for its first 4 bytes, which name the next free page.
class CdxBag : public PagedBag {
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
  // epoch() changes whenever a cached page may have changed: decoded leaves older than it are
  // stale.

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
  Status RereadShared() override { return CheckVersion(false); }
  Status Reload() override { return CheckVersion(true); }
  uint64_t FreeLink(const uint8_t* page) const override;
  void MakeFree(uint8_t* page, uint64_t next) const override;
  void SaveState() override;
  void RestoreState() noexcept override;
  bool WriteHeaders(bool pages_written) override;
  void ForgetDecoded() noexcept override;
  const char* EngineName() const override { return "cdx"; }

 private:
  Status LoadTags();
  // Under a new lock: the version at offset 4 read again; when it moved (or `force`), the
  // cache is dropped and the roots are read again.
  Status CheckVersion(bool force);
  bool WriteVersion();
  bool WriteHeader(const CdxTag& tag);

  std::unique_ptr<CdxTag> directory_;
  std::vector<std::unique_ptr<CdxTag>> tags_;
  std::vector<std::unique_ptr<CdxTag>> removed_;  // tags dropped under the current change
  uint32_t counter_ = 0;
  bool version_changed_ = false;  // free list changed under this write lock
  bool wrote_ = false;            // something was written under this write lock
  bool headers_changed_ = false;  // tag headers are written at the release
  // State at the first write lock, restored when a change is given up.
  std::vector<std::pair<CdxTag*, uint64_t>> saved_roots_;  // the tags in order, directory last
  uint32_t saved_counter_ = 0;
  bool saved_headers_changed_ = false;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_BAG_H_
