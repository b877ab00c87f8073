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

CdxBag::CdxBag(OrderHost* host)
    : PagedBag(host, kCdxPageSize, kCacheCleanPages, kCdxHeaderSize) {}

CdxBag::~CdxBag() { Close(); }

Order* CdxBag::order_at(size_t i) const { return tags_[i].get(); }

void CdxBag::Close() noexcept {
  removed_.clear();
  ClosePages();
}

Status CdxBag::PageFault(const char* what, uint64_t page) const {
  std::fprintf(stderr, "%s: %s page=%llx\n", path_.c_str(), what,
               static_cast<unsigned long long>(page));
  return Corrupt();
}

Status CdxBag::Open(const std::string& path, bool shared, bool read_only) {
  if (Failed(OpenFile(path, shared, read_only))) return kFailure;
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
  next_append_ = 0;
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
  return CreateFile(path, shared, temporary);
}

Status CdxBag::Reset() {
  head_map_.Unmap();  // nothing may read the head while the file is empty
  if (Failed(CutFile(0))) return kFailure;
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

void CdxBag::ForgetDecoded() noexcept {
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

Status CdxBag::CheckVersion(bool force) {
  uint8_t b[8] = {};
  int64_t n = file_.ReadAt(b, 8, 4);
  if (n < 0) {
    Error(kEgRead, kEdfRead, file_.last_error());
    return kFailure;
  }
  uint32_t free_head = GetLe32(b), counter = GetBe32(b + 4);
  if (free_head == kCdxNone) free_head = 0;
  if (!force && free_head == free_head_ && counter == counter_) return kSuccess;
  DiscardCache();
  next_append_ = 0;
  free_head_ = free_head;
  counter_ = counter;
  // Roots may have moved: the tag headers are read again.
  int64_t size = file_.Size();
  auto read_root = [&](CdxTag* t) {
    uint8_t th[4];
    const int64_t r = file_.ReadAt(th, 4, static_cast<int64_t>(t->header_offset()));
    if (r < 0) {
      Error(kEgRead, kEdfRead, file_.last_error());
      return kFailure;
    }
    if (r < 4) return Corrupt();  // the tag's header lies beyond the end of the file
    uint32_t root = GetLe32(th);
    t->set_root(root != 0 && root != kCdxNone && root % kCdxPageSize == 0 &&
                        root < static_cast<uint64_t>(size)
                    ? root
                    : 0);
    return kSuccess;
  };
  for (auto& t : tags_) {
    if (Failed(read_root(t.get()))) return kFailure;
  }
  return directory_ ? read_root(directory_.get()) : kSuccess;
}

void CdxBag::SaveState() {
  removed_.clear();
  saved_roots_.clear();
  for (auto& t : tags_) saved_roots_.push_back({t.get(), t->root()});
  if (directory_) saved_roots_.push_back({directory_.get(), directory_->root()});
  saved_counter_ = counter_;
  saved_headers_changed_ = headers_changed_;
  version_changed_ = false;
  wrote_ = false;
}

void CdxBag::RestoreState() noexcept {
  // The tag list as it was: dropped tags come back, added ones go.
  std::vector<std::unique_ptr<CdxTag>> all = std::move(tags_);
  for (auto& t : removed_) all.push_back(std::move(t));
  removed_.clear();
  tags_.clear();
  for (auto& [tag, root] : saved_roots_) {
    if (tag == directory_.get()) {
      tag->set_root(root);
      continue;
    }
    for (auto& t : all) {
      if (t.get() != tag) continue;
      t->set_root(root);
      tags_.push_back(std::move(t));
      break;
    }
  }
  counter_ = saved_counter_;
  headers_changed_ = saved_headers_changed_;
  version_changed_ = wrote_ = false;
}

uint64_t CdxBag::FreeLink(const uint8_t* page) const {
  const uint32_t next = GetLe32(page);
  return next == kCdxNone ? 0 : next;
}

void CdxBag::MakeFree(uint8_t* page, uint64_t next) const {
  std::memset(page, 0, kCdxPageSize);
  PutLe32(page, static_cast<uint32_t>(next));
}

bool CdxBag::WriteVersion() {
  uint8_t b[8];
  PutLe32(b, static_cast<uint32_t>(free_head_));
  if (!shared_) return WriteHeaderBytes(b, 4, 4);
  ++counter_;
  PutBe32(b + 4, counter_);
  return WriteHeaderBytes(b, 8, 4);
}

bool CdxBag::WriteHeader(const CdxTag& tag) {
  uint8_t h[kCdxHeaderSize];
  tag.EncodeHeader(h);
  if (tag.header_offset() == 0) {
    PutLe32(h + kCdxHdrFree, static_cast<uint32_t>(free_head_));
    PutBe32(h + kCdxHdrCounter, counter_);
  }
  return WriteHeaderBytes(h, kCdxHeaderSize, tag.header_offset());
}

bool CdxBag::WriteHeaders(bool pages_written) {
  if (pages_written) wrote_ = true;
  if (headers_changed_) {
    // Roots that moved (a root split, a build) are written with their tags' headers.
    for (auto& t : tags_) {
      if (!WriteHeader(*t)) return false;
    }
    if (directory_ && !WriteHeader(*directory_)) return false;
    headers_changed_ = false;
  }
  return !(wrote_ || version_changed_) || WriteVersion();
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
  switch (FetchPage(offset, ref)) {
    case Fetched::kOk:
      return kSuccess;
    case Fetched::kFailed:
      return kFailure;
    default:
      return PageFault("cdxIndexPageRead: Read index page failed.", offset);
  }
}

void CdxBag::MarkChanged(PageRef* ref) {
  if (write_locks_ == 0) throw InternalError(9102, "cdxIndexPageWrite on not locked index file.");
  MarkPage(ref->page());
  ++epoch_;
}

Status CdxBag::NewPage(PageRef* ref) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexGetAvailPage on not locked index file.");
  }
  const uint64_t head = free_head_;
  uint64_t off;
  if (Failed(TakePage(&off))) return kFailure;
  if (free_head_ != head) version_changed_ = true;
  ref->Reset(FreshPage(off));
  return kSuccess;
}

