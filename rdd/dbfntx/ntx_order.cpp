#include "rdd/dbfntx/ntx_order.h"

#include <algorithm>
#include <cstring>

#include "expr/expression.h"
#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_file.h"
#include "rdd/dbfntx/ntx_key.h"

namespace vosk {
namespace {

// A path deeper than this cannot come from a sound file (1024-byte pages hold at least two
// keys); it means a cycle of child references.
constexpr int kMaxDepth = 64;

void PutTextField(uint8_t* p, int size, const std::string& s) {
  std::memset(p, 0, static_cast<size_t>(size));
  std::memcpy(p, s.data(), std::min<size_t>(s.size(), static_cast<size_t>(size)));
}

}  // namespace

NtxOrder::~NtxOrder() = default;

bool NtxOrder::DecodeHeader(const uint8_t* b) {
  uint16_t sig = GetLe16(b + kNtxHdrSignature);
  if (sig & kNtxFlagsInvalid) return false;              // unknown flag bits
  if (!(sig & kNtxFlagDefault) && sig != 3) return false;  // not an order header
  if (b[kNtxHdrKeyExpr] < 32) return false;              // key expression missing
  int len = GetLe16(b + kNtxHdrKeyLength);
  if (len < 1 || len > kNtxMaxKeyLength) return false;  // key length out of range
  int item = GetLe16(b + kNtxHdrItemSize);
  if (item != len + kNtxItemOverhead) return false;      // item size disagrees with key
  int max = GetLe16(b + kNtxHdrMaxKeys);
  // The page layout must fit in a block: 2 + (m + 1) * (k + 10) bytes.
  if (max < 2 || 2 + (max + 1) * (len + 10) > kNtxBlockSize) return false;
  flags_ = sig;
  key_length_ = len;
  key_decimals_ = GetLe16(b + kNtxHdrKeyDecimals);
  if (key_decimals_ >= len) return false;  // decimals leave no room for digits
  max_keys_ = max;
  key_text_ = TextField(b + kNtxHdrKeyExpr, kNtxExprSize);
  for_text_.clear();
  if ((sig & kNtxFlagFor) && b[kNtxHdrForExpr] >= 32) {
    for_text_ = TextField(b + kNtxHdrForExpr, kNtxExprSize);
  }
  unique_ = b[kNtxHdrUnique] != 0;
  descending_ = b[kNtxHdrDescending] != 0;
  custom_ = b[kNtxHdrCustom] != 0 || (sig & kNtxFlagCustom);
  root_ = file_->OffsetOf(GetLe32(b + kNtxHdrRoot));
  if (b[kNtxHdrTagName] >= 32) name_ = NtxNormalName(TextField(b + kNtxHdrTagName, kNtxTagNameSize));
  type_ = key_decimals_ > 0 ? 'N' : 0;  // known once the key has been evaluated
  return true;
}

void NtxOrder::EncodeHeader(uint8_t* b, uint32_t counter, uint32_t free_ref) const {
  std::memset(b, 0, kNtxBlockSize);
  PutLe16(b + kNtxHdrSignature, flags_);
  PutLe16(b + kNtxHdrCounter, static_cast<uint16_t>(counter));
  PutLe32(b + kNtxHdrRoot, file_->RefOf(root_));
  PutLe32(b + kNtxHdrFree, free_ref);
  PutLe16(b + kNtxHdrItemSize, static_cast<uint16_t>(key_length_ + kNtxItemOverhead));
  PutLe16(b + kNtxHdrKeyLength, static_cast<uint16_t>(key_length_));
  PutLe16(b + kNtxHdrKeyDecimals, static_cast<uint16_t>(key_decimals_));
  PutLe16(b + kNtxHdrMaxKeys, static_cast<uint16_t>(max_keys_));
  PutLe16(b + kNtxHdrHalfPage, static_cast<uint16_t>(max_keys_ / 2));
  PutTextField(b + kNtxHdrKeyExpr, kNtxExprSize, key_text_);
  b[kNtxHdrUnique] = unique_ ? 1 : 0;
  b[kNtxHdrDescending] = descending_ ? 1 : 0;
  PutTextField(b + kNtxHdrForExpr, kNtxExprSize, for_text_);
  PutTextField(b + kNtxHdrTagName, kNtxTagNameSize, name_);
  b[kNtxHdrCustom] = custom_ ? 1 : 0;
}

void NtxOrder::Define(const std::string& name, const std::string& key_text,
                      const std::string& for_text, char type, int length, int decimals,
                      bool unique, bool descending, bool custom, uint16_t extra_flags) {
  name_ = NtxNormalName(name);
  key_text_ = key_text.substr(0, kNtxExprSize);
  for_text_ = for_text.substr(0, kNtxExprSize);
  type_ = type;
  key_length_ = length;
  key_decimals_ = decimals;
  max_keys_ = NtxMaxKeys(length);
  unique_ = unique;
  descending_ = descending;
  custom_ = custom;
  flags_ = kNtxFlagDefault | extra_flags;
  if (!for_text_.empty() || (flags_ & kNtxFlagPartial)) flags_ |= kNtxFlagFor;
  if (custom) flags_ |= kNtxFlagCustom;
  if (file_->large()) flags_ |= kNtxFlagLarge;
}

OrderBag* NtxOrder::bag() const { return file_; }

bool NtxOrder::EncodeKey(const Value& value, std::string* out) const {
  return NtxEncodeKey(value, type_, key_length_, key_decimals_, out);
}

std::string NtxOrder::SearchKey(const Value& value) const {
  return NtxSearchKey(value, type_, key_length_, key_decimals_);
}

bool NtxOrder::KeyFromField(const uint8_t* field, std::string* out) const {
  const char* p = reinterpret_cast<const char*>(field);
  switch (type_) {
    case 'C':
    case 'D':
      out->assign(p, static_cast<size_t>(key_length_));
      return true;
    case 'N':
      out->assign(p, static_cast<size_t>(key_length_));
      return NtxNumericKeyFromText(out->data(), key_length_, key_decimals_);
    case 'L':
      out->assign(static_cast<size_t>(key_length_), '\0');
      (*out)[0] = (p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y') ? 'T' : 'F';
      return true;
    default:
      return false;
  }
}

int NtxOrder::TreeCompare(const std::string& search, const uint8_t* key, bool exact) const {
  int c = NtxCompare(reinterpret_cast<const uint8_t*>(search.data()),
                     static_cast<int>(search.size()), key, key_length_, exact);
  return descending_ ? -c : c;
}

Status NtxOrder::Load(OrderCursor* c) {
  c->generation = generation_;
  if (c->path.empty()) {
    c->on = false;
    return kSuccess;
  }
  PageRef ref;
  if (Failed(Page(c->path.back().page, &ref))) return kFailure;
  NtxPageView v = View(&ref);
  int i = c->path.back().index;
  c->on = true;
  c->key.assign(reinterpret_cast<const char*>(v.key(i)), static_cast<size_t>(key_length_));
  c->recno = v.recno(i);
  return kSuccess;
}

Status NtxOrder::SettleForward(OrderCursor* c) {
  while (!c->path.empty()) {
    PageRef ref;
    if (Failed(Page(c->path.back().page, &ref))) return kFailure;
    if (c->path.back().index < View(&ref).count()) break;
    c->path.pop_back();
  }
  return Load(c);
}

Status NtxOrder::SettleBackward(OrderCursor* c) {
  while (!c->path.empty() && c->path.back().index == 0) c->path.pop_back();
  if (!c->path.empty()) --c->path.back().index;
  return Load(c);
}

namespace {

// A tree page without keys is the root of an empty tree; any other (a root with a child, a
// page below the root) is never written: a walk that meets one is in a damaged tree whose
// other keys it would miss.
bool Hollow(const NtxPageView& v, const OrderCursor& c) {
  return v.count() == 0 && (v.child(0) != 0 || !c.path.empty());
}

}  // namespace

Status NtxOrder::DescendLeft(OrderCursor* c, uint64_t offset) {
  for (;;) {
    if (static_cast<int>(c->path.size()) > kMaxDepth) return file_->Corrupt();
    PageRef ref;
    if (Failed(Page(offset, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    if (Hollow(v, *c)) return file_->Corrupt();
    c->path.push_back({offset, 0});
    uint32_t child = v.child(0);
    if (child == 0) return kSuccess;
    offset = file_->OffsetOf(child);
  }
}

Status NtxOrder::DescendRight(OrderCursor* c, uint64_t offset) {
  for (;;) {
    if (static_cast<int>(c->path.size()) > kMaxDepth) return file_->Corrupt();
    PageRef ref;
    if (Failed(Page(offset, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    if (Hollow(v, *c)) return file_->Corrupt();
    int n = v.count();
    c->path.push_back({offset, n});
    uint32_t child = v.child(n);
    if (child == 0) return kSuccess;
    offset = file_->OffsetOf(child);
  }
}

Status NtxOrder::First(OrderCursor* c) {
  c->path.clear();
  c->between = false;
  if (root_ == 0) return file_->Corrupt();  // an order without a root
  if (Failed(DescendLeft(c, root_))) return kFailure;
  return SettleForward(c);
}

Status NtxOrder::Last(OrderCursor* c) {
  c->path.clear();
  c->between = false;
  if (root_ == 0) return file_->Corrupt();
  if (Failed(DescendRight(c, root_))) return kFailure;
  return SettleBackward(c);
}

Status NtxOrder::Next(OrderCursor* c) {
  c->between = false;
  if (c->path.empty()) {
    c->on = false;
    return kSuccess;
  }
  OrderCursor::Level& top = c->path.back();
  uint32_t right;
  {
    PageRef ref;
    if (Failed(Page(top.page, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    if (top.index >= v.count()) return file_->Corrupt();
    right = v.child(top.index + 1);
  }
  ++top.index;
  if (right != 0 && Failed(DescendLeft(c, file_->OffsetOf(right)))) return kFailure;
  return SettleForward(c);
}

Status NtxOrder::Prev(OrderCursor* c) {
  c->between = false;
  if (c->path.empty()) {
    c->on = false;
    return kSuccess;
  }
  uint32_t left;
  {
    PageRef ref;
    if (Failed(Page(c->path.back().page, &ref))) return kFailure;
    left = View(&ref).child(c->path.back().index);
  }
  if (left != 0 && Failed(DescendRight(c, file_->OffsetOf(left)))) return kFailure;
  return SettleBackward(c);
}

Status NtxOrder::Descend(OrderCursor* c, const std::string& key, bool after, bool exact,
                         uint32_t recno, bool* exact_match) {
  c->path.clear();
  c->between = false;
  *exact_match = false;
  if (root_ == 0) return file_->Corrupt();
  bool by_recno = sort_recno() && recno != 0 && !after;
  uint64_t offset = root_;
  for (;;) {
    if (static_cast<int>(c->path.size()) > kMaxDepth) return file_->Corrupt();
    PageRef ref;
    if (Failed(Page(offset, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    if (Hollow(v, *c)) return file_->Corrupt();
    int lo = 0, hi = v.count();
    while (lo < hi) {
      int mid = (lo + hi) / 2;
      int cmp = TreeCompare(key, v.key(mid), exact);
      if (cmp == 0 && by_recno) {
        uint32_t r = v.recno(mid);
        if (r == recno) {
          c->path.push_back({offset, mid});
          *exact_match = true;
          return kSuccess;
        }
        cmp = recno < r ? -1 : 1;
      }
      if (after ? cmp >= 0 : cmp > 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    c->path.push_back({offset, lo});
    uint32_t child = v.child(lo);
    if (child == 0) return kSuccess;
    offset = file_->OffsetOf(child);
  }
}

Status NtxOrder::Seek(OrderCursor* c, const std::string& key, bool after, bool exact,
                      uint32_t recno) {
  bool exact_match = false;
  if (Failed(Descend(c, key, after, exact, recno, &exact_match))) return kFailure;
  if (exact_match) return Load(c);
  return SettleForward(c);
}

Status NtxOrder::Locate(OrderCursor* c, const std::string& key, uint32_t recno) {
  if (Failed(Seek(c, key, false, true, sort_recno() ? recno : 0))) return kFailure;
  if (!sort_recno()) {
    while (c->on && c->recno != recno && c->key == key) {
      if (Failed(Next(c))) return kFailure;
    }
  }
  if (c->on && c->recno == recno && c->key == key) return kSuccess;
  c->between = true;
  c->key = key;
  c->recno = recno;
  return kSuccess;
}

// --- insertion ---

namespace {

// Keeps the remembered subtree counts that a key insert or delete along one path leaves valid:
// only the changed pages and the path's pages are forgotten; everything is forgotten when the
// change does not end well.
class PathChange {
 public:
  explicit PathChange(NtxFile* file) : file_(file) { file_->set_path_change(true); }
  ~PathChange() {
    file_->set_path_change(false);
    if (!settled_) file_->ForgetSubtreeCounts();
  }
  PathChange(const PathChange&) = delete;
  PathChange& operator=(const PathChange&) = delete;
  void Unchanged() { settled_ = true; }
  void Done(const std::vector<OrderCursor::Level>& path) {
    for (const OrderCursor::Level& l : path) file_->ForgetSubtreeCount(l.page);
    settled_ = true;
  }

 private:
  NtxFile* file_;
  bool settled_ = false;
};

}  // namespace

Status NtxOrder::Insert(const std::string& key, uint32_t recno, bool* added) {
  *added = false;
  PathChange change(file_);
  OrderCursor c;
  if (unique_) {
    if (Failed(Seek(&c, key, false, true))) return kFailure;
    if (c.on && c.key == key) {  // an equal key exists
      change.Unchanged();
      return kSuccess;
    }
  }
  bool exact_match = false;
  if (Failed(Descend(&c, key, !sort_recno(), true, recno, &exact_match))) return kFailure;
  if (exact_match && !(flags_ & kNtxFlagMultiKey)) {
    change.Unchanged();
    return kSuccess;
  }
  if (exact_match) {
    // A multi-key order takes the same key and record again: insert before the match, at
    // the leaf position reached through its left subtree.
    PageRef ref;
    if (Failed(Page(c.path.back().page, &ref))) return kFailure;
    uint32_t left = View(&ref).child(c.path.back().index);
    if (left != 0 && Failed(DescendRight(&c, file_->OffsetOf(left)))) return kFailure;
  }
  NtxEntry e{0, recno, key};
  const std::vector<OrderCursor::Level> path = c.path;
  if (Failed(InsertAt(std::move(c.path), std::move(e)))) return kFailure;
  change.Done(path);
  ++generation_;
  *added = true;
  return kSuccess;
}

Status NtxOrder::Gather(PageRef* left, PageRef* parent, int s, PageRef* right,
                        std::vector<NtxEntry>* entries, uint32_t* right_child) {
  NtxPageView l = View(left), p = View(parent), r = View(right);
  int a = l.count(), b = r.count();
  entries->clear();
  entries->reserve(static_cast<size_t>(a + b + 2));
  for (int i = 0; i < a; ++i) entries->push_back(l.Entry(i));
  NtxEntry sep = p.Entry(s);
  sep.child = l.child(a);
  entries->push_back(std::move(sep));
  for (int i = 0; i < b; ++i) entries->push_back(r.Entry(i));
  *right_child = r.child(b);
  return kSuccess;
}

void NtxOrder::Spread(PageRef* left, PageRef* parent, int s, PageRef* right,
                      const std::vector<NtxEntry>& entries, int x, uint32_t right_child) {
  NtxPageView l = View(left), p = View(parent), r = View(right);
  const NtxEntry& sep = entries[static_cast<size_t>(x)];
  l.Fill(entries.data(), x, sep.child);
  p.SetEntry(s, file_->RefOf(left->offset()), sep.recno,
             reinterpret_cast<const uint8_t*>(sep.key.data()));
  r.Fill(entries.data() + x + 1, static_cast<int>(entries.size()) - x - 1, right_child);
  file_->MarkChanged(left);
  file_->MarkChanged(parent);
  file_->MarkChanged(right);
}

Status NtxOrder::InsertAt(std::vector<OrderCursor::Level> path, NtxEntry e) {
  const int m = max_keys_;
  for (int lvl = static_cast<int>(path.size()) - 1; lvl >= 0; --lvl) {
    const uint64_t off = path[static_cast<size_t>(lvl)].page;
    const int i = path[static_cast<size_t>(lvl)].index;
    PageRef ref;
    if (Failed(Page(off, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    const int n = v.count();
    if (i > n) return file_->Corrupt();
    if (n < m) {
      v.InsertAt(i, e.child, e.recno, reinterpret_cast<const uint8_t*>(e.key.data()));
      file_->MarkChanged(&ref);
      return kSuccess;
    }
    if (lvl > 0) {
      // Full: let a neighbour under the same parent take keys when the two have room.
      const OrderCursor::Level& up = path[static_cast<size_t>(lvl - 1)];
      PageRef pref;
      if (Failed(Page(up.page, &pref))) return kFailure;
      NtxPageView pv = View(&pref);
      int pn = pv.count();
      if (pn > 0) {
        bool right = up.index < pn;
        int s = right ? up.index : up.index - 1;
        PageRef other;
        uint64_t other_off = file_->OffsetOf(pv.child(right ? up.index + 1 : up.index - 1));
        if (other_off == 0 || other_off == off) return file_->Corrupt();
        if (Failed(Page(other_off, &other))) return kFailure;
        PageRef* lp = right ? &ref : &other;
        PageRef* rp = right ? &other : &ref;
        int a = View(lp).count(), b = View(rp).count();
        if (a + b <= 2 * m - 2) {
          std::vector<NtxEntry> entries;
          uint32_t right_child;
          (void)Gather(lp, &pref, s, rp, &entries, &right_child);
          int g = right ? i : a + 1 + i;
          int x = (a + b + 1) / 2;
          entries.insert(entries.begin() + g, std::move(e));
          Spread(lp, &pref, s, rp, entries, g <= x ? x + 1 : x, right_child);
          return kSuccess;
        }
      }
    }
    // Split: a new page takes the first t/2 of the t = m + 1 keys, the next goes up.
    std::vector<NtxEntry> entries;
    entries.reserve(static_cast<size_t>(n + 1));
    for (int k = 0; k < n; ++k) entries.push_back(v.Entry(k));
    uint32_t right_child = v.child(n);
    entries.insert(entries.begin() + i, std::move(e));
    const int t = n + 1, half = t / 2;
    PageRef fresh;
    if (Failed(file_->NewPage(*this, &fresh))) return kFailure;
    NtxPageView f = View(&fresh);
    f.Fill(entries.data(), half, entries[static_cast<size_t>(half)].child);
    v.Fill(entries.data() + half + 1, t - half - 1, right_child);
    file_->MarkChanged(&fresh);
    file_->MarkChanged(&ref);
    NtxEntry promoted = std::move(entries[static_cast<size_t>(half)]);
    promoted.child = file_->RefOf(fresh.offset());
    if (lvl == 0) {
      PageRef root;
      if (Failed(file_->NewPage(*this, &root))) return kFailure;
      NtxPageView rv = View(&root);
      rv.InsertAt(0, promoted.child, promoted.recno,
                  reinterpret_cast<const uint8_t*>(promoted.key.data()));
      rv.set_child(1, file_->RefOf(off));
      file_->MarkChanged(&root);
      root_ = root.offset();
      file_->MarkHeaderChanged();
      return kSuccess;
    }
    e = std::move(promoted);
  }
  return kSuccess;
}

// --- deletion ---

Status NtxOrder::Delete(const std::string& key, uint32_t recno, bool* deleted) {
  *deleted = false;
  PathChange change(file_);
  OrderCursor c;
  if (Failed(Locate(&c, key, recno))) return kFailure;
  if (c.between || !c.on) {
    change.Unchanged();
    return kSuccess;
  }
  std::vector<OrderCursor::Level> path = c.path;
  {
    PageRef ref;
    if (Failed(Page(path.back().page, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    int i = path.back().index;
    uint32_t left = v.child(i);
    if (left != 0) {
      // An inner key is replaced by the last key of the rightmost leaf of its left subtree.
      OrderCursor d;
      d.path = path;
      if (Failed(DescendRight(&d, file_->OffsetOf(left)))) return kFailure;
      PageRef leaf;
      if (Failed(Page(d.path.back().page, &leaf))) return kFailure;
      NtxPageView lv = View(&leaf);
      int ln = lv.count();
      if (ln == 0) return file_->Corrupt();  // an empty leaf below an inner key
      v.SetEntry(i, left, lv.recno(ln - 1), lv.key(ln - 1));
      file_->MarkChanged(&ref);
      d.path.back().index = ln - 1;
      path = std::move(d.path);
    }
  }
  {
    PageRef leaf;
    if (Failed(Page(path.back().page, &leaf))) return kFailure;
    View(&leaf).RemoveAt(path.back().index);
    file_->MarkChanged(&leaf);
  }
  const std::vector<OrderCursor::Level> changed_path = path;
  if (Failed(Rebalance(std::move(path)))) return kFailure;
  change.Done(changed_path);
  ++generation_;
  *deleted = true;
  return kSuccess;
}

Status NtxOrder::Rebalance(std::vector<OrderCursor::Level> path) {
  const int m = max_keys_;
  for (int lvl = static_cast<int>(path.size()) - 1; lvl > 0; --lvl) {
    const uint64_t off = path[static_cast<size_t>(lvl)].page;
    PageRef ref;
    if (Failed(Page(off, &ref))) return kFailure;
    if (View(&ref).count() >= m / 2) break;
    const OrderCursor::Level& up = path[static_cast<size_t>(lvl - 1)];
    PageRef pref;
    if (Failed(Page(up.page, &pref))) return kFailure;
    NtxPageView pv = View(&pref);
    int pn = pv.count();
    if (pn == 0) return file_->Corrupt();  // a parent without keys above a page
    bool right = up.index < pn;
    int s = right ? up.index : up.index - 1;
    uint64_t other_off = file_->OffsetOf(pv.child(right ? up.index + 1 : up.index - 1));
    if (other_off == 0 || other_off == off) return file_->Corrupt();
    PageRef other;
    if (Failed(Page(other_off, &other))) return kFailure;
    PageRef* lp = right ? &ref : &other;
    PageRef* rp = right ? &other : &ref;
    int a = View(lp).count(), b = View(rp).count();
    std::vector<NtxEntry> entries;
    uint32_t right_child;
    (void)Gather(lp, &pref, s, rp, &entries, &right_child);
    if (a + b < m) {
      // Merge: the left page takes the separator and every key of the right page.
      View(lp).Fill(entries.data(), static_cast<int>(entries.size()), right_child);
      uint64_t right_off = rp->offset();
      uint32_t left_ref = file_->RefOf(lp->offset());
      pv.RemoveAt(s);
      pv.set_child(s, left_ref);
      file_->MarkChanged(lp);
      file_->MarkChanged(&pref);
      rp->Release();
      if (Failed(file_->FreePage(*this, right_off))) return kFailure;
    } else {
      Spread(lp, &pref, s, rp, entries, (a + b + 1) / 2, right_child);
    }
  }
  // A root left without keys but with a child hands the root to that child.
  PageRef root;
  if (Failed(Page(root_, &root))) return kFailure;
  NtxPageView rv = View(&root);
  if (rv.count() == 0 && rv.child(0) != 0) {
    uint64_t old = root_;
    root_ = file_->OffsetOf(rv.child(0));
    root.Release();
    file_->MarkHeaderChanged();
    return file_->FreePage(*this, old);
  }
  return kSuccess;
}

// --- counting ---

Status NtxOrder::SubtreeCount(uint64_t offset, int depth, int64_t* out) {
  if (depth > kMaxDepth) return file_->Corrupt();
  int64_t known;
  if (file_->KnownSubtreeCount(offset, &known)) {
    *out += known;
    return kSuccess;
  }
  PageRef ref;
  if (Failed(Page(offset, &ref))) return kFailure;
  NtxPageView v = View(&ref);
  int n = v.count();
  if (v.child(0) == 0) {  // a leaf holds its count
    *out += n;
    return kSuccess;
  }
  std::vector<uint64_t> children;
  for (int i = 0; i <= n; ++i) {
    if (v.child(i)) children.push_back(file_->OffsetOf(v.child(i)));
  }
  ref.Release();
  int64_t sum = n;
  if (Failed(CountChildren(children, depth + 1, &sum))) return kFailure;
  file_->RememberSubtreeCount(offset, sum);
  *out += sum;
  return kSuccess;
}

Status NtxOrder::CountChildren(const std::vector<uint64_t>& children, int depth, int64_t* out) {
  // Children that lie next to each other in the file (a build writes them so) are read in one
  // go; leaves among them add their counts, inner pages are counted below.
  constexpr size_t kRunPages = 64;
  std::vector<uint8_t> run_data;
  size_t i = 0;
  while (i < children.size()) {
    int64_t known;
    if (file_->KnownSubtreeCount(children[i], &known)) {
      *out += known;
      ++i;
      continue;
    }
    size_t run = 1;
    while (i + run < children.size() && run < kRunPages &&
           children[i + run] == children[i] + run * kNtxBlockSize) {
      ++run;
    }
    run_data.resize(run * kNtxBlockSize);
    if (Failed(file_->PeekPages(*this, children[i], static_cast<int>(run), run_data.data()))) {
      return kFailure;
    }
    for (size_t k = 0; k < run; ++k) {
      NtxPageView v(run_data.data() + k * kNtxBlockSize, key_length_, max_keys_);
      if (v.child(0) == 0) {
        *out += v.count();
      } else if (Failed(SubtreeCount(children[i + k], depth, out))) {
        return kFailure;
      }
    }
    i += run;
  }
  return kSuccess;
}

Status NtxOrder::CountAll(int64_t* out) {
  *out = 0;
  if (root_ == 0) return file_->Corrupt();
  return SubtreeCount(root_, 0, out);
}

Status NtxOrder::Position(const OrderCursor& c, int64_t* out) {
  int64_t total = 0;
  for (size_t lvl = 0; lvl < c.path.size(); ++lvl) {
    bool last = lvl + 1 == c.path.size();
    PageRef ref;
    if (Failed(Page(c.path[lvl].page, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    int j = c.path[lvl].index;
    std::vector<uint32_t> children;
    for (int k = 0; k < j; ++k) {
      if (v.child(k)) children.push_back(v.child(k));
    }
    if (last && v.child(j)) children.push_back(v.child(j));
    total += j;
    ref.Release();
    for (uint32_t ch : children) {
      if (Failed(SubtreeCount(file_->OffsetOf(ch), static_cast<int>(lvl) + 1, &total))) {
        return kFailure;
      }
    }
  }
  *out = total + 1;
  return kSuccess;
}

Status NtxOrder::GoToPosition(OrderCursor* c, int64_t n, bool from_end) {
  c->path.clear();
  c->between = false;
  if (root_ == 0) return file_->Corrupt();
  uint64_t offset = root_;
  while (n >= 1) {
    if (static_cast<int>(c->path.size()) > kMaxDepth) return file_->Corrupt();
    int count;
    std::vector<uint32_t> children;
    {
      PageRef ref;
      if (Failed(Page(offset, &ref))) return kFailure;
      NtxPageView v = View(&ref);
      count = v.count();
      if (v.child(0) != 0) {
        for (int i = 0; i <= count; ++i) children.push_back(v.child(i));
      }
    }
    if (children.empty()) {  // a leaf
      if (n > count) break;
      int i = static_cast<int>(n) - 1;
      c->path.push_back({offset, from_end ? count - 1 - i : i});
      return Load(c);
    }
    // Slots in the walking direction: subtree, key, subtree, ..., key, subtree.
    uint64_t next = 0;
    for (int s = 0; s <= count; ++s) {
      int child = from_end ? count - s : s;
      int64_t size = 0;
      if (children[static_cast<size_t>(child)] != 0 &&
          Failed(SubtreeCount(file_->OffsetOf(children[static_cast<size_t>(child)]),
                              static_cast<int>(c->path.size()) + 1, &size))) {
        return kFailure;
      }
      if (n <= size) {
        c->path.push_back({offset, child});
        next = file_->OffsetOf(children[static_cast<size_t>(child)]);
        break;
      }
      n -= size;
      if (s == count) break;
      if (n == 1) {  // the key between this subtree and the next
        c->path.push_back({offset, from_end ? child - 1 : child});
        return Load(c);
      }
      --n;
    }
    if (next == 0) break;
    offset = next;
  }
  c->path.clear();
  c->on = false;
  c->generation = generation_;
  return kSuccess;
}

Status NtxOrder::Fraction(const OrderCursor& c, double* out) {
  *out = 0;
  if (!c.on || c.between || c.path.empty()) return kSuccess;
  double f = 0;
  for (size_t lvl = c.path.size(); lvl-- > 0;) {
    PageRef ref;
    if (Failed(Page(c.path[lvl].page, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    int count = v.count();
    bool leaf = v.child(0) == 0;
    int slots = leaf ? count : count + 1;
    if (slots <= 0) return file_->Corrupt();
    double below = f;
    if (lvl + 1 == c.path.size()) below = leaf ? 0.5 : 1.0;  // the key itself
    f = (c.path[lvl].index + below) / slots;
  }
  *out = std::clamp(f, 0.0, 1.0);
  return kSuccess;
}

Status NtxOrder::MakeEmptyRoot() {
  PageRef root;
  if (Failed(file_->NewPage(*this, &root))) return kFailure;
  file_->MarkChanged(&root);
  root_ = root.offset();
  file_->MarkHeaderChanged();
  ++generation_;
  return kSuccess;
}

Status NtxOrder::FreeSubtree(uint64_t offset, int depth) {
  if (depth > kMaxDepth) return file_->Corrupt();
  std::vector<uint32_t> children;
  {
    PageRef ref;
    if (Failed(Page(offset, &ref))) return kFailure;
    NtxPageView v = View(&ref);
    for (int i = 0; i <= v.count(); ++i) {
      if (v.child(i)) children.push_back(v.child(i));
    }
  }
  for (uint32_t ch : children) {
    if (Failed(FreeSubtree(file_->OffsetOf(ch), depth + 1))) return kFailure;
  }
  return file_->FreePage(*this, offset);
}

Status NtxOrder::FreeTree() {
  if (root_ == 0) return kSuccess;
  if (Failed(FreeSubtree(root_, 0))) return kFailure;
  root_ = 0;
  ++generation_;
  return kSuccess;
}

Status NtxOrder::FixRightEdge() {
  uint64_t offset = root_;
  for (int depth = 0; offset != 0; ++depth) {
    if (depth > kMaxDepth) return file_->Corrupt();
    PageRef parent;
    if (Failed(Page(offset, &parent))) return kFailure;
    NtxPageView pv = View(&parent);
    int n = pv.count();
    uint32_t right = pv.child(n);
    if (right == 0) break;
    PageRef rp;
    if (Failed(Page(file_->OffsetOf(right), &rp))) return kFailure;
    int b = View(&rp).count();
    if (b < max_keys_ / 2 && n > 0) {
      PageRef lp;
      if (Failed(Page(file_->OffsetOf(pv.child(n - 1)), &lp))) return kFailure;
      int a = View(&lp).count();
      std::vector<NtxEntry> entries;
      uint32_t right_child;
      (void)Gather(&lp, &parent, n - 1, &rp, &entries, &right_child);
      Spread(&lp, &parent, n - 1, &rp, entries, (a + b + 1) / 2, right_child);
    }
    offset = file_->OffsetOf(right);
  }
  ++generation_;
  return kSuccess;
}

}  // namespace vosk
