#include "app/tget.h"

#include <algorithm>
#include <cctype>

#include "expr/date_text.h"
#include "expr/number_text.h"
#include "expr/transform.h"

namespace vosk {
namespace {

constexpr unsigned char kBackspace = 8, kTab = 9, kEnter = 13, kEsc = 27;
constexpr unsigned char kCopy = 3, kPaste = 22, kCut = 24, kUndo = 26;

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}
std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
bool IsInputPosition(char m) { return m == 'A' || m == 'L' || m == 'X' || m == '9'; }
// Windows-1252 letters: ASCII letters and the accented ones from 0xC0 (except the signs).
bool IsLetter(unsigned char c) { return std::isalpha(c) || (c >= 0xC0 && c != 0xD7 && c != 0xF7); }
unsigned char Upper(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 32);
  if (c >= 0xE0 && c != 0xF7 && c != 0xFF) return static_cast<unsigned char>(c - 32);
  return c;
}

}  // namespace

TGet::TGet(Value value, std::string cPicture)
    : value_(value.is_nil() ? Value::String("") : std::move(value)),
      cPicture_(std::move(cPicture)) {
  if (cPicture_.empty() && value_.is_date()) cPicture_ = "99/99/9999";
  DispText();
}

void TGet::set_value(Value value) {
  value_ = std::move(value);
  DispText();
}

char TGet::GetType() const {
  if (value_.is_numeric()) return 'N';
  if (value_.is_date()) return 'D';
  if (value_.is_logical()) return 'L';
  if (value_.is_timestamp()) return 'T';
  return 'C';
}

std::string TGet::GetFunc() const {
  if (cPicture_.empty() || cPicture_[0] != '@') return "";
  return cPicture_.substr(0, cPicture_.find(' '));
}

std::string TGet::GetMask() const {
  const std::string func = GetFunc();
  if (func.empty()) return cPicture_;
  return func.size() + 1 < cPicture_.size() ? cPicture_.substr(func.size() + 1) : "";
}

bool TGet::IsTemplate(int pos) const {
  const std::string mask = GetMask();
  return pos >= 0 && pos < static_cast<int>(mask.size()) && !IsInputPosition(mask[pos]);
}

bool TGet::HasTemplates() const {
  const std::string mask = GetMask();
  return std::any_of(mask.begin(), mask.end(), [](char m) { return !IsInputPosition(m); });
}

int TGet::GetLen() const {
  switch (GetType()) {
    case 'C':
      return static_cast<int>(value_.str().size());
    case 'D':
      return static_cast<int>(DateToText(value_.julian()).size());
    case 'L':
      return 1;
    case 'N':
      return static_cast<int>(Transform(value_, Trim(cPicture_)).size());
    default:
      return static_cast<int>(Transform(value_, "").size());
  }
}

bool TGet::BadDate() const {
  if (GetType() != 'D') return false;
  const std::string t = Trim(text_);
  if (t.empty() || text_ == "  /  /  " || t == "/  /") return false;
  const bool any_digit =
      std::any_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!any_digit) return false;  // the blank layout of the empty date
  return TextToDate(text_) == 0;
}

bool TGet::BadNumber() const {
  return GetType() == 'N' && Transform(value_, Trim(cPicture_)).find('*') != std::string::npos;
}

void TGet::DispText() {
  const std::string picture = Trim(cPicture_);
  std::string shown = Transform(value_, picture);
  switch (GetType()) {
    case 'C':
      if (!HasTemplates()) shown = TrimRight(shown);
      break;
    case 'D':
      if (BadDate()) return;  // the typed text stays
      break;
    case 'N': {
      if (shown.find('*') != std::string::npos) return;  // BadNumber: the typed text stays
      if (focused_) {
        // Zero shows as a digit while editing: the picture without its "Z".
        std::string func = GetFunc(), mask = GetMask();
        func.erase(std::remove(func.begin(), func.end(), 'Z'), func.end());
        std::string pic = func.size() > 1 ? func + " " + mask : mask;
        shown = Transform(value_, Trim(pic));
      }
      shown = Trim(shown);
      break;
    }
    default:
      break;
  }
  text_ = shown;
  caret_ = std::min<int>(caret_, static_cast<int>(text_.size()));
  SetSel(caret_, 0);
}

