#include "rdd/dbfcdx/cdx_bag.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/owned_file.h"
#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_tag.h"

namespace vosk {
namespace {

// Clean pages kept between operations; more are kept while they are in use or changed.
constexpr size_t kCacheCleanPages = 8192;

}  // namespace

CdxBag::CdxBag(OrderHost* host) : OrderBag(host), cache_(kCdxPageSize, kCacheCleanPages) {}

CdxBag::~CdxBag() { Close(); }

Order* CdxBag::order_at(size_t i) const { return tags_[i].get(); }

void CdxBag::Close() noexcept {
  cache_.Clear();
  CloseFile();
}

Status CdxBag::PageFault(const char* what, uint64_t page) const {
  std::fprintf(stderr, "%s: %s page=%llx\n", path_.c_str(), what,
               static_cast<unsigned long long>(page));
  return Corrupt();
}

Status CdxBag::Open(const std::string& path, bool shared, bool read_only) {
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
  int64_t size = file_.Size();
  if (size <= kCdxHeaderSize) {
    Error(kEgCorruption, kEdfCorrupt, 0, false, true);
    return kFailure;
  }
  if (Failed(ReadLock())) return kFailure;
  Status s;
  try {
    s = LoadTags();
  } catch (...) {
    ForceUnlock();
    throw;
  }
  ReadUnlock();
  return s;
}

Status CdxBag::LoadTags() {
  int64_t size = file_.Size();
  uint8_t h[kCdxHeaderSize];
  if (file_.ReadAt(h, kCdxHeaderSize, 0) != kCdxHeaderSize) return Corrupt();
  auto dir = std::make_unique<CdxTag>(this);
  if (!dir->DecodeHeader(h, static_cast<uint64_t>(size), true)) return Corrupt();
  dir->DefineDirectory();
  dir->set_root(GetLe32(h + kCdxHdrRoot));
  dir->set_header_offset(0);
  free_head_ = GetLe32(h + kCdxHdrFree);
  if (free_head_ == kCdxNone) free_head_ = 0;
  counter_ = GetBe32(h + kCdxHdrCounter);
  directory_ = std::move(dir);
  std::vector<CdxKeyEntry> names;
  if (Failed(directory_->AllKeys(&names))) return kFailure;
  std::vector<std::unique_ptr<CdxTag>> tags;
  for (const CdxKeyEntry& e : names) {
    uint64_t off = e.recno;
    if (off == 0 || off % kCdxPageSize != 0 || off + kCdxHeaderSize > static_cast<uint64_t>(size)) {
      return Corrupt();
    }
    uint8_t th[kCdxHeaderSize];
    if (file_.ReadAt(th, kCdxHeaderSize, static_cast<int64_t>(off)) != kCdxHeaderSize) {
      return Corrupt();
    }
    auto tag = std::make_unique<CdxTag>(this);
    if (!tag->DecodeHeader(th, static_cast<uint64_t>(size), false)) return Corrupt();
    std::string name = e.key;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
    tag->set_name(name);
    tag->set_header_offset(off);
    tags.push_back(std::move(tag));
  }
  std::sort(tags.begin(), tags.end(), [](const auto& a, const auto& b) {
    return a->header_offset() < b->header_offset();
  });
  tags_ = std::move(tags);
  return kSuccess;
}

Status CdxBag::Create(const std::string& path, bool shared, bool temporary) {
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
  return kSuccess;
}

Status CdxBag::Reset() {
  cache_.Discard();
  ++epoch_;
  head_map_.Unmap();  // nothing may read the head while the file is empty
  if (!file_.Truncate(0)) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  free_head_ = 0;
  next_page_ = kCdxHeaderSize;
  freed_.clear();
  version_changed_ = true;
  auto dir = std::make_unique<CdxTag>(this);
  dir->DefineDirectory();
  dir->set_header_offset(0);
  directory_ = std::move(dir);
  if (Failed(directory_->MakeEmptyRoot())) return kFailure;
  headers_changed_ = true;
  return WriteTagHeader(*directory_);
}

// --- locks ---

void CdxBag::DropCache() {
  cache_.Discard();
  ++epoch_;
  next_page_ = 0;
  for (auto& t : tags_) {
    t->Touch();
    t->cached_count = -1;
  }
  if (directory_) directory_->Touch();
}

bool CdxBag::HeadUnchanged(const uint8_t* head) const {
  uint32_t free_head = GetLe32(head + kCdxHdrFree);
  if (free_head == kCdxNone) free_head = 0;
  return free_head == free_head_ && GetBe32(head + kCdxHdrCounter) == counter_;
}

Status CdxBag::CheckVersion() {
  uint8_t b[8] = {};
  int64_t n = file_.ReadAt(b, 8, 4);
  if (n < 0) {
    Error(kEgRead, kEdfRead, file_.last_error());
    return kFailure;
  }
  uint32_t free_head = GetLe32(b), counter = GetBe32(b + 4);
  if (free_head == kCdxNone) free_head = 0;
  if (free_head != free_head_ || counter != counter_) {
    DropCache();
    free_head_ = free_head;
    counter_ = counter;
    // Roots may have moved: the tag headers are read again.
    int64_t size = file_.Size();
    for (auto& t : tags_) {
      uint8_t th[kCdxHeaderSize];
      if (file_.ReadAt(th, kCdxHeaderSize, static_cast<int64_t>(t->header_offset())) ==
          kCdxHeaderSize) {
        uint32_t root = GetLe32(th);
        t->set_root(root != 0 && root != kCdxNone && root % kCdxPageSize == 0 &&
                            root < static_cast<uint64_t>(size)
                        ? root
                        : 0);
      }
    }
    if (directory_) {
      uint8_t dh[4];
      if (file_.ReadAt(dh, 4, 0) == 4) directory_->set_root(GetLe32(dh));
    }
  }
  return kSuccess;
}

void CdxBag::BeginChange() {
  saved_free_head_ = free_head_;
  saved_next_page_ = next_page_;
  end_at_lock_ = 0;
  saved_roots_.clear();
  for (auto& t : tags_) saved_roots_.push_back({t.get(), t->root()});
  if (directory_) saved_roots_.push_back({directory_.get(), directory_->root()});
  freed_.clear();
  version_changed_ = false;
  wrote_ = false;
}

Status CdxBag::WriteVersion() {
  uint8_t b[8];
  PutLe32(b, free_head_);
  if (shared_) {
    ++counter_;
    PutBe32(b + 4, counter_);
    if (file_.WriteAt(b, 8, 4) != 8) {
      Error(kEgWrite, kEdfWrite, file_.last_error());
      return kFailure;
    }
  } else if (file_.WriteAt(b, 4, 4) != 4) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  return kSuccess;
}

Status CdxBag::EndChange(bool discard) {
  Status s = kSuccess;
  if (discard) {
    // Back to the state at the first write lock: nothing of the change was written.
    DropCache();
    free_head_ = saved_free_head_;
    next_page_ = saved_next_page_;
    for (auto& [tag, root] : saved_roots_) tag->set_root(root);
    freed_.clear();
    headers_changed_ = false;
    // Pages a build wrote at the end of the file (and new tag headers) are cut off again.
    if (end_at_lock_ != 0 && file_.Size() > static_cast<int64_t>(end_at_lock_)) {
      (void)file_.Truncate(end_at_lock_);
    }
    s = kFailure;
  } else {
    // Freed pages join the list: each one's first 4 bytes name the next.
    const bool freeing = !freed_.empty();
    for (uint64_t off : freed_) {
      CachedPage* p = cache_.Slot(off);
      std::fill(p->data.begin(), p->data.end(), 0);
      PutLe32(p->data.data(), free_head_);
      cache_.MarkChanged(p);
      free_head_ = static_cast<uint32_t>(off);
      version_changed_ = true;
    }
    freed_.clear();
    if (cache_.has_changes()) wrote_ = true;
    // Pages that follow one another in the file (a build's) go out in one write of up to
    // kFlushPages pages.
    std::vector<CachedPage*> changed = cache_.TakeChanged();
    for (size_t i = 0; i < changed.size();) {
      size_t n = 1;
      while (i + n < changed.size() && n < kFlushPages &&
             changed[i + n]->offset == changed[i]->offset + n * kCdxPageSize) {
        ++n;
      }
      const uint8_t* bytes = changed[i]->data.data();
      if (n > 1) {
        flush_buffer_.resize(n * kCdxPageSize);
        for (size_t k = 0; k < n; ++k) {
          std::memcpy(flush_buffer_.data() + k * kCdxPageSize, changed[i + k]->data.data(),
                      kCdxPageSize);
        }
        bytes = flush_buffer_.data();
      }
      const int64_t length = static_cast<int64_t>(n * kCdxPageSize);
      if (Ok(s) && file_.WriteAt(bytes, static_cast<size_t>(length),
                                 static_cast<int64_t>(changed[i]->offset)) != length) {
        Error(kEgWrite, kEdfWrite, file_.last_error());
        s = kFailure;
      }
      for (size_t k = 0; k < n; ++k) changed[i + k]->changed = false;
      if (i == 0 && n < changed.size()) {
        CrashPoint("index-flush");
        if (freeing) CrashPoint("index-flush-freeing");  // a join, a page left empty
      }
      i += n;
    }
    if (Ok(s) && headers_changed_) {
      // Roots that moved (a root split, a build) are written with their tags' headers.
      for (auto& t : tags_) {
        if (Ok(s)) s = WriteTagHeader(*t);
      }
      if (Ok(s) && directory_) s = WriteTagHeader(*directory_);
    }
    headers_changed_ = false;
    if (Ok(s) && (wrote_ || version_changed_)) s = WriteVersion();
    ++epoch_;
  }
  return s;
}

void CdxBag::DropChange() noexcept {
  cache_.Discard();
  ++epoch_;
  freed_.clear();
}

void CdxBag::MarkHeaderChanged() { headers_changed_ = true; }

// --- pages ---

Status CdxBag::ReadPage(uint64_t offset, PageRef* ref) {
  if (read_locks_ + write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexPageRead on not locked index file.");
  }
  if (offset < kCdxPageSize || offset % kCdxPageSize != 0 || offset == kCdxNone) {
    return PageFault("cdxPageGetChild: index corrupted.", offset);
  }
  CachedPage* cached = cache_.Find(offset);
  if (!cached) {
    CachedPage* p = cache_.Slot(offset);
    int64_t n = file_.ReadAt(p->data.data(), kCdxPageSize, static_cast<int64_t>(offset));
    if (n != kCdxPageSize) {
      cache_.Erase(offset);
      if (n < 0) {
        Error(kEgRead, kEdfRead, file_.last_error());
        return kFailure;
      }
      return PageFault("cdxIndexPageRead: Read index page failed.", offset);
    }
    cached = p;
  }
  ref->Reset(cached);
  return kSuccess;
}

void CdxBag::MarkChanged(PageRef* ref) {
  if (write_locks_ == 0) throw InternalError(9102, "cdxIndexPageWrite on not locked index file.");
  cache_.MarkChanged(ref->page());
  ++epoch_;
}

Status CdxBag::NewPage(PageRef* ref) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexGetAvailPage on not locked index file.");
  }
  uint64_t off;
  if (!freed_.empty()) {
    off = freed_.back();
    freed_.pop_back();
  } else if (free_head_ != 0) {
    off = free_head_;
    uint8_t b[4];
    CachedPage* known = cache_.Find(off);
    if (known) {
      std::memcpy(b, known->data.data(), 4);
    } else if (file_.ReadAt(b, 4, static_cast<int64_t>(off)) != 4) {
      throw InternalError(1010, "cdxIndexGetAvailPage: Read index page failed.\n" + path_ +
                                    "\n" + host_->TableFileName());
    }
    uint32_t next = GetLe32(b);
    free_head_ = next == kCdxNone ? 0 : next;
    version_changed_ = true;
  } else {
    off = TakeEnd(kCdxPageSize);
  }
  CachedPage* p = cache_.Slot(off);
  std::fill(p->data.begin(), p->data.end(), 0);
  ref->Reset(p);
  MarkChanged(ref);
  return kSuccess;
}

