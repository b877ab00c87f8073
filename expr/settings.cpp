#include "expr/settings.h"

#include <cctype>

namespace vosk {
namespace {

// A logical setting takes a logical, or a string starting with "ON" or "OFF" (either case);
// anything else leaves it unchanged.
void StoreLogical(bool* target, const Value& v) {
  if (v.is_logical()) {
    *target = v.logical();
    return;
  }
  if (!v.is_string()) return;
  const std::string& s = v.str();
  auto up = [&](size_t i) { return i < s.size() ? std::toupper(static_cast<unsigned char>(s[i])) : 0; };
  if (up(0) == 'O' && up(1) == 'N') {
    *target = true;
  } else if (up(0) == 'O' && up(1) == 'F' && up(2) == 'F') {
    *target = false;
  }
}

void StoreNumber(int* target, const Value& v) {
  if (v.is_numeric()) *target = static_cast<int>(v.is_integer() ? v.integer() : v.dbl());
}

void StoreText(std::string* target, const Value& v) {
  if (v.is_string()) *target = v.str();
}

// FILECASE and DIRCASE also take the words LOWER, UPPER and MIXED.
void StoreCase(int* target, const Value& v) {
  if (v.is_string()) {
    std::string w;
    for (char c : v.str()) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!w.empty() && w.back() == ' ') w.pop_back();
    if (w == "LOWER") *target = kCaseLower;
    if (w == "UPPER") *target = kCaseUpper;
    if (w == "MIXED") *target = kCaseMixed;
    return;
  }
  StoreNumber(target, v);
}

// The century flag is on when the format holds more than three Y in a row.
bool CenturyOf(const std::string& format) {
  int run = 0;
  for (char c : format) {
    run = (c == 'y' || c == 'Y') ? run + 1 : 0;
    if (run > 3) return true;
  }
  return false;
}

}  // namespace

Settings::Settings() { Reset(); }

void Settings::Reset() {
  exact_ = false;
  fixed_ = false;
  decimals_ = 2;
  date_format_ = "mm/dd/yy";
  epoch_ = 1900;
  path_.clear();
  default_.clear();
  exclusive_ = true;
  softseek_ = false;
  unique_ = false;
  deleted_ = false;
  mblocksize_ = 0;
  mfileext_.clear();
  strictread_ = false;
  optimize_ = true;
  autopen_ = true;
  autorder_ = 0;
  autoshare_ = 0;
  filecase_ = kCaseMixed;
  dircase_ = kCaseMixed;
  dirseparator_ = '\\';
  eof_ = true;
  dbflockscheme_ = 0;
  century_ = false;
  hardcommit_ = true;
  defextensions_ = true;
}

Value Settings::Get(int number) const {
  switch (number) {
    case kSetExact: return Value::Logical(exact_);
    case kSetFixed: return Value::Logical(fixed_);
    case kSetDecimals: return Value::Integer(decimals_);
    case kSetDateFormat: return Value::String(date_format_);
    case kSetEpoch: return Value::Integer(epoch_);
    case kSetPath: return Value::String(path_);
    case kSetDefault: return Value::String(default_);
    case kSetExclusive: return Value::Logical(exclusive_);
    case kSetSoftSeek: return Value::Logical(softseek_);
    case kSetUnique: return Value::Logical(unique_);
    case kSetDeleted: return Value::Logical(deleted_);
    case kSetMBlockSize: return Value::Integer(mblocksize_);
    case kSetMFileExt: return Value::String(mfileext_);
    case kSetStrictRead: return Value::Logical(strictread_);
    case kSetOptimize: return Value::Logical(optimize_);
    case kSetAutOpen: return Value::Logical(autopen_);
    case kSetAutOrder: return Value::Integer(autorder_);
    case kSetAutoShare: return Value::Integer(autoshare_);
    case kSetFileCase: return Value::Integer(filecase_);
    case kSetDirCase: return Value::Integer(dircase_);
    case kSetDirSeparator: return Value::Integer(dirseparator_);
    case kSetEof: return Value::Logical(eof_);
    case kSetDbfLockScheme: return Value::Integer(dbflockscheme_);
    case kSetHardCommit: return Value::Logical(hardcommit_);
    case kSetDefExtensions: return Value::Logical(defextensions_);
    default: return Value();
  }
}

Value Settings::Set(int number, const Value& v) {
  Value previous = Get(number);
  if (previous.is_nil()) return previous;
  Notify(number, false);
  switch (number) {
    case kSetExact: StoreLogical(&exact_, v); break;
    case kSetFixed: StoreLogical(&fixed_, v); break;
    case kSetDecimals: StoreNumber(&decimals_, v); break;
    case kSetDateFormat:
      if (v.is_string()) {
        date_format_ = v.str();
        century_ = CenturyOf(date_format_);
      }
      break;
    case kSetEpoch: StoreNumber(&epoch_, v); break;
    case kSetPath: StoreText(&path_, v); break;
    case kSetDefault: StoreText(&default_, v); break;
    case kSetExclusive: StoreLogical(&exclusive_, v); break;
    case kSetSoftSeek: StoreLogical(&softseek_, v); break;
    case kSetUnique: StoreLogical(&unique_, v); break;
    case kSetDeleted: StoreLogical(&deleted_, v); break;
    case kSetMBlockSize: StoreNumber(&mblocksize_, v); break;
    case kSetMFileExt: StoreText(&mfileext_, v); break;
    case kSetStrictRead: StoreLogical(&strictread_, v); break;
    case kSetOptimize: StoreLogical(&optimize_, v); break;
    case kSetAutOpen: StoreLogical(&autopen_, v); break;
    case kSetAutOrder: StoreNumber(&autorder_, v); break;
    case kSetAutoShare: StoreNumber(&autoshare_, v); break;
    case kSetFileCase: StoreCase(&filecase_, v); break;
    case kSetDirCase: StoreCase(&dircase_, v); break;
    case kSetDirSeparator: StoreNumber(&dirseparator_, v); break;
    case kSetEof: StoreLogical(&eof_, v); break;
    case kSetDbfLockScheme: StoreNumber(&dbflockscheme_, v); break;
    case kSetHardCommit: StoreLogical(&hardcommit_, v); break;
    case kSetDefExtensions: StoreLogical(&defextensions_, v); break;
  }
  Notify(number, true);
  return previous;
}

bool Settings::SetCentury(const Value& v) {
  bool previous = century_;
  if (v.is_logical()) {
    century_ = v.logical();
  } else if (v.is_string()) {
    std::string w;
    for (char c : v.str()) w += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    century_ = (w == "ON");
  }
  return previous;
}

void Settings::Notify(int number, bool after) {
  for (const Listener& l : listeners_) l(number, after);
}

Settings& GlobalSettings() {
  static Settings settings;
  return settings;
}

Value SET(int number) { return GlobalSettings().Get(number); }
Value SET(int number, const Value& value) { return GlobalSettings().Set(number, value); }
bool SETCENTURY(const Value& value) { return GlobalSettings().SetCentury(value); }

}  // namespace vosk
