#ifndef VOSK_APP_PROGRAM_INFO_H_
#define VOSK_APP_PROGRAM_INFO_H_

// What the information box shows about the program: its name, version and year, the same
// values that "voskdbu --version" and "dbutool --version" print; and the box itself.

#include <string>
#include <vector>

namespace vosk {

const char* ProgramName();     // "VOSK Software DBU"
const char* ProgramVersion();  // "2.75"
const char* ProgramYear();     // "2024"

// The lines 104 to 108 of the information box: the year and maker, what the program reads and
// writes, and the table driver now in use.
std::vector<std::string> InfoLines();

// "Informazioni": the modal box "INFOS" with the picture "VOSK", the product name, "Versione: "
// and the version, then the further lines (at most five), and the button "&Chiudi". Closing
// never asks.
void INFOS(const std::string& cProduct, const std::string& cVersion,
           const std::vector<std::string>& aLines = {});

}  // namespace vosk

#endif  // VOSK_APP_PROGRAM_INFO_H_
