#include "rdd/dbfcdx/cdx_tag.h"

#include <algorithm>
#include <cstring>

#include "expr/decimal_text.h"
#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_bag.h"

namespace vosk {
namespace {

// A path deeper than this cannot come from a sound file; it means a cycle of references.
constexpr int kMaxDepth = 64;

uint16_t Attr(const uint8_t* p) { return GetLe16(p + kCdxPageAttr); }
int Count(const uint8_t* p) { return GetLe16(p + kCdxPageCount); }
uint32_t LeftOf(const uint8_t* p) { return GetLe32(p + kCdxPageLeft); }
uint32_t RightOf(const uint8_t* p) { return GetLe32(p + kCdxPageRight); }

// An interior entry: key, record number (BE), child (BE).
struct IntEntry {
  std::string key;
  uint32_t recno;
  uint32_t child;
};

std::vector<IntEntry> ReadInterior(const uint8_t* p, int k) {
  std::vector<IntEntry> out;
  int n = Count(p);
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const uint8_t* e = p + kCdxIntEntries + i * (k + 8);
    out.push_back({std::string(reinterpret_cast<const char*>(e), static_cast<size_t>(k)),
                   GetBe32(e + k), GetBe32(e + k + 4)});
  }
  return out;
}

void WriteInterior(uint8_t* p, int k, const std::vector<IntEntry>& entries, size_t first,
                   size_t count, uint16_t attr, uint32_t left, uint32_t right) {
  std::memset(p, 0, kCdxPageSize);
  PutLe16(p + kCdxPageAttr, attr);
  PutLe16(p + kCdxPageCount, static_cast<uint16_t>(count));
  PutLe32(p + kCdxPageLeft, left);
  PutLe32(p + kCdxPageRight, right);
  for (size_t i = 0; i < count; ++i) {
    uint8_t* e = p + kCdxIntEntries + i * static_cast<size_t>(k + 8);
    const IntEntry& x = entries[first + i];
    std::memcpy(e, x.key.data(), static_cast<size_t>(k));
    PutBe32(e + k, x.recno);
    PutBe32(e + k + 4, x.child);
  }
}

// Sets the left (kCdxPageLeft) or right (kCdxPageRight) link of a page; none is no page.
Status SetLink(CdxBag* bag, uint32_t page, int link, uint32_t to) {
  if (page == kCdxNone || page == 0) return kSuccess;
  PageRef ref;
  if (Failed(bag->ReadPage(page, &ref))) return kFailure;
  PutLe32(ref.data() + link, to);
  bag->MarkChanged(&ref);
  return kSuccess;
}

}  // namespace

CdxTag::~CdxTag() = default;

OrderBag* CdxTag::bag() const { return bag_; }

bool CdxTag::DecodeHeader(const uint8_t* h, uint64_t file_size, bool directory) {
  uint32_t root = GetLe32(h + kCdxHdrRoot);
  if (root == 0 || root == kCdxNone || root % kCdxPageSize != 0 || root >= file_size) {
    return false;  // root outside the file
  }
  int len = GetLe16(h + kCdxHdrKeyLength);
  if (len < 1 || len > kCdxMaxKeyLength) return false;
  int key_pos = GetLe16(h + kCdxHdrKeyPos), key_len = GetLe16(h + kCdxHdrKeyLen);
  int for_pos = GetLe16(h + kCdxHdrForPos), for_len = GetLe16(h + kCdxHdrForLen);
  if (key_pos + key_len > kCdxPoolSize || for_pos + for_len > kCdxPoolSize) return false;
  if (key_len > 0 && for_len > 0 && key_pos < for_pos + for_len && for_pos < key_pos + key_len) {
    return false;  // the texts overlap
  }
  const uint8_t* pool = h + kCdxHdrPool;
  auto text = [&](int pos, int n) {
    std::string s;
    for (int i = 0; i < n && pool[pos + i] != 0; ++i) s.push_back(static_cast<char>(pool[pos + i]));
    return s;
  };
  key_text_ = key_len > 0 ? text(key_pos, key_len) : "";
  for_text_ = for_len > 0 ? text(for_pos, for_len) : "";
  if (!directory && key_text_.empty()) return false;
  root_ = root;
  key_length_ = len;
  options_ = h[kCdxHdrOptions];
  upper_ = h[kCdxHdrSignature] == 1 && h[kCdxHdrUpper] == 1;
  descending_ = GetLe16(h + kCdxHdrDescending) != 0;
  unique_ = (options_ & kCdxOptUnique) != 0;
  // Bit 0x04 marks this program's custom tags (written with the partial bit 0x02) and Visual
  // FoxPro's candidate (primary key) tags (written without it). A tag this program did not
  // make custom is kept current, and unique, like the program that owns the table expects.
  custom_ = (options_ & kCdxOptCustom) != 0 && (options_ & kCdxOptPartial) != 0;
  candidate_ = (options_ & kCdxOptCustom) != 0 && !custom_;
  type_ = directory ? 'C' : 0;  // known once the key has been evaluated
  return true;
}

