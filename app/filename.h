#ifndef VOSK_APP_FILENAME_H_
#define VOSK_APP_FILENAME_H_

// File-name helpers and the settings file VOSKDBU.INI.

#include <string>

namespace vosk {

// The directory part of a name with its trailing separator ("/" when the name holds a "/",
// else "\"); with no separator the drive part ("C:"), else "".
std::string CFILEPATH(const std::string& cName);
// The name without its directory.
std::string CFILENOPATH(const std::string& cName);
// The name without directory and without the text from its last ".".
std::string CFILENOEXT(const std::string& cName);
// The text after the last "." of the name without directory; "" when there is none.
std::string CFILEEXT(const std::string& cName);
// The absolute path of a name: relative to the current directory, "\" read as "/", the "." and
// ".." steps resolved.
std::string FULLNAME(const std::string& cName);
// Full file name of the running executable.
std::string GETMODULEFILENAME();

// The system's file dialog (through the Ui). cFilter: "File DBF (*.DBF)|*.DBF"; nDefFilter is
// 1-based. Returns the chosen path or "".
std::string CGETFILE(const std::string& cFilter, const std::string& cTitle, int nDefFilter = 1,
                     const std::string& cInitDir = "", bool lSave = false);

// Path of VOSKDBU.INI: beside the executable; where that place is not writable,
// $XDG_CONFIG_HOME/voskdbu/VOSKDBU.INI (default ~/.config/voskdbu/VOSKDBU.INI).
std::string IniFileName();
// The same for an executable in `dir` (with its trailing separator).
std::string IniFileNameFor(const std::string& dir);
// Makes IniFileName() return `path` (empty: back to the computed place). For tests.
void SetIniFileName(const std::string& path);

// The private-profile services on a settings file (default: IniFileName()). A string is read
// into a 16384-byte buffer.
std::string GETPVPROFSTRING(const std::string& cSection, const std::string& cKey,
                            const std::string& cDefault, const std::string& cFile = "");
int GETPVPROFINT(const std::string& cSection, const std::string& cKey, int nDefault,
                 const std::string& cFile = "");
bool WRITEPPROSTRING(const std::string& cSection, const std::string& cKey,
                     const std::string& cValue, const std::string& cFile = "");

// Section "Parametri" of VOSKDBU.INI.
inline constexpr char kIniSection[] = "Parametri";
std::string IniString(const std::string& key, const std::string& default_value);
int IniInt(const std::string& key, int default_value);
// A logical key: true when its value begins with "S" ("S", "Si", "Sì"); a missing key takes
// default_value ("Sì" or "No") by the same rule.
bool IniLogical(const std::string& key, const std::string& default_value);
// Writes "Sì" (as the byte 0xEC) or "No".
bool WriteIniLogical(const std::string& key, bool value);

// The maker-compatibility switch: "Vosk" is true.
bool VOSK();

}  // namespace vosk

#endif  // VOSK_APP_FILENAME_H_
