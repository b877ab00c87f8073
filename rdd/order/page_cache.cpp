#include "rdd/order/page_cache.h"

#include <algorithm>

namespace vosk {

CachedPage* PageCache::Slot(uint64_t offset) {
  auto it = pages_.find(offset);
  if (it != pages_.end()) return it->second.get();
  if (pages_.size() >= std::max(clean_limit_, next_sweep_)) {
    // Drop clean pages that nobody holds. When most pages are changed or held (a build), the
    // next sweep waits until as many pages again have come, so that a change of many pages
    // costs no sweep per page.
    for (auto e = pages_.begin(); e != pages_.end() && pages_.size() > clean_limit_ / 2;) {
      if (e->second->uses == 0 && !e->second->changed) {
        e = pages_.erase(e);
      } else {
        ++e;
      }
    }
    next_sweep_ = pages_.size() + clean_limit_ / 2;
  }
  auto p = std::make_unique<CachedPage>();
  p->offset = offset;
  p->data.assign(page_size_, 0);
  CachedPage* raw = p.get();
  pages_.emplace(offset, std::move(p));
  return raw;
}

void PageCache::Erase(uint64_t offset) {
  auto it = pages_.find(offset);
  if (it == pages_.end()) return;
  if (it->second->changed) {
    auto c = std::find(changed_.begin(), changed_.end(), it->second.get());
    if (c != changed_.end()) changed_.erase(c);
  }
  pages_.erase(it);
}

void PageCache::DropUnused(uint64_t offset, bool even_changed) {
  auto it = pages_.find(offset);
  if (it == pages_.end() || it->second->uses > 0) return;
  if (it->second->changed && !even_changed) return;
  Erase(offset);
}

std::vector<CachedPage*> PageCache::TakeChanged() {
  std::vector<CachedPage*> out;
  out.swap(changed_);
  std::sort(out.begin(), out.end(),
            [](CachedPage* a, CachedPage* b) { return a->offset < b->offset; });
  return out;
}

void PageCache::Discard() {
  for (auto it = pages_.begin(); it != pages_.end();) {
    if (it->second->uses > 0) {
      it->second->changed = false;
      ++it;  // held by a live handle; dropped when it comes back
    } else {
      it = pages_.erase(it);
    }
  }
  changed_.clear();
  next_sweep_ = 0;
}

}  // namespace vosk
