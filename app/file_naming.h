#ifndef VOSK_APP_FILE_NAMING_H_
#define VOSK_APP_FILE_NAMING_H_

// The one rule for the extension the program adds to a file name the user gave without one:
// it follows the case of the name, as the table's own file does ("CLIENTI.DBF"): a name in
// lower case gets a lower-case extension ("ragsoc.ntx"), any other the upper-case one
// ("RAGSOC.NTX", "Ragsoc.NTX").

#include <string>

namespace vosk {

// `name` with ".<ext>" added in the case of the name's file part. `ext` without its dot.
std::string WithExtension(const std::string& name, const std::string& ext);

}  // namespace vosk

#endif  // VOSK_APP_FILE_NAMING_H_