void TGet::Assign() {
  switch (GetType()) {
    case 'C': {
      std::string t = text_;
      const size_t len = static_cast<size_t>(GetLen());
      if (t.size() < len) t.append(len - t.size(), ' ');
      value_ = Value::String(t, value_.is_memo());
      break;
    }
    case 'D':
      value_ = Value::Date(TextToDate(text_));
      break;
    case 'N': {
      std::string t = text_;
      std::replace(t.begin(), t.end(), ',', '.');
      Value v = ValOf(t);
      value_ = v;
      break;
    }
    case 'L':
      value_ = Value::Logical(!text_.empty() && Upper(static_cast<unsigned char>(text_[0])) == 'T');
      break;
    case 'T':
      value_ = TextToTimestamp(text_);
      break;
  }
}

void TGet::GotFocus() {
  cTmpPic_ = cPicture_;
  cPicture_.erase(std::remove(cPicture_.begin(), cPicture_.end(), ','), cPicture_.end());
  if (GetType() == 'N') lMinus_ = false;
  focused_ = true;
  DispText();
  SetSel(0, static_cast<int>(text_.size()));
}

void TGet::LostFocus() {
  Assign();
  cPicture_ = cTmpPic_;
  if (GetType() == 'N') lMinus_ = true;
  focused_ = false;
  DispText();
}

void TGet::SetSel(int start, int len) {
  const int size = static_cast<int>(text_.size());
  if (len < 0) start += len, len = -len;
  sel_start_ = std::clamp(start, 0, size);
  sel_len_ = std::clamp(len, 0, size - sel_start_);
  caret_ = sel_start_ + sel_len_;
  if (len == 0) caret_ = sel_start_;
}

void TGet::SetText(std::string text) {
  text_ = std::move(text);
  modified_ = true;
  SetSel(static_cast<int>(text_.size()), 0);
}

void TGet::DeleteSel() {
  if (sel_len_ == 0) return;
  text_.erase(static_cast<size_t>(sel_start_), static_cast<size_t>(sel_len_));
  caret_ = sel_start_;
  sel_len_ = 0;
}

void TGet::Backspace() {
  if (sel_len_ > 0) {
    DeleteSel();
  } else if (caret_ > 0) {
    text_.erase(static_cast<size_t>(--caret_), 1);
    sel_start_ = caret_;
  }
}

void TGet::Insert(char c) {
  DeleteSel();
  if (static_cast<int>(text_.size()) >= GetLen()) return;  // the edit box's limit
  text_.insert(text_.begin() + caret_, c);
  ++caret_;
  sel_start_ = caret_;
}

void TGet::BlankSel() {
  if (sel_len_ == 0) return;
  for (int i = sel_start_; i < sel_start_ + sel_len_ && i < static_cast<int>(text_.size()); ++i) {
    if (!IsTemplate(i)) text_[static_cast<size_t>(i)] = ' ';
  }
  caret_ = sel_start_;
  sel_len_ = 0;
}

int TGet::SkipTemplates(int pos, int step) const {
  const int size = static_cast<int>(text_.size());
  while (pos >= 0 && pos < size && IsTemplate(pos)) pos += step;
  return std::clamp(pos, 0, size);
}

bool TGet::CharFitsMask(unsigned char ch, int pos) const {
  const std::string mask = GetMask();
  if (GetFunc().find('9') != std::string::npos && !std::isdigit(ch)) return false;
  if (pos >= static_cast<int>(mask.size())) return true;
  switch (mask[static_cast<size_t>(pos)]) {
    case 'A':
      return IsLetter(ch);
    case '9':
      return std::isdigit(ch) != 0;
    default:
      return true;  // "X" and "L" take anything
  }
}

bool TGet::ClipboardAllowed() const { return GetType() == 'C' && !HasTemplates() && !lReadOnly; }

