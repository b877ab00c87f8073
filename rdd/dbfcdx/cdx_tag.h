#ifndef VOSK_RDD_DBFCDX_CDX_TAG_H_
#define VOSK_RDD_DBFCDX_CDX_TAG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/dbfcdx/cdx_key.h"
#include "rdd/order/order.h"
#include "rdd/order/page_cache.h"

namespace vosk {

class CdxBag;

// One tag of a CDX bag: its header fields and the B+ tree algorithms over 512-byte pages.
// Keys are stored in ascending order whatever the tag's direction (a descending tag is
// navigated from the other end); equal keys are ordered by record number.
class CdxTag : public Order {
 public:
  explicit CdxTag(CdxBag* bag) : bag_(bag) {}
  ~CdxTag() override;

  // Decodes a tag header image (1024 bytes); false when it is not acceptable.
  bool DecodeHeader(const uint8_t* header, uint64_t file_size, bool directory);
  // The header image of this tag (free head and counter 0).
  void EncodeHeader(uint8_t* header) const;
  // Sets up a new tag.
  void Define(const std::string& name, const std::string& key_text, const std::string& for_text,
              char type, int length, bool unique, bool descending, bool custom, bool upper);
  // Sets up the directory tag.
  void DefineDirectory();

  OrderBag* bag() const override;
  CdxBag* cdx_bag() const { return bag_; }
  uint64_t header_offset() const { return header_offset_; }
  void set_header_offset(uint64_t o) { header_offset_ = o; }
  uint64_t root() const { return root_; }
  void set_root(uint64_t r) { root_ = r; }
  uint8_t options() const { return options_; }
  bool upper() const { return upper_; }
  // The pad byte of the keys: blank for character keys. Until the key type is learnt (the
  // first evaluation of the key) a key length other than 8 is taken as character.
  uint8_t pad() const {
    if (type_ == 0) return key_length_ == 8 ? 0x00 : 0x20;
    return type_ == 'C' ? 0x20 : 0x00;
  }
  // A learnt type may change the pad: decodings and cursors made before are dropped.
  void set_type(char t) override {
    if (t != type_ && pad() != (t == 'C' ? 0x20 : 0x00)) {
      decoded_offset_ = 0;
      Touch();
    }
    type_ = t;
  }
  int max_interior() const { return CdxMaxInteriorKeys(key_length_); }

  bool descending_tree() const override { return false; }
  bool usable() const override { return root_ != 0; }
  bool partial() const override { return (options_ & kCdxOptPartial) != 0; }
  void MarkPartial() override { options_ |= kCdxOptPartial; }
  void set_for_text(const std::string& t) override;

  bool EncodeKey(const Value& value, std::string* out) const override;
  std::string SearchKey(const Value& value) const override;
  int CompareKeys(const uint8_t* a, int alen, const uint8_t* b, int blen,
                  bool exact) const override {
    return CdxCompareKeys(type_, a, alen, b, blen, exact);
  }
  bool KeyFromField(const uint8_t* field, std::string* out) const override;
  // Numbers and dates are 8-byte keys whatever their field's width.
  bool FieldGivesKey(char type, int length, int decimals) const override {
    if (type == 'N' || type == 'D') return key_length_ == 8;
    return length == key_length_;
  }
  bool KeyIsFieldBytes() const override { return type_ == 'C' && !upper_; }

  Status Seek(OrderCursor* c, const std::string& key, bool after, bool exact,
              uint32_t recno = 0) override;
  Status First(OrderCursor* c) override;
  Status Last(OrderCursor* c) override;
  Status Next(OrderCursor* c) override;
  Status Prev(OrderCursor* c) override;
  Status Locate(OrderCursor* c, const std::string& key, uint32_t recno) override;
  Status Insert(const std::string& key, uint32_t recno, bool* added) override;
  Status Delete(const std::string& key, uint32_t recno, bool* deleted) override;
  // Walks the leaf chain adding the leaves' key counts.
  Status CountAll(int64_t* out) override;
  Status Position(const OrderCursor& c, int64_t* out) override;
  Status GoToPosition(OrderCursor* c, int64_t n, bool from_end) override;
  Status Fraction(const OrderCursor& c, double* out) override;

  // A fresh empty root leaf (a new tag, a custom tag, the directory).
  Status MakeEmptyRoot();
  // Puts every page of the tree on the free list.
  Status FreeTree();
  // Every (key, record) of the tree in order (the directory's tags; checks).
  Status AllKeys(std::vector<CdxKeyEntry>* out);
  // The decoded keys of a leaf (the last decoding is kept while the bag is unchanged).
  Status Leaf(uint64_t offset, const std::vector<CdxKeyEntry>** keys);
  // Writes a page's keys back into a leaf image; false when they do not fit.
  bool EncodeLeafPage(const std::vector<CdxKeyEntry>& keys, uint16_t attr, uint32_t left,
                      uint32_t right, uint8_t* page) const;

 private:
  // Compares a search key (and record, 0 = any) with a stored key and record.
  bool AtOrAfter(const std::string& search, uint32_t recno, bool after, bool exact,
                 const uint8_t* key, uint32_t key_recno) const;
  // The path from the root to a leaf: in each page the slot the leaf chooser (given the decoded
  // keys) or the interior chooser (given the entries and their count) names.
  template <class LeafSlot, class InteriorSlot>
  Status WalkDown(OrderCursor* c, LeafSlot leaf_slot, InteriorSlot interior_slot);
  Status Descend(OrderCursor* c, const std::string& key, bool after, bool exact, uint32_t recno);
  Status Edge(OrderCursor* c, bool first);
  // The path down the first (or last) child of every level to the edge leaf.
  Status DescendEdge(OrderCursor* c, bool first);
  Status SetFromLeaf(OrderCursor* c);
  // A root interior page left with a single child hands the root to it (and is freed).
  Status LowerRoot();

  CdxBag* bag_;
  uint64_t header_offset_ = 0;
  uint64_t root_ = 0;
  uint8_t options_ = kCdxOptCompact | kCdxOptCompound;
  bool upper_ = false;
  // The last decoded leaf.
  uint64_t decoded_offset_ = 0;
  uint64_t decoded_epoch_ = 0;
  std::vector<CdxKeyEntry> decoded_;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_TAG_H_
