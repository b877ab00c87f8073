#ifndef VOSK_RDD_DBFNTX_NTX_AREA_H_
#define VOSK_RDD_DBFNTX_NTX_AREA_H_

#include <cstdint>
#include <memory>
#include <string>

#include "rdd/dbfntx/ntx_file.h"
#include "rdd/dbfntx/ntx_order.h"
#include "rdd/order/indexed_area.h"

namespace vosk {

// The DBFNTX driver: the DBF table and its memo layer with NTX order bags (one order per .ntx
// file, or up to 63 in a compound file when the multi-tag setting is on). The shared order
// layer does navigation, maintenance and the order operations; this class opens, creates,
// builds and rebuilds NTX files, and sets the table's lock scheme from their flags.
// How NTX builds and checks sort keys: run size and temporary-file errors of DBFNTX.
SortPolicy NtxSortPolicy();

class NtxArea : public IndexedArea {
 public:
  using Base = IndexedArea;
  explicit NtxArea(Driver* driver) : IndexedArea(driver) {}
  ~NtxArea() override;

  std::string BagExtension() const override { return ".ntx"; }
  NtxOrder* controlling() const { return static_cast<NtxOrder*>(focus_); }

  // Driver-wide settings: files with several orders (multi-tag), and the number of keys per
  // sort run of a build (0: chosen from the record count and memory).
  static void SetMultiTag(bool on);
  static bool MultiTag();
  static void SetSortRunKeys(int64_t keys);
  static int64_t SortRunKeys();

 protected:
  Status OpenBag(const std::string& path, std::unique_ptr<OrderBag>* out) override;
  Status AfterBagOpened(OrderBag* bag) override;
  Status CreateOrder(const OrderCreateInfo& info, const OrderCondition* cond,
                     KeyDescription key, Order** created) override;
  Status RebuildBag(OrderBag* bag, const OrderCondition* scan) override;
  char KeyTypeOf(const Value& value, int* length, int* decimals) const override;
  int MaxCharKeyLength() const override;
  InternalError MultipleAppendError() const override;

 private:
  // Builds an order (creation, rebuild); the file is write-locked by the caller.
  Status BuildOrder(NtxOrder* o, const OrderCondition* cond);
};

// Registers "DBFNTX" (after "DBF" and "DBFFPT").
std::unique_ptr<WorkArea> NewNtxArea(Driver* driver);

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_AREA_H_