bool TGet::KeyChar(unsigned char ch) {
  const char type = GetType();
  // A minus is taken only at the start of a number (see the numeric rule below); elsewhere it
  // is a character like any other.
  if (ch == kCopy) return false;  // the edit box copies; the text stays
  if (ch < 32 && ch != kBackspace && ch != kTab && ch != kEnter && ch != kEsc) {
    return false;  // paste, cut and undo are clipboard requests; other controls are ignored
  }
  if (lReadOnly && lDelete && ch == kBackspace) return KeyDelete();
  if (lReadOnly || ch == kTab || ch == kEnter || ch == kEsc) return false;

  const std::string before = text_;
  if (type == 'C' || type == 'D' || type == 'T') {
    const std::string func = GetFunc();
    if (func.find('!') != std::string::npos) ch = Upper(ch);
    const std::string mask = GetMask();
    if (mask.empty()) {
      if (ch == kBackspace) {
        Backspace();
      } else if (func.find('9') != std::string::npos && !std::isdigit(ch)) {
        return false;
      } else {
        Insert(static_cast<char>(ch));
      }
    } else if (ch == kBackspace) {
      if (!HasTemplates()) {
        Backspace();
      } else {
        BlankSel();
        int pos = caret_;
        while (pos > 0 && IsTemplate(pos - 1)) --pos;
        if (pos > 0) {
          --pos;
          text_[static_cast<size_t>(pos)] = ' ';
        }
        SetSel(pos, 0);
      }
    } else {
      const int at = HasTemplates() ? SkipTemplates(sel_len_ > 0 ? sel_start_ : caret_, 1)
                                    : (sel_len_ > 0 ? sel_start_ : caret_);
      if (!CharFitsMask(ch, at)) return false;
      if (HasTemplates()) {
        BlankSel();
        int pos = SkipTemplates(caret_, 1);
        if (pos >= static_cast<int>(text_.size())) {
          if (pos >= GetLen()) return text_ != before;
          text_.push_back(static_cast<char>(ch));
        } else {
          text_[static_cast<size_t>(pos)] = static_cast<char>(ch);
        }
        SetSel(SkipTemplates(pos + 1, 1), 0);
      } else {
        Insert(static_cast<char>(ch));
      }
    }
  } else if (type == 'N') {
    if (ch == kBackspace) {
      Backspace();
    } else {
      DeleteSel();
      if (ch == '.') ch = ',';
      const bool has_point =
          text_.find(',') != std::string::npos || text_.find('.') != std::string::npos;
      if (ch == ',' && has_point) return text_ != before;
      if (ch == '-' && (text_.find('-') != std::string::npos || caret_ != 0)) {
        return text_ != before;
      }
      if (!std::isdigit(ch) && ch != ',' && ch != '-') return text_ != before;
      Insert(static_cast<char>(ch));
    }
  } else if (type == 'L') {
    ch = Upper(ch);
    if (ch != 'T' && ch != 'F') return false;
    if (text_.empty()) {
      text_ = std::string(1, static_cast<char>(ch));
    } else {
      if (caret_ >= static_cast<int>(text_.size()) && sel_len_ == 0) return false;
      text_[0] = static_cast<char>(ch);
    }
    SetSel(0, 0);
  }
  if (text_ != before) modified_ = true;
  return text_ != before;
}

bool TGet::KeyDelete() {
  const std::string before = text_;
  if (lReadOnly) {
    if (!lDelete) return false;
    text_ = std::string(static_cast<size_t>(GetLen()), ' ');
    cCode.clear();
    SetSel(0, static_cast<int>(text_.size()));
  } else if (HasTemplates() && GetType() != 'N') {
    if (sel_len_ == 0 && caret_ < static_cast<int>(text_.size())) SetSel(caret_, 1);
    const int at = sel_start_;
    BlankSel();
    SetSel(at, 0);
  } else if (sel_len_ > 0) {
    DeleteSel();
  } else if (caret_ < static_cast<int>(text_.size())) {
    text_.erase(static_cast<size_t>(caret_), 1);
  }
  if (text_ != before) modified_ = true;
  return text_ != before;
}

}  // namespace vosk
