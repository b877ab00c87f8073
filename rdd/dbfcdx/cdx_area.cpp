#include "rdd/dbfcdx/cdx_area.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "expr/settings.h"
#include "platform/owned_file.h"
#include "platform/system.h"
#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_key.h"

namespace vosk {
namespace {

int64_t g_sort_run_keys = 0;

int64_t FileSizeOf(const std::string& path) {
  File f;
  if (f.Open(path, Access::kRead, Share::kDenyNone) != 0) return -1;
  return f.Size();
}


}  // namespace

// The run size of a build: ceil(sqrt(R)) doubled while below 1 MB of entries, at most R;
// temporary-file failures are internal errors.
SortPolicy CdxSortPolicy() {
  SortPolicy p;
  p.temp_prefix = "cdxsort";
  p.run_size = [](uint64_t expected, int key_length) {
    uint64_t r = std::max<uint64_t>(expected, 1);
    int64_t m = static_cast<int64_t>(std::ceil(std::sqrt(static_cast<double>(r))));
    while (m < 1048576 / (key_length + 4)) m *= 2;
    return std::min<int64_t>(m, static_cast<int64_t>(r));
  };
  p.on_error = [](SortPolicy::Stage stage, int, const std::string&) {
    switch (stage) {
      case SortPolicy::Stage::kCreate:
        throw InternalError(9301, "cdxSortWritePage: Can't create temporary file.");
      case SortPolicy::Stage::kWrite:
        throw InternalError(9302, "cdxSortWritePage: Write error in temporary file.");
      case SortPolicy::Stage::kRead:
        throw InternalError(9303, "cdxSortGetPageKey: Read error from temporary file.");
    }
  };
  return p;
}

void CdxArea::SetSortRunKeys(int64_t keys) { g_sort_run_keys = keys; }

std::unique_ptr<WorkArea> NewCdxArea(Driver* driver) { return std::make_unique<CdxArea>(driver); }

CdxArea::~CdxArea() { bags_.clear(); }

char CdxArea::KeyTypeOf(const Value& value, int* length, int* decimals) const {
  *decimals = 0;
  return CdxKeyTypeOf(value, length);
}

InternalError CdxArea::MultipleAppendError() const {
  return InternalError(9201, "cdxGoCold: multiple appending without GOCOLD.");
}

Status CdxArea::OpenBag(const std::string& path, std::unique_ptr<OrderBag>* out) {
  return OpenBagOf<CdxBag>(path, out);
}

Status CdxArea::AfterBagOpened(OrderBag* bag) {
  // The structural bag stands first in the order list.
  if (bag->structural() && bags_.size() > 1 && bags_.back().get() == bag) {
    std::rotate(bags_.begin(), bags_.end() - 1, bags_.end());
  }
  return kSuccess;
}

Status CdxArea::RebuildBag(OrderBag* b, const OrderCondition* scan) {
  auto* bag = static_cast<CdxBag*>(b);
  OrderWriteLock lock(bag, false);
  if (!lock.ok()) return kFailure;
  // Every tag is created again with its old parameters in a fresh file.
  std::vector<CdxTag*> tags;
  for (auto& t : bag->tags()) tags.push_back(t.get());
  if (Failed(bag->Reset())) return kFailure;
  for (CdxTag* t : tags) {
    uint64_t off;
    if (Failed(bag->NewHeader(&off))) return kFailure;
    t->set_header_offset(off);
    t->cached_count = -1;
    if (Failed(BuildTag(t, scan))) return kFailure;
    std::string name = t->name();
    name.resize(kCdxTagNameLength, ' ');
    bool added;
    if (Failed(bag->directory()->Insert(name, static_cast<uint32_t>(off), &added))) {
      return kFailure;
    }
  }
  bag->MarkHeaderChanged();
  return lock.Release();
}

Status CdxArea::CreateOrder(const OrderCreateInfo& info, const OrderCondition* cond,
                            KeyDescription key, Order** created_order) {
  if (key.key_text.size() + key.for_text.size() >= 511) {
    OrderError(kEgDataWidth, 1054, key.key_text);
    return kFailure;
  }
  if (key.type == 'C' && key.length > kCdxMaxKeyLength) {
    if (OrderError(kEgDataWidth, 1026, key.key_text, true).kind != ErrorAnswer::Kind::kDefault) {
      return kFailure;
    }
    key.length = kCdxMaxKeyLength;
  }
  // A tag on an integer field alone holds 4-byte integer keys, as Visual FoxPro writes them.
  const int field = KeyFieldIndex(key.key_text);
  if (key.type == 'N' && field >= 0) {
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.kind == FieldKind::kInteger && f.decimals == 0) key.length = kCdxIntegerKeyLength;
  }
  std::string file = BagFileFor(info);
  bool named = !TrimBlanks(info.tag_name).empty();
  std::string name = OrderNormalName(named ? info.tag_name : PathBaseName(file));
  bool temporary = cond && cond->temporary;

