#ifndef VOSK_RDD_DBFFPT_MEMO_FORMAT_H_
#define VOSK_RDD_DBFFPT_MEMO_FORMAT_H_

// Memo files: DBT, FPT (plain, SIx, FlexFile, CLIP) and SMT.
//
// Byte order. The two header words (next free block, block size) and the 8-byte FPT block
// header are big-endian in FPT files and little-endian in DBT and SMT files. Everything else
// (free-list entries, list-block contents, counters, the serialised values below) is
// little-endian in every kind.
//
// A memo file is a sequence of blocks of a fixed size; block n starts at byte n * block size.
// The header occupies the first blocks; data never starts inside it, so the first data block
// is ceil(header size / block size).
//
// Header (512 bytes; 1024 bytes for the FlexFile and CLIP variants):
//   OFFSET  SIZE   DESCRIPTION
//        0     4   next free block (the file grows from here)
//        4     4   block size (DBT: always 512, whatever is stored; FPT readers take only the
//                  low 16 bits when the value exceeds 65536 and is not a multiple of 65536)
//        8     8   signature, NUL-terminated: "SIxMemo" (SIx variant, SMT) or "Quenrod";
//                  "Made by CLIP" (12 bytes) here marks the CLIP variant
//       18     2   SIx variant and SMT: number n of free-list entries (at most 82)
//       20   6*n   SIx variant and SMT: free runs, each: length in blocks (2), start block (4)
//      512    11   FlexFile and CLIP: "FlexFile3", 0x03, NUL
//      524     4   FlexFile and CLIP: byte offset of the second free-list block (0 = none)
//      528     4   FlexFile and CLIP: byte offset of the main free-list block (0 = none)
//      532     4   FlexFile and CLIP: free-list save counter, increased on every save
//      536     4   DBFBLOB stores: the root block (a block number the user keeps there)
//      540     2   FlexFile: block size as 16 bits (non-zero overrides offset 4 for DBFBLOB
//                  stores, or when the size at offset 4 is 0)
//
// DBT block (dBase III form, written for standard tables):
//   the text, then 0x1A 0x1A; the length is the distance to the first 0x1A, found by
//   scanning. A value of length n takes ceil((n + 2) / 512) blocks, so that both terminator
//   bytes lie in its own blocks.
// DBT block (dBase IV form, written for dBase IV tables and recognised everywhere):
//   OFFSET  SIZE   DESCRIPTION
//        0     4   0xFF 0xFF 0x08 0x00
//        4     4   length of the value plus these 8 bytes (little-endian)
//        8     n   the value
//
// FPT block:
//   OFFSET  SIZE   DESCRIPTION
//        0     4   value type (big-endian, table below)
//        4     4   data length n (big-endian)
//        8     n   data; FlexFile files put 0xAF at the last byte of the last block used when
//                  (n + 8) is not a multiple of the block size
//   A value takes ceil((n + 8) / block size) blocks.
//
// SMT block: the data only; the type and length sit in the record's 10-byte reference:
//   bytes 0-1 type (0x2020 = no memo), bytes 2-5 length, bytes 6-9 block (little-endian).
//   Text (type 1) is stored as it is; every other type starts with one byte repeating the type,
//   followed by the payload of the SIx form below. A value takes ceil(n / block size) blocks.
//
// FPT value types:
//   0      raw bytes (text, no code-page translation)
//   1      text
//   2      SIx integer (Visual FoxPro tables: text)
//   8      SIx number with decimals          32     SIx date
//   128    SIx logical                       1024   SIx text
//   32768  SIx array                         1000   FlexFile free-list block
//   1002   FlexFile array                    1006   nil (no data)
//   1007   true (no data)                    1008   false (no data)
//   1009   date: 4-byte day number           1010   signed 8-bit integer
//   1011   unsigned 8-bit integer            1012   signed 16-bit integer
//   1013   unsigned 16-bit integer           1014   signed 32-bit integer
//   1015   unsigned 32-bit integer           1016   IEEE double
//   1017   double 0 (no data)                other  nil
//
// Serialised forms (payloads, little-endian):
//   SIx  2      integer: 4 bytes signed, or 8 bytes signed when it needs 64 bits
//   SIx  8      number: display width (1), decimals (1), IEEE double (8)
//   SIx  32     date: day number (4)
//   SIx  128    logical: 0 or 1 (1)
//   SIx  1024   text bytes
//   SIx  32768  array; FlexFile 1002: array
//   Array: element count (4), then per element: type (4), payload length (4), payload, where
//   the element types are those of the file's own form (SIx or FlexFile codes above), plus
//   0 nil, 64 timestamp (day number 4, milliseconds 4) in both forms. Arrays nest at most
//   kMaxArrayDepth deep.
//
// FlexFile free-list block: an FPT block of type 1000 and data length 1010:
//   OFFSET  SIZE   DESCRIPTION
//        0     2   4 * n + 3, n = number of runs saved
//        2   8*n   main list: byte offset (4), byte length (4) of each run, by offset;
//                  second list: byte length (4), byte offset (4), by length
//        ...       unused bytes 0xAD
//
// Variant ("V") field of width w >= 6 in the record:
//   OFFSET  SIZE   DESCRIPTION
//        0   w-6   inline data
//      w-6     4   memo block number (0 = none)
//      w-2     2   type word (little-endian):
//                    0            nil
//                    1..64000     text of that length; inline when it fits w - 2 bytes, else
//                                 the first w - 6 bytes inline and the rest in the memo block
//                    64001 date   day number in bytes 0-2
//                    64002 integer  signed 32 bits in bytes 0-3
//                    64003 logical  byte 0, non-zero = true
//                    64004 number   w > 12: width (1), decimals (1), double (8) in bytes 0-9;
//                                   otherwise an 11-byte memo value whose bytes 1-10 have
//                                   that form
//                    64005 array    serialised (SIx form) in the memo block
//                    64006 timestamp  day number (4), milliseconds (4) in the memo block
//                    64007 integer of 64 bits (8) in the memo block
//                    64008 reserved (reads as nil)
//   Widths 1, 2, 3 and 4 hold a signed 8-bit integer, a signed 16-bit integer, a date (3-byte
//   day number) and a signed 32-bit integer in the record alone.

