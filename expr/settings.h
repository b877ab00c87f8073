#ifndef VOSK_EXPR_SETTINGS_H_
#define VOSK_EXPR_SETTINGS_H_

#include <functional>
#include <string>
#include <vector>

#include "expr/value.h"

namespace vosk {

// Numbers of the process-wide settings.
enum SettingNumber : int {
  kSetExact = 1, kSetFixed = 2, kSetDecimals = 3, kSetDateFormat = 4, kSetEpoch = 5,
  kSetPath = 6, kSetDefault = 7, kSetExclusive = 8, kSetSoftSeek = 9, kSetUnique = 10,
  kSetDeleted = 11, kSetMBlockSize = 41, kSetMFileExt = 42, kSetStrictRead = 43,
  kSetOptimize = 44, kSetAutOpen = 45, kSetAutOrder = 46, kSetAutoShare = 47,
  kSetFileCase = 102, kSetDirCase = 103, kSetDirSeparator = 104, kSetEof = 105,
  kSetDbfLockScheme = 108,
  // Not numbered in the table of settings, but held here with them: the engine's switches
  // that the DBF driver consults.
  kSetHardCommit = 200, kSetDefExtensions = 201,
};

// FILECASE / DIRCASE values.
enum CaseMode : int { kCaseMixed = 0, kCaseLower = 1, kCaseUpper = 2 };

// The settings table: one per process, created with its defaults before any other code runs.
// Drivers read it through the getters every time they need a value, so a change takes effect
// at the next operation.
class Settings {
 public:
  Settings();

  // SET(n): the current value (nil for an unknown number).
  Value Get(int number) const;
  // SET(n, x): stores x by the rules of the setting's kind and returns the previous value.
  Value Set(int number, const Value& value);
  // SETCENTURY(x): previous flag; true or the string "ON" turns it on.
  bool SetCentury(const Value& value);
  // Restores every default (tests).
  void Reset();

  // Listener called before (after = false) and after (after = true) each change.
  using Listener = std::function<void(int number, bool after)>;
  void AddListener(Listener listener) { listeners_.push_back(std::move(listener)); }

  bool exact() const { return exact_; }
  bool fixed() const { return fixed_; }
  int decimals() const { return decimals_; }
  const std::string& date_format() const { return date_format_; }
  int epoch() const { return epoch_; }
  const std::string& path() const { return path_; }
  const std::string& default_dir() const { return default_; }
  bool exclusive() const { return exclusive_; }
  bool softseek() const { return softseek_; }
  bool unique() const { return unique_; }
  bool deleted() const { return deleted_; }
  int mblocksize() const { return mblocksize_; }
  const std::string& mfileext() const { return mfileext_; }
  bool strictread() const { return strictread_; }
  bool optimize() const { return optimize_; }
  bool autopen() const { return autopen_; }
  int autorder() const { return autorder_; }
  int autoshare() const { return autoshare_; }
  int filecase() const { return filecase_; }
  int dircase() const { return dircase_; }
  int dirseparator() const { return dirseparator_; }
  bool eof() const { return eof_; }
  int dbflockscheme() const { return dbflockscheme_; }
  bool century() const { return century_; }
  bool hardcommit() const { return hardcommit_; }
  bool defextensions() const { return defextensions_; }

 private:
  void Notify(int number, bool after);

  bool exact_, fixed_;
  int decimals_;
  std::string date_format_;
  int epoch_;
  std::string path_, default_;
  bool exclusive_, softseek_, unique_, deleted_;
  int mblocksize_;
  std::string mfileext_;
  bool strictread_, optimize_, autopen_;
  int autorder_, autoshare_, filecase_, dircase_, dirseparator_;
  bool eof_;
  int dbflockscheme_;
  bool century_;
  bool hardcommit_, defextensions_;
  std::vector<Listener> listeners_;
};

// The process's settings table.
Settings& GlobalSettings();

// SET() and SETCENTURY() on the process's table.
Value SET(int number);
Value SET(int number, const Value& value);
bool SETCENTURY(const Value& value);

}  // namespace vosk

#endif  // VOSK_EXPR_SETTINGS_H_
