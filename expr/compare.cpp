#include "expr/compare.h"

#include <cstring>

#include "expr/settings.h"

namespace vosk {
namespace {

const uint8_t* g_collation = nullptr;

int CompareCommon(std::string_view a, std::string_view b, size_t n) {
  const uint8_t* w = g_collation;
  if (w == nullptr) {
    return n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  }
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = w[static_cast<uint8_t>(a[i])], y = w[static_cast<uint8_t>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

std::string_view TrimTrailingBlanks(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

}  // namespace

const uint8_t* SetCollation(const uint8_t* weights) {
  const uint8_t* previous = g_collation;
  g_collation = weights;
  return previous;
}

const uint8_t* GetCollation() { return g_collation; }

int CompareExact(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int r = CompareCommon(a, b, n);
  if (r != 0) return r < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareNonExact(std::string_view a, std::string_view b) {
  if (GlobalSettings().exact()) return CompareExact(TrimTrailingBlanks(a), TrimTrailingBlanks(b));
  size_t n = a.size() < b.size() ? a.size() : b.size();
  int r = CompareCommon(a, b, n);
  if (r != 0) return r < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : 0;
}

}  // namespace vosk
