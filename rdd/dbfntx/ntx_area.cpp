#include "rdd/dbfntx/ntx_area.h"

#include <algorithm>
#include <cmath>

#include "expr/settings.h"
#include "platform/system.h"
#include "rdd/dbfntx/ntx_key.h"

namespace vosk {
namespace {

bool g_multi_tag = false;
int64_t g_sort_run_keys = 0;

// Lock schemes 1 and 2 place their locks alike.
int SchemePlacement(int scheme) { return scheme == 2 ? 1 : scheme; }

}  // namespace

void NtxArea::SetMultiTag(bool on) { g_multi_tag = on; }
bool NtxArea::MultiTag() { return g_multi_tag; }
void NtxArea::SetSortRunKeys(int64_t keys) { g_sort_run_keys = keys; }
int64_t NtxArea::SortRunKeys() { return g_sort_run_keys; }

std::unique_ptr<WorkArea> NewNtxArea(Driver* driver) { return std::make_unique<NtxArea>(driver); }

// A hot record is written with its keys before the bags go (the base close would write it
// without them).
NtxArea::~NtxArea() { CloseQuietly(); }

char NtxArea::KeyTypeOf(const Value& value, int* length, int* decimals) const {
  return NtxKeyTypeOf(value, length, decimals);
}

int NtxArea::MaxCharKeyLength() const { return kNtxMaxKeyLength; }

InternalError NtxArea::MultipleAppendError() const {
  return InternalError(9312, "ntxGoCold: multiple appending without GOCOLD.");
}

Status NtxArea::OpenBag(const std::string& path, std::unique_ptr<OrderBag>* out) {
  return OpenBagOf<NtxFile>(path, out);
}

Status NtxArea::AfterBagOpened(OrderBag* bag) {
  int scheme = lock_scheme_;
  for (Order* o : bag->orders()) {
    uint16_t flags = static_cast<NtxOrder*>(o)->flags();
    if (flags & kNtxFlagLarge) scheme = 5;
    else if (flags & kNtxFlagExtLock) scheme = 4;
  }
  if (scheme == 0) scheme = 1;
  // Locks already held were placed by the old scheme: their unlocks would miss them.
  if (SchemePlacement(scheme) != SchemePlacement(lock_scheme_) && lock_scheme_ != 0 &&
      (file_locked_ || !locks_.empty())) {
    bag->Error(kEgLock, kEdfLock);
    return kFailure;
  }
  lock_scheme_ = scheme;
  return kSuccess;
}

Status NtxArea::RebuildBag(OrderBag* b, const OrderCondition* scan) {
  auto* bag = static_cast<NtxFile*>(b);
  OrderWriteLock lock(bag, false);
  if (!lock.ok()) return kFailure;
  if (Failed(bag->TruncateToHeader())) return kFailure;
  if (bag->compound()) {
    for (auto& o : bag->ntx_orders()) {
      uint64_t off;
      if (Failed(bag->TakePageOffset(*o, &off))) return kFailure;
      o->set_header_offset(off);
    }
  }
  for (auto& o : bag->ntx_orders()) {
    o->cached_count = -1;
    if (Failed(BuildOrder(o.get(), scan))) return kFailure;
  }
  return lock.Release();
}

Status NtxArea::CreateOrder(const OrderCreateInfo& info, const OrderCondition* cond,
                            KeyDescription key, Order** created_order) {
  std::string file = BagFileFor(info);
  std::string name = !TrimBlanks(info.tag_name).empty() ? info.tag_name : PathBaseName(file);
  bool temporary = cond && cond->temporary;
  bool multi = g_multi_tag && !TrimBlanks(info.tag_name).empty() && !temporary;

  NtxFile* bag = nullptr;
  for (size_t i = 0; i < bags_.size(); ++i) {
    if (FullPath(bags_[i]->path()) != FullPath(file)) continue;
    if (multi) {
      if (bags_[i]->read_only()) {
        OrderError(kEgReadonly, kEdfReadonly, file);
        return kFailure;
      }
      bag = static_cast<NtxFile*>(bags_[i].get());
    } else {
      CloseBag(i);
    }
    break;
  }
  std::unique_ptr<NtxFile> fresh;
  if (!bag) {
    fresh = std::make_unique<NtxFile>(this);
    bool share = shared_ && !temporary && !(cond && cond->exclusive);
    if (multi && FileExists(file)) {
      if (Failed(fresh->Open(file, share, false))) return kFailure;
    } else {
      // A temporary bag lives in the temporary folder; any other is built beside its name.
      std::string path;
      if (temporary) {
        path = TemporaryBagPath(file);
      } else if (Failed(fresh->BuildBeside(file, share, &path))) {
        return kFailure;
      }
      if (Failed(fresh->Create(path, share, temporary, lock_scheme_ == 5))) return kFailure;
    }
    bag = fresh.get();
  }
  uint16_t extra = 0;
  if (lock_scheme_ == 4) extra |= kNtxFlagExtLock;
  bool partial = cond && (cond->while_block || !TrimBlanks(cond->while_text).empty() || cond->next > 0 ||
                          cond->rest || cond->record != 0 || cond->use_current || cond->use_filter);
  if (partial) extra |= kNtxFlagPartial;
  NtxOrder* o;
  {
    OrderWriteLock lock(bag);
    if (!lock.ok()) return kFailure;
    if (bag->compound()) {
      // An order of the same name is replaced.
      for (auto& x : bag->ntx_orders()) {
        if (x->name() == OrderNormalName(name)) {
          if (focus_ == x.get()) focus_ = nullptr;
          if (Failed(bag->RemoveOrderAndPages(x.get()))) return kFailure;
          break;
        }
      }
    } else if (!bag->ntx_orders().empty() && !multi) {
      bag->ntx_orders().clear();
    }
    auto created = std::make_unique<NtxOrder>(bag);
    created->Define(name, key.key_text, key.for_text, key.type, key.length, key.decimals,
                    info.unique, cond && cond->descending, cond && cond->custom, extra);
    created->key_expr = std::move(key.key_expr);
    created->for_expr = std::move(key.for_expr);
    created->key_block = key.key_block;
    created->for_block = key.for_block;
    o = created.get();
    bool single = bag->ntx_orders().empty();
    if (single && !bag->compound()) {
      if (Failed(bag->TruncateToHeader())) return kFailure;
      bag->ntx_orders().push_back(std::move(created));
      bag->MarkHeaderChanged();
    } else if (Failed(bag->AddOrder(std::move(created)))) {
      return kFailure;
    }
    if (Failed(CompileOrder(o))) return kFailure;
    if (Failed(BuildOrder(o, cond))) return kFailure;
    if (Failed(lock.Release())) return kFailure;
  }
  if (fresh && Failed(fresh->Publish())) return kFailure;
  if (fresh) {
    fresh->set_structural(IsStructuralName(file) && !temporary);
    bags_.push_back(std::move(fresh));
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

}  // namespace vosk