  // A tag added to a bag that exists goes into a copy of the bag, which takes the bag's name
  // once written whole: a failure part-way (a full disk) or a kill leaves the bag as it was.
  // This area's own open of the bag closes first and, when the tag is not added, the bag is
  // opened again as it was in the list, with the order that controlled.
  size_t position = bags_.size();
  struct Reopen {
    std::function<void()> open;
    ~Reopen() {
      if (!open) return;
      try {
        open();
      } catch (...) {
        // Told through the error handler; the area goes on without the bag.
      }
    }
  } reopen;
  for (size_t i = 0; i < bags_.size(); ++i) {
    if (FullPath(bags_[i]->path()) != FullPath(file)) continue;
    if (named && !temporary) {
      OrderBag* open = bags_[i].get();
      if (open->read_only()) {
        OrderError(kEgReadonly, kEdfReadonly, file);
        return kFailure;
      }
      std::string focus;
      for (Order* o : open->orders()) {
        if (o == focus_) focus = o->name();
      }
      position = i;
      reopen.open = [this, path = open->path(), share = open->shared(),
                     structural = open->structural(), focus, i] {
        auto again = std::make_unique<CdxBag>(this);
        if (Failed(again->Open(path, share, false))) return;
        again->set_structural(structural);
        for (auto& t : again->tags()) {
          if (Failed(CompileOrder(t.get()))) return;
        }
        for (auto& t : again->tags()) {
          if (t->name() == focus) focus_ = t.get();
        }
        bags_.insert(bags_.begin() + static_cast<long>(std::min(i, bags_.size())),
                     std::move(again));
      };
    }
    CloseBag(i);
    break;
  }
  std::unique_ptr<CdxBag> fresh = std::make_unique<CdxBag>(this);
  CdxBag* bag = fresh.get();
  bool reset = false;
  {
    bool share = shared_ && !temporary && !(cond && cond->exclusive);
    if (named && !temporary && FileExists(file)) {
      // An existing bag gets the tag in its copy; an empty or header-only file starts afresh.
      std::string path;
      if (FileSizeOf(file) <= kCdxHeaderSize) {
        if (Failed(fresh->Create(file, share, false))) return kFailure;
        reset = true;
      } else {
        if (Failed(fresh->CopyBeside(file, &path)) || Failed(fresh->Open(path, share, false))) {
          return kFailure;
        }
        // Its tags are kept current with the new one.
        for (auto& t : fresh->tags()) {
          if (Failed(CompileOrder(t.get()))) return kFailure;
        }
      }
    } else {
      // A temporary bag lives in the temporary folder; any other is built beside its name.
      std::string path;
      if (temporary) {
        path = TemporaryBagPath(file);
      } else if (Failed(fresh->BuildBeside(file, share, &path))) {
        return kFailure;
      }
      if (Failed(fresh->Create(path, share, temporary))) return kFailure;
      reset = true;
    }
  }
  CdxTag* o;
  {
    OrderWriteLock lock(bag);
    if (!lock.ok()) return kFailure;
    if (reset && Failed(bag->Reset())) return kFailure;
    for (auto& x : bag->tags()) {
      if (x->name() == name) {
        // A tag of the same name is replaced.
        if (focus_ == x.get()) focus_ = nullptr;
        if (Failed(bag->DropTag(x.get()))) return kFailure;
        break;
      }
    }
    auto created = std::make_unique<CdxTag>(bag);
    created->Define(name, key.key_text, key.for_text, key.type, key.length, info.unique,
                    cond && cond->descending, cond && cond->custom, false);
    created->set_candidate(cond && cond->candidate && !cond->custom);
    created->key_expr = std::move(key.key_expr);
    created->for_expr = std::move(key.for_expr);
    created->key_block = key.key_block;
    created->for_block = key.for_block;
    o = created.get();
    uint64_t off;
    if (Failed(bag->NewHeader(&off))) return kFailure;
    created->set_header_offset(off);
    if (Failed(CompileOrder(o))) return kFailure;
    if (Failed(BuildTag(o, cond))) return kFailure;
    if (Failed(bag->AddTag(std::move(created)))) return kFailure;
    if (Failed(lock.Release())) return kFailure;
  }
  CrashPoint("bag-tag-added");
  if (Failed(fresh->Publish())) return kFailure;
  reopen.open = nullptr;
  bool structural = IsStructuralName(file) && !temporary;
  fresh->set_structural(structural);
  if (structural) {
    bags_.insert(bags_.begin(), std::move(fresh));
    if (!structural_bag_ && GlobalSettings().autopen()) {
      structural_bag_ = true;
      header_dirty_ = true;
    }
  } else {
    bags_.insert(bags_.begin() + static_cast<long>(std::min(position, bags_.size())),
                 std::move(fresh));
  }
  if (!(cond && cond->additive)) {
    for (size_t i = bags_.size(); i-- > 0;) {
      if (bags_[i].get() == bag || bags_[i]->structural()) continue;
      CloseBag(i);
    }
  }
  *created_order = o;
  return kSuccess;
}