void CdxBag::FreePage(uint64_t offset) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexPutAvailPage on not locked index file.");
  }
  freed_.push_back(offset);
  ++epoch_;
}

uint64_t CdxBag::TakeEnd(uint64_t bytes) {
  if (next_page_ == 0) {
    int64_t size = file_.Size();
    next_page_ = static_cast<uint64_t>(std::max<int64_t>(size, kCdxHeaderSize));
    next_page_ = (next_page_ + kCdxPageSize - 1) / kCdxPageSize * kCdxPageSize;
  }
  const uint64_t offset = next_page_;
  if (end_at_lock_ == 0) end_at_lock_ = offset;
  next_page_ += bytes;
  return offset;
}

Status CdxBag::NewBuildPage(uint64_t* offset, bool* direct) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexGetAvailPage on not locked index file.");
  }
  *direct = freed_.empty() && free_head_ == 0;
  if (*direct) {
    *offset = TakeEnd(kCdxPageSize);
    return kSuccess;
  }
  PageRef ref;
  if (Failed(NewPage(&ref))) return kFailure;
  *offset = ref.offset();
  return kSuccess;
}

Status CdxBag::WriteBuiltPages(const uint8_t* pages, size_t count, uint64_t offset) {
  if (write_locks_ == 0) throw InternalError(9102, "cdxIndexPageWrite on not locked index file.");
  const int64_t length = static_cast<int64_t>(count * kCdxPageSize);
  if (file_.WriteAt(pages, static_cast<size_t>(length), static_cast<int64_t>(offset)) != length) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  wrote_ = true;
  ++epoch_;
  CrashPoint("index-flush");  // a build's first pages are out, the tag's header is not
  return kSuccess;
}

