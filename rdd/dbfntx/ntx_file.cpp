#include "rdd/dbfntx/ntx_file.h"

#include <algorithm>
#include <cstring>

#include "platform/owned_file.h"
#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_order.h"
#include "rdd/dbfntx/ntx_page.h"

namespace vosk {
namespace {

// Clean pages kept between operations; more are kept while they are in use or changed.
constexpr size_t kCacheCleanPages = 4096;

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

}  // namespace

NtxFile::NtxFile(OrderHost* host)
    : PagedBag(host, kNtxBlockSize, kCacheCleanPages, kNtxBlockSize) {}

NtxFile::~NtxFile() { Close(); }

Order* NtxFile::order_at(size_t i) const { return orders_[i].get(); }

void NtxFile::Close() noexcept {
  removed_.clear();
  ClosePages();
}

Status NtxFile::RemoveOrderAndPages(Order* order) {
  auto* o = static_cast<NtxOrder*>(order);
  if (Failed(o->FreeTree())) return kFailure;
  if (Failed(FreePage(*o, o->header_offset()))) return kFailure;
  RemoveOrder(o);
  return kSuccess;
}

Status NtxFile::Open(const std::string& path, bool shared, bool read_only) {
  if (Failed(OpenFile(path, shared, read_only))) return kFailure;
  unwritten_ = true;  // the first lock does not reread: the headers are read here
  if (Failed(ReadLock())) return kFailure;
  Status s;
  try {
    s = ReadHeaders(true);
  } catch (...) {
    unwritten_ = false;
    ForceUnlock();
    throw;
  }
  unwritten_ = false;
  ReadUnlock();
  return s;
}

Status NtxFile::Create(const std::string& path, bool shared, bool temporary, bool large) {
  large_ = large;
  if (Failed(CreateFile(path, shared, temporary))) return kFailure;
  unwritten_ = true;
  header_.fill(0);
  update_counter_ = 0;
  return kSuccess;
}

// --- headers ---

Status NtxFile::ReadHeaders(bool first_open, bool force) {
  std::array<uint8_t, kNtxBlockSize> block{};
  int64_t n = file_.ReadAt(block.data(), kNtxBlockSize, 0);
  if (n < 0) {
    Error(kEgRead, kEdfRead, file_.last_error());
    return kFailure;
  }
  if (n < kNtxBlockSize) return Corrupt();  // the header block is cut short
  // Every write raises the counter in block 0: an unchanged block 0 means nothing changed.
  if (!first_open && !force && std::memcmp(block.data(), header_.data(), kNtxBlockSize) == 0) {
    return kSuccess;
  }
  int64_t size = file_.Size();
  uint16_t sig = GetLe16(block.data());
  bool compound = (sig & kNtxFlagCompound) != 0;
  uint32_t counter;
  uint64_t free_page, next_page = 0;
  bool large = (sig & kNtxFlagLarge) != 0;
  auto offset_of = [&](uint32_t ref) {
    return large ? static_cast<uint64_t>(ref) * kNtxBlockSize : static_cast<uint64_t>(ref);
  };
  struct Dir {
    std::string name;
    uint64_t header;
  };
  std::vector<Dir> dir;
  if (compound) {
    int count = GetLe16(block.data() + kNtxCmpCount);
    if (count > kNtxMaxTags) return Corrupt();  // more orders than a directory holds
    counter = GetLe32(block.data() + kNtxCmpCounter);
    free_page = offset_of(GetLe32(block.data() + kNtxCmpFree));
    next_page = offset_of(GetLe32(block.data() + kNtxCmpNextPage));
    for (int i = 0; i < count; ++i) {
      const uint8_t* e = block.data() + kNtxCmpDirectory + i * kNtxCmpEntrySize;
      if (e[0] <= 32) return Corrupt();  // directory name missing
      uint32_t ref = GetLe32(e + kNtxCmpEntryHeader);
      if (ref == 0) return Corrupt();    // order without a header block
      dir.push_back({NtxNormalName(TextField(e, kNtxTagNameSize)), offset_of(ref)});
    }
  } else {
    counter = GetLe16(block.data() + kNtxHdrCounter);
    free_page = offset_of(GetLe32(block.data() + kNtxHdrFree));
    dir.push_back({"", 0});
  }
  bool changed = force || counter != update_counter_ || free_page != free_head_ ||
                 std::memcmp(block.data(), header_.data(), kNtxBlockSize) != 0;
  if (first_open) {
    compound_ = compound;
    large_ = large;
  } else if (compound != compound_ || large != large_) {
    return Corrupt();  // the file changed its layout under us
  }
  if (free_page % kNtxBlockSize != 0 || (size >= 0 && free_page >= static_cast<uint64_t>(size) &&
                                         free_page != 0)) {
    return Corrupt();  // free list outside the file
  }
  // Read every order header and check it before changing anything.
  std::vector<std::unique_ptr<NtxOrder>> fresh;
  for (const Dir& d : dir) {
    std::array<uint8_t, kNtxBlockSize> hb{};
    const uint8_t* h = block.data();
    if (compound) {
      if (d.header % kNtxBlockSize != 0) return Corrupt();
      int64_t r = file_.ReadAt(hb.data(), kNtxBlockSize, d.header);
      if (r < 0) {
        Error(kEgRead, kEdfRead, file_.last_error());
        return kFailure;
      }
      if (r < kNtxBlockSize) return Corrupt();  // header block beyond the end
      h = hb.data();
    }
    auto o = std::make_unique<NtxOrder>(this);
    if (!o->DecodeHeader(h)) return Corrupt();
    if (o->root() % kNtxBlockSize != 0 || o->root() == 0 ||
        (size >= 0 && o->root() >= static_cast<uint64_t>(size))) {
      return Corrupt();  // root outside the file
    }
    o->set_header_offset(d.header);
    if (compound) o->set_name(d.name);
    else if (o->name().empty()) o->set_name(NtxNormalName(BaseNameOf(path_)));
    fresh.push_back(std::move(o));
  }
  header_ = block;
  update_counter_ = counter;
  free_head_ = free_page;
  next_append_ = next_page;
  if (next_append_ == 0 && size >= 0) {
    next_append_ = (static_cast<uint64_t>(size) + kNtxBlockSize - 1) / kNtxBlockSize * kNtxBlockSize;
  }
  if (next_append_ < kNtxBlockSize) next_append_ = kNtxBlockSize;
  if (first_open) {
    orders_ = std::move(fresh);
    return kSuccess;
  }
  if (!changed) return kSuccess;
  // Another process wrote the file: the cache is stale; take roots and flags again.
  DiscardCache();
  for (auto& o : orders_) {
    NtxOrder* match = nullptr;
    for (auto& f : fresh) {
      if (f->name() == o->name()) match = f.get();
    }
    if (match) {
      o->set_root(match->root());
      o->set_flags(match->flags());
      o->set_header_offset(match->header_offset());
    } else {
      o->set_root(0);  // the order vanished
    }
    o->Touch();
    o->cached_count = -1;
  }
  return kSuccess;
}

bool NtxFile::WriteHeaders(bool pages_written) {
  // Any changed page raises the update counter, so that other processes drop their cached
  // copies.
  if (pages_written) header_changed_ = true;
  if (!header_changed_) return true;
  ++update_counter_;
  std::array<uint8_t, kNtxBlockSize> block{};
  if (!compound_) {
    if (orders_.empty()) return true;
    orders_[0]->EncodeHeader(block.data(), update_counter_ & 0xFFFF, RefOf(free_head_));
  } else {
    PutLe16(block.data() + kNtxCmpSignature,
            static_cast<uint16_t>(kNtxFlagCompound | (large_ ? kNtxFlagLarge : 0)));
    PutLe16(block.data() + kNtxCmpCount, static_cast<uint16_t>(orders_.size()));
    PutLe32(block.data() + kNtxCmpCounter, update_counter_);
    PutLe32(block.data() + kNtxCmpFree, RefOf(free_head_));
    PutLe32(block.data() + kNtxCmpNextPage, RefOf(next_append_));
    for (size_t i = 0; i < orders_.size(); ++i) {
      uint8_t* e = block.data() + kNtxCmpDirectory + i * kNtxCmpEntrySize;
      std::memcpy(e, orders_[i]->name().data(),
                  std::min<size_t>(orders_[i]->name().size(), kNtxMaxTagName));
      PutLe32(e + kNtxCmpEntryHeader, RefOf(orders_[i]->header_offset()));
      std::array<uint8_t, kNtxBlockSize> hb{};
      orders_[i]->EncodeHeader(hb.data(), 0, 0);
      if (!WriteHeaderBytes(hb.data(), kNtxBlockSize, orders_[i]->header_offset())) return false;
    }
  }
  if (!WriteHeaderBytes(block.data(), kNtxBlockSize, 0)) return false;
  header_ = block;
  header_changed_ = false;
  unwritten_ = false;
  return true;
}

Status NtxFile::AddOrder(std::unique_ptr<NtxOrder> order) {
  if (!orders_.empty() && !compound_) {
    // Convert to the compound layout: each order gets a header block of its own.
    compound_ = true;
    for (auto& o : orders_) {
      uint64_t off;
      if (Failed(TakePageOffset(*o, &off))) return kFailure;
      o->set_header_offset(off);
    }
  }
  if (compound_) {
    if (orders_.size() >= static_cast<size_t>(kNtxMaxTags)) {
      Error(kEgLimit, 1027);
      return kFailure;
    }
    uint64_t off;
    if (Failed(TakePageOffset(*order, &off))) return kFailure;
    order->set_header_offset(off);
  }
  orders_.push_back(std::move(order));
  header_changed_ = true;
  return kSuccess;
}

void NtxFile::RemoveOrder(NtxOrder* order) {
  for (size_t i = 0; i < orders_.size(); ++i) {
    if (orders_[i].get() == order) {
      removed_.push_back(std::move(orders_[i]));
      orders_.erase(orders_.begin() + static_cast<long>(i));
      break;
    }
  }
  header_changed_ = true;
}

// --- locks ---

bool NtxFile::HeadUnchanged(const uint8_t* head) const {
  static_assert(kHeadBytes == kNtxBlockSize, "the head is block 0");
  return !unwritten_ && std::memcmp(head, header_.data(), kNtxBlockSize) == 0;
}

void NtxFile::SaveState() {
  removed_.clear();
  saved_.orders.clear();
  for (auto& o : orders_) saved_.orders.push_back({o.get(), o->root(), o->header_offset()});
  saved_.header = header_;
  saved_.update_counter = update_counter_;
  saved_.compound = compound_;
  saved_.header_changed = header_changed_;
  saved_.unwritten = unwritten_;
}

void NtxFile::RestoreState() noexcept {
  // The order list as it was: removed orders come back, added ones go.
  std::vector<std::unique_ptr<NtxOrder>> all = std::move(orders_);
  for (auto& o : removed_) all.push_back(std::move(o));
  removed_.clear();
  orders_.clear();
  for (const SavedOrder& saved : saved_.orders) {
    for (auto& o : all) {
      if (o.get() != saved.order) continue;
      o->set_root(saved.root);
      o->set_header_offset(saved.header_offset);
      orders_.push_back(std::move(o));
      break;
    }
  }
  header_ = saved_.header;
  update_counter_ = saved_.update_counter;
  compound_ = saved_.compound;
  header_changed_ = saved_.header_changed;
  unwritten_ = saved_.unwritten;
}

void NtxFile::ForgetDecoded() noexcept {
  ForgetSubtreeCounts();
  for (auto& o : orders_) {
    o->Touch();
    o->cached_count = -1;
  }
}

uint64_t NtxFile::FreeLink(const uint8_t* page) const {
  const int item = GetLe16(page + kNtxPageOffsets);
  if (item + 4 > kNtxBlockSize) return kBadLink;  // item 0 beyond the page
  return OffsetOf(GetLe32(page + item));
}

void NtxFile::MakeFree(uint8_t* page, uint64_t next) const {
  std::memset(page, 0, kNtxBlockSize);
  constexpr int kItem = kNtxPageOffsets + 2;  // one item, right after its offset
  PutLe16(page + kNtxPageOffsets, kItem);
  PutLe32(page + kItem, RefOf(next));
}

// --- pages ---

namespace {

bool NtxPageFits(const uint8_t* page, const void* order) {
  const auto* o = static_cast<const NtxOrder*>(order);
  return NtxPageView(const_cast<uint8_t*>(page), o->key_length(), o->max_keys()).Check();
}

}  // namespace

Status NtxFile::ReadPage(const NtxOrder& order, uint64_t offset, PageRef* ref) {
  if (read_locks_ + write_locks_ == 0) {
    throw InternalError(9103, "ntxBlockRead on not locked index file.");
  }
  // A page reference must name a whole block past the header.
  if (offset < kNtxBlockSize || offset % kNtxBlockSize != 0) return Corrupt();
  switch (FetchPage(offset, ref, NtxPageFits, &order)) {
    case Fetched::kOk:
      return kSuccess;
    case Fetched::kFailed:
      return kFailure;
    default:
      return Corrupt();  // beyond the end of the file, or not a page of this order
  }
}

Status NtxFile::PeekPages(const NtxOrder& order, uint64_t offset, int count, uint8_t* out) {
  if (read_locks_ + write_locks_ == 0) {
    throw InternalError(9103, "ntxBlockRead on not locked index file.");
  }
  if (offset < kNtxBlockSize || offset % kNtxBlockSize != 0) return Corrupt();
  size_t bytes = static_cast<size_t>(count) * kNtxBlockSize;
  int64_t n = file_.ReadAt(out, bytes, offset);
  if (n < 0) {
    Error(kEgRead, kEdfRead, file_.last_error());
    return kFailure;
  }
  if (static_cast<size_t>(n) != bytes) return Corrupt();  // pages beyond the end of the file
  for (int i = 0; i < count; ++i) {
    uint8_t* page = out + static_cast<size_t>(i) * kNtxBlockSize;
    CachedPage* cached = cache_.Find(offset + static_cast<uint64_t>(i) * kNtxBlockSize);
    if (cached) std::memcpy(page, cached->data.data(), kNtxBlockSize);
    if (!NtxPageView(page, order.key_length(), order.max_keys()).Check()) return Corrupt();
  }
  return kSuccess;
}

void NtxFile::MarkChanged(PageRef* ref) {
  if (write_locks_ == 0) throw InternalError(9102, "ntxBlockWrite on not locked index file.");
  CachedPage* p = ref->page();
  if (path_change_) ForgetSubtreeCount(p->offset);
  else ForgetSubtreeCounts();
  MarkPage(p);
}

Status NtxFile::TakePageOffset(const NtxOrder& order, uint64_t* offset) {
  const bool from_list = free_head_ != 0;
  if (Failed(TakePage(offset))) return kFailure;
  if (from_list) cache_.DropUnused(*offset, true);
  header_changed_ = true;
  return kSuccess;
}

Status NtxFile::NewPage(const NtxOrder& order, PageRef* ref) {
  uint64_t offset;
  if (Failed(TakePageOffset(order, &offset))) return kFailure;
  CachedPage* p = cache_.Slot(offset);
  NtxPageView(p->data.data(), order.key_length(), order.max_keys()).Init();
  ref->Reset(p);
  MarkChanged(ref);
  return kSuccess;
}

Status NtxFile::FreePage(const NtxOrder& order, uint64_t offset) {
  CachedPage* p = cache_.Slot(offset);
  if (p->uses > 0) throw InternalError(9305, "ntxPageGetBuffer: page used.");
  NtxPageView v(p->data.data(), order.key_length(), order.max_keys());
  v.Init();
  v.set_child(0, RefOf(free_head_));
  PageRef ref;
  ref.Reset(p);
  MarkChanged(&ref);
  free_head_ = offset;
  header_changed_ = true;
  return kSuccess;
}

Status NtxFile::WriteBlocks(const uint8_t* data, size_t count, uint64_t offset) {
  if (write_locks_ == 0) throw InternalError(9102, "ntxBlockWrite on not locked index file.");
  ForgetSubtreeCounts();
  return WriteBuilt(data, count * kNtxBlockSize, offset);
}

Status NtxFile::TruncateToHeader() {
  if (Failed(CutFile(kNtxBlockSize))) return kFailure;
  update_counter_ = 0;
  header_changed_ = true;
  return kSuccess;
}

}  // namespace vosk
