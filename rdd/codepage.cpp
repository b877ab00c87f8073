#include "rdd/codepage.h"

#include <array>
#include <cctype>
#include <cstdint>

namespace vosk {
namespace {

// Unicode code points of bytes 0x80-0xFF in cp1252; 0xFFFF marks a byte the code page leaves unassigned, which maps to the C1 control of the same number so that no byte is lost.
constexpr uint16_t kCp1252High[128] = {
    0x20AC, 0xFFFF, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFF, 0x017D, 0xFFFF,
    0xFFFF, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFF, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};
// Unicode code points of bytes 0x80-0xFF in cp850; 0xFFFF marks a byte the code page leaves unassigned, which maps to the C1 control of the same number so that no byte is lost.
constexpr uint16_t kCp850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

const uint16_t* HighTable(Codepage cp) { return cp == Codepage::kCp850 ? kCp850High : kCp1252High; }

uint32_t CodePoint(uint8_t b, Codepage cp) {
  if (b < 0x80) return b;
  uint16_t u = HighTable(cp)[b - 0x80];
  return u == 0xFFFF ? b : u;
}

// Reverse map of one code page: code point -> byte, for the 128 high bytes.
struct Reverse {
  std::array<std::pair<uint32_t, uint8_t>, 128> pairs;
};

const Reverse& ReverseOf(Codepage cp) {
  static const Reverse r1252 = [] {
    Reverse r;
    for (int i = 0; i < 128; ++i) {
      r.pairs[i] = {CodePoint(static_cast<uint8_t>(0x80 + i), Codepage::kCp1252),
                    static_cast<uint8_t>(0x80 + i)};
    }
    return r;
  }();
  static const Reverse r850 = [] {
    Reverse r;
    for (int i = 0; i < 128; ++i) {
      r.pairs[i] = {CodePoint(static_cast<uint8_t>(0x80 + i), Codepage::kCp850),
                    static_cast<uint8_t>(0x80 + i)};
    }
    return r;
  }();
  return cp == Codepage::kCp850 ? r850 : r1252;
}

// The byte of a code point in a code page, or -1.
int ByteOf(uint32_t u, Codepage cp) {
  if (u < 0x80) return static_cast<int>(u);
  for (const auto& [code, byte] : ReverseOf(cp).pairs) {
    if (code == u) return byte;
  }
  return -1;
}

void AppendUtf8(std::string* out, uint32_t u) {
  if (u < 0x80) {
    out->push_back(static_cast<char>(u));
  } else if (u < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (u >> 6)));
    out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (u >> 12)));
    out->push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

}  // namespace

bool CodepageFromName(std::string_view name, Codepage* out) {
  std::string n;
  for (char c : name) n += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (n == "cp1252" || n == "1252" || n == "ansi" || n == "windows-1252") {
    *out = Codepage::kCp1252;
    return true;
  }
  if (n == "cp850" || n == "850" || n == "oem") {
    *out = Codepage::kCp850;
    return true;
  }
  return false;
}

const char* CodepageName(Codepage cp) { return cp == Codepage::kCp850 ? "cp850" : "cp1252"; }

std::string ToUtf8(std::string_view bytes, Codepage cp) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) AppendUtf8(&out, CodePoint(static_cast<uint8_t>(c), cp));
  return out;
}

bool FromUtf8(std::string_view s, Codepage cp, std::string* out, size_t* bad) {
  out->clear();
  out->reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t u;
    int extra;
    if (c < 0x80) {
      u = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      u = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      u = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      u = c & 0x07;
      extra = 3;
    } else {
      if (bad) *bad = start;
      return false;
    }
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= s.size() || (static_cast<uint8_t>(s[i]) & 0xC0) != 0x80) {
        if (bad) *bad = start;
        return false;
      }
      u = (u << 6) | (static_cast<uint8_t>(s[i]) & 0x3F);
    }
    int b = ByteOf(u, cp);
    if (b < 0) {
      if (bad) *bad = start;
      return false;
    }
    out->push_back(static_cast<char>(b));
  }
  return true;
}

void TranslateBytes(char* bytes, size_t len, Codepage from, Codepage to) {
  if (from == to) return;
  // One 128-entry table per direction, built once.
  static const auto build = [](Codepage f, Codepage t) {
    std::array<char, 128> map{};
    for (int i = 0; i < 128; ++i) {
      int b = ByteOf(CodePoint(static_cast<uint8_t>(0x80 + i), f), t);
      map[i] = b < 0 ? '?' : static_cast<char>(b);
    }
    return map;
  };
  static const std::array<char, 128> to850 = build(Codepage::kCp1252, Codepage::kCp850);
  static const std::array<char, 128> to1252 = build(Codepage::kCp850, Codepage::kCp1252);
  const std::array<char, 128>& map = to == Codepage::kCp850 ? to850 : to1252;
  for (size_t i = 0; i < len; ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (b >= 0x80) bytes[i] = map[b - 0x80];
  }
}

void TranslateBytes(std::string* bytes, Codepage from, Codepage to) {
  TranslateBytes(bytes->data(), bytes->size(), from, to);
}

}  // namespace vosk
