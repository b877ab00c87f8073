#ifndef VOSK_RDD_ORDER_INDEXED_AREA_H_
#define VOSK_RDD_ORDER_INDEXED_AREA_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expr/runtime_error.h"
#include "rdd/dbffpt/fpt_area.h"
#include "rdd/order/key_sorter.h"
#include "rdd/order/order.h"
#include "rdd/order/order_bag.h"

namespace vosk {

// What every index engine shares, over the DBF table and its memo layer: the order list and
// the controlling order, key and FOR evaluation, navigation through the controlling order,
// seek, scopes, counting and key positions, go-hot/go-cold maintenance of every open order,
// the order-list operations and the order-info requests, and the record scan of a build. An
// engine derives from it and supplies its bags and orders (opening, creating, building,
// rebuilding) and its key types.
//
// Invariants:
//  - focus_ is nullptr or an order of a bag in bags_.
//  - An order's cursor is trusted only while its record and generation match the area's
//    current record and the order's generation; otherwise it is located again.
class IndexedArea : public FptArea, public OrderHost {
 public:
  using Base = FptArea;
  explicit IndexedArea(Driver* driver) : FptArea(driver) {}
  ~IndexedArea() override;

  Status go_bottom() override;
  Status go_top() override;
  Status seek(const Value& key, bool soft, bool find_last) override;
  Status skip_raw(int64_t n) override;
  Status append(bool release_locks) override;
  Status go_cold() override;
  Status go_hot() override;
  Status close() override;
  // Closes the area from the destructor of the most derived engine, while its orders can
  // still take the keys of a hot record; never throws.
  void CloseQuietly() noexcept;
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

  // OrderHost.
  ErrorAnswer RaiseOrderError(RuntimeError e) override { return error(std::move(e)); }
  bool LockOrderFile(File* file, bool lock, bool shared, bool wait, uint32_t* position) override {
    return LockIndexFile(file, lock, shared, wait, position);
  }
  bool DirtyRead() const override;
  std::string TableFileName() const override { return file_name_; }

  Order* controlling() const { return focus_; }
  bool InNaturalOrder() const override { return focus_ == nullptr; }
  const std::vector<std::unique_ptr<OrderBag>>& bags() const { return bags_; }
  // The key of the current record for an order (as the order stores it) and whether its FOR
  // condition holds (true without one).
  Status EvalKey(Order* order, std::string* key);
  Status EvalFor(Order* order, bool* result);
  // Resolves an order designator and a bag designator (nil order: the controlling order).
  Order* Resolve(const Value& order, const Value& bag);
  // 1-based number of an order across the bags of the list, 0 for nullptr.
  int NumberOf(const Order* order) const;
  // Hands the keys of the records an order covers to sink (see ScanKeys below), in record
  // order; the record position is restored.
  using KeySink = std::function<Status(const uint8_t* key, uint32_t recno)>;
  Status ScanKeys(Order* o, const OrderCondition* cond, const KeySink& sink);
  // The sink of the sorted keys into a tree writer, calling the condition's write block every
  // eval_step keys.
  static KeySink WrittenKeys(const OrderCondition* cond, KeySink write);
  // The default extension of this engine's bags (".ntx", ".cdx").
  virtual std::string BagExtension() const = 0;

 protected:
  // What a new order's key is, learnt on the phantom record (order create).
  struct KeyDescription {
    std::string key_text;
    std::string for_text;
    std::unique_ptr<Expression> key_expr;
    std::unique_ptr<Expression> for_expr;
    std::function<Value()> key_block;
    std::function<Value()> for_block;
    char type = 0;
    int length = 0;
    int decimals = 0;
  };

  // --- what an engine supplies ---
  // Opens an existing bag file (header read and checked).
  virtual Status OpenBag(const std::string& path, std::unique_ptr<OrderBag>* out) = 0;
  // Called after a bag opened by order_list_add joined the list, before an order gets focus.
  virtual Status AfterBagOpened(OrderBag* bag) { return kSuccess; }
  // The file work of an order create after the common frame: the bag is created or opened,
  // the order defined and built, the bag put in the list; *created is the new order.
  virtual Status CreateOrder(const OrderCreateInfo& info, const OrderCondition* cond,
                             KeyDescription key, Order** created) = 0;
  // Opens an existing bag of the engine's class Bag (constructed on the area, then Open with
  // the area's shared and read-only modes): the body of every engine's OpenBag.
  template <class Bag>
  Status OpenBagOf(const std::string& path, std::unique_ptr<OrderBag>* out) {
    auto bag = std::make_unique<Bag>(this);
    if (Failed(bag->Open(path, shared_, read_only_))) return kFailure;
    *out = std::move(bag);
    return kSuccess;
  }
  // Rebuilds every order of a bag (reindex, pack, zap).
  virtual Status RebuildBag(OrderBag* bag) = 0;
  // The type letter an evaluated key value gives an order, with its key length and decimals
  // (0: no key of that type).
  virtual char KeyTypeOf(const Value& value, int* length, int* decimals) const = 0;
  // The longest character key of a single-field key read straight from the record.
  virtual int MaxCharKeyLength() const = 0;
  // The internal error of a second shared append before the keys of the first were added.
  virtual InternalError MultipleAppendError() const = 0;

