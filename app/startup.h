#ifndef VOSK_APP_STARTUP_H_
#define VOSK_APP_STARTUP_H_

// The start-up routine that runs before MAIN, and the shutdown routines CLOSEALL and
// EndOfProgram.

#include <string>

namespace vosk {

class Ui;

// The start-up routine, in this order: installs the error handler on `ui`; default driver
// DBFCDX; DBFLOCKSCHEME 4; memo extension ".DBT"; century on and DATEFORMAT "dd/mm/yyyy";
// DELETED on; EPOCH 1980; FILECASE "UPPER"; the public variables ACS_USER "USER", ACS_TEMP "",
// ACS_PASSWD "", ACS_LEVEL 1; removes what earlier runs left behind (CleanLeftovers on the
// current directory and the temporary folder).
void StartUp(Ui& ui);

// Closes every work area, selects area 1 and deletes the temporary view indexes (0x7F, "VIEW",
// any characters, ".NTX") of the temporary directory (SETTEMP(), "" = the current directory).
void CLOSEALL();

// The last step of the program, after CLOSEALL and before the Ui goes: whatever an abandoned
// close left open is closed without a word, and the error handler, which shows its messages on
// the Ui, is removed, so that nothing reaches the Ui once it is gone. Never throws.
void EndOfProgram() noexcept;

// Deletes the files of `current_dir` whose names begin with the byte 0x7F, and removes with
// their contents the subdirectories of `temp_dir` whose names begin with 0x7F.
void CleanLeftovers(const std::string& current_dir, const std::string& temp_dir);

// Sets the default driver's memo type (RDDINFO 14) and memo-file extension (RDDINFO 6); raises
// nothing.
void SetMemoFormat(int type, const std::string& extension);

// Makes `driver` the default driver. When it is not registered, falls back to DBFFPT, then to
// DBF. Returns the name now in force; raises nothing.
std::string SetDefaultDriver(const std::string& driver);

// The temporary directory of the utility library; "" (the default) is the current directory.
const std::string& SETTEMP();
void SETTEMP(const std::string& dir);

}  // namespace vosk

#endif  // VOSK_APP_STARTUP_H_