Status CdxBag::NewHeader(uint64_t* offset) {
  *offset = TakeEnd(kCdxHeaderSize);
  uint8_t zero[kCdxHeaderSize] = {};
  if (file_.WriteAt(zero, kCdxHeaderSize, static_cast<int64_t>(*offset)) != kCdxHeaderSize) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  wrote_ = true;
  return kSuccess;
}

Status CdxBag::WriteTagHeader(const CdxTag& tag) {
  uint8_t h[kCdxHeaderSize];
  tag.EncodeHeader(h);
  if (tag.header_offset() == 0) {
    PutLe32(h + kCdxHdrFree, free_head_);
    PutBe32(h + kCdxHdrCounter, counter_);
  }
  if (file_.WriteAt(h, kCdxHeaderSize, static_cast<int64_t>(tag.header_offset())) !=
      kCdxHeaderSize) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  wrote_ = true;
  return kSuccess;
}

// --- tags ---

Status CdxBag::AddTag(std::unique_ptr<CdxTag> tag) {
  std::string name = tag->name();
  name.resize(kCdxTagNameLength, ' ');
  bool added;
  if (Failed(directory_->Insert(name, static_cast<uint32_t>(tag->header_offset()), &added))) {
    return kFailure;
  }
  headers_changed_ = true;
  tags_.push_back(std::move(tag));
  std::sort(tags_.begin(), tags_.end(), [](const auto& a, const auto& b) {
    return a->header_offset() < b->header_offset();
  });
  return kSuccess;
}

Status CdxBag::DropTag(CdxTag* tag) {
  std::string name = tag->name();
  name.resize(kCdxTagNameLength, ' ');
  bool deleted;
  if (Failed(directory_->Delete(name, static_cast<uint32_t>(tag->header_offset()), &deleted))) {
    return kFailure;
  }
  if (!shared_) {
    if (Failed(tag->FreeTree())) return kFailure;
    FreePage(tag->header_offset());
    FreePage(tag->header_offset() + kCdxPageSize);
  }
  headers_changed_ = true;
  for (size_t i = 0; i < tags_.size(); ++i) {
    if (tags_[i].get() == tag) {
      tags_.erase(tags_.begin() + static_cast<long>(i));
      break;
    }
  }
  return kSuccess;
}

Status CdxBag::RemoveOrderAndPages(Order* order) {
  return DropTag(static_cast<CdxTag*>(order));
}

}  // namespace vosk