// --- building ---

namespace {

struct IntItem {
  std::string key;
  uint32_t recno;
  uint32_t child;
};

// Writes a tag's tree bottom-up from keys in order: leaves filled left to right with the
// entry width chosen for the table's largest record number, interior levels of at most M
// entries; each page linked to its left neighbour; the last page of the top level is the root.
// Pages at the end of the file go out in batches of consecutive pages, past the page cache.
class CdxTreeWriter {
 public:
  CdxTreeWriter(CdxBag* bag, CdxTag* tag, uint32_t max_recno)
      : bag_(bag), tag_(tag), k_(tag->key_length()), m_(tag->max_interior()),
        pad_(tag->pad()), widths_(CdxChooseWidths(tag->key_length(), max_recno)),
        max_recno_(max_recno) {}

  Status Add(const uint8_t* key, uint32_t recno) {
    ++keys_;
    int bytes = EntryBytes(key);
    if (!leaf_.empty() && leaf_bytes_ + bytes > kCdxLeafArea) {
      if (Failed(CloseLeaf(true))) return kFailure;
      bytes = EntryBytes(key);
    }
    if (leaf_.empty() && Failed(Open(0))) return kFailure;
    leaf_.push_back({std::string(reinterpret_cast<const char*>(key), static_cast<size_t>(k_)),
                     recno});
    leaf_bytes_ += bytes;
    return kSuccess;
  }

  uint64_t keys() const { return keys_; }

  Status Finish() {
    if (leaf_.empty() && levels_.empty()) {
      // No keys: an empty root leaf.
      if (Failed(Open(0))) return kFailure;
    }
    if (Failed(CloseLeaf(false))) return kFailure;
    for (size_t l = 1; l < levels_.size(); ++l) {
      if (Failed(CloseInterior(l, false))) return kFailure;
    }
    return Flush();
  }

 private:
  struct Level {
    uint64_t offset = 0;  // the open page (0: none yet)
    bool direct = false;  // written past the cache
    uint32_t left = kCdxNone;
    std::vector<IntItem> items;  // interior levels
  };

  int EntryBytes(const uint8_t* k) const {
    int trl = 0;
    while (trl < k_ && k[k_ - 1 - trl] == pad_) ++trl;
    int dup = 0;
    if (!leaf_.empty()) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(leaf_.back().key.data());
      while (dup < k_ - trl && p[dup] == k[dup]) ++dup;
    }
    return widths_.bytes + k_ - dup - trl;
  }

  Status Open(size_t level) {
    if (level >= levels_.size()) levels_.resize(level + 1);
    if (levels_[level].offset == 0) {
      return bag_->NewBuildPage(&levels_[level].offset, &levels_[level].direct);
    }
    return kSuccess;
  }

  // Hands a finished page image to the file (a batch of consecutive end pages) or the cache.
  Status Emit(const Level& lv) {
    if (!lv.direct) {
      PageRef ref;
      if (Failed(bag_->ReadPage(lv.offset, &ref))) return kFailure;
      std::memcpy(ref.data(), image_.data(), kCdxPageSize);
      bag_->MarkChanged(&ref);
      return kSuccess;
    }
    if (batch_count_ > 0 && (batch_count_ == kBatchPages ||
                             lv.offset != batch_start_ + batch_count_ * kCdxPageSize)) {
      if (Failed(Flush())) return kFailure;
    }
    if (batch_count_ == 0) batch_start_ = lv.offset;
    std::memcpy(batch_.data() + batch_count_ * kCdxPageSize, image_.data(), kCdxPageSize);
    ++batch_count_;
    return kSuccess;
  }

  Status Flush() {
    if (batch_count_ == 0) return kSuccess;
    Status s = bag_->WriteBuiltPages(batch_.data(), batch_count_, batch_start_);
    batch_count_ = 0;
    return s;
  }

