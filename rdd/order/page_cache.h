#ifndef VOSK_RDD_ORDER_PAGE_CACHE_H_
#define VOSK_RDD_ORDER_PAGE_CACHE_H_

// The page images of one bag, keyed by byte offset, for any page size. Pages in use (held by
// a PageRef) and changed pages are kept; clean unused pages are dropped when the cache grows
// past its limit.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace vosk {

struct CachedPage {
  uint64_t offset = 0;
  int uses = 0;          // live PageRef handles
  bool changed = false;  // written when the write lock is released
  std::vector<uint8_t> data;
};

// A page held in the cache while the handle lives.
class PageRef {
 public:
  PageRef() = default;
  ~PageRef() { Release(); }
  PageRef(const PageRef&) = delete;
  PageRef& operator=(const PageRef&) = delete;
  PageRef(PageRef&& o) noexcept : page_(o.page_) { o.page_ = nullptr; }
  PageRef& operator=(PageRef&& o) noexcept {
    if (this != &o) {
      Release();
      page_ = o.page_;
      o.page_ = nullptr;
    }
    return *this;
  }

  uint8_t* data() { return page_->data.data(); }
  uint64_t offset() const { return page_->offset; }
  CachedPage* page() { return page_; }
  bool held() const { return page_ != nullptr; }
  void Reset(CachedPage* p) {
    Release();
    page_ = p;
    ++page_->uses;
  }
  void Release() {
    if (page_) --page_->uses;
    page_ = nullptr;
  }

 private:
  CachedPage* page_ = nullptr;
};

class PageCache {
 public:
  PageCache(size_t page_size, size_t clean_limit)
      : page_size_(page_size), clean_limit_(clean_limit) {}

  size_t page_size() const { return page_size_; }
  // The cached page at an offset, nullptr when absent.
  CachedPage* Find(uint64_t offset) const {
    auto it = pages_.find(offset);
    return it == pages_.end() ? nullptr : it->second.get();
  }
  // The page at an offset, a fresh zeroed one when absent.
  CachedPage* Slot(uint64_t offset);
  // Forgets a page (a failed read); a changed page leaves the changed list too.
  void Erase(uint64_t offset);
  // Forgets a page nobody holds (rewritten behind the cache); changed ones only when asked.
  void DropUnused(uint64_t offset, bool even_changed);
  // Marks a page for writing at the release of the write lock.
  void MarkChanged(CachedPage* p) {
    if (!p->changed) {
      p->changed = true;
      changed_.push_back(p);
    }
  }
  // The changed pages in offset order; the list is emptied, the pages stay marked.
  std::vector<CachedPage*> TakeChanged();
  bool has_changes() const { return !changed_.empty(); }
  // Drops every page: held pages lose their changes and are dropped when they come back.
  void Discard();
  void Clear() {
    changed_.clear();
    pages_.clear();
    next_sweep_ = 0;
  }

 private:
  size_t page_size_;
  size_t clean_limit_;
  size_t next_sweep_ = 0;  // the page count at which clean pages are looked for again
  std::unordered_map<uint64_t, std::unique_ptr<CachedPage>> pages_;
  std::vector<CachedPage*> changed_;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_PAGE_CACHE_H_
