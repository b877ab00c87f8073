#ifndef VOSK_RDD_DBFCDX_CDX_FORMAT_H_
#define VOSK_RDD_DBFCDX_CDX_FORMAT_H_

// CDX compound index file (an order bag holding any number of tags). Integers little-endian
// unless marked BE.
//
// The file is a sequence of 512-byte pages; a page reference is the page's byte offset (0 and
// 0xFFFFFFFF mean none). Offset 0 holds the header of the directory tag, whose keys are the
// tag names (upper case, blank-padded to 10) with the offset of each tag's header as their
// record number. Every tag header takes two pages:
//   OFFSET  SIZE  DESCRIPTION
//        0     4  root page of the tag's tree
//        4     4  head of the free-page list (meaningful at file offset 0 only; 0 = none)
//        8     4  update counter, BE (meaningful at file offset 0 only)
//       12     2  key length (1..240)
//       14     1  options (kCdxOpt*)
//       15     1  signature, 1
//       16   483  zero
//      499     1  1 = keys stored in upper case
//      500     2  zero
//      502     2  0 ascending, 1 descending
//      504     2  position of the FOR text in the pool
//      506     2  length of the FOR text with its zero byte (0 = none)
//      508     2  position of the key text in the pool (0)
//      510     2  length of the key text with its zero byte
//      512   512  pool: key text, 0, FOR text, 0, zero-filled
//
// Page, common part:
//   OFFSET  SIZE  DESCRIPTION
//        0     2  attributes: 0x01 root, 0x02 leaf (0 = interior)
//        2     2  number of keys
//        4     4  left neighbour on the same level (0xFFFFFFFF = none)
//        8     4  right neighbour on the same level (0xFFFFFFFF = none)
// Interior page, from 12: up to M = 500 / (k + 8) entries of k + 8 bytes: key, record number
// (4, BE), child page (4, BE); each entry is the last key and record of its child's subtree.
// Leaf page:
//       12     2  free bytes in the key area
//       14     4  record-number mask
//       18     1  duplicate-count mask
//       19     1  trailing-count mask
//       20     1  record-number bits R
//       21     1  duplicate-count bits D
//       22     1  trailing-count bits T
//       23     1  bytes per entry E
//       24   488  key area: E-byte entries from the start, key texts stacked from the end
// Leaf entry (E bytes, LE): low R bits record number; of the top 16 bits, from the most
// significant end, the trailing count (T bits) then the duplicate count (D bits).
// Free page: first 4 bytes the next free page, the rest zero.

#include <cstdint>

namespace vosk {

inline constexpr int kCdxPageSize = 512;
inline constexpr int kCdxHeaderSize = 1024;
inline constexpr int kCdxMaxKeyLength = 240;
inline constexpr int kCdxTagNameLength = 10;
inline constexpr int kCdxPoolSize = 512;
inline constexpr uint32_t kCdxNone = 0xFFFFFFFFu;

// Tag header.
inline constexpr int kCdxHdrRoot = 0;
inline constexpr int kCdxHdrFree = 4;
inline constexpr int kCdxHdrCounter = 8;
inline constexpr int kCdxHdrKeyLength = 12;
inline constexpr int kCdxHdrOptions = 14;
inline constexpr int kCdxHdrSignature = 15;
inline constexpr int kCdxHdrUpper = 499;
inline constexpr int kCdxHdrDescending = 502;
inline constexpr int kCdxHdrForPos = 504;
inline constexpr int kCdxHdrForLen = 506;
inline constexpr int kCdxHdrKeyPos = 508;
inline constexpr int kCdxHdrKeyLen = 510;
inline constexpr int kCdxHdrPool = 512;

inline constexpr uint8_t kCdxOptUnique = 0x01;
inline constexpr uint8_t kCdxOptPartial = 0x02;
inline constexpr uint8_t kCdxOptCustom = 0x04;
inline constexpr uint8_t kCdxOptFor = 0x08;
inline constexpr uint8_t kCdxOptCompact = 0x20;
inline constexpr uint8_t kCdxOptCompound = 0x40;
inline constexpr uint8_t kCdxOptDirectory = 0x80;

// Page.
inline constexpr int kCdxPageAttr = 0;
inline constexpr int kCdxPageCount = 2;
inline constexpr int kCdxPageLeft = 4;
inline constexpr int kCdxPageRight = 8;
inline constexpr int kCdxIntEntries = 12;
inline constexpr int kCdxLeafFree = 12;
inline constexpr int kCdxLeafRecMask = 14;
inline constexpr int kCdxLeafDupMask = 18;
inline constexpr int kCdxLeafTrlMask = 19;
inline constexpr int kCdxLeafRecBits = 20;
inline constexpr int kCdxLeafDupBits = 21;
inline constexpr int kCdxLeafTrlBits = 22;
inline constexpr int kCdxLeafEntryBytes = 23;
inline constexpr int kCdxLeafKeys = 24;
inline constexpr int kCdxLeafArea = kCdxPageSize - kCdxLeafKeys;  // 488

inline constexpr uint16_t kCdxAttrRoot = 0x01;
inline constexpr uint16_t kCdxAttrLeaf = 0x02;

// Entries an interior page holds for a key length.
constexpr int CdxMaxInteriorKeys(int key_length) { return 500 / (key_length + 8); }
static_assert(CdxMaxInteriorKeys(10) == 27);

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_FORMAT_H_
