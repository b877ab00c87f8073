// Building the open bags of an area again (reindex, pack, zap): each bag goes on in a new file
// beside its own, its orders are built there as they are defined, and the new file takes the
// bag's name only once whole. A failure or a kill at any moment leaves the bag as it was or as
// rebuilt. In a pack or zap the bags are built for the rewritten records before the table's
// files are swapped in, and those in the table's folder take their names in the same swap.

#include "platform/owned_file.h"
#include "rdd/order/indexed_area.h"
#include "rdd/table_rewrite.h"

namespace vosk {
namespace {

// A bag whose rebuild is under way: opened again as it was unless the rebuild got far enough.
class BagUnderRebuild {
 public:
  BagUnderRebuild(std::function<void()> undo) : undo_(std::move(undo)) {}
  ~BagUnderRebuild() {
    if (undo_) undo_();
  }
  void Keep() { undo_ = nullptr; }
  BagUnderRebuild(const BagUnderRebuild&) = delete;
  BagUnderRebuild& operator=(const BagUnderRebuild&) = delete;

 private:
  std::function<void()> undo_;
};

}  // namespace

void IndexedArea::ReopenBag(size_t index) noexcept {
  OrderBag* b = bags_[index].get();
  const std::string path = b->final_path().empty() ? b->path() : b->final_path();
  const bool structural = b->structural();
  std::string focus;
  for (Order* o : b->orders()) {
    if (o == focus_) focus = o->name();
  }
  CloseBag(index);
  try {
    std::unique_ptr<OrderBag> again;
    if (Failed(OpenBag(path, &again))) return;
    again->set_structural(structural);
    for (Order* o : again->orders()) {
      if (Failed(CompileOrder(o))) return;
    }
    for (Order* o : again->orders()) {
      if (!focus.empty() && o->name() == focus) focus_ = o;
    }
    bags_.insert(bags_.begin() + static_cast<long>(std::min(index, bags_.size())),
                 std::move(again));
  } catch (...) {
    // Told through the error handler; the area goes on without the bag.
  }
}

Status IndexedArea::RebuildAll(const OrderCondition* scan) {
  for (size_t i = 0; i < bags_.size(); ++i) {
    OrderBag* b = bags_[i].get();
    // A temporary bag is this process's own file: built again where it is.
    if (b->temporary()) {
      if (Failed(RebuildBag(b, scan))) return kFailure;
      continue;
    }
    if (Failed(b->RebuildBeside(OrderBag::BesideName(b->path())))) return kFailure;
    BagUnderRebuild rebuild([this, i] { ReopenBag(i); });
    if (Failed(RebuildBag(b, scan))) return kFailure;
    CrashPoint("bag-rebuilt");
    if (Failed(b->Publish())) return kFailure;
    rebuild.Keep();
  }
  return go_top();
}

Status IndexedArea::BuildBesideRewrite(TableRewrite* rw, const std::vector<uint32_t>& renumber) {
  swapped_bags_.clear();
  renumber_ = &renumber;
  struct Done {
    const std::vector<uint32_t>** renumber;
    ~Done() { *renumber = nullptr; }
  } done{&renumber_};
  const std::string dir = DirectoryOf(file_name_);
  const std::string part = FilePartOf(file_name_);
  // Owned names after the table's base name: the next open of the table removes those of a
  // rewrite killed before its swap.
  const std::string prefix = part.substr(0, part.find_last_of('.')) + ".";
  for (size_t i = 0; i < bags_.size(); ++i) {
    OrderBag* b = bags_[i].get();
    if (b->temporary()) continue;  // built after the swap
    const bool beside_table = FullPath(DirectoryOf(b->path())) == FullPath(dir);
    const std::string build_path =
        beside_table ? OwnedFileName(dir, prefix, "-" + FilePartOf(b->path()) + ".new")
                     : OrderBag::BesideName(b->path());
    if (Failed(b->RebuildBeside(build_path))) return kFailure;
    BagUnderRebuild rebuild([this, i] { ReopenBag(i); });
    if (Failed(RebuildBag(b))) return kFailure;
    CrashPoint("bag-rebuilt");
    rebuild.Keep();
    if (beside_table) {
      rw->AddBuilt(b->building_file(), b->final_path());
      swapped_bags_.push_back(b);
    }
  }
  return kSuccess;
}

void IndexedArea::AfterRewriteSwap(bool committed) noexcept {
  for (size_t i = bags_.size(); i-- > 0;) {
    OrderBag* b = bags_[i].get();
    if (!b->building_file()) continue;
    const bool swapped =
        std::find(swapped_bags_.begin(), swapped_bags_.end(), b) != swapped_bags_.end();
    if (committed && swapped) {
      b->Published();
    } else if (!committed) {
      ReopenBag(i);
    }
  }
  swapped_bags_.clear();
}

Status IndexedArea::FinishRewrite() {
  for (size_t i = 0; i < bags_.size(); ++i) {
    OrderBag* b = bags_[i].get();
    if (b->temporary()) {
      if (Failed(RebuildBag(b))) return kFailure;
    } else if (b->building_file()) {
      BagUnderRebuild rebuild([this, i] { ReopenBag(i); });
      if (Failed(b->Publish())) return kFailure;
      rebuild.Keep();
    }
  }
  return kSuccess;
}

}  // namespace vosk
