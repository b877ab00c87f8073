#include "app/ansi.h"

#include <cstdint>

namespace vosk {
namespace {

// Code points of the bytes 0x80-0x9F; the five bytes Windows-1252 leaves unassigned map to the
// control character of the same number, as the system's conversion does.
constexpr char32_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t FromAnsiByte(unsigned char b) { return b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b; }

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the valid UTF-8 multi-byte sequence at s[i] (code point in *cp), or 0.
size_t Utf8Sequence(std::string_view s, size_t i, char32_t* cp) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = b(i);
  size_t len;
  char32_t value, min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, value = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, value = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, value = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b(i + k) & 0x3F);
  }
  if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return len;
}

}  // namespace

std::string Ansi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t len = Utf8Sequence(utf8, i, &cp);
    if (len == 0) {  // not UTF-8 after all: already a code-page byte
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    i += len;
    char byte = '?';
    if (cp >= 0xA0 && cp <= 0xFF) {
      byte = static_cast<char>(cp);
    } else {
      for (int k = 0; k < 32; ++k) {
        if (kHigh[k] == cp) byte = static_cast<char>(0x80 + k);
      }
    }
    out.push_back(byte);
  }
  return out;
}

std::string DisplayUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    char32_t cp = 0;
    size_t len = c < 0x80 ? 0 : Utf8Sequence(text, i, &cp);
    if (len > 0) {
      out.append(text.substr(i, len));
      i += len;
    } else {
      AppendUtf8(FromAnsiByte(c), &out);
      ++i;
    }
  }
  return out;
}

}  // namespace vosk
