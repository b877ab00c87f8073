#ifndef VOSK_RDD_DBFNTX_NTX_FORMAT_H_
#define VOSK_RDD_DBFNTX_NTX_FORMAT_H_

// NTX index file. All integers little-endian.
//
// The file is a sequence of 1024-byte blocks. A page reference stored in the file is the
// block's byte offset; in a large file (flag 0x0200) it is the block number instead
// (offset = number * 1024). Reference 0 means none. Block 0 is the header: the single order's
// header, or the compound header of a file holding several orders.
//
// Order header (block 0 of a single-order file, or an order's own block in a compound file):
//   OFFSET  SIZE  DESCRIPTION
//        0     2  signature and flags (kNtxFlag*)
//        2     2  update counter (0 in the order headers of a compound file)
//        4     4  root page reference
//        8     4  first free page reference (0 in the order headers of a compound file)
//       12     2  item size = key length + 8
//       14     2  key length
//       16     2  key decimals
//       18     2  maximum keys per page m
//       20     2  half page = m / 2
//       22   256  key expression text, zero-padded
//      278     1  unique flag (1 = unique)
//      279     1  0
//      280     1  descending flag (1 = descending)
//      281     1  0
//      282   256  FOR expression text, zero-padded
//      538    12  order name, at most 10 characters, zero-padded
//      550     1  custom flag
//      551   473  zero
//
// Compound header (block 0 when the first word has 0x8000 set):
//   OFFSET  SIZE  DESCRIPTION
//        0     2  0x8000, plus 0x0200 for a large file
//        2     2  number of orders (at most 63)
//        4     4  update counter
//        8     4  first free page reference
//       12     4  next unused page reference at the end of the file (0 = take the file size)
//   16+16i    12  name of order i, zero-padded; first byte above 32
//   28+16i     4  reference of order i's header block (never 0)
//
// Page (every other block), m = maximum keys per page, k = key length:
//   OFFSET  SIZE          DESCRIPTION
//        0     2          number of keys n
//        2     2*(m+1)    offsets of items 0..m within the page
//      ...     (m+1)*item item: child page (4), record number (4), key (k)
//
// Items 0..n-1 hold the keys in order, each with its left subtree; item n's child is the
// subtree right of the last key (its key bytes are unused). Inserting and deleting permute
// the offset table, never the items. A fresh page has offset[i] = 2 + 2*(m+1) + i*(k+8).
// A free page is chained through item 0's child (the next free page, 0 at the end).
//
//   +---+--------------------+--------+--------+-----+--------+
//   | n | off[0] .. off[m]   | item 0 | item 1 | ... | item m |
//   +---+--------------------+--------+--------+-----+--------+

#include <cstdint>
#include <string>

namespace vosk {

inline constexpr int kNtxBlockSize = 1024;
inline constexpr int kNtxItemOverhead = 4 + 4;  // child + record number
inline constexpr int kNtxMaxKeyLength = 256;
inline constexpr int kNtxExprSize = 256;
inline constexpr int kNtxTagNameSize = 12;
inline constexpr int kNtxMaxTagName = 10;
inline constexpr int kNtxMaxTags = 63;     // orders of a compound file
inline constexpr int kNtxMaxLevels = 32;   // levels of a tree the builder makes

// Order header offsets.
inline constexpr int kNtxHdrSignature = 0;
inline constexpr int kNtxHdrCounter = 2;
inline constexpr int kNtxHdrRoot = 4;
inline constexpr int kNtxHdrFree = 8;
inline constexpr int kNtxHdrItemSize = 12;
inline constexpr int kNtxHdrKeyLength = 14;
inline constexpr int kNtxHdrKeyDecimals = 16;
inline constexpr int kNtxHdrMaxKeys = 18;
inline constexpr int kNtxHdrHalfPage = 20;
inline constexpr int kNtxHdrKeyExpr = 22;
inline constexpr int kNtxHdrUnique = 22 + kNtxExprSize;            // 278
inline constexpr int kNtxHdrDescending = kNtxHdrUnique + 2;        // 280
inline constexpr int kNtxHdrForExpr = kNtxHdrDescending + 2;       // 282
inline constexpr int kNtxHdrTagName = kNtxHdrForExpr + kNtxExprSize;  // 538
inline constexpr int kNtxHdrCustom = kNtxHdrTagName + kNtxTagNameSize;  // 550

// Signature and flags word.
inline constexpr uint16_t kNtxFlagFor = 0x0001;        // FOR expression or partial order
inline constexpr uint16_t kNtxFlagDefault = 0x0006;    // always set
inline constexpr uint16_t kNtxFlagPartial = 0x0008;    // built over a subset of the records
inline constexpr uint16_t kNtxFlagExtLock = 0x0010;    // table uses lock scheme 4
inline constexpr uint16_t kNtxFlagCustom = 0x0020;
inline constexpr uint16_t kNtxFlagChgOnly = 0x0040;    // no keys added for appended records
inline constexpr uint16_t kNtxFlagTemplate = 0x0080;
inline constexpr uint16_t kNtxFlagSortRecno = 0x0100;  // equal keys ordered by record number
inline constexpr uint16_t kNtxFlagLarge = 0x0200;      // references are block numbers
inline constexpr uint16_t kNtxFlagMultiKey = 0x0400;
inline constexpr uint16_t kNtxFlagsInvalid = 0x7800;   // must be clear
inline constexpr uint16_t kNtxFlagCompound = 0x8000;   // compound header

// Compound header offsets.
inline constexpr int kNtxCmpSignature = 0;
inline constexpr int kNtxCmpCount = 2;
inline constexpr int kNtxCmpCounter = 4;
inline constexpr int kNtxCmpFree = 8;
inline constexpr int kNtxCmpNextPage = 12;
inline constexpr int kNtxCmpDirectory = 16;
inline constexpr int kNtxCmpEntrySize = 16;              // name (12) + header reference (4)
inline constexpr int kNtxCmpEntryHeader = kNtxTagNameSize;  // offset of the reference

// Page offsets.
inline constexpr int kNtxPageCount = 0;
inline constexpr int kNtxPageOffsets = 2;

// Maximum keys per page for a key length: e = 1022 / (k + 10) items fit beside the count and
// their offsets (each item takes k + 8 bytes plus 2 for its offset); one item is the right
// child, and m is kept even.
inline constexpr int NtxMaxKeys(int key_length) {
  int e = (kNtxBlockSize - 2) / (key_length + kNtxItemOverhead + 2);
  return (e % 2 == 0 && e - 1 > 2) ? e - 2 : e - 1;
}

// Offset of item i in a fresh page.
inline constexpr int NtxFreshItemOffset(int max_keys, int key_length, int i) {
  return kNtxPageOffsets + 2 * (max_keys + 1) + i * (key_length + kNtxItemOverhead);
}

static_assert(NtxMaxKeys(10) == 50);
static_assert(NtxMaxKeys(8) == 54);
static_assert(NtxMaxKeys(kNtxMaxKeyLength) == 2);
static_assert(NtxFreshItemOffset(NtxMaxKeys(1), 1, NtxMaxKeys(1) + 1) <= kNtxBlockSize);

// A NUL-terminated text of at most size bytes in a header (key and FOR expressions, names).
inline std::string TextField(const uint8_t* p, int size) {
  int n = 0;
  while (n < size && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
}

// An order name as kept: trailing blanks dropped, at most the name size, ASCII upper case.
inline std::string NtxNormalName(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  if (s.size() > kNtxMaxTagName) s.resize(kNtxMaxTagName);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace vosk

#endif  // VOSK_RDD_DBFNTX_NTX_FORMAT_H_
