#ifndef VOSK_RDD_DBF1_RECORD_CIPHER_H_
#define VOSK_RDD_DBF1_RECORD_CIPHER_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vosk {

// The record cipher of enciphered tables: a keyed byte stream over an 8-byte key. Words are
// the little-endian 16-bit values w(i) = k[i] + 256 k[i+1], i = 0..6; arithmetic wraps at
// 2^32 (state) and 2^16 (mask).
//   seed:  s = 0; for i in 0..6: s = rotl16(s) * 17 + w(i); s |= 1
//          mask m = low16(s), state x = rotl16(s), key position p = 0
//   byte:  b = low8(m), r = b & 7
//          encipher: out = (rotr8(in, r) + b) mod 256
//          decipher: out = rotl8((in - b) mod 256, r)
//   next:  x = x * 663608941; m = (high16(x) | 1) + w(p); p = (p + 1) mod 7
using CipherKey = std::array<uint8_t, 8>;

void EncipherBytes(const CipherKey& key, uint8_t* data, size_t len);
void DecipherBytes(const CipherKey& key, uint8_t* data, size_t len);

// The key of a password: its first 8 bytes, zero-padded, enciphered with themselves as key.
CipherKey KeyFromPassword(std::string_view password);

// A check value of a key (never zero): a fixed block enciphered with it and folded to 32 bits.
// Kept beside an enciphered table, it tells a wrong password from the right one before
// anything is written.
uint32_t KeyCheckValue(const CipherKey& key);

}  // namespace vosk

#endif  // VOSK_RDD_DBF1_RECORD_CIPHER_H_