void CdxBag::FreePage(uint64_t offset) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexPutAvailPage on not locked index file.");
  }
  DeferFree(offset);
  ++epoch_;
}

Status CdxBag::NewBuildPage(uint64_t* offset, bool* direct) {
  if (write_locks_ == 0) {
    throw InternalError(9102, "cdxIndexGetAvailPage on not locked index file.");
  }
  *direct = !has_freed() && free_head_ == 0;
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
  if (Failed(WriteBuilt(pages, count * kCdxPageSize, offset))) return kFailure;
  wrote_ = true;
  CrashPoint("index-flush");  // a build's first pages are out, the tag's header is not
  return kSuccess;
}

Status CdxBag::NewHeader(uint64_t* offset) {
  *offset = TakeEnd(kCdxHeaderSize);
  const uint8_t zero[kCdxHeaderSize] = {};
  if (Failed(WriteBuilt(zero, kCdxHeaderSize, *offset))) return kFailure;
  wrote_ = true;
  return kSuccess;
}

Status CdxBag::WriteTagHeader(const CdxTag& tag) {
  uint8_t h[kCdxHeaderSize];
  tag.EncodeHeader(h);
  if (tag.header_offset() == 0) {
    PutLe32(h + kCdxHdrFree, static_cast<uint32_t>(free_head_));
    PutBe32(h + kCdxHdrCounter, counter_);
  }
  if (Failed(WriteBuilt(h, kCdxHeaderSize, tag.header_offset()))) return kFailure;
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
      removed_.push_back(std::move(tags_[i]));
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