  // Closes the open page of a level; more: a next page follows on this level.
  Status CloseLeaf(bool more) {
    Level& lv = levels_[0];
    Level next;
    if (more && Failed(bag_->NewBuildPage(&next.offset, &next.direct))) return kFailure;
    uint32_t right = more ? static_cast<uint32_t>(next.offset) : kCdxNone;
    bool root = !more && levels_.size() == 1;
    uint16_t attr = root ? kCdxAttrRoot : 0;
    if (!CdxEncodeLeaf(leaf_, 0, leaf_.size(), k_, pad_, attr, lv.left, right, max_recno_,
                       image_.data())) {
      return bag_->PageFault("cdxPageLeafEncode: FreeSpace calculated wrong!.", lv.offset);
    }
    if (Failed(Emit(lv))) return kFailure;
    uint32_t off = static_cast<uint32_t>(lv.offset);
    if (root) tag_->set_root(off);
    std::string last = leaf_.empty() ? std::string(static_cast<size_t>(k_), '\0') : leaf_.back().key;
    uint32_t last_rec = leaf_.empty() ? 0 : leaf_.back().recno;
    leaf_.clear();
    leaf_bytes_ = 0;
    lv.left = off;
    lv.offset = next.offset;
    lv.direct = next.direct;
    if (!root) return Up(1, last, last_rec, off);
    return kSuccess;
  }

  Status Up(size_t level, const std::string& key, uint32_t recno, uint32_t child) {
    if (level >= 64) throw InternalError(9304, "cdxSortOut: memory structure corrupted.");
    if (Failed(Open(level))) return kFailure;
    Level& lv = levels_[level];
    if (static_cast<int>(lv.items.size()) == m_ && Failed(CloseInterior(level, true))) {
      return kFailure;
    }
    levels_[level].items.push_back({key, recno, child});
    return kSuccess;
  }

  Status CloseInterior(size_t level, bool more) {
    Level& lv = levels_[level];
    Level next;
    if (more && Failed(bag_->NewBuildPage(&next.offset, &next.direct))) return kFailure;
    uint32_t right = more ? static_cast<uint32_t>(next.offset) : kCdxNone;
    bool root = !more && level + 1 == levels_.size();
    uint8_t* p = image_.data();
    std::fill(p, p + kCdxPageSize, 0);
    PutLe16(p + kCdxPageAttr, root ? kCdxAttrRoot : 0);
    PutLe16(p + kCdxPageCount, static_cast<uint16_t>(lv.items.size()));
    PutLe32(p + kCdxPageLeft, lv.left);
    PutLe32(p + kCdxPageRight, right);
    for (size_t i = 0; i < lv.items.size(); ++i) {
      uint8_t* e = p + kCdxIntEntries + i * static_cast<size_t>(k_ + 8);
      std::copy(lv.items[i].key.begin(), lv.items[i].key.end(), e);
      PutBe32(e + k_, lv.items[i].recno);
      PutBe32(e + k_ + 4, lv.items[i].child);
    }
    if (Failed(Emit(lv))) return kFailure;
    uint32_t off = static_cast<uint32_t>(lv.offset);
    IntItem last = lv.items.back();
    lv.items.clear();
    lv.left = off;
    lv.offset = next.offset;
    lv.direct = next.direct;
    if (root) {
      tag_->set_root(off);
      return kSuccess;
    }
    return Up(level + 1, last.key, last.recno, off);
  }

  static constexpr size_t kBatchPages = 64;
  CdxBag* bag_;
  CdxTag* tag_;
  int k_;
  int m_;
  uint8_t pad_;
  CdxLeafWidths widths_;
  uint32_t max_recno_;
  uint64_t keys_ = 0;
  std::vector<Level> levels_;
  std::vector<CdxKeyEntry> leaf_;
  int leaf_bytes_ = 0;
  std::array<uint8_t, kCdxPageSize> image_{};
  std::vector<uint8_t> batch_ = std::vector<uint8_t>(kBatchPages * kCdxPageSize);
  size_t batch_count_ = 0;
  uint64_t batch_start_ = 0;
};

}  // namespace

Status CdxArea::BuildTag(CdxTag* o, const OrderCondition* cond) {
  CdxBag* bag = o->cdx_bag();
  o->cached_count = -1;
  o->Touch();
  if (o->custom()) return o->MakeEmptyRoot();
  uint32_t count = 0;
  if (Failed(record_count(&count))) return kFailure;
  KeySorter sorter(CdxSortPolicy(), o->key_length(), false, true, count, g_sort_run_keys);
  if (Failed(ScanKeys(o, cond, &sorter))) return kFailure;
  CdxTreeWriter writer(bag, o, count);
  Status s = sorter.Finish(
      WrittenKeys(cond, [&](const uint8_t* k, uint32_t r) -> Status { return writer.Add(k, r); }),
      o->unique());
  if (Failed(s)) return kFailure;
  if (Failed(writer.Finish())) return kFailure;
  bag->MarkHeaderChanged();
  o->Touch();
  if (!o->scoped()) o->cached_count = static_cast<int64_t>(writer.keys());
  return kSuccess;
}

}  // namespace vosk
