#ifndef VOSK_PLATFORM_PROFILE_H_
#define VOSK_PLATFORM_PROFILE_H_

// INI profile files: the private-profile services of the desktop the program comes from.
//
// File form (8-bit text; bytes above 0x7F are kept exactly as they are, no decoding):
//
//   [Section]            a section header; the name is trimmed of blanks
//   Key=Value            an entry of the section above it
//   ; comment            any line without "=" is kept but never matches a key
//
// Rules:
//  - Section and key names compare without regard to ASCII letter case; the first section of a
//    name and its first entry of a key name are the ones read and written.
//  - A value is read trimmed of blanks and tabs; a value enclosed in a matching pair of single
//    or double quotes is read without them.
//  - A missing file, section or key reads as the default. A read never creates anything.
//  - The first write creates the file (and its missing directories). A write keeps every other
//    line of the file as it was, and the file's line ending (CR LF or LF) with it.

#include <optional>
#include <string>

namespace vosk {

// Size of the buffer a string value is read into: at most this minus one bytes are returned.
inline constexpr size_t kProfileStringBuffer = 16384;

// The value of key in section, or default_value (trimmed of trailing blanks) when there is none.
// The result is cut to kProfileStringBuffer - 1 bytes.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& default_value, const std::string& file);

// The value read as an integer: blanks skipped, an optional sign, then decimal digits up to the
// first other character ("12px" is 12, "abc" is 0). A missing key or an empty value gives
// default_value.
int GetProfileInt(const std::string& section, const std::string& key, int default_value,
                  const std::string& file);

// Writes key=value in section, adding the section at the end of the file and the key at the end
// of its section when they are missing. value nullopt deletes the key; key nullopt deletes the
// whole section. Returns false when the file cannot be written (it is then left unchanged).
bool WriteProfileString(const std::string& section, const std::optional<std::string>& key,
                        const std::optional<std::string>& value, const std::string& file);

}  // namespace vosk

#endif  // VOSK_PLATFORM_PROFILE_H_