void CdxTag::EncodeHeader(uint8_t* h) const {
  std::memset(h, 0, kCdxHeaderSize);
  PutLe32(h + kCdxHdrRoot, static_cast<uint32_t>(root_));
  PutLe16(h + kCdxHdrKeyLength, static_cast<uint16_t>(key_length_));
  uint8_t opt = static_cast<uint8_t>(options_ & 0xF0);
  if (unique_) opt |= kCdxOptUnique;
  if (custom_) opt |= kCdxOptCustom | kCdxOptPartial;
  else if (candidate_) opt |= kCdxOptCustom;
  else if (options_ & kCdxOptPartial) opt |= kCdxOptPartial;
  if (!for_text_.empty()) opt |= kCdxOptFor;
  h[kCdxHdrOptions] = opt;
  h[kCdxHdrSignature] = 1;
  h[kCdxHdrUpper] = upper_ ? 1 : 0;
  PutLe16(h + kCdxHdrDescending, descending_ ? 1 : 0);
  size_t klen = key_text_.size(), flen = for_text_.size();
  if (klen + flen <= kCdxPoolSize - 2) {
    std::memcpy(h + kCdxHdrPool, key_text_.data(), klen);
    PutLe16(h + kCdxHdrKeyPos, 0);
    PutLe16(h + kCdxHdrKeyLen, static_cast<uint16_t>(klen + 1));
    if (flen > 0) {
      std::memcpy(h + kCdxHdrPool + klen + 1, for_text_.data(), flen);
      PutLe16(h + kCdxHdrForPos, static_cast<uint16_t>(klen + 1));
      PutLe16(h + kCdxHdrForLen, static_cast<uint16_t>(flen + 1));
    } else {
      PutLe16(h + kCdxHdrForPos, static_cast<uint16_t>(klen + 1));
    }
  }
}

void CdxTag::Define(const std::string& name, const std::string& key_text,
                    const std::string& for_text, char type, int length, bool unique,
                    bool descending, bool custom, bool upper) {
  name_ = name;
  key_text_ = key_text;
  for_text_ = for_text;
  type_ = type;
  key_length_ = length;
  unique_ = unique;
  descending_ = descending;
  custom_ = custom;
  upper_ = upper;
  options_ = kCdxOptCompact | kCdxOptCompound;
}

void CdxTag::DefineDirectory() {
  name_.clear();
  key_text_.clear();
  for_text_.clear();
  type_ = 'C';
  key_length_ = kCdxTagNameLength;
  options_ = kCdxOptCompact | kCdxOptCompound | kCdxOptDirectory;
}

void CdxTag::set_for_text(const std::string& t) { for_text_ = t; }

bool CdxTag::EncodeKey(const Value& value, std::string* out) const {
  return CdxEncodeKey(value, type_, key_length_, upper_, out);
}

std::string CdxTag::SearchKey(const Value& value) const {
  return CdxSearchKey(value, type_, key_length_, upper_);
}

