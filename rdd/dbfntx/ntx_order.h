#ifndef VOSK_RDD_DBFNTX_NTX_ORDER_H_
#define VOSK_RDD_DBFNTX_NTX_ORDER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expr/expression.h"
#include "expr/status.h"
#include "expr/value.h"
#include "rdd/dbfntx/ntx_file.h"
#include "rdd/dbfntx/ntx_page.h"
#include "rdd/order/order.h"

namespace vosk {

// One order of an NTX file: its header fields, compiled key and condition, scopes and the
// tree algorithms (find, step, insert, delete, count). Tree operations require the file's
// lock (read lock for reading, write lock for changes) to be held by the caller.
class NtxOrder : public Order {
 public:
  explicit NtxOrder(NtxFile* file) : file_(file) {}
  ~NtxOrder() override;

  // --- header fields ---
  // Decodes an order header block; false when it is not acceptable.
  bool DecodeHeader(const uint8_t* block);
  // Encodes this order's header block (update counter and free page as given).
  void EncodeHeader(uint8_t* block, uint32_t counter, uint32_t free_ref) const;
  // Sets up a new order's fields from its key description.
  void Define(const std::string& name, const std::string& key_text, const std::string& for_text,
              char type, int length, int decimals, bool unique, bool descending, bool custom,
              uint16_t extra_flags);

  OrderBag* bag() const override;
  NtxFile* file() const { return file_; }
  void set_for_text(const std::string& t) override {
    for_text_ = t.substr(0, kNtxExprSize);
    if (for_text_.empty() && !partial()) flags_ &= static_cast<uint16_t>(~kNtxFlagFor);
    else flags_ |= kNtxFlagFor;
  }
  int max_keys() const { return max_keys_; }
  uint16_t flags() const { return flags_; }
  void set_flags(uint16_t f) { flags_ = f; }
  bool partial() const override { return (flags_ & kNtxFlagPartial) != 0; }
  bool change_only() const override { return (flags_ & kNtxFlagChgOnly) != 0; }
  bool takes_given_keys() const override { return (flags_ & kNtxFlagTemplate) != 0; }
  bool ties_by_recno() const override { return sort_recno(); }
  bool sort_recno() const { return (flags_ & kNtxFlagSortRecno) != 0; }
  bool usable() const override { return root_ != 0; }
  void MarkPartial() override { flags_ |= kNtxFlagPartial | kNtxFlagFor; }
  uint64_t root() const { return root_; }
  void set_root(uint64_t r) { root_ = r; }
  uint64_t header_offset() const { return header_offset_; }
  void set_header_offset(uint64_t o) { header_offset_ = o; }

  // --- keys ---
  bool EncodeKey(const Value& value, std::string* out) const override;
  std::string SearchKey(const Value& value) const override;
  bool KeyFromField(const uint8_t* field, std::string* out) const override;
  bool KeyIsFieldBytes() const override { return type_ == 'C' || type_ == 'D'; }

  // --- tree operations ---
  Status Seek(OrderCursor* c, const std::string& key, bool after, bool exact,
              uint32_t recno = 0) override;
  Status First(OrderCursor* c) override;
  Status Last(OrderCursor* c) override;
  Status Next(OrderCursor* c) override;
  Status Prev(OrderCursor* c) override;
  Status Locate(OrderCursor* c, const std::string& key, uint32_t recno) override;
  Status Insert(const std::string& key, uint32_t recno, bool* added) override;
  Status Delete(const std::string& key, uint32_t recno, bool* deleted) override;
  Status CountAll(int64_t* out) override;
  Status Position(const OrderCursor& c, int64_t* out) override;
  // Descends from the root, counting the subtrees passed on the way (no walk through the
  // keys before the target).
  Status GoToPosition(OrderCursor* c, int64_t n, bool from_end) override;
  // Every level contributes (index + fraction of the level below) / slots of its page (keys,
  // plus one in an inner page); the key itself is the middle of its slot in a leaf and the end
  // of the left subtree's slot in an inner page.
  Status Fraction(const OrderCursor& c, double* out) override;
  // A fresh empty root page (build of an empty order).
  Status MakeEmptyRoot();
  // Puts every page of the tree on the free list (order destroy in a compound file).
  Status FreeTree();
  // After a bottom-up build: every page on the right edge with fewer than m / 2 keys is
  // balanced with its left neighbour, from the root down.
  Status FixRightEdge();

  // Compares a search key with a page key in tree order (negated for a descending order).
  int TreeCompare(const std::string& search, const uint8_t* key, bool exact) const;

 private:
  Status Page(uint64_t offset, PageRef* ref) const { return file_->ReadPage(*this, offset, ref); }
  NtxPageView View(PageRef* ref) const { return NtxPageView(ref->data(), key_length_, max_keys_); }
  // Descends from the root to a leaf (or to an exact record match), without settling.
  Status Descend(OrderCursor* c, const std::string& key, bool after, bool exact, uint32_t recno,
                 bool* exact_match);
  Status SettleForward(OrderCursor* c);
  Status SettleBackward(OrderCursor* c);
  Status DescendLeft(OrderCursor* c, uint64_t offset);
  Status DescendRight(OrderCursor* c, uint64_t offset);
  Status Load(OrderCursor* c);
  Status InsertAt(std::vector<OrderCursor::Level> path, NtxEntry e);
  Status Rebalance(std::vector<OrderCursor::Level> path);
  Status SubtreeCount(uint64_t offset, int depth, int64_t* out);
  // Adds the keys under each of the child pages (byte offsets) of one inner page.
  Status CountChildren(const std::vector<uint64_t>& children, int depth, int64_t* out);
  Status FreeSubtree(uint64_t offset, int depth);
  // Takes the entries of two neighbours and their separator (parent item s).
  Status Gather(PageRef* left, PageRef* parent, int s, PageRef* right,
                std::vector<NtxEntry>* entries, uint32_t* right_child);
  void Spread(PageRef* left, PageRef* parent, int s, PageRef* right,
              const std::vector<NtxEntry>& entries, int left_count, uint32_t right_child);

  NtxFile* file_;
  int max_keys_ = 0;
  uint16_t flags_ = kNtxFlagDefault;
  uint64_t root_ = 0;           // byte offset of the root page
  uint64_t header_offset_ = 0;  // byte offset of the order's header block
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_ORDER_H_
