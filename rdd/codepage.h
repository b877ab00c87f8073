#ifndef VOSK_RDD_CODEPAGE_H_
#define VOSK_RDD_CODEPAGE_H_

#include <string>
#include <string_view>

namespace vosk {

// The code pages whose text the program translates. The program's own code page is
// Windows-1252 ("ANSI"); CP850 is the DOS ("OEM") one.
enum class Codepage { kCp1252, kCp850 };

inline constexpr Codepage kProgramCodepage = Codepage::kCp1252;

// Parses a code page name ("cp1252", "CP850", "1252", "ansi", "oem"); false when unknown.
bool CodepageFromName(std::string_view name, Codepage* out);
const char* CodepageName(Codepage cp);

// Decodes bytes of a code page into UTF-8.
std::string ToUtf8(std::string_view bytes, Codepage cp);
// Encodes UTF-8 text into a code page. False (and *bad the offending character's position in
// the input) when a character has no byte there or the input is not UTF-8.
bool FromUtf8(std::string_view utf8, Codepage cp, std::string* out, size_t* bad = nullptr);
// Translates bytes between two code pages in place; characters the target cannot hold become
// '?'.
void TranslateBytes(std::string* bytes, Codepage from, Codepage to);
void TranslateBytes(char* bytes, size_t len, Codepage from, Codepage to);

}  // namespace vosk

#endif  // VOSK_RDD_CODEPAGE_H_
