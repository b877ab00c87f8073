#include "rdd/order/paged_bag.h"

#include <algorithm>
#include <cstring>

#include "platform/os_error.h"
#include "platform/owned_file.h"

namespace vosk {

PagedBag::PagedBag(OrderHost* host, size_t page_size, size_t clean_pages, uint64_t first_page)
    : OrderBag(host), cache_(page_size, clean_pages), page_size_(page_size),
      first_page_(first_page) {}

Status PagedBag::OpenFile(const std::string& path, bool shared, bool read_only) {
  path_ = path;
  shared_ = shared;
  read_only_ = read_only;
  for (;;) {
    int rc = file_.Open(path, read_only ? Access::kRead : Access::kReadWrite,
                        shared ? Share::kDenyNone : Share::kExclusive);
    if (rc == 0) break;
    if (!Error(kEgOpen, 1003, rc, true).retry()) return kFailure;
  }
  path_ = file_.path();
  return kSuccess;
}

Status PagedBag::CreateFile(const std::string& path, bool shared, bool temporary) {
  path_ = path;
  shared_ = shared;
  temporary_ = temporary;
  read_only_ = false;
  for (;;) {
    int rc = file_.Create(path, shared ? Share::kDenyNone : Share::kExclusive);
    if (rc == 0) break;
    if (!Error(kEgCreate, 1006, rc, true).retry()) return kFailure;
  }
  path_ = file_.path();
  free_head_ = 0;
  next_append_ = first_page_;
  return kSuccess;
}

void PagedBag::ClosePages() noexcept {
  cache_.Clear();
  freed_.clear();
  journal_.clear();
  changing_ = stale_ = cut_ = false;
  CloseFile();
}

void PagedBag::DiscardCache() {
  cache_.Discard();
  ++epoch_;
  ForgetDecoded();
}

// --- pages ---

PagedBag::Fetched PagedBag::FetchPage(uint64_t offset, PageRef* ref, PageCheck check,
                                      const void* context) {
  if (stale_) {
    // Only a lock reads the bag again; a page asked for before that is refused.
    Error(kEgRead, kEdfRead);
    return Fetched::kFailed;
  }
  if (CachedPage* cached = cache_.Find(offset)) {
    ref->Reset(cached);
    return Fetched::kOk;
  }
  CachedPage* p = cache_.Slot(offset);
  const int64_t n = file_.ReadAt(p->data.data(), page_size_, offset);
  if (n != static_cast<int64_t>(page_size_)) {
    cache_.Erase(offset);
    if (n >= 0) return Fetched::kShort;
    Error(kEgRead, kEdfRead, file_.last_error());
    return Fetched::kFailed;
  }
  if (check && !check(p->data.data(), context)) {
    cache_.Erase(offset);
    return Fetched::kRefused;
  }
  ref->Reset(p);
  return Fetched::kOk;
}

CachedPage* PagedBag::FreshPage(uint64_t offset) {
  CachedPage* p = cache_.Slot(offset);
  std::fill(p->data.begin(), p->data.end(), 0);
  cache_.MarkChanged(p);
  ++epoch_;
  return p;
}

Status PagedBag::TakePage(uint64_t* offset) {
  if (!freed_.empty()) {
    *offset = freed_.back();
    freed_.pop_back();
    return kSuccess;
  }
  if (free_head_ == 0) {
    *offset = TakeEnd(page_size_);
    return kSuccess;
  }
  PageRef head;
  switch (FetchPage(free_head_, &head)) {
    case Fetched::kOk:
      break;
    case Fetched::kFailed:
      return kFailure;
    default:
      return Corrupt();  // the free list names a page beyond the end of the file
  }
  const uint64_t next = FreeLink(head.data());
  if (next == kBadLink || next == free_head_ || (next != 0 && next < first_page_) ||
      next % page_size_ != 0) {
    return Corrupt();  // the free list's link is not a page of the file
  }
  *offset = free_head_;
  free_head_ = next;
  return kSuccess;
}

uint64_t PagedBag::TakeEnd(uint64_t bytes) {
  if (next_append_ == 0) {
    const int64_t size = file_.Size();
    next_append_ = std::max<uint64_t>(size > 0 ? static_cast<uint64_t>(size) : 0, first_page_);
    next_append_ = (next_append_ + page_size_ - 1) / page_size_ * page_size_;
  }
  const uint64_t offset = next_append_;
  next_append_ += bytes;
  return offset;
}

Status PagedBag::WriteBuilt(const uint8_t* data, size_t bytes, uint64_t offset) {
  if (offset >= static_cast<uint64_t>(start_size_)) {
    if (file_.WriteAt(data, bytes, offset) != static_cast<int64_t>(bytes)) {
      Error(kEgWrite, kEdfWrite, file_.last_error());
      return kFailure;
    }
    for (uint64_t at = offset; at < offset + bytes; at += page_size_) {
      cache_.DropUnused(at, false);
    }
    ++epoch_;
    return kSuccess;
  }
  // A page the file had at the start of the change is written only with the change.
  for (size_t done = 0; done < bytes; done += page_size_) {
    CachedPage* p = cache_.Slot(offset + done);
    std::memcpy(p->data.data(), data + done, std::min(page_size_, bytes - done));
    cache_.MarkChanged(p);
  }
  ++epoch_;
  return kSuccess;
}

Status PagedBag::CutFile(uint64_t size) {
  DiscardCache();
  cut_ = true;
  start_size_ = std::min<int64_t>(start_size_, static_cast<int64_t>(size));
  if (!file_.Truncate(size)) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  freed_.clear();
  free_head_ = 0;
  next_append_ = std::max<uint64_t>(size, first_page_);
  return kSuccess;
}

// --- the change ---

Status PagedBag::Reread(bool reread) {
  if (stale_) {
    stale_ = false;
    DiscardCache();
    if (Failed(Reload())) {
      stale_ = true;
      return kFailure;
    }
    return kSuccess;
  }
  return reread ? RereadShared() : kSuccess;
}

void PagedBag::BeginChange() {
  const int64_t size = file_.Size();
  // A size not known: every page is kept before it is written, and nothing is cut.
  start_size_ = size >= 0 ? size : INT64_MAX;
  saved_free_head_ = free_head_;
  saved_next_append_ = next_append_;
  freed_.clear();
  journal_.clear();
  cut_ = false;
  changing_ = true;
  SaveState();
}

Status PagedBag::EndChange(bool discard) {
  if (!discard) return Flush();
  // Nothing of the change was written but pages beyond the start size: they are cut off.
  flush_error_ = 0;
  Undo();
  if (flush_error_ != 0) Error(kEgWrite, kEdfWrite, flush_error_);
  return kFailure;
}

void PagedBag::DropChange() noexcept {
  if (changing_) Undo();
}

bool PagedBag::WriteKept(const uint8_t* data, size_t bytes, uint64_t offset, bool journal) {
  if (journal && offset < static_cast<uint64_t>(start_size_)) {
    Journal j{offset, std::vector<uint8_t>(
                          std::min<uint64_t>(bytes, static_cast<uint64_t>(start_size_) - offset))};
    const int64_t n = file_.ReadAt(j.bytes.data(), j.bytes.size(), offset);
    if (n < 0) {
      flush_error_ = file_.last_error();
      return false;
    }
    j.bytes.resize(static_cast<size_t>(n));
    journal_.push_back(std::move(j));
  }
  if (file_.WriteAt(data, bytes, offset) != static_cast<int64_t>(bytes)) {
    flush_error_ = file_.last_error() != 0 ? file_.last_error() : kOsDiskFull;
    return false;
  }
  return true;
}

bool PagedBag::WriteHeaderBytes(const uint8_t* data, size_t bytes, uint64_t offset) {
  return WriteKept(data, bytes, offset, true);
}

bool PagedBag::WriteRuns(const std::vector<CachedPage*>& pages, size_t begin, size_t end,
                         bool existing, bool freeing) {
  // Pages that follow one another in the file go out in one write of up to kRunPages pages.
  constexpr size_t kRunPages = 128;
  for (size_t i = begin; i < end;) {
    size_t n = 1;
    while (i + n < end && n < kRunPages &&
           pages[i + n]->offset == pages[i]->offset + n * page_size_) {
      ++n;
    }
    const uint8_t* bytes = pages[i]->data.data();
    if (n > 1) {
      run_.resize(n * page_size_);
      for (size_t k = 0; k < n; ++k) {
        std::memcpy(run_.data() + k * page_size_, pages[i + k]->data.data(), page_size_);
      }
      bytes = run_.data();
    }
    if (!WriteKept(bytes, n * page_size_, pages[i]->offset, existing)) return false;
    if (i == begin && (existing ? i + n < end || end < pages.size() : begin == 0 && i + n < end)) {
      // Part of the tree is out (the existing pages first, if any), the rest and the headers
      // are not.
      CrashPoint("index-flush");
      if (freeing) CrashPoint("index-flush-freeing");  // a join, a page left empty
    }
    i += n;
  }
  return true;
}

Status PagedBag::Flush() {
  flush_error_ = 0;
  journal_.clear();
  // Pages freed under the change join the free list: each names the next.
  const bool freeing = !freed_.empty();
  for (uint64_t offset : freed_) {
    CachedPage* p = FreshPage(offset);
    MakeFree(p->data.data(), free_head_);
    free_head_ = offset;
  }
  freed_.clear();
  const bool pages_written = cache_.has_changes();
  std::vector<CachedPage*> changed = cache_.TakeChanged();  // in offset order
  const size_t existing = static_cast<size_t>(
      std::partition_point(changed.begin(), changed.end(),
                           [&](CachedPage* p) {
                             return p->offset < static_cast<uint64_t>(start_size_);
                           }) -
      changed.begin());
  bool ok = WriteRuns(changed, existing, changed.size(), false, freeing) &&
            WriteRuns(changed, 0, existing, true, freeing) && WriteHeaders(pages_written);
  for (CachedPage* p : changed) p->changed = false;
  ++epoch_;
  if (ok) {
    journal_.clear();
    changing_ = false;
    if (pages_written || !changed.empty()) unsynced_ = true;
    return kSuccess;
  }
  const int os_code = flush_error_;
  flush_error_ = 0;
  Undo();
  Error(kEgWrite, kEdfWrite, os_code);
  return kFailure;
}

void PagedBag::Undo() noexcept {
  // Old bytes back, the last written first: a later write may overlap an earlier one.
  for (auto j = journal_.rbegin(); j != journal_.rend(); ++j) {
    if (file_.WriteAt(j->bytes.data(), j->bytes.size(), j->offset) !=
        static_cast<int64_t>(j->bytes.size())) {
      break;  // what is on the disk now is read again at the next lock
    }
  }
  journal_.clear();
  const int64_t size = file_.Size();
  if (size > start_size_ && !file_.Truncate(static_cast<uint64_t>(start_size_))) {
    flush_error_ = file_.last_error() != 0 ? file_.last_error() : kOsGeneric;
  }
  cache_.Discard();
  ++epoch_;
  freed_.clear();
  if (!cut_) {
    free_head_ = saved_free_head_;
    next_append_ = saved_next_append_;
    RestoreState();
  }
  ForgetDecoded();
  cut_ = false;
  changing_ = false;
  stale_ = true;
}

}  // namespace vosk
