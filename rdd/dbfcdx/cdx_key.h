#ifndef VOSK_RDD_DBFCDX_CDX_KEY_H_
#define VOSK_RDD_DBFCDX_CDX_KEY_H_

// Key encodings of CDX tags and the compressed leaf layout. A key is exactly key-length bytes:
//  - character: the bytes (upper case in an upper-case tag), cut and blank-padded;
//  - numeric, date, timestamp: an IEEE 754 double (dates: the Julian day number; timestamps:
//    day number plus fraction of the day) as 8 bytes big-endian, the sign bit inverted when
//    the value is not negative (-0 first made +0) and all 64 bits inverted when it is
//    negative, so that unsigned byte order is numeric order (1.0 is BF F0 00 .., -1.0 is
//    40 0F FF ..);
//  - logical: "T" or "F";
//  - numeric in a tag of key length 4 (as Visual FoxPro indexes its integer fields): the value
//    rounded to a 32-bit integer, big-endian with the sign bit inverted (1 is 80 00 00 01, -1 is
//    7F FF FF FF).

#include <cstdint>
#include <string>
#include <vector>

#include "expr/value.h"

namespace vosk {

// The 8-byte key of a number.
std::string CdxDoubleKey(double value);
// The 4-byte key of a number in a tag of key length kCdxIntegerKeyLength.
inline constexpr int kCdxIntegerKeyLength = 4;
std::string CdxIntegerKey(double value);
// The number of an 8-byte key.
double CdxKeyDouble(const uint8_t* key);

// The key of an evaluated value for a tag of type `type` ('C', 'N', 'D', 'T', 'L') and
// length; false when the value's type does not fit.
bool CdxEncodeKey(const Value& value, char type, int length, bool upper, std::string* out);
// A seek or scope value: character values keep their own length (at most the key length). A
// date in a timestamp tag searches its whole day: the key of its midnight followed by
// kCdxDayMark, kCdxDayKeyLength bytes in all, which CdxCompareKeys compares by day.
std::string CdxSearchKey(const Value& value, char type, int length, bool upper);
inline constexpr char kCdxDayMark = 'D';
inline constexpr int kCdxDayKeyLength = 9;
// Compares keys of a tag of type `type` as the tag sorts them: unsigned bytes (see
// CompareKeyBytes for lengths and exact), except that a day search key in a timestamp tag
// compares equal to every key of its day.
int CdxCompareKeys(char type, const uint8_t* a, int alen, const uint8_t* b, int blen, bool exact);
// The type letter a value gives a tag ('C', 'N', 'D', 'T', 'L', 0 for others) and its length.
char CdxKeyTypeOf(const Value& value, int* length);

// Entry widths of a leaf page.
struct CdxLeafWidths {
  int rec_bits = 0, dup_bits = 0, trl_bits = 0, bytes = 0;
  uint32_t rec_mask = 0;
  uint8_t dup_mask = 0, trl_mask = 0;
};
// The widths for a key length and the largest record number the page must hold.
CdxLeafWidths CdxChooseWidths(int key_length, uint32_t max_recno);

struct CdxKeyEntry {
  std::string key;
  uint32_t recno = 0;
};

// Decodes a leaf page's keys (pad: 0x20 for character tags, else 0). False when the page is
// not a leaf or its entries and texts do not fit (a damaged page).
bool CdxDecodeLeaf(const uint8_t* page, int key_length, uint8_t pad,
                   std::vector<CdxKeyEntry>* out);
// How many keys from `first` on one leaf holds (entries plus compressed texts, the entry
// width chosen for their largest record number).
size_t CdxLeafFit(const std::vector<CdxKeyEntry>& keys, size_t first, int key_length,
                  uint8_t pad);
// Encodes keys into a leaf page (attributes and neighbours as given); widths chosen from the
// largest record number, at least `min_recno_hint`. False when they do not fit.
bool CdxEncodeLeaf(const std::vector<CdxKeyEntry>& keys, size_t first, size_t count,
                   int key_length, uint8_t pad, uint16_t attr, uint32_t left, uint32_t right,
                   uint32_t min_recno_hint, uint8_t* page);

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_KEY_H_
