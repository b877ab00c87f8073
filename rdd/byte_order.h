#ifndef VOSK_RDD_BYTE_ORDER_H_
#define VOSK_RDD_BYTE_ORDER_H_

#include <cstdint>

namespace vosk {

// Explicit little- and big-endian accessors for file images. Never cast a struct over file
// bytes: every decoded integer goes through these.

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetLe64(const uint8_t* p) {
  return static_cast<uint64_t>(GetLe32(p)) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}
inline uint16_t GetBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, static_cast<uint16_t>(v));
  PutLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, static_cast<uint32_t>(v));
  PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// Signed little-endian integers of 1, 2, 3, 4 or 8 bytes (any other width reads 8).
inline int64_t GetLeSigned(const uint8_t* p, int width) {
  switch (width) {
    case 1: return static_cast<int8_t>(p[0]);
    case 2: return static_cast<int16_t>(GetLe16(p));
    case 3: {
      uint32_t v = GetLe24(p);
      return (v & 0x800000) ? static_cast<int64_t>(v) - 0x1000000 : static_cast<int64_t>(v);
    }
    case 4: return static_cast<int32_t>(GetLe32(p));
    default: return static_cast<int64_t>(GetLe64(p));
  }
}

inline void PutLeSigned(uint8_t* p, int width, int64_t v) {
  switch (width) {
    case 1: p[0] = static_cast<uint8_t>(v); break;
    case 2: PutLe16(p, static_cast<uint16_t>(v)); break;
    case 3: PutLe24(p, static_cast<uint32_t>(v)); break;
    case 4: PutLe32(p, static_cast<uint32_t>(v)); break;
    default: PutLe64(p, static_cast<uint64_t>(v)); break;
  }
}

}  // namespace vosk

#endif  // VOSK_RDD_BYTE_ORDER_H_
