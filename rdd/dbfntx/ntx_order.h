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

namespace vosk {

// A position in an order's tree: one (page, item index) per level from the root down.
// The last entry is the current key; an ancestor's index is the child slot descended through.
struct NtxCursor {
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

// One order of an NTX file: its header fields, compiled key and condition, scopes and the
// tree algorithms (find, step, insert, delete, count). Tree operations require the file's
// lock (read lock for reading, write lock for changes) to be held by the caller.
class NtxOrder {
 public:
  explicit NtxOrder(NtxFile* file) : file_(file) {}
  ~NtxOrder();

  // --- header fields ---
  // Decodes an order header block; false when it is not acceptable.
  bool DecodeHeader(const uint8_t* block);
  // Encodes this order's header block (update counter and free page as given).
  void EncodeHeader(uint8_t* block, uint32_t counter, uint32_t free_ref) const;
  // Sets up a new order's fields from its key description.
  void Define(const std::string& name, const std::string& key_text, const std::string& for_text,
              char type, int length, int decimals, bool unique, bool descending, bool custom,
              uint16_t extra_flags);

  NtxFile* file() const { return file_; }
  const std::string& name() const { return name_; }
  void set_name(const std::string& n) { name_ = n; }
  const std::string& key_text() const { return key_text_; }
  const std::string& for_text() const { return for_text_; }
  char type() const { return type_; }
  void set_type(char t) { type_ = t; }
  // Replaces the FOR text (the keys stay as they are).
  void set_for_text(const std::string& t) {
    for_text_ = t.substr(0, kNtxExprSize);
    if (for_text_.empty() && !partial()) flags_ &= static_cast<uint16_t>(~kNtxFlagFor);
    else flags_ |= kNtxFlagFor;
  }
  int key_length() const { return key_length_; }
  int key_decimals() const { return key_decimals_; }
  int max_keys() const { return max_keys_; }
  uint16_t flags() const { return flags_; }
  void set_flags(uint16_t f) { flags_ = f; }
  bool unique() const { return unique_; }
  bool descending() const { return descending_; }
  bool custom() const { return custom_; }
  bool partial() const { return (flags_ & kNtxFlagPartial) != 0; }
  bool change_only() const { return (flags_ & kNtxFlagChgOnly) != 0; }
  bool sort_recno() const { return (flags_ & kNtxFlagSortRecno) != 0; }
  uint64_t root() const { return root_; }
  void set_root(uint64_t r) { root_ = r; }
  uint64_t header_offset() const { return header_offset_; }
  void set_header_offset(uint64_t o) { header_offset_ = o; }
  uint64_t generation() const { return generation_; }
  void Touch() { ++generation_; }

  // Run-time direction toggle (order-info 12).
  bool toggled() const { return toggled_; }
  void set_toggled(bool t) { toggled_ = t; }
  // Navigation runs against tree order when toggled.

  // --- compiled key and condition (owned) ---
  std::unique_ptr<Expression> key_expr;
  std::unique_ptr<Expression> for_expr;
  std::function<Value()> key_block;  // given by the caller instead of key_expr
  std::function<Value()> for_block;
  int key_field = 0;  // field read directly for a single-field key, 0 none

  // --- scopes (key bytes in value order; empty optional: none) ---
  bool has_top = false, has_bottom = false;
  std::string scope_top, scope_bottom;
  Value scope_top_value, scope_bottom_value;
  bool InScope(const uint8_t* key) const;
  // A key compared with a scope value over the scope value's length (<0, 0, >0).
  int CompareToScope(const uint8_t* key, const std::string& scope) const;
  bool scoped() const { return has_top || has_bottom; }

  // --- the key count kept between calls (-1: unknown) ---
  int64_t cached_count = -1;

  // --- the record being changed (go-hot) ---
  bool hot_valid = false;
  std::string old_key;
  bool old_for = false;

  // --- the navigation cursor ---
  NtxCursor cursor;