  // --- shared machinery for the engines ---
  // Compiles an order's key and FOR texts (and finds a single-field key).
  Status CompileOrder(Order* o);
  // The index of the field a key text names alone (with an optional alias), -1 when none.
  int KeyFieldIndex(const std::string& key_text) const;
  // Feeds the keys of the records a build covers into the sorter: every record, or the
  // subset and order the condition record asks for; WHILE, EVAL and FOR applied. The record
  // position is restored.
  Status ScanKeys(Order* o, const OrderCondition* cond, KeySorter* sorter);
  void CloseBag(size_t index);
  // Learns an order's key type by evaluating its key once (a type the file does not record).
  Status EnsureType(Order* o);
  ErrorAnswer OrderError(int gen_code, int sub_code, const std::string& operation = "",
                         bool can_default = false);
  // The bag file name for an order create: the bag name, else the tag name, else the table's
  // base name, with the default extension; letter case resolved.
  std::string BagFileFor(const OrderCreateInfo& info) const;
  // Where a temporary order's bag is made: the temporary folder, under an owned name that
  // ends in the bag's own file name ("vosk-<pid>-<n>-" + name), so the next start of the
  // program removes it when this one was killed.
  static std::string TemporaryBagPath(const std::string& file);
  bool IsStructuralName(const std::string& path) const;

  std::vector<std::unique_ptr<OrderBag>> bags_;
  Order* focus_ = nullptr;
  bool pending_append_ = false;  // a shared append whose keys wait for the next go-cold
  // The structural bag was opened with the table: it stays open, and current, until the table
  // closes (ORDLISTCLEAR keeps it whatever the automatic-open setting says by then).
  bool structural_opened_ = false;

 private:
  // Navigation helpers; the order's bag must be locked.
  Status LogicalEdge(Order* o, bool top, OrderCursor* c);
  Status Step(Order* o, OrderCursor* c, bool forward);
  // The two halves of a step: the move in the tree, and the checks of the key arrived at
  // (not before the key stepped from, step_from_, when from_key; a record of the table; in
  // scope, else c->on false).
  Status Move(Order* o, OrderCursor* c, bool forward);
  Status Arrive(Order* o, bool from_key, OrderCursor* c, bool forward);
  // The keys of the steps after the cursor's, read under the lock the caller holds.
  void ReadStepsAhead(Order* o, bool forward);
  // Takes the next step read ahead when it is still good: true with *status set, false when
  // the step must be taken under the lock.
  bool TakeStepAhead(Order* o, bool forward, Status* status);
  // A key the cursor stands on must name a record of the table (error 32/1012 naming the
  // bag otherwise); a record past the count read earlier makes the count be read again.
  Status CheckRecord(Order* o, const OrderCursor& c);
  // Goes to the record a navigation found through the order's cursor (0: end of file). The
  // record landed on must give the key the cursor holds (32/1012 naming the bag otherwise):
  // every record a seek or a skip lands on, and so every row a listing in index order shows,
  // is checked; the keys a skip of many steps passes over are only checked to stand in order
  // (their records are not read). In a shared bag a difference counts only when it stays
  // with the record read anew under the bag's lock and no other program holds the record.
  Status GoToKey(Order* o, uint32_t target);
  // Whether the current record gives the cursor's key (and passes the order's condition).
  Status ShowsCursorKey(Order* o, bool* same);
  // A difference seen in a shared bag, judged again (see GoToKey): *real false when another
  // program's change may be under way or the bag changed meanwhile.
  Status MismatchStays(Order* o, uint32_t target, bool* real);
  Status SyncCursor(Order* o, bool* on_record);
  bool Visible();
  Status KeyCount(Order* o, int64_t* out);
  Status KeyPosition(Order* o, int64_t* out);
  Status KeyGoto(Order* o, int64_t position, bool* ok);
  Status RelativePosition(Order* o, double* out);
  Status FindRecord(Order* o, uint32_t recno, bool cont, bool* found);
  Status SetScope(Order* o, bool top, const std::optional<Value>& value);
  std::string SearchKeyOf(Order* o, const Value& v);
  Status UpdateOrders(bool append);
  Status RebuildAll();
  // The tree position (1-based) of the order's logical first key in scope, 0 when the scope
  // is empty; the caller holds the read lock.
  Status TopPosition(Order* o, int64_t* out);
  // Adds or deletes the current record's key in a custom order; an order that takes given
  // keys takes `given` as the key value when there is one.
  Status AddKeyCustom(Order* o, bool add, const std::optional<Value>& given, bool* done);

  std::string step_from_;  // the key a step started from (kept to spare an allocation a step)
  // False while a bag is being opened: its first positioning does not judge the records, so
  // that a damaged or stale bag still opens for check (and for the reindex that mends it).
  bool check_landing_ = true;
  // The first positioning of an area or a bag just opened (see check_landing_).
  Status OpeningTop();
  // Steps of an ordered scan read ahead under one lock of a shared bag.
  static constexpr size_t kStepRunMin = 8;
  static constexpr size_t kStepRunMax = 512;
  static constexpr size_t kPrefetchSteps = 8;  // records fetched this many steps ahead
  struct StepRun {
    Order* order = nullptr;  // nullptr: nothing read ahead
    bool forward = true;
    uint64_t generation = 0;  // the order's generation when read
    std::vector<OrderCursor> steps;
    size_t next = 0;  // the next step to take
    size_t size = 0;  // steps read at the last reading
    OrderCursor probe;
  };
  StepRun step_run_;
};

// Name helpers shared by the engines.
std::string OrderNormalName(const std::string& s);  // trimmed, upper case, at most 10
std::string TrimBlanks(const std::string& s);       // without leading and trailing blanks/tabs
std::string PathFileName(const std::string& path);
std::string PathBaseName(const std::string& path);
bool PathHasExtension(const std::string& path);

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_INDEXED_AREA_H_