bool CdxTag::KeyFromField(const uint8_t* field, std::string* out) const {
  const char* p = reinterpret_cast<const char*>(field);
  switch (type_) {
    case 'C':
      out->assign(p, static_cast<size_t>(key_length_));
      if (upper_) {
        for (char& c : *out) {
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
      }
      return true;
    case 'D': {
      // "YYYYMMDD" or blanks.
      int y = 0, m = 0, d = 0;
      bool blank = true, digits = true;
      for (int i = 0; i < 8; ++i) {
        if (p[i] != ' ') blank = false;
        if (p[i] < '0' || p[i] > '9') digits = false;
      }
      if (blank) {
        *out = CdxDoubleKey(0);
        return true;
      }
      if (!digits) return false;
      for (int i = 0; i < 4; ++i) y = y * 10 + (p[i] - '0');
      m = (p[4] - '0') * 10 + (p[5] - '0');
      d = (p[6] - '0') * 10 + (p[7] - '0');
      int32_t j = JulianFromYmd(y, m, d);
      if (j == 0) return false;
      *out = CdxDoubleKey(j);
      return true;
    }
    case 'L':
      *out = (p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y') ? "T" : "F";
      return true;
    case 'N':
      // The number the field's text reads as.
      if (key_field_length <= 0) return false;
      *out = CdxDoubleKey(ParseDecimal(std::string_view(p, static_cast<size_t>(key_field_length)),
                                       nullptr, nullptr));
      return true;
    default:
      return false;
  }
}

bool CdxTag::AtOrAfter(const std::string& search, uint32_t recno, bool after, bool exact,
                       const uint8_t* key, uint32_t key_recno) const {
  int c = CompareKeys(reinterpret_cast<const uint8_t*>(search.data()),
                      static_cast<int>(search.size()), key, key_length_, exact);
  if (c != 0) return c < 0;
  if (after) return recno != 0 && recno != kCdxNone && key_recno > recno;
  return recno == 0 || key_recno >= recno;
}

Status CdxTag::Leaf(uint64_t offset, const std::vector<CdxKeyEntry>** keys) {
  if (decoded_offset_ == offset && decoded_epoch_ == bag_->epoch()) {
    *keys = &decoded_;
    return kSuccess;
  }
  PageRef ref;
  if (Failed(bag_->ReadPage(offset, &ref))) return kFailure;
  decoded_offset_ = 0;
  if (!CdxDecodeLeaf(ref.data(), key_length_, pad(), &decoded_)) {
    return bag_->PageFault("cdxPageLeafDecode: index corrupted.", offset);
  }
  decoded_offset_ = offset;
  decoded_epoch_ = bag_->epoch();
  *keys = &decoded_;
  return kSuccess;
}

bool CdxTag::EncodeLeafPage(const std::vector<CdxKeyEntry>& keys, uint16_t attr, uint32_t left,
                            uint32_t right, uint8_t* page) const {
  return CdxEncodeLeaf(keys, 0, keys.size(), key_length_, pad(), attr, left, right, 0, page);
}

Status CdxTag::SetFromLeaf(OrderCursor* c) {
  // Moves along the chain until the leaf index names a key (right when past the end).
  for (int guard = 0;; ++guard) {
    if (guard > 1000000) return bag_->PageFault("cdxTagSkip: leaf chain loops.", c->path.back().page);
    const std::vector<CdxKeyEntry>* keys;
    if (Failed(Leaf(c->path.back().page, &keys))) return kFailure;
    int i = c->path.back().index;
    if (i >= 0 && i < static_cast<int>(keys->size())) {
      c->on = true;
      c->key = (*keys)[static_cast<size_t>(i)].key;
      c->recno = (*keys)[static_cast<size_t>(i)].recno;
      c->generation = generation_;
      return kSuccess;
    }
    const uint64_t page = c->path.back().page;
    PageRef ref;
    if (Failed(bag_->ReadPage(page, &ref))) return kFailure;
    uint32_t next = i < 0 ? LeftOf(ref.data()) : RightOf(ref.data());
    ref.Release();
    if (next == kCdxNone || next == 0) {
      // The chain ends at the tree's edge leaf, or a cut link hides the leaves beyond it.
      OrderCursor edge;
      if (Failed(DescendEdge(&edge, i < 0))) return kFailure;
      if (edge.path.back().page != page) {
        return bag_->PageFault("cdxTagSkip: leaf chain broken.", page);
      }
      c->on = false;
      c->generation = generation_;
      return kSuccess;
    }
    {
      // A neighbour links back, or the link leads into another part of the chain.
      PageRef n;
      if (Failed(bag_->ReadPage(next, &n))) return kFailure;
      if ((i < 0 ? RightOf(n.data()) : LeftOf(n.data())) != page) {
        return bag_->PageFault("cdxTagSkip: leaf chain broken.", page);
      }
    }
    if (i < 0) {
      const std::vector<CdxKeyEntry>* prev;
      if (Failed(Leaf(next, &prev))) return kFailure;
      c->path.assign(1, {next, static_cast<int>(prev->size()) - 1});
    } else {
      c->path.assign(1, {next, 0});
    }
  }
}

template <class LeafSlot, class InteriorSlot>
Status CdxTag::WalkDown(OrderCursor* c, LeafSlot leaf_slot, InteriorSlot interior_slot) {
  c->path.clear();
  c->between = false;
  if (root_ == 0) return bag_->PageFault("cdxTagOpen: index corrupted", 0);
  uint64_t off = root_;
  const int k = key_length_;
  for (int depth = 0;; ++depth) {
    if (depth > kMaxDepth) return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    PageRef ref;
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    const uint8_t* p = ref.data();
    if (Attr(p) & kCdxAttrLeaf) {
      const std::vector<CdxKeyEntry>* keys;
      if (Failed(Leaf(off, &keys))) return kFailure;
      c->path.push_back({off, leaf_slot(*keys)});
      return kSuccess;
    }
    int n = Count(p);
    if (n < 1 || n > max_interior()) return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    int i = interior_slot(p + kCdxIntEntries, n);
    c->path.push_back({off, i});
    uint32_t child = GetBe32(p + kCdxIntEntries + i * (k + 8) + k + 4);
    if (child == 0 || child == kCdxNone || child % kCdxPageSize != 0) {
      return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    }
    off = child;
  }
}

namespace {

// The first of n entries for which `at_or_after(i)` holds (n when none): a binary search.
template <class AtOrAfter>
int FirstAtOrAfter(int n, AtOrAfter at_or_after) {
  int lo = 0, hi = n;
  while (lo < hi) {
    int mid = (lo + hi) / 2;
    if (at_or_after(mid)) hi = mid;
    else lo = mid + 1;
  }
  return lo;
}

}  // namespace

Status CdxTag::Descend(OrderCursor* c, const std::string& key, bool after, bool exact,
                       uint32_t recno) {
  const int width = key_length_ + 8;
  return WalkDown(
      c,
      [&](const std::vector<CdxKeyEntry>& keys) {
        return FirstAtOrAfter(static_cast<int>(keys.size()), [&](int i) {
          const CdxKeyEntry& e = keys[static_cast<size_t>(i)];
          return AtOrAfter(key, recno, after, exact, reinterpret_cast<const uint8_t*>(e.key.data()),
                           e.recno);
        });
      },
      [&](const uint8_t* entries, int n) {
        // Past every entry: the last child, whose last key bounds the tree.
        return std::min(n - 1, FirstAtOrAfter(n, [&](int i) {
                          const uint8_t* e = entries + i * width;
                          return AtOrAfter(key, recno, after, exact, e, GetBe32(e + key_length_));
                        }));
      });
}

Status CdxTag::Seek(OrderCursor* c, const std::string& key, bool after, bool exact,
                    uint32_t recno) {
  if (Failed(Descend(c, key, after, exact, recno))) return kFailure;
  return SetFromLeaf(c);
}

Status CdxTag::Edge(OrderCursor* c, bool first) {
  if (Failed(DescendEdge(c, first))) return kFailure;
  return SetFromLeaf(c);
}

Status CdxTag::DescendEdge(OrderCursor* c, bool first) {
  // An empty root leaf gives the slot 0 (first) or -1 (last): no key.
  return WalkDown(
      c, [&](const std::vector<CdxKeyEntry>& keys) { return first ? 0 : static_cast<int>(keys.size()) - 1; },
      [&](const uint8_t*, int n) { return first ? 0 : n - 1; });
}

Status CdxTag::First(OrderCursor* c) { return Edge(c, true); }
Status CdxTag::Last(OrderCursor* c) { return Edge(c, false); }

Status CdxTag::Next(OrderCursor* c) {
  if (c->generation != generation_ || c->path.empty()) {
    // The tree changed since the cursor was made: find its key again.
    std::string key = c->key;
    uint32_t recno = c->recno;
    if (Failed(Seek(c, key, false, true, recno))) return kFailure;
    if (!(c->on && c->key == key && c->recno == recno)) return kSuccess;  // already past it
  }
  ++c->path.back().index;
  return SetFromLeaf(c);
}

Status CdxTag::Prev(OrderCursor* c) {
  if (c->generation != generation_ || c->path.empty()) {
    std::string key = c->key;
    uint32_t recno = c->recno;
    if (Failed(Seek(c, key, false, true, recno))) return kFailure;
    if (!c->on) return Last(c);
  }
  --c->path.back().index;
  return SetFromLeaf(c);
}

Status CdxTag::Locate(OrderCursor* c, const std::string& key, uint32_t recno) {
  if (Failed(Seek(c, key, false, true, recno))) return kFailure;
  if (c->on && c->recno == recno && c->key == key) return kSuccess;
  c->between = true;
  c->key = key;
  c->recno = recno;
  return kSuccess;
}

Status CdxTag::CountAll(int64_t* out) {
  *out = 0;
  OrderCursor c;
  if (Failed(Edge(&c, true))) return kFailure;
  uint64_t off = c.path.back().page;
  for (int64_t guard = 0;; ++guard) {
    PageRef ref;
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    *out += Count(ref.data());
    uint32_t next = RightOf(ref.data());
    if (next == kCdxNone || next == 0) return kSuccess;
    if (guard > (1LL << 26)) return bag_->PageFault("cdxTagSkip: leaf chain loops.", off);
    off = next;
  }
}

Status CdxTag::Position(const OrderCursor& c, int64_t* out) {
  *out = 0;
  if (!c.on || c.path.empty()) return kSuccess;
  OrderCursor at = c;
  if (at.generation != generation_) {
    if (Failed(Seek(&at, c.key, false, true, c.recno))) return kFailure;
    if (!at.on) return kSuccess;
  }
  int64_t n = at.path.back().index + 1;
  PageRef ref;
  if (Failed(bag_->ReadPage(at.path.back().page, &ref))) return kFailure;
  uint32_t left = LeftOf(ref.data());
  ref.Release();
  for (int64_t guard = 0; left != kCdxNone && left != 0; ++guard) {
    if (guard > (1LL << 26)) return bag_->PageFault("cdxTagSkip: leaf chain loops.", left);
    PageRef l;
    if (Failed(bag_->ReadPage(left, &l))) return kFailure;
    n += Count(l.data());
    left = LeftOf(l.data());
  }
  *out = n;
  return kSuccess;
}

Status CdxTag::GoToPosition(OrderCursor* c, int64_t n, bool from_end) {
  if (Failed(Edge(c, !from_end))) return kFailure;
  if (!c->on) return kSuccess;
  uint64_t off = c->path.back().page;
  for (int64_t guard = 0;; ++guard) {
    PageRef ref;
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    int count = Count(ref.data());
    if (n <= count) {
      c->path.assign(1, {off, from_end ? count - static_cast<int>(n) : static_cast<int>(n) - 1});
      return SetFromLeaf(c);
    }
    n -= count;
    uint32_t next = from_end ? LeftOf(ref.data()) : RightOf(ref.data());
    if (next == kCdxNone || next == 0 || guard > (1LL << 26)) {
      c->on = false;
      return kSuccess;
    }
    off = next;
  }
}

Status CdxTag::Fraction(const OrderCursor& c, double* out) {
  *out = 0;
  if (!c.on) return kSuccess;
  int64_t pos, all;
  if (Failed(Position(c, &pos)) || Failed(CountAll(&all))) return kFailure;
  if (all > 0) *out = (static_cast<double>(pos) - 0.5) / static_cast<double>(all);
  return kSuccess;
}

Status CdxTag::AllKeys(std::vector<CdxKeyEntry>* out) {
  out->clear();
  OrderCursor c;
  if (Failed(First(&c))) return kFailure;
  while (c.on) {
    out->push_back({c.key, c.recno});
    if (out->size() > (1u << 28)) return bag_->PageFault("cdxTagSkip: leaf chain loops.", 0);
    if (Failed(Next(&c))) return kFailure;
  }
  return kSuccess;
}

Status CdxTag::MakeEmptyRoot() {
  PageRef ref;
  if (Failed(bag_->NewPage(&ref))) return kFailure;
  std::vector<CdxKeyEntry> none;
  EncodeLeafPage(none, kCdxAttrRoot, kCdxNone, kCdxNone, ref.data());
  bag_->MarkChanged(&ref);
  root_ = ref.offset();
  Touch();
  return kSuccess;
}

Status CdxTag::FreeTree() {
  if (root_ == 0) return kSuccess;
  // Level by level, from the leftmost page of each level along its chain.
  uint64_t first = root_;
  const int k = key_length_;
  for (int depth = 0; depth <= kMaxDepth && first != 0; ++depth) {
    uint64_t next_level = 0;
    uint64_t off = first;
    for (int64_t guard = 0; off != 0 && off != kCdxNone; ++guard) {
      PageRef ref;
      if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
      const uint8_t* p = ref.data();
      if (!(Attr(p) & kCdxAttrLeaf) && next_level == 0 && Count(p) > 0) {
        next_level = GetBe32(p + kCdxIntEntries + k + 4);
      }
      uint32_t right = RightOf(p);
      ref.Release();
      bag_->FreePage(off);
      if (guard > (1LL << 26)) return bag_->PageFault("cdxTagSkip: leaf chain loops.", off);
      off = right == kCdxNone ? 0 : right;
    }
    first = next_level;
  }
  root_ = 0;
  Touch();
  return kSuccess;
}

// --- changes ---

namespace {

// What a change below a page tells the page above it.
struct Change {
  bool found = true;      // (delete) the key was there
  bool empty = false;     // the page lost its last key and was freed
  bool split = false;     // a new page follows this one
  bool leaf = false;      // the page is a leaf
  bool shrank = false;    // the page lost entries (interior pages)
  std::string last_key;   // this page's last key and record
  uint32_t last_recno = 0;
  uint64_t new_page = 0;  // the new right neighbour
  std::string new_last_key;
  uint32_t new_last_recno = 0;
};

// Takes a page out of its level's chain and frees it.
Status Unlink(CdxBag* bag, uint64_t off, uint32_t left, uint32_t right) {
  if (Failed(SetLink(bag, left, kCdxPageRight, right)) ||
      Failed(SetLink(bag, right, kCdxPageLeft, left))) {
    return kFailure;
  }
  bag->FreePage(off);
  return kSuccess;
}

// A run of neighbouring children of one interior page, in chain order.
struct Group {
  size_t first = 0;  // index of the first child's entry in the parent
  std::vector<uint64_t> pages;
  uint32_t left = kCdxNone;   // left neighbour of the first page
  uint32_t right = kCdxNone;  // right neighbour of the last page
};

Status ReadGroup(CdxTag* tag, const std::vector<IntEntry>& entries, size_t first, size_t end,
                 bool leaves, Group* g) {
  CdxBag* bag = tag->cdx_bag();
  const char* fault =
      leaves ? "cdxPageKeyLeafBalance: index corrupted." : "cdxPageKeyIntBalance: index corrupted.";
  g->first = first;
  g->pages.clear();
  for (size_t j = first; j < end; ++j) {
    const uint64_t off = entries[j].child;
    PageRef ref;
    if (Failed(bag->ReadPage(off, &ref))) return kFailure;
    const uint8_t* p = ref.data();
    if (((Attr(p) & kCdxAttrLeaf) != 0) != leaves) return bag->PageFault(fault, off);
    if (!leaves && (Count(p) < 1 || Count(p) > tag->max_interior())) return bag->PageFault(fault, off);
    // Neighbours under one parent link to each other.
    if (j == first) g->left = LeftOf(p);
    else if (LeftOf(p) != g->pages.back()) return bag->PageFault(fault, off);
    if (j + 1 < end && RightOf(p) != entries[j + 1].child) return bag->PageFault(fault, off);
    g->right = RightOf(p);
    g->pages.push_back(off);
  }
  return kSuccess;
}

// Gives the group's pages `counts[p]` items each (pages past the counts' end are freed, pages
// beyond the group's end are new); `write` fills a page (nullptr: kept) and names its last item.
// The parent's entries for the group are replaced by one per page kept.
// Pages whose `keep` is true and whose right neighbour stays are not rewritten.
using PageWriter =
    std::function<void(uint8_t* page, size_t start, size_t count, uint32_t left, uint32_t right,
                       IntEntry* last)>;
Status Redistribute(CdxBag* bag, std::vector<IntEntry>* entries, Group* g,
                    const std::vector<size_t>& counts, const PageWriter& write,
                    const std::vector<bool>& keep) {
  const size_t old_pages = g->pages.size();
  while (g->pages.size() < counts.size()) {
    PageRef fresh;
    if (Failed(bag->NewPage(&fresh))) return kFailure;
    g->pages.push_back(fresh.offset());
  }
  const size_t used = counts.size();
  std::vector<IntEntry> replaced(used);
  size_t start = 0;
  for (size_t p = 0; p < used; ++p) {
    uint32_t left = p == 0 ? g->left : static_cast<uint32_t>(g->pages[p - 1]);
    uint32_t right = p + 1 < used ? static_cast<uint32_t>(g->pages[p + 1]) : g->right;
    PageRef ref;
    if (Failed(bag->ReadPage(g->pages[p], &ref))) return kFailure;
    const bool same = p < keep.size() && keep[p] && RightOf(ref.data()) == right;
    IntEntry last;
    write(same ? nullptr : ref.data(), start, counts[p], left, right, &last);
    if (!same) bag->MarkChanged(&ref);
    last.child = static_cast<uint32_t>(g->pages[p]);
    replaced[p] = last;
    start += counts[p];
  }
  if (used != old_pages &&
      Failed(SetLink(bag, g->right, kCdxPageLeft, static_cast<uint32_t>(g->pages[used - 1])))) {
    return kFailure;
  }
  for (size_t p = used; p < old_pages; ++p) bag->FreePage(g->pages[p]);
  auto at = entries->begin() + static_cast<long>(g->first);
  entries->erase(at, at + static_cast<long>(old_pages));
  entries->insert(entries->begin() + static_cast<long>(g->first), replaced.begin(), replaced.end());
  return kSuccess;
}

// Leaf balancing under one interior page after a delete: the changed leaf and its neighbours
// are written back greedily (each page taking as many keys as it holds) when their spare room
// adds up to a page, so that one page or more is freed.
Status JoinLeaves(CdxTag* tag, std::vector<IntEntry>* entries, size_t at, bool* changed) {
  CdxBag* bag = tag->cdx_bag();
  const int k = tag->key_length();
  const size_t n = entries->size();
  if (n < 2) return kSuccess;
  // The changed leaf with the one before and the one after it.
  size_t first = at == 0 ? 0 : at - 1, end = std::min(n, at + 2);
  // Free space of each, from the page images. A page with less room than one entry is full;
  // a full page at either end of the group stays as it is.
  std::vector<int> room;
  for (size_t j = first; j < end; ++j) {
    PageRef ref;
    if (Failed(bag->ReadPage((*entries)[j].child, &ref))) return kFailure;
    const uint8_t* p = ref.data();
    const int free = GetLe16(p + kCdxLeafFree);
    room.push_back(free < p[kCdxLeafEntryBytes] ? -1 : free);
  }
  size_t lo = 0, hi = room.size();
  if (room[lo] < 0) ++lo;
  if (hi - lo >= 2 && room[hi - 1] < 0) --hi;
  if (hi - lo < 2) return kSuccess;
  // Nothing is gained unless the spare room of the group adds up to a page.
  int spare = 0;
  for (size_t j = lo; j < hi; ++j) spare += std::max(room[j], 0);
  if (spare < kCdxLeafArea) return kSuccess;
  end = first + hi;
  first += lo;
  Group g;
  if (Failed(ReadGroup(tag, *entries, first, end, true, &g))) return kFailure;
  // The group's keys in one sequence, written back greedily: each page in turn takes as many
  // as it holds.
  std::vector<CdxKeyEntry> keys;
  size_t first_count = 0;
  for (size_t p = 0; p < g.pages.size(); ++p) {
    const std::vector<CdxKeyEntry>* decoded;
    if (Failed(tag->Leaf(g.pages[p], &decoded))) return kFailure;
    if (p == 0) first_count = decoded->size();
    keys.insert(keys.end(), decoded->begin(), decoded->end());
  }
  std::vector<size_t> counts;
  for (size_t pos = 0; pos < keys.size();) {
    size_t take = CdxLeafFit(keys, pos, k, tag->pad());
    if (take == 0) return bag->PageFault("cdxPageLeafEncode: index corrupted.", g.pages[0]);
    counts.push_back(take);
    pos += take;
  }
  const uint64_t first_page = g.pages[0];
  bool fault = false;
  if (Failed(Redistribute(
          bag, entries, &g, counts,
          [&](uint8_t* page, size_t start, size_t count, uint32_t left, uint32_t right,
              IntEntry* last) {
            if (page && !CdxEncodeLeaf(keys, start, count, k, tag->pad(), kCdxAttrLeaf,
                                       left, right, 0, page)) {
              fault = true;
            }
            last->key = keys[start + count - 1].key;
            last->recno = keys[start + count - 1].recno;
          },
          {counts[0] == first_count}))) {
    return kFailure;
  }
  if (fault) return bag->PageFault("cdxPageLeafEncode: FreeSpace calculated wrong!.", first_page);
  *changed = true;
  return kSuccess;
}

// Interior balancing under one interior page after a delete below it.
Status JoinInterior(CdxTag* tag, std::vector<IntEntry>* entries, size_t at, bool* changed) {
  CdxBag* bag = tag->cdx_bag();
  const size_t n = entries->size();
  if (n < 2) return kSuccess;
  // Up to three children: the first three near the start, the last three near the end, else
  // the changed one's predecessor and the next two.
  size_t first = (n < 4 || at < 2) ? 0 : std::min(at - 1, n - 3);
  size_t end = std::min(n, first + 3);
  Group g;
  if (Failed(ReadGroup(tag, *entries, first, end, false, &g))) return kFailure;
  const int k = tag->key_length();
  const size_t m = static_cast<size_t>(tag->max_interior());
  std::vector<IntEntry> items;
  std::vector<size_t> old_counts;
  size_t at_count = 0;
  for (size_t p = 0; p < g.pages.size(); ++p) {
    PageRef ref;
    if (Failed(bag->ReadPage(g.pages[p], &ref))) return kFailure;
    std::vector<IntEntry> e = ReadInterior(ref.data(), k);
    if (first + p == at) at_count = e.size();
    old_counts.push_back(e.size());
    items.insert(items.end(), e.begin(), e.end());
  }
  // Joined when one page fewer holds them; spread evenly when the changed page is left with a
  // single entry; else left alone.
  const size_t pages_needed = (items.size() + m - 1) / m;
  size_t pages;
  if (pages_needed < g.pages.size()) pages = pages_needed;
  else if (at_count < 2) pages = g.pages.size();
  else return kSuccess;
  std::vector<size_t> counts(pages, items.size() / pages);
  for (size_t p = 0; p < items.size() % pages; ++p) ++counts[p];
  // Pages before the first whose count changes keep their entries.
  std::vector<bool> keep;
  for (size_t p = 0; p < pages && p < old_counts.size() && counts[p] == old_counts[p]; ++p) {
    keep.push_back(true);
  }
  if (Failed(Redistribute(
          bag, entries, &g, counts,
          [&](uint8_t* page, size_t start, size_t count, uint32_t left, uint32_t right,
              IntEntry* last) {
            if (page) WriteInterior(page, k, items, start, count, 0, left, right);
            *last = items[start + count - 1];
          },
          keep))) {
    return kFailure;
  }
  *changed = true;
  return kSuccess;
}

}  // namespace

Status CdxTag::Insert(const std::string& key, uint32_t recno, bool* added) {
  *added = false;
  if (root_ == 0) return kSuccess;
  if (unique_) {
    OrderCursor c;
    if (Failed(Seek(&c, key, false, true, 0))) return kFailure;
    if (c.on && c.key == key) return kSuccess;
  }
  // Recursive descent; each level returns what its parent must change.
  const int k = key_length_;
  const int m = max_interior();
  std::function<Status(uint64_t, int, Change*)> down = [&](uint64_t off, int depth,
                                                          Change* r) -> Status {
    if (depth > kMaxDepth) return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    PageRef ref;
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    uint16_t attr = Attr(ref.data());
    uint32_t left = LeftOf(ref.data()), right = RightOf(ref.data());
    if (attr & kCdxAttrLeaf) {
      const std::vector<CdxKeyEntry>* decoded;
      if (Failed(Leaf(off, &decoded))) return kFailure;
      std::vector<CdxKeyEntry> keys = *decoded;
      size_t i = 0;
      while (i < keys.size() && !AtOrAfter(key, recno, false, true,
                                           reinterpret_cast<const uint8_t*>(keys[i].key.data()),
                                           keys[i].recno)) {
        ++i;
      }
      if (i < keys.size() && keys[i].key == key && keys[i].recno == recno) {
        r->found = false;  // the same key and record are never stored twice
        return kSuccess;
      }
      keys.insert(keys.begin() + static_cast<long>(i), CdxKeyEntry{key, recno});
      if (EncodeLeafPage(keys, attr, left, right, ref.data())) {
        bag_->MarkChanged(&ref);
        r->last_key = keys.back().key;
        r->last_recno = keys.back().recno;
        return kSuccess;
      }
      // Split: the first half stays, the rest goes to a new right neighbour.
      size_t cut = keys.size() / 2;
      std::vector<CdxKeyEntry> a(keys.begin(), keys.begin() + static_cast<long>(cut));
      std::vector<CdxKeyEntry> b(keys.begin() + static_cast<long>(cut), keys.end());
      PageRef fresh;
      if (Failed(bag_->NewPage(&fresh))) return kFailure;
      uint32_t fresh_off = static_cast<uint32_t>(fresh.offset());
      uint16_t plain = static_cast<uint16_t>(attr & ~kCdxAttrRoot);
      if (!EncodeLeafPage(a, plain, left, fresh_off, ref.data()) ||
          !EncodeLeafPage(b, plain, static_cast<uint32_t>(off), right, fresh.data())) {
        return bag_->PageFault("cdxPageLeafEncode: FreeSpace calculated wrong!.", off);
      }
      bag_->MarkChanged(&ref);
      bag_->MarkChanged(&fresh);
      if (Failed(SetLink(bag_, right, kCdxPageLeft, fresh_off))) return kFailure;
      r->split = true;
      r->last_key = a.back().key;
      r->last_recno = a.back().recno;
      r->new_page = fresh_off;
      r->new_last_key = b.back().key;
      r->new_last_recno = b.back().recno;
      return kSuccess;
    }
    std::vector<IntEntry> entries = ReadInterior(ref.data(), k);
    if (entries.empty() || static_cast<int>(entries.size()) > m) {
      return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    }
    size_t i = 0;
    while (i + 1 < entries.size() &&
           !AtOrAfter(key, recno, false, true,
                      reinterpret_cast<const uint8_t*>(entries[i].key.data()), entries[i].recno)) {
      ++i;
    }
    ref.Release();
    Change sub;
    if (Failed(down(entries[i].child, depth + 1, &sub))) return kFailure;
    if (!sub.found) {
      r->found = false;
      return kSuccess;
    }
    bool changed = entries[i].key != sub.last_key || entries[i].recno != sub.last_recno;
    entries[i].key = sub.last_key;
    entries[i].recno = sub.last_recno;
    if (sub.split) {
      entries.insert(entries.begin() + static_cast<long>(i) + 1,
                     IntEntry{sub.new_last_key, sub.new_last_recno,
                              static_cast<uint32_t>(sub.new_page)});
      changed = true;
    }
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    if (static_cast<int>(entries.size()) <= m) {
      if (changed) {
        WriteInterior(ref.data(), k, entries, 0, entries.size(), attr, left, right);
        bag_->MarkChanged(&ref);
      }
      r->last_key = entries.back().key;
      r->last_recno = entries.back().recno;
      return kSuccess;
    }
    size_t cut = entries.size() / 2;
    PageRef fresh;
    if (Failed(bag_->NewPage(&fresh))) return kFailure;
    uint32_t fresh_off = static_cast<uint32_t>(fresh.offset());
    uint16_t plain = static_cast<uint16_t>(attr & ~kCdxAttrRoot);
    WriteInterior(ref.data(), k, entries, 0, cut, plain, left, fresh_off);
    WriteInterior(fresh.data(), k, entries, cut, entries.size() - cut, plain,
                  static_cast<uint32_t>(off), right);
    bag_->MarkChanged(&ref);
    bag_->MarkChanged(&fresh);
    if (Failed(SetLink(bag_, right, kCdxPageLeft, fresh_off))) return kFailure;
    r->split = true;
    r->last_key = entries[cut - 1].key;
    r->last_recno = entries[cut - 1].recno;
    r->new_page = fresh_off;
    r->new_last_key = entries.back().key;
    r->new_last_recno = entries.back().recno;
    return kSuccess;
  };
  Change top;
  if (Failed(down(root_, 0, &top))) return kFailure;
  if (!top.found) return kSuccess;
  if (top.split) {
    // A new root above the two halves.
    PageRef fresh;
    if (Failed(bag_->NewPage(&fresh))) return kFailure;
    std::vector<IntEntry> entries = {
        {top.last_key, top.last_recno, static_cast<uint32_t>(root_)},
        {top.new_last_key, top.new_last_recno, static_cast<uint32_t>(top.new_page)}};
    WriteInterior(fresh.data(), k, entries, 0, 2, kCdxAttrRoot, kCdxNone, kCdxNone);
    bag_->MarkChanged(&fresh);
    root_ = fresh.offset();
    bag_->MarkHeaderChanged();
  }
  *added = true;
  Touch();
  return kSuccess;
}

Status CdxTag::Delete(const std::string& key, uint32_t recno, bool* deleted) {
  *deleted = false;
  if (root_ == 0) return kSuccess;
  const int k = key_length_;
  std::function<Status(uint64_t, int, bool, Change*)> down =
      [&](uint64_t off, int depth, bool is_root, Change* r) -> Status {
    if (depth > kMaxDepth) return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    PageRef ref;
    if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
    uint16_t attr = Attr(ref.data());
    uint32_t left = LeftOf(ref.data()), right = RightOf(ref.data());
    if (attr & kCdxAttrLeaf) {
      r->leaf = true;
      const std::vector<CdxKeyEntry>* decoded;
      if (Failed(Leaf(off, &decoded))) return kFailure;
      std::vector<CdxKeyEntry> keys = *decoded;
      size_t i = 0;
      while (i < keys.size() && !(keys[i].key == key && keys[i].recno == recno)) ++i;
      if (i == keys.size()) {
        r->found = false;
        return kSuccess;
      }
      keys.erase(keys.begin() + static_cast<long>(i));
      if (keys.empty() && !is_root) {
        ref.Release();
        r->empty = true;
        return Unlink(bag_, off, left, right);
      }
      if (!EncodeLeafPage(keys, attr, left, right, ref.data())) {
        return bag_->PageFault("cdxPageLeafEncode: FreeSpace calculated wrong!.", off);
      }
      bag_->MarkChanged(&ref);
      if (!keys.empty()) {
        r->last_key = keys.back().key;
        r->last_recno = keys.back().recno;
      }
      return kSuccess;
    }
    std::vector<IntEntry> entries = ReadInterior(ref.data(), k);
    if (entries.empty()) return bag_->PageFault("cdxPageGetChild: index corrupted.", off);
    ref.Release();
    size_t i = 0;
    while (i < entries.size() &&
           !AtOrAfter(key, recno, false, true,
                      reinterpret_cast<const uint8_t*>(entries[i].key.data()), entries[i].recno)) {
      ++i;
    }
    if (i == entries.size()) {
      r->found = false;
      return kSuccess;
    }
    Change sub;
    if (Failed(down(entries[i].child, depth + 1, false, &sub))) return kFailure;
    if (!sub.found) {
      r->found = false;
      return kSuccess;
    }
    bool changed = true;
    if (sub.empty) {
      entries.erase(entries.begin() + static_cast<long>(i));
      if (entries.empty()) {
        if (!is_root) {
          r->empty = true;
          return Unlink(bag_, off, left, right);
        }
        // The tree is empty: the root becomes an empty leaf.
        if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
        std::vector<CdxKeyEntry> none;
        EncodeLeafPage(none, kCdxAttrRoot, kCdxNone, kCdxNone, ref.data());
        bag_->MarkChanged(&ref);
        return kSuccess;
      }
      i = std::min(i, entries.size() - 1);
    } else {
      changed = entries[i].key != sub.last_key || entries[i].recno != sub.last_recno;
      entries[i].key = sub.last_key;
      entries[i].recno = sub.last_recno;
    }
    // The changed child and its neighbours under this page may now fit in fewer pages.
    const size_t before = entries.size() + (sub.empty ? 1 : 0);
    if (sub.leaf) {
      if (Failed(JoinLeaves(this, &entries, i, &changed))) return kFailure;
    } else if (sub.shrank && Failed(JoinInterior(this, &entries, i, &changed))) {
      return kFailure;
    }
    r->shrank = entries.size() < before;
    if (changed) {
      if (Failed(bag_->ReadPage(off, &ref))) return kFailure;
      WriteInterior(ref.data(), k, entries, 0, entries.size(), attr, left, right);
      bag_->MarkChanged(&ref);
    }
    r->last_key = entries.back().key;
    r->last_recno = entries.back().recno;
    return kSuccess;
  };
  Change top;
  if (Failed(down(root_, 0, true, &top))) return kFailure;
  if (!top.found) return kSuccess;
  if (Failed(LowerRoot())) return kFailure;
  *deleted = true;
  Touch();
  return kSuccess;
}

Status CdxTag::LowerRoot() {
  // A root interior page left with one child hands the root over to that child.
  for (int depth = 0; depth <= kMaxDepth; ++depth) {
    PageRef ref;
    if (Failed(bag_->ReadPage(root_, &ref))) return kFailure;
    const uint8_t* p = ref.data();
    if ((Attr(p) & kCdxAttrLeaf) || Count(p) != 1) return kSuccess;
    const uint32_t child = GetBe32(p + kCdxIntEntries + key_length_ + 4);
    ref.Release();
    PageRef c;
    if (Failed(bag_->ReadPage(child, &c))) return kFailure;
    PutLe16(c.data() + kCdxPageAttr, static_cast<uint16_t>(Attr(c.data()) | kCdxAttrRoot));
    PutLe32(c.data() + kCdxPageLeft, kCdxNone);
    PutLe32(c.data() + kCdxPageRight, kCdxNone);
    bag_->MarkChanged(&c);
    bag_->FreePage(root_);
    root_ = child;
    bag_->MarkHeaderChanged();
  }
  return kSuccess;
}

}  // namespace vosk