  // --- tree operations ---
  // Positions c at the first key not below `key` (after: the first above it), comparing over
  // the key's own length (exact: a shorter key is below). recno: with flag 0x0100, ties are
  // decided by record number (0 = any).
  Status Seek(NtxCursor* c, const std::string& key, bool after, bool exact, uint32_t recno = 0);
  // The first / last key in tree order.
  Status First(NtxCursor* c);
  Status Last(NtxCursor* c);
  // One key forward / back in tree order; c->on false when none is left.
  Status Next(NtxCursor* c);
  Status Prev(NtxCursor* c);
  // Positions c on the key of (key, recno), or between keys where it would stand.
  Status Locate(NtxCursor* c, const std::string& key, uint32_t recno);
  // Inserts a key; *added false when a unique order already holds an equal key (or the same
  // key and record exist in an order whose equal keys are ordered by record).
  Status Insert(const std::string& key, uint32_t recno, bool* added);
  // Deletes the key of a record; *deleted false when it is not there.
  Status Delete(const std::string& key, uint32_t recno, bool* deleted);
  // All keys of the tree.
  Status CountAll(int64_t* out);
  // 1-based position of c's key in tree order.
  Status Position(const NtxCursor& c, int64_t* out);
  // Positions c on the key at 1-based position n in tree order, counted from the last key
  // when from_end; c->on false when there is no such key. Descends from the root, counting
  // the subtrees passed on the way (no walk through the keys before the target).
  Status GoToPosition(NtxCursor* c, int64_t n, bool from_end);
  // Where c's key lies in tree order as a fraction in 0..1: every level contributes (index +
  // fraction of the level below) / slots of its page (keys, plus one in an inner page); the
  // key itself is the middle of its slot in a leaf and the end of the left subtree's slot in
  // an inner page. 0 when c is not on a key.
  Status Fraction(const NtxCursor& c, double* out);
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
  Status Page(uint64_t offset, NtxPageRef* ref) const { return file_->ReadPage(*this, offset, ref); }
  NtxPageView View(NtxPageRef* ref) const { return NtxPageView(ref->data(), key_length_, max_keys_); }
  // Descends from the root to a leaf (or to an exact record match), without settling.
  Status Descend(NtxCursor* c, const std::string& key, bool after, bool exact, uint32_t recno,
                 bool* exact_match);
  Status SettleForward(NtxCursor* c);
  Status SettleBackward(NtxCursor* c);
  Status DescendLeft(NtxCursor* c, uint64_t offset);
  Status DescendRight(NtxCursor* c, uint64_t offset);
  Status Load(NtxCursor* c);
  Status InsertAt(std::vector<NtxCursor::Level> path, NtxEntry e);
  Status Rebalance(std::vector<NtxCursor::Level> path);
  Status SubtreeCount(uint64_t offset, int depth, int64_t* out);
  // Adds the keys under each of the child pages (byte offsets) of one inner page.
  Status CountChildren(const std::vector<uint64_t>& children, int depth, int64_t* out);
  Status FreeSubtree(uint64_t offset, int depth);
  // Takes the entries of two neighbours and their separator (parent item s).
  Status Gather(NtxPageRef* left, NtxPageRef* parent, int s, NtxPageRef* right,
                std::vector<NtxEntry>* entries, uint32_t* right_child);
  void Spread(NtxPageRef* left, NtxPageRef* parent, int s, NtxPageRef* right,
              const std::vector<NtxEntry>& entries, int left_count, uint32_t right_child);

  NtxFile* file_;
  std::string name_;
  std::string key_text_;
  std::string for_text_;
  char type_ = 'C';
  int key_length_ = 0;
  int key_decimals_ = 0;
  int max_keys_ = 0;
  uint16_t flags_ = kNtxFlagDefault;
  bool unique_ = false;
  bool descending_ = false;
  bool custom_ = false;
  bool toggled_ = false;
  uint64_t root_ = 0;           // byte offset of the root page
  uint64_t header_offset_ = 0;  // byte offset of the order's header block
  uint64_t generation_ = 1;     // changes whenever cursors made earlier may be stale
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_ORDER_H_
