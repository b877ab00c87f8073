#ifndef VOSK_APP_ANSI_H_
#define VOSK_APP_ANSI_H_

// The Application's text is Windows-1252 ("ANSI"): its messages, menu prompts and the values of
// VOSKDBU.INI (the ì of "Sì" is the byte 0xEC). Source files are UTF-8, so literals with
// accented letters go through Ansi().

#include <string>
#include <string_view>

namespace vosk {

// UTF-8 to Windows-1252; a character that code page lacks becomes "?".
std::string Ansi(std::string_view utf8);

// Text for display, as UTF-8: a valid UTF-8 sequence (a file name as the file system spells it)
// is kept, every other byte above 0x7F is read as Windows-1252.
std::string DisplayUtf8(std::string_view text);

}  // namespace vosk

#endif  // VOSK_APP_ANSI_H_
