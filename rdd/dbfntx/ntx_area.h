#ifndef VOSK_RDD_DBFNTX_NTX_AREA_H_
#define VOSK_RDD_DBFNTX_NTX_AREA_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "rdd/dbffpt/fpt_area.h"
#include "rdd/dbfntx/ntx_file.h"
#include "rdd/dbfntx/ntx_order.h"

namespace vosk {

// The DBFNTX driver: the DBF table and its memo layer with NTX order bags (one order per .ntx file, or up to 63
// in a compound file when the multi-tag setting is on). Overrides navigation through the
// controlling order, key maintenance at go-hot/go-cold, and the order operations.
//
// Invariants:
//  - focus_ is nullptr or an order of a bag in bags_.
//  - An order's cursor is trusted only while its record and generation match the area's
//    current record and the order's generation; otherwise it is located again.
class NtxArea : public FptArea {
 public:
  using Base = FptArea;
  explicit NtxArea(Driver* driver) : FptArea(driver) {}
  ~NtxArea() override;

  Status go_bottom() override;
  Status go_top() override;
  Status seek(const Value& key, bool soft, bool find_last) override;
  Status skip_raw(int64_t n) override;
  Status append(bool release_locks) override;
  Status go_cold() override;
  Status go_hot() override;
  Status close() override;
  Status open(const OpenInfo& info) override;
  Status pack() override;
  Status zap() override;

  Status order_list_add(const std::string& bag, const Value& order) override;
  Status order_list_clear() override;
  Status order_list_delete(const std::string& bag) override;
  Status order_list_focus(const Value& order, const Value& bag, std::string* previous) override;
  Status order_list_rebuild() override;
  Status order_create(const OrderCreateInfo& info) override;
  Status order_destroy(const Value& order, const Value& bag) override;
  Status order_info(OrderInfoRequest* req) override;

  // Index reads take no file lock (dirty-read mode of the table and the driver).
  bool dirty_read() const;
  NtxOrder* controlling() const { return focus_; }
  const std::vector<std::unique_ptr<NtxFile>>& bags() const { return bags_; }
  // The key of the current record for an order (as the order stores it) and whether its FOR
  // condition holds (true without one).
  Status EvalKey(NtxOrder* order, std::string* key);
  Status EvalFor(NtxOrder* order, bool* result);
  // Resolves an order designator and a bag designator (nil order: the controlling order).
  NtxOrder* Resolve(const Value& order, const Value& bag);
  // 1-based number of an order across the bags of the list, 0 for nullptr.
  int NumberOf(const NtxOrder* order) const;

  // Driver-wide settings: files with several orders (multi-tag), and the number of keys per
  // sort run of a build (0: chosen from the record count and memory).
  static void SetMultiTag(bool on);
  static bool MultiTag();
  static void SetSortRunKeys(int64_t keys);
  static int64_t SortRunKeys();

 private:
  // Navigation helpers; the order's file must be locked.
  Status LogicalEdge(NtxOrder* o, bool top, NtxCursor* c);
  Status Step(NtxOrder* o, NtxCursor* c, bool forward);
  Status SyncCursor(NtxOrder* o, bool* on_record);
  bool Visible();
  Status KeyCount(NtxOrder* o, int64_t* out);
  Status KeyPosition(NtxOrder* o, int64_t* out);
  Status KeyGoto(NtxOrder* o, int64_t position, bool* ok);
  Status RelativePosition(NtxOrder* o, double* out);
  Status FindRecord(NtxOrder* o, uint32_t recno, bool cont, bool* found);
  Status SetScope(NtxOrder* o, bool top, const std::optional<Value>& value);
  Status EnsureType(NtxOrder* o);
  std::string SearchKeyOf(NtxOrder* o, const Value& v);
  // Compiles an order's key and FOR texts.
  Status CompileOrder(NtxOrder* o);
  // Builds an order (creation, rebuild); the file is write-locked by the caller.
  Status BuildOrder(NtxOrder* o, const OrderCondition* cond);
  Status RebuildBag(NtxFile* bag);
  Status UpdateOrders(bool append);
  void CloseBag(size_t index);
  // The tree position (1-based) of the order's logical first key in scope, 0 when the scope
  // is empty; the caller holds the read lock.
  Status TopPosition(NtxOrder* o, int64_t* out);
  // Adds or deletes the current record's key in a custom order; a template order takes
  // `given` as the key value when there is one.
  Status AddKeyCustom(NtxOrder* o, bool add, const std::optional<Value>& given, bool* done);
  ErrorAnswer OrderError(int gen_code, int sub_code, const std::string& operation = "",
                         bool can_default = false);

  std::vector<std::unique_ptr<NtxFile>> bags_;
  NtxOrder* focus_ = nullptr;
  bool pending_append_ = false;  // a shared append whose keys wait for the next go-cold
};

// Registers "DBFNTX" (after "DBF" and "DBFFPT").
std::unique_ptr<WorkArea> NewNtxArea(Driver* driver);

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_AREA_H_
