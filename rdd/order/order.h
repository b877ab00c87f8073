#ifndef VOSK_RDD_ORDER_ORDER_H_
#define VOSK_RDD_ORDER_ORDER_H_

// An order as the work area sees it, whatever file format holds it: its description (name,
// key and FOR texts, type, length, flags), its compiled key and condition, scopes, the cached
// key count, the state captured at go-hot, the navigation cursor, and the tree operations each
// index engine implements over its own pages.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expr/expression.h"
#include "expr/status.h"
#include "expr/value.h"

namespace vosk {

class OrderBag;

// A position in an order's tree: one (page, item index) per level from the root down.
// The last entry is the current key; an ancestor's index is the child slot descended through.
struct OrderCursor {
  struct Level {
    uint64_t page;
    int index;
  };
  std::vector<Level> path;
  bool on = false;       // positioned on a key
  bool between = false;  // the record's own key is absent; path is at the next key after it
  std::string key;       // the current key's bytes (or the sought key when between)
  uint32_t recno = 0;    // the current key's record (or the sought record when between)
  uint64_t generation = 0;  // the order's generation when the path was made
};

// Compares a (length alen) with b (length blen) over the common length, as unsigned bytes.
// When the common part is equal, the longer side is greater; a shorter a is less only when
// exact, else equal (a prefix matches).
inline int CompareKeyBytes(const uint8_t* a, int alen, const uint8_t* b, int blen, bool exact) {
  int n = alen < blen ? alen : blen;
  for (int i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  if (alen > blen) return 1;
  if (alen < blen) return exact ? -1 : 0;
  return 0;
}

// Tree operations require the bag's lock (read lock for reading, write lock for changes) to be
// held by the caller.
class Order {
 public:
  Order() = default;
  virtual ~Order();
  Order(const Order&) = delete;
  Order& operator=(const Order&) = delete;

  virtual OrderBag* bag() const = 0;

  // --- description ---
  const std::string& name() const { return name_; }
  void set_name(const std::string& n) { name_ = n; }
  const std::string& key_text() const { return key_text_; }
  const std::string& for_text() const { return for_text_; }
  // Replaces the FOR text (the keys stay as they are).
  virtual void set_for_text(const std::string& t) { for_text_ = t; }
  char type() const { return type_; }
  virtual void set_type(char t) { type_ = t; }
  int key_length() const { return key_length_; }
  int key_decimals() const { return key_decimals_; }
  bool unique() const { return unique_; }
  bool descending() const { return descending_; }
  bool custom() const { return custom_; }
  // A candidate (primary) key: kept current like any order, and no two records share a key.
  bool candidate() const { return candidate_; }
  void set_candidate(bool c) { candidate_ = c; }
  // Built over a subset of the records: a missing old key is no fault.
  virtual bool partial() const { return false; }
  // Appended records get no key.
  virtual bool change_only() const { return false; }
  // A custom order that takes key values given by the caller.
  virtual bool takes_given_keys() const { return false; }
  // Equal keys are ordered by record number (else by order of addition in a build).
  virtual bool ties_by_recno() const { return true; }
  // The order has a tree to work on (a vanished or damaged order has none).
  virtual bool usable() const = 0;
  // A build stopped early or failed: the order covers part of the records.
  virtual void MarkPartial() {}

  // Changes whenever cursors made earlier may be stale; never the same for two orders or
  // twice for one (cursors and the steps a scan read ahead are matched by it).
  uint64_t generation() const { return generation_; }
  void Touch() { generation_ = NextGeneration(); }
  // Run-time direction toggle (order-info 12).
  bool toggled() const { return toggled_; }
  void set_toggled(bool t) { toggled_ = t; }
  // The tree holds the keys in descending key order (an engine that keeps every tree
  // ascending navigates a descending order against its tree instead).
  virtual bool descending_tree() const { return descending_; }
  // Navigation runs against tree order.
  bool against_tree() const { return toggled_ != (descending_ && !descending_tree()); }

  // --- keys ---
  // The key bytes of an evaluated key value; false when the value's type does not fit.
  virtual bool EncodeKey(const Value& value, std::string* out) const = 0;
  // The search key of a seek or scope value (character values keep their own length, so a
  // shorter value searches by prefix).
  virtual std::string SearchKey(const Value& value) const = 0;
  // The key straight from a single key field's bytes in the record; false when the field's
  // text must be decoded and encoded instead.
  virtual bool KeyFromField(const uint8_t* field, std::string* out) const = 0;
  // The single key field's bytes are the key as they stand.
  virtual bool KeyIsFieldBytes() const { return false; }
  // Compares key bytes as the order sorts them (see CompareKeyBytes for lengths and exact).
  virtual int CompareKeys(const uint8_t* a, int alen, const uint8_t* b, int blen,
                          bool exact) const {
    return CompareKeyBytes(a, alen, b, blen, exact);
  }
  // A key compared with a scope value over the scope value's length (<0, 0, >0).
  int CompareToScope(const uint8_t* key, const std::string& scope) const;
  bool InScope(const uint8_t* key) const;
  bool scoped() const { return has_top || has_bottom; }

  // --- tree operations ---
  // Positions c at the first key not below `key` (after: the first above it), comparing over
  // the key's own length (exact: a shorter key is below). recno: ties are decided by record
  // number where the order keeps them so (0 = any).
  virtual Status Seek(OrderCursor* c, const std::string& key, bool after, bool exact,
                      uint32_t recno = 0) = 0;
  // The first / last key in tree order.
  virtual Status First(OrderCursor* c) = 0;
  virtual Status Last(OrderCursor* c) = 0;
  // One key forward / back in tree order; c->on false when none is left.
  virtual Status Next(OrderCursor* c) = 0;
  virtual Status Prev(OrderCursor* c) = 0;
  // Positions c on the key of (key, recno), or between keys where it would stand.
  virtual Status Locate(OrderCursor* c, const std::string& key, uint32_t recno) = 0;
  // Inserts a key; *added false when a unique order already holds an equal key (or the same
  // key and record exist).
  virtual Status Insert(const std::string& key, uint32_t recno, bool* added) = 0;
  // Deletes the key of a record; *deleted false when it is not there.
  virtual Status Delete(const std::string& key, uint32_t recno, bool* deleted) = 0;
  // All keys of the tree.
  virtual Status CountAll(int64_t* out) = 0;
  // 1-based position of c's key in tree order.
  virtual Status Position(const OrderCursor& c, int64_t* out) = 0;
  // Positions c on the key at 1-based position n in tree order, counted from the last key
  // when from_end; c->on false when there is no such key.
  virtual Status GoToPosition(OrderCursor* c, int64_t n, bool from_end) = 0;
  // Where c's key lies in tree order as a fraction in 0..1 (0 when c is not on a key).
  virtual Status Fraction(const OrderCursor& c, double* out) = 0;

  // --- compiled key and condition (owned) ---
  std::unique_ptr<Expression> key_expr;
  std::unique_ptr<Expression> for_expr;
  std::function<Value()> key_block;  // given by the caller instead of key_expr
  std::function<Value()> for_block;
  int key_field = 0;  // field read directly for a single-field key, 0 none
  int key_field_length = 0;    // that field's length and decimals
  int key_field_decimals = 0;
  // A field of this type, length and decimals gives this order's keys straight from its
  // bytes (KeyFromField), without evaluating the key expression.
  virtual bool FieldGivesKey(char type, int length, int decimals) const {
    return length == key_length_ && (type != 'N' || decimals == key_decimals_);
  }

  // --- scopes (key bytes in value order) ---
  bool has_top = false, has_bottom = false;
  std::string scope_top, scope_bottom;
  Value scope_top_value, scope_bottom_value;

  // --- the key count kept between calls (-1: unknown) ---
  int64_t cached_count = -1;

  // --- the record being changed (go-hot) ---
  bool hot_valid = false;
  std::string old_key;
  bool old_for = false;

  // --- the navigation cursor ---
  OrderCursor cursor;

 protected:
  std::string name_;
  std::string key_text_;
  std::string for_text_;
  char type_ = 'C';
  int key_length_ = 0;
  int key_decimals_ = 0;
  bool unique_ = false;
  bool descending_ = false;
  bool custom_ = false;
  bool candidate_ = false;
  bool toggled_ = false;
  static uint64_t NextGeneration() {
    static std::atomic<uint64_t> last{0};
    return ++last;
  }
  uint64_t generation_ = NextGeneration();
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_ORDER_H_
