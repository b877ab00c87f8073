#ifndef VOSK_RDD_DBFCDX_CDX_AREA_H_
#define VOSK_RDD_DBFCDX_CDX_AREA_H_

#include <cstdint>
#include <memory>
#include <string>

#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_tag.h"
#include "rdd/order/indexed_area.h"

namespace vosk {

// The DBFCDX driver: the DBF table and its memo layer with CDX bags (many tags per .cdx file).
// The shared order layer does navigation, maintenance and the order operations; this class
// opens, creates, builds and rebuilds CDX bags. A structural bag stands first in the order list.
class CdxArea : public IndexedArea {
 public:
  using Base = IndexedArea;
  explicit CdxArea(Driver* driver) : IndexedArea(driver) {}
  ~CdxArea() override;

  std::string BagExtension() const override { return ".cdx"; }

  // The number of keys per sort run of a build (0: chosen from the record count).
  static void SetSortRunKeys(int64_t keys);

 protected:
  Status OpenBag(const std::string& path, std::unique_ptr<OrderBag>* out) override;
  Status AfterBagOpened(OrderBag* bag) override;
  Status CreateOrder(const OrderCreateInfo& info, const OrderCondition* cond,
                     KeyDescription key, Order** created) override;
  Status RebuildBag(OrderBag* bag, const OrderCondition* scan) override;
  char KeyTypeOf(const Value& value, int* length, int* decimals) const override;
  int MaxCharKeyLength() const override { return kCdxMaxKeyLength; }
  InternalError MultipleAppendError() const override;

 private:
  // Builds a tag (creation, rebuild); the bag is write-locked by the caller.
  Status BuildTag(CdxTag* tag, const OrderCondition* cond);
};

std::unique_ptr<WorkArea> NewCdxArea(Driver* driver);
// The external sort of CDX builds and checks: run size from the record count, temporary-file
// failures as internal errors 9301-9303.
SortPolicy CdxSortPolicy();

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_AREA_H_