#include <cstdint>

namespace vosk {

enum class MemoVariant : int { kNone = 0, kPlain = 1, kSix = 2, kFlex = 3, kClip = 4 };

inline constexpr int kMemoHeaderSize = 512;
inline constexpr int kFlexHeaderSize = 1024;
inline constexpr int kDbtBlockSize = 512;
inline constexpr int kDefaultFptBlockSize = 64;
inline constexpr int kDefaultSmtBlockSize = 32;

// Header offsets.
inline constexpr int kMhNextFree = 0;
inline constexpr int kMhBlockSize = 4;
inline constexpr int kMhSignature = 8;
inline constexpr int kMhSixCount = 18;
inline constexpr int kMhSixList = 20;
inline constexpr int kMhFlexSignature = 512;
inline constexpr int kMhFlexList2 = 524;
inline constexpr int kMhFlexList = 528;
inline constexpr int kMhFlexCounter = 532;
inline constexpr int kMhBlobRoot = 536;
inline constexpr int kMhFlexBlockSize = 540;

inline constexpr char kSixSignature[] = "SIxMemo";
inline constexpr char kPlainSignature[] = "Quenrod";
inline constexpr char kClipSignature[] = "Made by CLIP";  // 12 bytes, no NUL needed
inline constexpr char kFlexSignature[] = "FlexFile3\x03";  // followed by a NUL on create
inline constexpr int kFlexSignatureLength = 10;

// SIx header free list: entries of length (2) + start (4), as many as fit before 512.
inline constexpr int kSixEntrySize = 2 + 4;
inline constexpr int kSixMaxRuns = 82;  // 20 + 82 * 6 = 512
// FlexFile list block.
inline constexpr uint32_t kFlexListType = 1000;
inline constexpr uint32_t kFlexListDataLength = 1010;
inline constexpr int kFlexEntrySize = 4 + 4;
inline constexpr int kFlexMaxRuns = (kFlexListDataLength - 2) / kFlexEntrySize;  // 126
inline constexpr uint8_t kFlexListFill = 0xAD;
inline constexpr uint8_t kFlexPadByte = 0xAF;

// FPT block header: type (4) + length (4).
inline constexpr int kFptBlockHeader = 4 + 4;
// dBase IV DBT block header: marker (4) + length including the header (4).
inline constexpr int kDbt4BlockHeader = 4 + 4;
inline constexpr uint8_t kDbt4Marker[4] = {0xFF, 0xFF, 0x08, 0x00};
inline constexpr uint8_t kDbtTerminator = 0x1A;

// FPT value types.
enum FptType : uint32_t {
  kFptRaw = 0, kFptText = 1, kFptSixInteger = 2, kFptSixNumber = 8, kFptSixDate = 32,
  kFptSixTimestamp = 64, kFptSixLogical = 128, kFptSixText = 1024, kFptSixArray = 32768,
  kFptFlexArray = 1002, kFptFlexObject = 1003, kFptFlexArrayRef = 1004, kFptFlexObjectRef = 1005,
  kFptNil = 1006, kFptTrue = 1007, kFptFalse = 1008, kFptDate = 1009, kFptInt8 = 1010,
  kFptUint8 = 1011, kFptInt16 = 1012, kFptUint16 = 1013, kFptInt32 = 1014, kFptUint32 = 1015,
  kFptDouble = 1016, kFptDoubleZero = 1017, kFptFlexString = 1018,
};
inline constexpr uint32_t kSerialNil = 0;  // array elements only

// SMT value types (reference bytes 0-1).
enum SmtType : uint16_t {
  kSmtText = 1, kSmtInteger = 2, kSmtNumber = 3, kSmtDate = 4, kSmtLogical = 5, kSmtArray = 6,
  kSmtNone = 0x2020,
};
inline constexpr int kSmtRefType = 0;
inline constexpr int kSmtRefLength = 2;
inline constexpr int kSmtRefBlock = 6;

// Variant field type words.
inline constexpr uint16_t kVarNil = 0;
inline constexpr uint16_t kVarMaxText = 64000;
inline constexpr uint16_t kVarDate = 64001;
inline constexpr uint16_t kVarInteger = 64002;
inline constexpr uint16_t kVarLogical = 64003;
inline constexpr uint16_t kVarNumber = 64004;
inline constexpr uint16_t kVarArray = 64005;
inline constexpr uint16_t kVarTimestamp = 64006;
inline constexpr uint16_t kVarLong = 64007;
inline constexpr uint16_t kVarReserved = 64008;
inline constexpr int kVarTrailer = 4 + 2;  // block number + type word
inline constexpr int kVarInlineNumberWidth = 12;  // wider fields keep numbers inline
inline constexpr int kVarNumberRecord = 1 + 1 + 1 + 8;  // unused, width, decimals, double

inline constexpr int kMaxArrayDepth = 64;

// The largest block size a memo file may have. Every value takes at least one whole block, so
// a larger block would make the memory and disk a value needs out of proportion to the value.
inline constexpr uint32_t kMaxBlockSize = 65536;

// A block size is valid when it is positive and at most 65536.
inline constexpr bool IsValidBlockSize(int64_t size) {
  return size > 0 && size <= kMaxBlockSize;
}

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_MEMO_FORMAT_H_
