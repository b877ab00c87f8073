#ifndef VOSK_RDD_DBFNTX_NTX_PAGE_H_
#define VOSK_RDD_DBFNTX_NTX_PAGE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "rdd/byte_order.h"
#include "rdd/dbfntx/ntx_format.h"

namespace vosk {

// One entry of a page taken out of it: left child, record number and key bytes.
struct NtxEntry {
  uint32_t child = 0;  // page reference as stored in the file
  uint32_t recno = 0;
  std::string key;
};

// A view over one 1024-byte page image (layout in ntx_format.h).
//
// REQUIRES for every accessor taking an index: Check() accepted the image, and the index is
// within 0..max_keys (0..count for child and item references).
class NtxPageView {
 public:
  NtxPageView(uint8_t* data, int key_length, int max_keys)
      : data_(data), key_length_(key_length), max_keys_(max_keys) {}

  // True when the key count and every item offset lie within the page.
  bool Check() const {
    if (count() > max_keys_) return false;  // more keys than the page can hold
    int lowest = NtxFreshItemOffset(max_keys_, key_length_, 0);
    int highest = kNtxBlockSize - item_size();
    for (int i = 0; i <= max_keys_; ++i) {
      int off = item_offset(i);
      if (off < lowest || off > highest) return false;  // item outside the page
    }
    return true;
  }

  // Lays out an empty page: fresh offsets, no keys, item 0's child 0.
  void Init() {
    std::memset(data_, 0, kNtxBlockSize);
    for (int i = 0; i <= max_keys_; ++i) {
      PutLe16(data_ + kNtxPageOffsets + 2 * i,
              static_cast<uint16_t>(NtxFreshItemOffset(max_keys_, key_length_, i)));
    }
  }

  int count() const { return GetLe16(data_ + kNtxPageCount); }
  void set_count(int n) { PutLe16(data_ + kNtxPageCount, static_cast<uint16_t>(n)); }
  int item_size() const { return key_length_ + kNtxItemOverhead; }
  int item_offset(int i) const { return GetLe16(data_ + kNtxPageOffsets + 2 * i); }
  void set_item_offset(int i, int off) {
    PutLe16(data_ + kNtxPageOffsets + 2 * i, static_cast<uint16_t>(off));
  }
  uint8_t* item(int i) { return data_ + item_offset(i); }
  const uint8_t* item(int i) const { return data_ + item_offset(i); }
  uint32_t child(int i) const { return GetLe32(item(i)); }
  void set_child(int i, uint32_t ref) { PutLe32(item(i), ref); }
  uint32_t recno(int i) const { return GetLe32(item(i) + 4); }
  const uint8_t* key(int i) const { return item(i) + kNtxItemOverhead; }
  void SetEntry(int i, uint32_t child, uint32_t recno, const uint8_t* key) {
    uint8_t* p = item(i);
    PutLe32(p, child);
    PutLe32(p + 4, recno);
    std::memcpy(p + kNtxItemOverhead, key, static_cast<size_t>(key_length_));
  }
  NtxEntry Entry(int i) const {
    return {child(i), recno(i),
            std::string(reinterpret_cast<const char*>(key(i)), static_cast<size_t>(key_length_))};
  }

  // Inserts an entry before item i (0..count): the free item slot count + 1 takes its place
  // in the offset table. REQUIRES: count() < max_keys.
  void InsertAt(int i, uint32_t child, uint32_t recno, const uint8_t* key) {
    int n = count();
    int free_off = item_offset(n + 1);
    for (int j = n + 1; j > i; --j) set_item_offset(j, item_offset(j - 1));
    set_item_offset(i, free_off);
    SetEntry(i, child, recno, key);
    set_count(n + 1);
  }

  // Removes key i (0..count-1) with its left child reference; item i + 1 and those after it
  // move down one place. REQUIRES: count() > 0.
  void RemoveAt(int i) {
    int n = count();
    int off = item_offset(i);
    for (int j = i; j < n; ++j) set_item_offset(j, item_offset(j + 1));
    set_item_offset(n, off);
    set_count(n - 1);
  }

  // Rewrites the page with the given entries and right child, in the current item slots.
  void Fill(const NtxEntry* entries, int n, uint32_t right_child) {
    for (int i = 0; i < n; ++i) {
      SetEntry(i, entries[i].child, entries[i].recno,
               reinterpret_cast<const uint8_t*>(entries[i].key.data()));
    }
    set_child(n, right_child);
    set_count(n);
  }

  uint8_t* data() { return data_; }

 private:
  uint8_t* data_;
  int key_length_;
  int max_keys_;
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_PAGE_H_
