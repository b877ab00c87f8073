#include "rdd/dbf1/record_cipher.h"

namespace vosk {
namespace {

uint32_t Rotl16(uint32_t v) { return (v << 16) | (v >> 16); }
uint8_t Rotr8(uint8_t v, int r) { return static_cast<uint8_t>((v >> r) | (v << ((8 - r) & 7))); }
uint8_t Rotl8(uint8_t v, int r) { return static_cast<uint8_t>((v << r) | (v >> ((8 - r) & 7))); }

template <bool kEncipher>
void Run(const CipherKey& k, uint8_t* data, size_t len) {
  uint16_t w[7];
  for (int i = 0; i < 7; ++i) w[i] = static_cast<uint16_t>(k[i] + 256 * k[i + 1]);
  uint32_t s = 0;
  for (int i = 0; i < 7; ++i) s = Rotl16(s) * 17u + w[i];
  s |= 1u;
  uint16_t m = static_cast<uint16_t>(s);
  uint32_t x = Rotl16(s);
  int p = 0;
  for (size_t i = 0; i < len; ++i) {
    uint8_t b = static_cast<uint8_t>(m);
    int r = b & 7;
    if (kEncipher) {
      data[i] = static_cast<uint8_t>(Rotr8(data[i], r) + b);
    } else {
      data[i] = Rotl8(static_cast<uint8_t>(data[i] - b), r);
    }
    x *= 663608941u;
    m = static_cast<uint16_t>(((x >> 16) | 1u) + w[p]);
    p = p == 6 ? 0 : p + 1;
  }
}

}  // namespace

void EncipherBytes(const CipherKey& key, uint8_t* data, size_t len) { Run<true>(key, data, len); }
void DecipherBytes(const CipherKey& key, uint8_t* data, size_t len) { Run<false>(key, data, len); }

CipherKey KeyFromPassword(std::string_view password) {
  CipherKey key{};
  for (size_t i = 0; i < 8 && i < password.size(); ++i) key[i] = static_cast<uint8_t>(password[i]);
  CipherKey out = key;
  EncipherBytes(key, out.data(), out.size());
  return out;
}

uint32_t KeyCheckValue(const CipherKey& key) {
  uint8_t block[32] = "VOSK DBU record cipher check";
  EncipherBytes(key, block, sizeof block);
  uint32_t h = 2166136261u;  // FNV-1a
  for (uint8_t b : block) h = (h ^ b) * 16777619u;
  return h ? h : 1;
}

}  // namespace vosk
