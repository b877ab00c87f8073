#include "rdd/dbfcdx/cdx_key.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_format.h"
#include "rdd/order/order.h"

namespace vosk {
namespace {

void PutBe64(uint8_t* p, uint64_t v) {
  for (int i = 7; i >= 0; --i) {
    p[i] = static_cast<uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

uint64_t GetBe64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

int BitsOf(int n) {
  int b = 0;
  while (n > 0) {
    ++b;
    n >>= 1;
  }
  return b;
}

// Duplicate count of b against a (common leading bytes).
int Common(const std::string& a, const std::string& b, int limit) {
  int n = 0;
  while (n < limit && a[static_cast<size_t>(n)] == b[static_cast<size_t>(n)]) ++n;
  return n;
}

int Trailing(const std::string& k, int key_length, uint8_t pad) {
  int n = 0;
  while (n < key_length &&
         static_cast<uint8_t>(k[static_cast<size_t>(key_length - 1 - n)]) == pad) {
    ++n;
  }
  return n;
}

void Upper(std::string* s) {
  for (char& c : *s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

double DayNumber(const Value& v) {
  if (v.is_timestamp()) return v.julian() + v.millis() / 86400000.0;
  return v.julian();
}

}  // namespace

std::string CdxDoubleKey(double value) {
  if (value == 0) value = 0;  // -0 becomes +0
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  if (value < 0) bits = ~bits;
  else bits ^= 0x8000000000000000ULL;
  std::string out(8, '\0');
  PutBe64(reinterpret_cast<uint8_t*>(out.data()), bits);
  return out;
}

std::string CdxIntegerKey(double value) {
  const double whole = std::nearbyint(std::clamp(value, -2147483648.0, 2147483647.0));
  const uint32_t bits = static_cast<uint32_t>(static_cast<int32_t>(whole)) ^ 0x80000000u;
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(bits >> (24 - 8 * i));
  return out;
}

double CdxKeyDouble(const uint8_t* key) {
  uint64_t bits = GetBe64(key);
  if (bits & 0x8000000000000000ULL) bits ^= 0x8000000000000000ULL;
  else bits = ~bits;
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

bool CdxEncodeKey(const Value& value, char type, int length, bool upper, std::string* out) {
  switch (type) {
    case 'C': {
      if (!value.is_string()) return false;
      std::string s = value.str();
      if (static_cast<int>(s.size()) > length) s.resize(static_cast<size_t>(length));
      if (upper) Upper(&s);
      s.resize(static_cast<size_t>(length), ' ');
      *out = std::move(s);
      return true;
    }
    case 'N':
      if (!value.is_numeric()) return false;
      *out = length == kCdxIntegerKeyLength ? CdxIntegerKey(value.number())
                                            : CdxDoubleKey(value.number());
      return true;
    case 'D':
      if (!value.is_date() && !value.is_timestamp()) return false;
      *out = CdxDoubleKey(value.julian());
      return true;
    case 'T':
      if (!value.is_date() && !value.is_timestamp()) return false;
      *out = CdxDoubleKey(DayNumber(value));
      return true;
    case 'L':
      if (!value.is_logical()) return false;
      *out = value.logical() ? "T" : "F";
      return true;
    default:
      return false;
  }
}

std::string CdxSearchKey(const Value& value, char type, int length, bool upper) {
  if (type == 'C') {
    if (!value.is_string()) return std::string(static_cast<size_t>(length), '\0');
    std::string s = value.str();
    if (static_cast<int>(s.size()) > length) s.resize(static_cast<size_t>(length));
    if (upper) Upper(&s);
    return s;
  }
  if (type == 'T' && value.is_date()) {
    // A date searches its whole day: the key of its midnight, marked as a day.
    return CdxDoubleKey(value.julian()) + kCdxDayMark;
  }
  std::string key;
  if (!CdxEncodeKey(value, type, length, upper, &key)) {
    key.assign(static_cast<size_t>(length), '\0');
  }
  return key;
}

int CdxCompareKeys(char type, const uint8_t* a, int alen, const uint8_t* b, int blen,
                   bool exact) {
  if (type == 'T' && (alen == kCdxDayKeyLength || blen == kCdxDayKeyLength) && alen >= 8 &&
      blen >= 8) {
    const double day_a = std::floor(CdxKeyDouble(a)), day_b = std::floor(CdxKeyDouble(b));
    return day_a < day_b ? -1 : day_a > day_b ? 1 : 0;
  }
  return CompareKeyBytes(a, alen, b, blen, exact);
}

char CdxKeyTypeOf(const Value& value, int* length) {
  if (value.is_string()) {
    *length = static_cast<int>(value.str().size());
    return 'C';
  }
  if (value.is_numeric()) {
    *length = 8;
    return 'N';
  }
  if (value.is_date()) {
    *length = 8;
    return 'D';
  }
  if (value.is_timestamp()) {
    *length = 8;
    return 'T';
  }
  if (value.is_logical()) {
    *length = 1;
    return 'L';
  }
  *length = 0;
  return 0;
}

CdxLeafWidths CdxChooseWidths(int key_length, uint32_t max_recno) {
  CdxLeafWidths w;
  int b = BitsOf(key_length);
  w.dup_bits = w.trl_bits = b;
  w.dup_mask = w.trl_mask = static_cast<uint8_t>((1u << b) - 1);
  w.bytes = 3;
  w.rec_bits = 24 - 2 * b;
  w.rec_mask = (1u << w.rec_bits) - 1;
  while (max_recno > w.rec_mask && w.bytes < 4 + 2) {
    ++w.bytes;
    w.rec_bits += 8;
    w.rec_mask = w.rec_bits >= 32 ? 0xFFFFFFFFu : (1u << w.rec_bits) - 1;
  }
  return w;
}

bool CdxDecodeLeaf(const uint8_t* page, int key_length, uint8_t pad,
                   std::vector<CdxKeyEntry>* out) {
  out->clear();
  if (!(GetLe16(page + kCdxPageAttr) & kCdxAttrLeaf)) return false;
  int count = GetLe16(page + kCdxPageCount);
  int e = page[kCdxLeafEntryBytes];
  int rbits = page[kCdxLeafRecBits], dbits = page[kCdxLeafDupBits], tbits = page[kCdxLeafTrlBits];
  if (count == 0) return true;
  if (e < 2 || e > 8 || dbits + tbits > 16 || rbits + dbits + tbits > 8 * e || rbits > 32) return false;
  if (count * e > kCdxLeafArea) return false;
  uint32_t rmask = GetLe32(page + kCdxLeafRecMask);
  uint8_t dmask = page[kCdxLeafDupMask], tmask = page[kCdxLeafTrlMask];
  int text_end = kCdxPageSize;  // texts stack down from the end
  const int entries_end = kCdxLeafKeys + count * e;
  std::string prev(static_cast<size_t>(key_length), static_cast<char>(pad));
  out->reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = page + kCdxLeafKeys + i * e;
    uint64_t v = 0;
    for (int b = e - 1; b >= 0; --b) v = (v << 8) | p[b];
    uint32_t rec = static_cast<uint32_t>(v) & rmask;
    uint16_t top = static_cast<uint16_t>(p[e - 2] | (p[e - 1] << 8));
    int dup = (top >> (16 - dbits - tbits)) & dmask;
    int trl = (top >> (16 - tbits)) & tmask;
    if (i == 0) dup = 0;
    int len = key_length - dup - trl;
    if (len < 0 || dup > key_length || trl > key_length) return false;
    text_end -= len;
    if (text_end < entries_end) return false;
    CdxKeyEntry k;
    k.key.assign(prev, 0, static_cast<size_t>(dup));
    k.key.append(reinterpret_cast<const char*>(page + text_end), static_cast<size_t>(len));
    k.key.append(static_cast<size_t>(trl), static_cast<char>(pad));
    k.recno = rec;
    prev = k.key;
    out->push_back(std::move(k));
  }
  return true;
}

size_t CdxLeafFit(const std::vector<CdxKeyEntry>& keys, size_t first, int key_length,
                  uint8_t pad) {
  // Entries grow a byte wider when a record number passes the mask: the whole count pays it.
  int texts = 0;
  uint32_t max_rec = 0;
  size_t n = 0;
  for (size_t i = first; i < keys.size(); ++i, ++n) {
    int trl = Trailing(keys[i].key, key_length, pad);
    int dup = i == first ? 0 : Common(keys[i - 1].key, keys[i].key, key_length - trl);
    uint32_t rec = std::max(max_rec, keys[i].recno);
    int width = CdxChooseWidths(key_length, rec).bytes;
    int text = key_length - dup - trl;
    if (static_cast<int>(n + 1) * width + texts + text > kCdxLeafArea) break;
    texts += text;
    max_rec = rec;
  }
  return n;
}

bool CdxEncodeLeaf(const std::vector<CdxKeyEntry>& keys, size_t first, size_t count,
                   int key_length, uint8_t pad, uint16_t attr, uint32_t left, uint32_t right,
                   uint32_t min_recno_hint, uint8_t* page) {
  uint32_t max_rec = min_recno_hint;
  for (size_t i = first; i < first + count; ++i) max_rec = std::max(max_rec, keys[i].recno);
  CdxLeafWidths w = CdxChooseWidths(key_length, max_rec);
  std::memset(page, 0, kCdxPageSize);
  PutLe16(page + kCdxPageAttr, static_cast<uint16_t>(attr | kCdxAttrLeaf));
  PutLe16(page + kCdxPageCount, static_cast<uint16_t>(count));
  PutLe32(page + kCdxPageLeft, left);
  PutLe32(page + kCdxPageRight, right);
  PutLe32(page + kCdxLeafRecMask, w.rec_mask);
  page[kCdxLeafDupMask] = w.dup_mask;
  page[kCdxLeafTrlMask] = w.trl_mask;
  page[kCdxLeafRecBits] = static_cast<uint8_t>(w.rec_bits);
  page[kCdxLeafDupBits] = static_cast<uint8_t>(w.dup_bits);
  page[kCdxLeafTrlBits] = static_cast<uint8_t>(w.trl_bits);
  page[kCdxLeafEntryBytes] = static_cast<uint8_t>(w.bytes);
  int text_end = kCdxPageSize;
  int entry = kCdxLeafKeys;
  for (size_t i = first; i < first + count; ++i) {
    const std::string& k = keys[i].key;
    int trl = std::min<int>(Trailing(k, key_length, pad), w.trl_mask);
    int dup = i == first ? 0 : std::min<int>(Common(keys[i - 1].key, k, key_length - trl),
                                             w.dup_mask);
    int len = key_length - dup - trl;
    text_end -= len;
    if (text_end < entry + w.bytes) return false;
    std::memcpy(page + text_end, k.data() + dup, static_cast<size_t>(len));
    uint64_t v = keys[i].recno & w.rec_mask;
    uint64_t top = (static_cast<uint64_t>(trl) << (16 - w.trl_bits)) |
                   (static_cast<uint64_t>(dup) << (16 - w.trl_bits - w.dup_bits));
    v |= top << (8 * w.bytes - 16);
    for (int b = 0; b < w.bytes; ++b) page[entry + b] = static_cast<uint8_t>(v >> (8 * b));
    entry += w.bytes;
  }
  PutLe16(page + kCdxLeafFree, static_cast<uint16_t>(text_end - entry));
  return true;
}

}  // namespace vosk
