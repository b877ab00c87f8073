#include "rdd/codepage.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <iconv.h>

#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace vosk {
namespace {

struct CodepageInfo {
  Codepage cp;
  const char* name;     // the program's name
  const char* iconv;    // glibc iconv name of the code page (of its base for the two below)
  uint8_t mark;         // header byte 29
};

constexpr CodepageInfo kCodepages[kCodepageCount] = {
    {Codepage::kCp1252, "cp1252", "CP1252", 0x03},
    {Codepage::kCp850, "cp850", "CP850", 0x02},
    {Codepage::kCp437, "cp437", "CP437", 0x01},
    {Codepage::kCp737, "cp737", "CP737", 0x6A},
    {Codepage::kCp852, "cp852", "CP852", 0x64},
    {Codepage::kCp857, "cp857", "CP857", 0x6B},
    {Codepage::kCp861, "cp861", "CP861", 0x67},
    {Codepage::kCp865, "cp865", "CP865", 0x66},
    {Codepage::kCp866, "cp866", "CP866", 0x65},
    {Codepage::kCp874, "cp874", "CP874", 0x7C},
    {Codepage::kCp1250, "cp1250", "CP1250", 0xC8},
    {Codepage::kCp1251, "cp1251", "CP1251", 0xC9},
    {Codepage::kCp1253, "cp1253", "CP1253", 0xCB},
    {Codepage::kCp1254, "cp1254", "CP1254", 0xCA},
    {Codepage::kCp1255, "cp1255", "CP1255", 0x7D},
    {Codepage::kCp1256, "cp1256", "CP1256", 0x7E},
    // The two DOS code pages that iconv lacks share the upper half (0xB0-0xFF) with cp437 and
    // differ in 0x80-0xAF (the tables below).
    {Codepage::kPlmaz, "plmaz", "CP437", 0x69},
    {Codepage::kKamenicky, "kamenicky", "CP437", 0x68},
    {Codepage::kUtf8, "utf8", "UTF-8", 0x00},
};

const CodepageInfo& InfoOf(Codepage cp) { return kCodepages[static_cast<int>(cp)]; }

// Bytes 0x80-0xAF of Mazovia (Polish DOS) as Unicode code points.
constexpr uint16_t kMazoviaLow[48] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x0105, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x0107, 0x00C4, 0x0104,
    0x0118, 0x0119, 0x0142, 0x00F4, 0x00F6, 0x0106, 0x00FB, 0x00F9,
    0x015A, 0x00D6, 0x00DC, 0x00A2, 0x0141, 0x00A5, 0x015B, 0x0192,
    0x0179, 0x017B, 0x00F3, 0x00D3, 0x0144, 0x0143, 0x017A, 0x017C,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
};
// Bytes 0x80-0xAF of Kamenický (Czech and Slovak DOS) as Unicode code points.
constexpr uint16_t kKamenickyLow[48] = {
    0x010C, 0x00FC, 0x00E9, 0x010F, 0x00E4, 0x010E, 0x0164, 0x010D,
    0x011B, 0x011A, 0x0139, 0x00CD, 0x013E, 0x013A, 0x00C4, 0x00C1,
    0x00C9, 0x017E, 0x017D, 0x00F4, 0x00F6, 0x00D3, 0x016F, 0x00DA,
    0x00FD, 0x00D6, 0x00DC, 0x0160, 0x013D, 0x00DD, 0x0158, 0x0165,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x0148, 0x0147, 0x016E, 0x00D4,
    0x0161, 0x0159, 0x0155, 0x0154, 0x00BC, 0x00A7, 0x00AB, 0x00BB,
};

void AppendUtf8(std::string* out, uint32_t u) {
  if (u < 0x80) {
    out->push_back(static_cast<char>(u));
  } else if (u < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (u >> 6)));
    out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else if (u < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (u >> 12)));
    out->push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (u >> 18)));
    out->push_back(static_cast<char>(0x80 | ((u >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
  }
}

// Length and code point of the UTF-8 sequence at s[i]; 0 when it is not a valid one.
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t* u) {
  uint8_t c = static_cast<uint8_t>(s[i]);
  size_t extra;
  uint32_t v;
  if (c < 0x80) {
    *u = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
    v = c & 0x1F;
    extra = 1;
  } else if ((c & 0xF0) == 0xE0) {
    v = c & 0x0F;
    extra = 2;
  } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
    v = c & 0x07;
    extra = 3;
  } else {
    return 0;
  }
  if (i + extra >= s.size()) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    uint8_t b = static_cast<uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b & 0x3F);
  }
  if ((extra == 2 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
      (extra == 3 && (v < 0x10000 || v > 0x10FFFF))) {
    return 0;
  }
  *u = v;
  return extra + 1;
}

// One single-byte code page: the code point and UTF-8 form of every byte, and the way back.
struct ByteTable {
  uint32_t code[256];
  std::string utf8[256];
  std::unordered_map<uint32_t, uint8_t> byte_of;
};

