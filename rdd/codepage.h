#ifndef VOSK_RDD_CODEPAGE_H_
#define VOSK_RDD_CODEPAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vosk {

// The code pages a table's text can be in. The program's own code page is Windows-1252
// ("ANSI"); CP850 is the DOS ("OEM") one. Text values carry the bytes of their table's code
// page; the code page says how to show them and how to turn typed text into them.
enum class Codepage {
  kCp1252, kCp850, kCp437, kCp737, kCp852, kCp857, kCp861, kCp865, kCp866, kCp874,
  kCp1250, kCp1251, kCp1253, kCp1254, kCp1255, kCp1256, kPlmaz, kKamenicky, kUtf8,
};
inline constexpr int kCodepageCount = static_cast<int>(Codepage::kUtf8) + 1;

inline constexpr Codepage kProgramCodepage = Codepage::kCp1252;

// Parses a code page name: the program's names ("cp1251", "plmaz", "kamenicky", "utf8"), bare
// numbers ("1251"), the usual aliases ("windows-1251", "ibm866", "ansi", "oem", "UTF-8",
// "mazovia", "keybcs2") and the contents of a shapefile-style .cpg file; case and surrounding
// blanks do not matter. False when unknown.
bool CodepageFromName(std::string_view name, Codepage* out);
// The program's name of a code page ("cp1252", "plmaz", "kamenicky", "utf8", ...).
const char* CodepageName(Codepage cp);

// The code-page byte (offset 29 of a table header) that marks a code page; 0 when none does
// (UTF-8).
uint8_t CodepageMark(Codepage cp);
// The code page a header's code-page byte marks; false for 0 and unknown bytes.
bool CodepageFromMark(uint8_t mark, Codepage* out);

// Decodes bytes of a code page into UTF-8. Bytes a code page leaves unassigned become the C1
// control of the same number (no byte is lost); in UTF-8 text a byte that is not part of a
// valid sequence becomes U+FFFD.
std::string ToUtf8(std::string_view bytes, Codepage cp);
// Appends the UTF-8 form of bytes of a code page (as ToUtf8 decodes them) to *out.
void AppendUtf8Text(std::string* out, std::string_view bytes, Codepage cp);
// The length of the run of bytes below 0x80 (plain ASCII, the same in every code page) at the
// start of bytes.
size_t AsciiRun(std::string_view bytes);
// The UTF-8 form of one byte of a single-byte code page (of UTF-8 itself: the byte).
std::string_view ByteToUtf8(uint8_t byte, Codepage cp);
// Encodes UTF-8 text into a code page. False (and *bad the offending character's position in
// the input) when a character has no byte there or the input is not UTF-8.
bool FromUtf8(std::string_view utf8, Codepage cp, std::string* out, size_t* bad = nullptr);
// Translates text between two code pages; characters the target cannot hold (and bytes of
// UTF-8 text that are not part of a valid sequence) become '?'. Returns how many did.
size_t TranslateBytes(std::string* bytes, Codepage from, Codepage to);
// In place, between single-byte code pages (UTF-8 on either side leaves the bytes alone).
size_t TranslateBytes(char* bytes, size_t len, Codepage from, Codepage to);

}  // namespace vosk

#endif  // VOSK_RDD_CODEPAGE_H_
