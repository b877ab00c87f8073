#ifndef VOSK_APP_PROGRAM_INFO_H_
#define VOSK_APP_PROGRAM_INFO_H_

// What the information box shows about the program: its name, version and year, the same
// values that "voskdbu --version" and "dbutool --version" print.

namespace vosk {

const char* ProgramName();     // "VOSK Software DBU"
const char* ProgramVersion();  // "2.75"
const char* ProgramYear();     // "2024"

}  // namespace vosk

#endif  // VOSK_APP_PROGRAM_INFO_H_