// Asks iconv for the code point of every byte of a code page; a byte iconv does not map keeps
// its own number (the C1 control, or the ASCII character).
void FillFromIconv(const char* name, ByteTable* t) {
  for (int b = 0; b < 256; ++b) t->code[b] = static_cast<uint32_t>(b);
  iconv_t cd = iconv_open("UTF-32LE", name);
  if (cd == reinterpret_cast<iconv_t>(-1)) return;
  for (int b = 0x80; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    size_t il = 1, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Code pages with combining marks (cp1255) hold a character back until the flush.
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) &&
        iconv(cd, nullptr, nullptr, &op, &ol) != static_cast<size_t>(-1) &&
        ol == sizeof out - 4) {
      uint32_t u;
      std::memcpy(&u, out, 4);
      t->code[b] = u;
    }
  }
  iconv_close(cd);
}

std::unique_ptr<ByteTable> BuildTable(Codepage cp) {
  auto t = std::make_unique<ByteTable>();
  FillFromIconv(InfoOf(cp).iconv, t.get());
  const uint16_t* own = cp == Codepage::kPlmaz       ? kMazoviaLow
                        : cp == Codepage::kKamenicky ? kKamenickyLow
                                                     : nullptr;
  if (own) {
    for (int i = 0; i < 48; ++i) t->code[0x80 + i] = own[i];
  }
  for (int b = 255; b >= 0; --b) {  // the lowest byte wins when two share a code point
    AppendUtf8(&t->utf8[b], t->code[b]);
    t->byte_of[t->code[b]] = static_cast<uint8_t>(b);
  }
  return t;
}

const ByteTable& TableOf(Codepage cp) {
  static std::unique_ptr<ByteTable> tables[kCodepageCount];
  static std::once_flag once[kCodepageCount];
  int i = static_cast<int>(cp);
  std::call_once(once[i], [&] { tables[i] = BuildTable(cp); });
  return *tables[i];
}

std::string Normalised(std::string_view name) {
  size_t b = 0, e = name.size();
  while (b < e && std::isspace(static_cast<unsigned char>(name[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(name[e - 1]))) --e;
  std::string n;
  for (size_t i = b; i < e; ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(name[i])));
    if (c != '-' && c != '_' && c != ' ') n += c;
  }
  return n;
}

}  // namespace

bool CodepageFromName(std::string_view name, Codepage* out) {
  std::string n = Normalised(name);
  if (n == "ansi") n = "1252";
  else if (n == "oem") n = "850";
  else if (n == "utf8") n = "utf8";
  else if (n == "mazovia") n = "plmaz";
  else if (n == "keybcs2" || n == "kamenick\xc3\xbd") n = "kamenicky";
  // Prefixes that name the same code page: "windows-1251", "ibm866", "ansi 1251", "oem 866",
  // "dos", "cp".
  for (const char* prefix : {"windows", "ibm", "ansi", "oem", "dos", "cp", "ms"}) {
    size_t len = std::strlen(prefix);
    if (n.size() > len && n.compare(0, len, prefix) == 0 && std::isdigit(static_cast<unsigned char>(n[len]))) {
      n.erase(0, len);
      break;
    }
  }
  for (const CodepageInfo& info : kCodepages) {
    const char* own = info.name;
    if (n == own || (own[0] == 'c' && own[1] == 'p' && n == own + 2)) {
      *out = info.cp;
      return true;
    }
  }
  return false;
}

const char* CodepageName(Codepage cp) { return InfoOf(cp).name; }

uint8_t CodepageMark(Codepage cp) { return InfoOf(cp).mark; }

bool CodepageFromMark(uint8_t mark, Codepage* out) {
  if (mark == 0) return false;
  for (const CodepageInfo& info : kCodepages) {
    if (info.mark == mark) {
      *out = info.cp;
      return true;
    }
  }
  // Other marks that programs write for the same code pages (national variants of the DOS
  // and Windows ones); read only, the program writes the marks above.
  static constexpr struct { uint8_t mark; Codepage cp; } kOtherMarks[] = {
      {0x08, Codepage::kCp865}, {0x09, Codepage::kCp437}, {0x0A, Codepage::kCp850},
      {0x0B, Codepage::kCp437}, {0x0D, Codepage::kCp437}, {0x0E, Codepage::kCp850},
      {0x0F, Codepage::kCp437}, {0x10, Codepage::kCp850}, {0x11, Codepage::kCp437},
      {0x12, Codepage::kCp850}, {0x14, Codepage::kCp850}, {0x15, Codepage::kCp437},
      {0x16, Codepage::kCp850}, {0x17, Codepage::kCp865}, {0x18, Codepage::kCp437},
      {0x19, Codepage::kCp437}, {0x1A, Codepage::kCp850}, {0x1B, Codepage::kCp437},
      {0x1D, Codepage::kCp850}, {0x1F, Codepage::kCp852}, {0x22, Codepage::kCp852},
      {0x23, Codepage::kCp852}, {0x25, Codepage::kCp850}, {0x26, Codepage::kCp866},
      {0x37, Codepage::kCp850}, {0x40, Codepage::kCp852}, {0x57, Codepage::kCp1252},
      {0x58, Codepage::kCp1252}, {0x59, Codepage::kCp1252}, {0x86, Codepage::kCp737},
      {0x87, Codepage::kCp852}, {0x88, Codepage::kCp857}, {0x50, Codepage::kCp874},
  };
  for (const auto& m : kOtherMarks) {
    if (m.mark == mark) {
      *out = m.cp;
      return true;
    }
  }
  return false;
}

std::string_view ByteToUtf8(uint8_t byte, Codepage cp) {
  static const std::array<char, 256> kSelf = [] {
    std::array<char, 256> a{};
    for (int i = 0; i < 256; ++i) a[i] = static_cast<char>(i);
    return a;
  }();
  if (cp == Codepage::kUtf8) return std::string_view(&kSelf[byte], 1);
  return TableOf(cp).utf8[byte];
}

size_t AsciiRun(std::string_view bytes) {
  const char* p = bytes.data();
  const size_t n = bytes.size();
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (high != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
#endif
  while (i < n && static_cast<uint8_t>(p[i]) < 0x80) ++i;
  return i;
}

void AppendUtf8Text(std::string* out, std::string_view bytes, Codepage cp) {
  const ByteTable* t = cp == Codepage::kUtf8 ? nullptr : &TableOf(cp);
  for (size_t i = 0; i < bytes.size();) {
    size_t run = AsciiRun(bytes.substr(i));
    out->append(bytes.data() + i, run);
    i += run;
    if (i == bytes.size()) break;
    if (t) {
      out->append(t->utf8[static_cast<uint8_t>(bytes[i])]);
      ++i;
      continue;
    }
    uint32_t u;
    size_t n = DecodeUtf8(bytes, i, &u);
    if (n == 0) {
      AppendUtf8(out, 0xFFFD);
      ++i;
    } else {
      out->append(bytes.substr(i, n));
      i += n;
    }
  }
}

std::string ToUtf8(std::string_view bytes, Codepage cp) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  AppendUtf8Text(&out, bytes, cp);
  return out;
}

bool FromUtf8(std::string_view s, Codepage cp, std::string* out, size_t* bad) {
  out->clear();
  out->reserve(s.size());
  const ByteTable* t = cp == Codepage::kUtf8 ? nullptr : &TableOf(cp);
  for (size_t i = 0; i < s.size();) {
    uint32_t u;
    size_t n = DecodeUtf8(s, i, &u);
    if (n == 0) {
      if (bad) *bad = i;
      return false;
    }
    if (!t) {
      out->append(s.substr(i, n));
    } else if (u < 0x80) {
      out->push_back(static_cast<char>(u));
    } else {
      auto it = t->byte_of.find(u);
      if (it == t->byte_of.end()) {
        if (bad) *bad = i;
        return false;
      }
      out->push_back(static_cast<char>(it->second));
    }
    i += n;
  }
  return true;
}

size_t TranslateBytes(std::string* bytes, Codepage from, Codepage to) {
  if (from == to) return 0;
  if (from != Codepage::kUtf8 && to != Codepage::kUtf8) {
    return TranslateBytes(bytes->data(), bytes->size(), from, to);
  }
  if (AsciiRun(*bytes) == bytes->size()) return 0;
  std::string utf8 = ToUtf8(*bytes, from);
  if (to == Codepage::kUtf8) {
    *bytes = std::move(utf8);
    return 0;
  }
  std::string out;
  size_t lost = 0;
  const ByteTable& t = TableOf(to);
  for (size_t i = 0; i < utf8.size();) {
    uint32_t u = '?';
    size_t n = DecodeUtf8(utf8, i, &u);
    if (n == 0) {
      n = 1;
      u = 0xFFFD;
    }
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else {
      auto it = t.byte_of.find(u);
      if (it == t.byte_of.end()) ++lost;
      out.push_back(it == t.byte_of.end() ? '?' : static_cast<char>(it->second));
    }
    i += n;
  }
  *bytes = std::move(out);
  return lost;
}

size_t TranslateBytes(char* bytes, size_t len, Codepage from, Codepage to) {
  if (from == to || from == Codepage::kUtf8 || to == Codepage::kUtf8) return 0;
  static std::array<char, 128> maps[kCodepageCount][kCodepageCount];
  static std::once_flag once[kCodepageCount][kCodepageCount];
  int f = static_cast<int>(from), g = static_cast<int>(to);
  std::call_once(once[f][g], [&] {
    const ByteTable& a = TableOf(from);
    const ByteTable& b = TableOf(to);
    for (int i = 0; i < 128; ++i) {
      auto it = b.byte_of.find(a.code[0x80 + i]);
      maps[f][g][i] = it == b.byte_of.end() ? '?' : static_cast<char>(it->second);
    }
  });
  const std::array<char, 128>& map = maps[f][g];
  size_t lost = 0;
  for (size_t i = 0; i < len; ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    if (b >= 0x80) {
      bytes[i] = map[b - 0x80];
      lost += bytes[i] == '?';  // no byte of 0x80 or more stands for '?' itself
    }
  }
  return lost;
}

}  // namespace vosk
