#include "rdd/dbf1/dbf_area.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "expr/decimal_text.h"
#include "expr/expression.h"
#include "expr/settings.h"
#include "platform/os_error.h"
#include "platform/system.h"
#include "rdd/byte_order.h"
#include "rdd/table_rewrite.h"
#include "rdd/trigger.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

// The value of a number field's text. A value wider than the field's plain form can hold (a
// float another program wrote in exponent form, "1.10042642493e+009" in an F19.11 field) keeps
// its whole integer part and takes as many decimals as the field's width leaves beside it.
Value NumberFieldValue(double d, int64_t as_integer, bool is_integer, int length, int decimals) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                      1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (decimals == 0 && is_integer) return Value::Integer(as_integer, length);
  int width = decimals > 0 ? length - decimals - 1 : length;
  const int room = std::max(0, width - (d < 0 ? 1 : 0));  // digits before the point
  if (room < 23 && std::fabs(d) >= kPow10[room] && std::isfinite(d)) {
    int digits = (d < 0 ? 1 : 0) + 1;
    for (double a = std::fabs(d); a >= 10 && digits < 400; a /= 10) ++digits;
    width = digits;
    decimals = std::max(0, length - digits - 1);
  }
  return Value::Double(d, width, decimals);
}

// The exponent form of a number in at most `width` characters with as many digits as fit
// ("1.1004264249300e+09"), as other programs write a float too wide for its field's plain
// form; false when not even one digit fits.
bool ExponentText(double d, int width, std::string* out) {
  if (!std::isfinite(d)) return false;
  for (int digits = 14; digits >= 0; --digits) {
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%.*e", digits, d);
    if (n > 0 && n <= width) {
      out->assign(buf, static_cast<size_t>(n));
      return true;
    }
  }
  return false;
}

constexpr size_t kReadAheadBytes = 256 * 1024;
constexpr size_t kPendingBytes = 256 * 1024;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool HasExtension(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  size_t dot = name.rfind('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string BaseName(const std::string& name) {
  size_t slash = name.find_last_of("/\\:");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  return base;
}

// Applies FILECASE to the file part of a name the program creates.
std::string ApplyFileCase(const std::string& name) {
  int mode = GlobalSettings().filecase();
  if (mode == kCaseMixed) return name;
  size_t slash = name.find_last_of("/\\");
  size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string out = name;
  for (size_t i = start; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    out[i] = static_cast<char>(mode == kCaseUpper ? std::toupper(c) : std::tolower(c));
  }
  return out;
}

// The .cpg file that may sit beside a table (same name, extension .cpg).
std::string CpgFileOf(const std::string& table) {
  size_t slash = table.find_last_of('/');
  size_t dot = table.rfind('.');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                         ? table.substr(0, dot)
                         : table;
  return ResolveCase(stem + ".cpg");
}

// The code page a .cpg file names; false when there is none or it names another.
bool CodepageFromCpgFile(const std::string& table, Codepage* out) {
  File f;
  if (f.Open(CpgFileOf(table), Access::kRead, Share::kDenyNone) != 0) return false;
  char buf[64];
  int64_t n = f.ReadAt(buf, sizeof buf, 0);
  if (n <= 0 || n == static_cast<int64_t>(sizeof buf)) return false;
  return CodepageFromName(std::string_view(buf, static_cast<size_t>(n)), out);
}

int64_t Pow10i(int d) {
  int64_t p = 1;
  for (int i = 0; i < d && i < 18; ++i) p *= 10;
  return p;
}

// Display width of a binary integer of a stored width.
int IntegerDisplayWidth(int width) {
  switch (width) {
    case 1: return 4;
    case 2: return 6;
    case 3: return 10;
    case 4: return 10;
    default: return 20;
  }
}

// Smallest binary width that holds v.
int NeededIntegerWidth(int64_t v) {
  if (v >= -128 && v <= 127) return 1;
  if (v >= -32768 && v <= 32767) return 2;
  if (v >= -8388608 && v <= 8388607) return 3;
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
    return 4;
  }
  return 8;
}

}  // namespace

DbfArea::~DbfArea() {
  if (data_.is_open()) {
    try {
      (void)DbfArea::close();
    } catch (...) {
      // A destructor must not throw; the files are closed by their owners.
    }
  }
}

bool DbfArea::SchemeOf(int scheme, bool structural_bag, LockScheme* out) {
  constexpr uint64_t kPooledIndexBase = 0xFFFEFFFFULL;
  switch (scheme) {
    case 1: *out = {1000000000ULL, LockDirection::kUp, 1000000000ULL, 1000000000ULL, 0}; return true;
    case 2:
      *out = {1000000000ULL, LockDirection::kUp, 1000000000ULL, kPooledIndexBase, 65536};
      return true;
    case 3:
      if (structural_bag) {
        *out = {0x7FFFFFFEULL, LockDirection::kDown, 0x07FFFFFFULL, 0x7FFFFFFEULL, 0};
      } else {
        *out = {0x40000000ULL, LockDirection::kByRecord, 0x3FFFFFFDULL, 0x7FFFFFFEULL, 0};
      }
      return true;
    case 4:
      *out = {4000000000ULL, LockDirection::kUp, 294967295ULL, kPooledIndexBase, 65536};
      return true;
    case 5:
      *out = {0x7FFFFFFF00000001ULL, LockDirection::kUp, 0x7FFFFFFEULL, 0x7FFFFFFF00000001ULL, 0};
      return true;
    default: return false;
  }
}

uint8_t DbfArea::VersionByteFor(TableKind kind, MemoKind memo, bool autoinc, bool memo_present,
                                bool enciphered) {
  uint8_t v;
  if (kind == TableKind::kVfp) {
    v = autoinc ? 0x31 : 0x30;
  } else if (kind == TableKind::kDbase4) {
    v = memo_present ? 0x8B : 0x03;
  } else {
    switch (memo) {
      case MemoKind::kDbt: v = 0x83; break;
      case MemoKind::kFpt: v = 0xF5; break;
      case MemoKind::kSmt: v = 0xE5; break;
      default: v = 0x03; break;
    }
    if (enciphered) v = static_cast<uint8_t>((v & 0xF6) | 0x06);
  }
  return v;
}

Status DbfArea::new_area() {
  if (Failed(WorkArea::new_area())) return kFailure;
  record_len_ = 1;
  read_mode_flag_ = 1;
  table_kind_ = static_cast<TableKind>(std::clamp(driver_->settings().table_kind, 1, 3));
  return kSuccess;
}

// --- header ---

Status DbfArea::read_header() {
  for (;;) {
    int64_t n = data_.ReadAt(header_.data(), kDbfHeaderSize, 0);
    if (n != kDbfHeaderSize) {
      if (DriverError(kEdfRead, file_name_, n < 0 ? data_.last_error() : 0, "", true).retry()) {
        continue;
      }
      return kFailure;
    }
    table_kind_ = TableKind::kStandard;
    memo_kind_ = MemoKind::kNone;
    memo_present_ = false;
    autoinc_ = false;
    table_enciphered_ = false;
    stamp_fields_ = false;
    bool ok = true;
    switch (header_[kHdrVersion]) {
      case 0x02: case 0x03: break;
      case 0x04: case 0x7B: case 0x8B:
        table_kind_ = TableKind::kDbase4;
        memo_kind_ = MemoKind::kDbt;
        memo_present_ = true;
        break;
      case 0x06: table_enciphered_ = true; break;
      case 0x30: case 0x31: case 0x32:
        table_kind_ = TableKind::kVfp;
        if (header_[kHdrTableFlags] & kTblMemo) {
          memo_kind_ = MemoKind::kFpt;
          memo_present_ = true;
        }
        autoinc_ = header_[kHdrVersion] != 0x30;
        break;
      case 0x83: memo_kind_ = MemoKind::kDbt; memo_present_ = true; break;
      case 0x86: memo_kind_ = MemoKind::kDbt; memo_present_ = true; table_enciphered_ = true; break;
      case 0xE5: memo_kind_ = MemoKind::kSmt; memo_present_ = true; break;
      case 0xE6: memo_kind_ = MemoKind::kSmt; memo_present_ = true; table_enciphered_ = true; break;
      case 0xF5: memo_kind_ = MemoKind::kFpt; memo_present_ = true; break;
      case 0xF6: memo_kind_ = MemoKind::kFpt; memo_present_ = true; table_enciphered_ = true; break;
      default: ok = false; break;
    }
    if (!ok) {
      if (DriverError(kEdfCorrupt, file_name_, 0, "", true).retry()) continue;
      return kFailure;
    }
    header_len_ = GetLe16(header_.data() + kHdrHeaderLen);
    structural_bag_ = (header_[kHdrTableFlags] & kTblStructuralBag) != 0;
    return kSuccess;
  }
}

Status DbfArea::write_header() {
  if (read_only_) {
    DriverError(kEdfReadonly, file_name_);
    return kFailure;
  }
  bool took_lock = false;
  if (shared_) {
    if (!header_locked_) {
      if (!LockHeader(true)) {
        DriverError(kEdfLock, file_name_, data_.last_error());
        return kFailure;
      }
      took_lock = true;
    }
    if (Failed(RefreshCount())) {
      if (took_lock) UnlockHeader();
      return kFailure;
    }
  } else {
    if (Failed(FlushPending())) return kFailure;
    // Exactly one EOF byte follows the last record.
    uint64_t end = static_cast<uint64_t>(header_len_) + static_cast<uint64_t>(rec_count_) * record_len_;
    int64_t size = data_.Size();
    if (size >= 0 && static_cast<uint64_t>(size) != end + 1) {
      uint8_t eof = kDbfEofByte;
      record_map_.Unmap();
      if (data_.WriteAt(&eof, 1, end) != 1 || !data_.Truncate(end + 1)) {
        DriverError(kEdfWrite, file_name_, data_.last_error());
        return kFailure;
      }
      DropReadAhead();
    }
  }
  StampHeader(rec_count_, header_.data());
  int64_t n = data_.WriteAt(header_.data(), kDbfHeaderSize, 0);
  if (took_lock) UnlockHeader();
  if (n != kDbfHeaderSize) {
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  data_flush_pending_ = true;
  header_dirty_ = false;
  return kSuccess;
}

void DbfArea::StampHeader(uint32_t count, uint8_t* out) {
  if (out != header_.data()) std::memcpy(out, header_.data(), kDbfHeaderSize);
  out[kHdrVersion] = VersionByteFor(table_kind_, memo_kind_, autoinc_, memo_present_,
                                    table_enciphered_);
  uint8_t flags = out[kHdrTableFlags] & static_cast<uint8_t>(~(kTblStructuralBag | kTblMemo));
  if (structural_bag_) flags |= kTblStructuralBag;
  if (table_kind_ == TableKind::kVfp && memo_kind_ == MemoKind::kFpt) flags |= kTblMemo;
  out[kHdrTableFlags] = flags;
  // Every kind of table carries its code page's mark, so that other programs read its text
  // right; a code page without a mark (UTF-8) keeps the byte as it was, and so does a table
  // opened without a mark and without a named code page (its text may be DOS text that only
  // the user's choice of reading tells apart; create writes the mark).
  if (codepage_source_ != CodepageSource::kDefault) {
    if (uint8_t b = CodepageMark(codepage_)) out[kHdrCodepage] = b;
  }
  LocalTime now = Now();
  out[kHdrYear] = static_cast<uint8_t>((now.year - 1900) & 0xFF);
  out[kHdrYear + 1] = static_cast<uint8_t>(now.month);
  out[kHdrYear + 2] = static_cast<uint8_t>(now.day);
  PutLe32(out + kHdrRecCount, count);
  PutLe16(out + kHdrHeaderLen, header_len_);
  PutLe16(out + kHdrRecordLen, record_len_);
}

Status DbfArea::RefreshCount() {
  if (Failed(FlushPending())) return kFailure;
  int64_t size = data_.Size();
  if (size < 0) {
    DriverError(kEdfRead, file_name_, data_.last_error());
    return kFailure;
  }
  uint64_t count = size > header_len_ ? (static_cast<uint64_t>(size) - header_len_) / record_len_ : 0;
  rec_count_ = static_cast<uint32_t>(std::min<uint64_t>(count, 0xFFFFFFFFULL));
  return kSuccess;
}

// --- open, create, close ---

Status DbfArea::open(const OpenInfo& in) {
  OpenInfo info = in;
  DbfDriverSettings& ds = driver_->settings();
  trigger_ = !ds.pending_trigger.empty() ? ds.pending_trigger : ds.trigger;
  ds.pending_trigger.clear();
  trigger_active_ = !trigger_.empty() && FindTriggerFunction(trigger_) != nullptr;
  if (trigger_active_) {
    Value name = Value::String(info.file);
    if (!FireTrigger(kTrgPreUse, &name)) {
      trigger_active_ = false;
      return kFailure;
    }
    if (name.is_string()) info.file = name.str();
  }
  if (lock_scheme_ == 0) {
    lock_scheme_ = driver_->settings().lock_scheme;
    if (lock_scheme_ == 0) lock_scheme_ = GlobalSettings().dbflockscheme();
    if (lock_scheme_ == 0) lock_scheme_ = 1;
  }
  shared_ = info.shared;
  read_only_ = info.read_only;
  if (GlobalSettings().autoshare() == 2) shared_ = false;
  file_name_ = info.file;
  if (!HasExtension(file_name_) && GlobalSettings().defextensions()) {
    file_name_ += driver_->settings().table_ext;
  }
  file_name_ = ResolveCase(file_name_);
  if (info.alias.empty()) info.alias = Upper(BaseName(file_name_));
  // A rewrite of this table that a killed process left half done is finished (or its new
  // files removed) before the table is read.
  TableRewrite::Recover(file_name_);

  for (;;) {
    int rc = data_.Open(file_name_, read_only_ ? Access::kRead : Access::kReadWrite,
                        shared_ ? Share::kDenyNone : Share::kExclusive);
    if (rc == 0) break;
    if (!DriverError(kEdfOpen, file_name_, rc, "", true, true).retry()) {
      (void)close();
      return kFailure;
    }
  }
  if (Failed(read_header())) {
    (void)close();
    return kFailure;
  }
  auto corrupt = [&]() {
    DriverError(kEdfCorrupt, file_name_);
    (void)close();
    return kFailure;
  };
  if (header_len_ < kDbfHeaderSize) return corrupt();  // records cannot start inside the header
  ChooseCodepage(info.codepage, true);

  int max_fields = (header_len_ - kDbfHeaderSize) / kDbfFieldSize;
  std::vector<uint8_t> desc(static_cast<size_t>(max_fields) * kDbfFieldSize);
  for (;;) {
    int64_t n = desc.empty() ? 0 : data_.ReadAt(desc.data(), desc.size(), kDbfHeaderSize);
    if (n == static_cast<int64_t>(desc.size())) break;
    // A descriptor area cut short is accepted only when its terminator was read.
    bool terminated = false;
    for (int64_t off = 0; n > 0 && off < n; off += kDbfFieldSize) {
      if (desc[static_cast<size_t>(off)] == kDbfHeaderEnd) {
        terminated = true;
        break;
      }
    }
    if (terminated) break;
    bool os = n < 0;
    if (DriverError(os ? kEdfRead : kEdfCorrupt, file_name_, os ? data_.last_error() : 0, "", true)
            .retry()) {
      continue;
    }
    (void)close();
    return kFailure;
  }

  (void)set_field_extent(max_fields);
  std::vector<Field> system_fields;
  uint32_t offset = 1;
  int null_bits = 0;
  bool vfp = table_kind_ == TableKind::kVfp;
  for (int i = 0; i < max_fields; ++i) {
    const uint8_t* d = desc.data() + static_cast<size_t>(i) * kDbfFieldSize;
    if (d[0] == kDbfHeaderEnd) break;
    Field f;
    size_t len = 0;
    while (len < kDbfMaxFieldName && d[len] != 0) ++len;
    f.name.assign(reinterpret_cast<const char*>(d), len);
    f.letter = static_cast<char>(d[kFldType]);
    f.flags = vfp ? d[kFldFlags] : 0;
    f.desc_index = static_cast<uint16_t>(i);
    int width = d[kFldLen];
    int dec = d[kFldDec];
    int char_width = width + 256 * dec;
    f.decimals = 0;
    switch (std::toupper(static_cast<unsigned char>(f.letter))) {
      case 'C': f.kind = FieldKind::kCharacter; f.length = static_cast<uint16_t>(char_width); break;
      case 'L': f.kind = FieldKind::kLogical; f.length = static_cast<uint16_t>(width); break;
      case 'D': f.kind = FieldKind::kDate; f.length = (width == 3 || width == 4) ? width : 8; break;
      case 'N': f.kind = FieldKind::kNumeric; f.length = width; f.decimals = dec; break;
      case 'F': f.kind = FieldKind::kFloat; f.length = width; f.decimals = dec; break;
      case 'I':
        f.kind = FieldKind::kInteger;
        f.length = (width >= 1 && width <= 4) || width == 8 ? width : 4;
        f.decimals = dec;
        break;
      case '2': case '4':
        f.kind = FieldKind::kInteger;
        f.length = static_cast<uint16_t>(f.letter - '0');
        break;
      case 'Y':
        f.kind = FieldKind::kCurrency;
        f.length = (width >= 1 && width <= 4) || width == 8 ? width : 8;
        f.decimals = 4;
        break;
      case 'B':
        if (table_kind_ == TableKind::kDbase4 && width == 10) {
          f.kind = FieldKind::kBinaryMemo;
          f.length = 10;
        } else {
          if (width != 8) return corrupt();
          f.kind = FieldKind::kDouble;
          f.length = 8;
          f.decimals = dec;
        }
        break;
      case '8': case 'O':
        if (width != 8) return corrupt();
        f.kind = FieldKind::kDouble;
        f.length = 8;
        f.decimals = dec;
        break;
      case 'T':
        if (width != 8 && width != 4) return corrupt();
        f.kind = width == 8 ? FieldKind::kTimestamp : FieldKind::kTime;
        f.length = width;
        break;
      case '@': case '=': case '^':
        if (width != 8) return corrupt();
        f.kind = f.letter == '@' ? FieldKind::kModTime
                 : f.letter == '=' ? FieldKind::kModStamp : FieldKind::kRowVersion;
        f.length = 8;
        stamp_fields_ = true;
        break;
      case '+':
        if (width != 4) return corrupt();
        f.kind = FieldKind::kAutoInc;
        f.length = 4;
        break;
      case 'Q': f.kind = FieldKind::kVarLength; f.length = static_cast<uint16_t>(char_width); break;
      case 'V':
        if (vfp) {
          f.kind = FieldKind::kVarLength;
          f.length = static_cast<uint16_t>(char_width);
        } else {
          f.kind = FieldKind::kVariant;
          f.length = static_cast<uint16_t>(char_width);
        }
        break;
      case 'M': case 'P': case 'W': case 'G': {
        if (width != 10 && width != 4) return corrupt();
        char l = static_cast<char>(std::toupper(static_cast<unsigned char>(f.letter)));
        f.kind = l == 'M' ? FieldKind::kMemo : l == 'P' ? FieldKind::kPicture
                 : l == 'W' ? FieldKind::kBlob : FieldKind::kGeneral;
        f.length = width;
        break;
      }
      case '0': {
        std::string up = Upper(f.name);
        if (up != "_NULLFLAGS" && up != "_DBASELOCK") return corrupt();
        f.kind = FieldKind::kSystem;
        f.length = static_cast<uint16_t>(width);
        f.flags |= kFfSystem;
        break;
      }
      default: return corrupt();
    }
    if (f.length == 0 && f.kind != FieldKind::kSystem) return corrupt();
    if (f.flags & kFfAutoInc) autoinc_ = true;
    if (vfp && f.kind != FieldKind::kSystem) {
      if (f.flags & kFfNullable) f.null_bit = null_bits++;
      if (f.kind == FieldKind::kVarLength) f.length_bit = null_bits++;
    }
    f.offset = offset;
    offset += f.length;
    if (offset > 0xFFFF) return corrupt();
    if (f.kind == FieldKind::kSystem) {
      system_fields.push_back(std::move(f));
    } else {
      (void)add_field(std::move(f));
    }
  }
  for (Field& f : system_fields) {
    std::string up = Upper(f.name);
    (void)add_field(std::move(f));
    if (up == "_NULLFLAGS") null_flags_field_ = static_cast<int>(fields_.size());
    if (up == "_DBASELOCK") dbase_lock_field_ = static_cast<int>(fields_.size());
  }
  record_len_ = static_cast<uint16_t>(offset);

  bool has_memo = std::any_of(fields_.begin(), fields_.end(), [](const Field& f) {
    return IsMemoKind(f.kind) || (f.kind == FieldKind::kVariant && f.length >= 6);
  });
  if (has_memo && Failed(open_memo_file(info))) {
    (void)close();
    return kFailure;
  }

  std::string password = !ds.pending_password.empty() ? ds.pending_password : ds.password;
  ds.pending_password.clear();
  if (!password.empty() && !memo_present_) key_ = KeyFromPassword(password);
  key_checked_ = false;

  if (Failed(WorkArea::open(info))) {
    (void)close();
    return kFailure;
  }
  record_.assign(record_len_, ' ');
  valid_ = false;
  if (Failed(RefreshCount())) {
    (void)close();
    return kFailure;
  }
  read_ahead_ = read_only_ || !shared_;
  if (Failed(go_top())) return kFailure;
  (void)FireTrigger(kTrgPostUse);
  return kSuccess;
}

Status DbfArea::create(const OpenInfo& in) {
  OpenInfo info = in;
  file_name_ = info.file;
  if (!HasExtension(file_name_) && GlobalSettings().defextensions()) {
    file_name_ += driver_->settings().table_ext;
  }
  file_name_ = ApplyFileCase(NormalizeSeparators(file_name_));
  if (lock_scheme_ == 0) {
    lock_scheme_ = driver_->settings().lock_scheme;
    if (lock_scheme_ == 0) lock_scheme_ = GlobalSettings().dbflockscheme();
    if (lock_scheme_ == 0) lock_scheme_ = 1;
  }
  // Variants of width 3 and 4 hold their value in the record; wider ones refer to the memo file.
  bool has_memo = std::any_of(fields_.begin(), fields_.end(), [](const Field& f) {
    return IsMemoKind(f.kind) || (f.kind == FieldKind::kVariant && f.length >= 6);
  });
  if (table_kind_ == TableKind::kDbase4) {
    memo_kind_ = MemoKind::kDbt;
  } else if (table_kind_ == TableKind::kVfp) {
    memo_kind_ = MemoKind::kFpt;
  } else if (memo_kind_ == MemoKind::kNone) {
    Value v;
    (void)this->info(133, Value(), &v);
    int kind = v.is_numeric() ? static_cast<int>(v.number()) : 0;
    if (kind < 1 || kind > 3) kind = driver_->settings().memo_type;
    memo_kind_ = static_cast<MemoKind>(std::clamp(kind, 1, 3));
  }
  memo_present_ = has_memo;
  if (!has_memo) memo_kind_ = MemoKind::kNone;

  bool vfp = table_kind_ == TableKind::kVfp;
  // Null bits of Visual FoxPro tables.
  int null_bits = 0;
  if (vfp) {
    for (Field& f : fields_) {
      if (f.kind == FieldKind::kSystem) continue;
      if (f.flags & kFfNullable) f.null_bit = null_bits++;
      if (f.kind == FieldKind::kVarLength) f.length_bit = null_bits++;
    }
  }
  size_t n = fields_.size() + (null_bits > 0 ? 1 : 0);
  // After the terminator: one NUL byte, or the backlink area of a Visual FoxPro table.
  const size_t tail = vfp ? 1 + kDbfVfpBacklinkSize : 2;
  size_t header_size = kDbfHeaderSize + kDbfFieldSize * n + tail;
  if (header_size > kDbfMaxHeaderLength) {
    CreateError(1021);
    return kFailure;
  }
  for (;;) {
    int rc = data_.Create(file_name_, Share::kExclusive);
    if (rc == 0) break;
    if (!CreateError(kEdfCreate, rc, true).retry()) {
      (void)close();
      return kFailure;
    }
  }
  if (null_bits > 0) {
    Field nf;
    nf.name = "_NullFlags";
    nf.kind = FieldKind::kSystem;
    nf.letter = '0';
    nf.length = static_cast<uint16_t>((null_bits + 7) / 8);
    nf.flags = kFfSystem | kFfBinary;
    (void)add_field(std::move(nf));
    null_flags_field_ = static_cast<int>(fields_.size());
  }

  // Descriptors, in field order (the system field last).
  std::vector<uint8_t> desc(kDbfFieldSize * n + tail + 1, 0);
  uint32_t offset = 1;
  for (size_t i = 0; i < fields_.size(); ++i) {
    Field& f = fields_[i];
    uint8_t* d = desc.data() + i * kDbfFieldSize;
    // Names are held upper-case; the null-flags field is written as other programs name it.
    std::string name = static_cast<int>(i) + 1 == null_flags_field_
                           ? std::string("_NullFlags")
                           : f.name.substr(0, kDbfMaxFieldName);
    std::memcpy(d, name.data(), name.size());
    char letter;
    uint8_t len_byte = static_cast<uint8_t>(f.length & 0xFF);
    uint8_t dec_byte = static_cast<uint8_t>(f.decimals);
    switch (f.kind) {
      case FieldKind::kCharacter: letter = 'C'; dec_byte = static_cast<uint8_t>(f.length >> 8); break;
      case FieldKind::kLogical: letter = 'L'; break;
      case FieldKind::kDate: letter = 'D'; break;
      case FieldKind::kNumeric: letter = 'N'; break;
      case FieldKind::kFloat: letter = 'F'; break;
      case FieldKind::kInteger: letter = 'I'; break;
      case FieldKind::kCurrency:
        if (vfp && f.length == 8) {
          letter = 'Y';
          f.decimals = 4;
          dec_byte = 4;
        } else {
          letter = 'I';
          f.kind = FieldKind::kInteger;
        }
        break;
      case FieldKind::kDouble:
      case FieldKind::kDoubleCurrency:
        letter = table_kind_ == TableKind::kDbase4 ? 'O' : 'B';
        f.kind = FieldKind::kDouble;
        break;
      case FieldKind::kBinaryMemo: letter = 'B'; break;
      case FieldKind::kTimestamp: case FieldKind::kTime: letter = 'T'; break;
      case FieldKind::kModTime: letter = '@'; stamp_fields_ = true; break;
      case FieldKind::kModStamp: letter = '='; stamp_fields_ = true; break;
      case FieldKind::kRowVersion: letter = '^'; stamp_fields_ = true; break;
      case FieldKind::kAutoInc: letter = '+'; autoinc_ = true; break;
      case FieldKind::kVarLength: letter = vfp ? 'V' : 'Q'; dec_byte = static_cast<uint8_t>(f.length >> 8); break;
      case FieldKind::kVariant: letter = 'V'; break;
      case FieldKind::kMemo: letter = 'M'; break;
      case FieldKind::kPicture: letter = 'P'; break;
      case FieldKind::kBlob: letter = 'W'; break;
      case FieldKind::kGeneral: letter = 'G'; break;
      case FieldKind::kSystem: letter = '0'; break;
      default: {
        CreateError(1020);  // the format cannot store this kind
        (void)close();
        return kFailure;
      }
    }
    f.letter = letter;
    d[kFldType] = static_cast<uint8_t>(letter);
    if (vfp) PutLe16(d + kFldOffset, static_cast<uint16_t>(offset));
    d[kFldLen] = len_byte;
    d[kFldDec] = dec_byte;
    if (f.kind == FieldKind::kVarLength || f.kind == FieldKind::kVariant ||
        IsMemoKind(f.kind)) {
      if (f.kind != FieldKind::kMemo) f.flags |= kFfBinary;
    }
    d[kFldFlags] = f.flags;
    if (f.kind == FieldKind::kAutoInc || f.kind == FieldKind::kRowVersion ||
        (f.flags & kFfAutoInc)) {
      if (f.kind != FieldKind::kRowVersion) PutLe32(d + kFldCounter, 1);
      d[kFldStep] = 1;
      if (f.flags & kFfAutoInc) autoinc_ = true;
    }
    f.offset = offset;
    f.desc_index = static_cast<uint16_t>(i);
    offset += f.length;
    if (offset > 0xFFFF) {
      CreateError(1021);
      (void)close();
      return kFailure;
    }
  }
  record_len_ = static_cast<uint16_t>(offset);
  size_t term = kDbfFieldSize * n;
  desc[term] = kDbfHeaderEnd;
  header_len_ = static_cast<uint16_t>(kDbfHeaderSize + term + tail);
  desc[term + tail] = kDbfEofByte;

  shared_ = false;
  read_only_ = false;
  rec_count_ = 0;
  header_.fill(0);
  ChooseCodepage(info.codepage, false);
  header_[kHdrCodepage] = CodepageMark(codepage_);
  if (Failed(WriteCpgFile())) {
    (void)close();
    return kFailure;
  }
  header_dirty_ = true;
  {
    DbfDriverSettings& ds = driver_->settings();
    std::string password = !ds.pending_password.empty() ? ds.pending_password : ds.password;
    ds.pending_password.clear();
    key_checked_ = false;
    if (!password.empty() && !has_memo) {
      key_ = KeyFromPassword(password);
      table_enciphered_ = true;
      StampKeyCheck(key_, header_.data());
      key_checked_ = true;
    }
  }
  if (data_.WriteAt(desc.data(), desc.size(), kDbfHeaderSize) != static_cast<int64_t>(desc.size())) {
    DriverError(kEdfWrite, file_name_, data_.last_error());
    (void)close();
    return kFailure;
  }
  if (Failed(write_header())) {
    (void)close();
    return kFailure;
  }
  if (Failed(CreateMemoAndArea(&info, has_memo))) return kFailure;
  record_.assign(record_len_, ' ');
  if (Failed(RefreshCount())) return kFailure;
  read_ahead_ = true;
  return go_top();
}

void DbfArea::ChooseCodepage(const std::string& named, bool read_marks) {
  Codepage cp;
  if (!named.empty() && CodepageFromName(named, &cp)) {
    codepage_ = cp;
    codepage_source_ = CodepageSource::kNamed;
  } else if (read_marks && CodepageFromCpgFile(file_name_, &cp)) {
    codepage_ = cp;
    codepage_source_ = CodepageSource::kCpgFile;
  } else if (read_marks && CodepageFromMark(header_[kHdrCodepage], &cp)) {
    codepage_ = cp;
    codepage_source_ = CodepageSource::kMark;
  } else {
    codepage_ = kProgramCodepage;
    codepage_source_ = CodepageSource::kDefault;
  }
}

Status DbfArea::WriteCpgFile() {
  std::string cpg = CpgFileOf(file_name_);
  int rc = 0;
  if (codepage_ != Codepage::kUtf8) {
    // A .cpg left by an older table of this name would speak for the new one.
    if (FileExists(cpg) && !DeleteFile(cpg)) rc = OsCodeFromErrno(errno);
  } else {
    File f;
    rc = f.Create(cpg, Share::kExclusive);
    if (rc == 0 && f.WriteAt("UTF-8", 5, 0) != 5) rc = f.last_error();
  }
  if (rc == 0) return kSuccess;
  DriverError(kEdfWrite, cpg, rc);
  return kFailure;
}

Status DbfArea::CreateMemoAndArea(OpenInfo* info, bool with_memo) {
  if (with_memo && Failed(create_memo_file(info))) {
    (void)close();
    return kFailure;
  }
  if (info->alias.empty()) info->alias = Upper(BaseName(file_name_));
  if (Failed(WorkArea::create(*info))) {
    (void)close();
    return kFailure;
  }
  return kSuccess;
}

ErrorAnswer DbfArea::CreateError(int sub_code, int os_code, bool can_retry) {
  RuntimeError e;
  e.gen_code = kEgCreate;
  e.sub_code = sub_code;
  e.os_code = os_code;
  e.file_name = file_name_;
  e.can_retry = can_retry;
  return error(std::move(e));
}

Status DbfArea::close() {
  Status result = kSuccess;
  if (data_.is_open() && !FireTrigger(kTrgPreClose)) return kFailure;
  pending_parent_ = nullptr;
  // Every step runs and the area is released whatever a step raises; the first exception an
  // error handler threw goes on once everything is released.
  std::exception_ptr raised;
  auto step = [&](auto&& run) {
    try {
      if (Failed(run())) result = kFailure;
    } catch (...) {
      result = kFailure;
      if (!raised) raised = std::current_exception();
    }
  };
  if (data_.is_open()) {
    step([&] { return go_cold(); });
    step([&] { return FlushPending(); });
    step([&] { return unlock(0); });
    if (header_locked_) UnlockHeader();
    if (header_dirty_ && !read_only_) step([&] { return write_header(); });
  }
  step([&] { return CommitWrites(); });
  step([&] { return WorkArea::close(); });
  std::string name = data_.path();
  record_map_.Unmap();
  map_refused_ = false;
  data_.Close();
  if (temporary_ && !name.empty()) DeleteFile(name);
  record_.clear();
  cache_.clear();
  cache_count_ = 0;
  dirty_first_ = dirty_end_ = 0;
  pending_.clear();
  valid_ = positioned_ = hot_ = appended_ = false;
  header_dirty_ = false;
  if (key_) {
    key_->fill(0);
    key_.reset();
  }
  step([&] { return FireTrigger(kTrgPostClose) ? kSuccess : kFailure; });
  trigger_active_ = false;
  if (raised) std::rethrow_exception(raised);
  return result;
}

// --- record buffer ---

const uint8_t* DbfArea::RawRecord() {
  if (!valid_ && Failed(ReadRecord())) return nullptr;
  return record_.data();
}

Status DbfArea::ReadRecord() {
  if (valid_) return kSuccess;
  if (!positioned_) {
    valid_ = true;
    return kSuccess;
  }
  if (recno_ > rec_count_) {
    if (shared_ && Failed(RefreshCount())) return kFailure;
    if (recno_ > rec_count_) {
      valid_ = true;
      eof_ = true;
      return kSuccess;
    }
  }
  if (Failed(FlushAppends())) return kFailure;
  if (read_ahead_ || (file_locked_ && InNaturalOrder())) {
    if (cache_count_ == 0 || recno_ < cache_first_ || recno_ >= cache_first_ + cache_count_) {
      if (Failed(FlushCachedWrites())) return kFailure;
      uint32_t want = static_cast<uint32_t>(std::max<size_t>(1, kReadAheadBytes / record_len_));
      want = std::min(want, rec_count_ - recno_ + 1);
      cache_.resize(static_cast<size_t>(want) * record_len_);
      uint64_t off = header_len_ + static_cast<uint64_t>(recno_ - 1) * record_len_;
      int64_t n = data_.ReadAt(cache_.data(), cache_.size(), off);
      cache_first_ = recno_;
      cache_count_ = n > 0 ? static_cast<uint32_t>(n / record_len_) : 0;
    }
    if (cache_count_ > 0 && recno_ >= cache_first_ && recno_ < cache_first_ + cache_count_) {
      std::memcpy(record_.data(),
                  cache_.data() + static_cast<size_t>(recno_ - cache_first_) * record_len_,
                  record_len_);
      AcceptReadRecord();
      return kSuccess;
    }
  }
  // Read from the file: the records held back are written first (an order that took control
  // after a walk under the table lock reads them here).
  if (Failed(FlushCachedWrites())) return kFailure;
  uint64_t off = header_len_ + static_cast<uint64_t>(recno_ - 1) * record_len_;
  if (MappedRecords(off + record_len_)) {
    std::memcpy(record_.data(), record_map_.data() + off, record_len_);
    AcceptReadRecord();
    return kSuccess;
  }
  int64_t n = data_.ReadAt(record_.data(), record_len_, off);
  if (n != record_len_) {
    DriverError(kEdfRead, file_name_, n < 0 ? data_.last_error() : 0);
    return kFailure;
  }
  AcceptReadRecord();
  return kSuccess;
}

bool DbfArea::MappedRecords(uint64_t end) {
  if (!shared_ && !read_only_) return false;
  if (end <= record_map_.size()) return true;
  if (map_refused_) return false;
  int64_t size = data_.Size();
  if (size < 0 || end > static_cast<uint64_t>(size)) return false;
  if (!record_map_.Map(data_.fd(), static_cast<size_t>(size))) map_refused_ = true;
  return !map_refused_;
}

void DbfArea::AcceptReadRecord() {
  uint8_t flag = record_[0];
  record_enciphered_ = flag == kRecCipherDeleted || flag == kRecCipherLive;
  if (record_enciphered_) {
    if (key_) DecipherBytes(*key_, record_.data() + 1, record_len_ - 1u);
    record_[0] = flag == kRecCipherDeleted ? kRecDeleted : kRecLive;
  }
  deleted_ = record_[0] == kRecDeleted;
  valid_ = true;
}

namespace {

// Writes the blank bytes of a field.
void BlankField(const Field& f, uint8_t* p) {
  switch (f.kind) {
    case FieldKind::kCharacter: case FieldKind::kLogical: case FieldKind::kNumeric:
    case FieldKind::kFloat:
      std::memset(p, ' ', f.length);
      break;
    case FieldKind::kDate: std::memset(p, f.length == 8 ? ' ' : 0, f.length); break;
    default:
      std::memset(p, IsMemoKind(f.kind) && f.length == 10 ? ' ' : 0, f.length);
      break;
  }
}

bool IsCounterField(const Field& f) {
  return f.kind == FieldKind::kAutoInc ||
         ((f.flags & kFfAutoInc) &&
          (f.kind == FieldKind::kNumeric || f.kind == FieldKind::kFloat ||
           f.kind == FieldKind::kInteger || f.kind == FieldKind::kDouble));
}

}  // namespace

Status DbfArea::BlankFill(bool take_counters) {
  // Tables without counters copy one blank record made once (appends run per record).
  if (blank_record_.size() != record_.size()) {
    blank_record_.assign(record_.size(), ' ');
    blank_has_counters_ = false;
    for (const Field& f : fields_) {
      BlankField(f, blank_record_.data() + f.offset);
      blank_has_counters_ = blank_has_counters_ || IsCounterField(f);
    }
    blank_record_[0] = kRecLive;
  }
  if (!blank_has_counters_) {
    std::memcpy(record_.data(), blank_record_.data(), record_.size());
    return kSuccess;
  }
  record_[0] = kRecLive;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    uint8_t* p = record_.data() + f.offset;
    bool counter = IsCounterField(f);
    if (counter && !take_counters && appended_) continue;  // rollback keeps the values
    BlankField(f, p);
    if (counter && take_counters) {
      int64_t next = 0;
      if (Failed(NextCounter(static_cast<int>(i), &next))) return kFailure;
      if (f.kind == FieldKind::kNumeric || f.kind == FieldKind::kFloat) {
        std::string text = f.decimals > 0
                               ? FormatDecimal(static_cast<double>(next) / Pow10i(f.decimals), f.decimals)
                               : std::to_string(next);
        text = RightAlign(text, f.length);
        std::memcpy(p, text.data(), f.length);
      } else if (f.kind == FieldKind::kDouble) {
        double d = static_cast<double>(next) / static_cast<double>(Pow10i(f.decimals));
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        PutLe64(p, bits);
      } else {
        PutLeSigned(p, f.length, next);
      }
    }
  }
  return kSuccess;
}

Status DbfArea::NextCounter(int field_index, int64_t* out) {
  const Field& f = fields_[static_cast<size_t>(field_index)];
  uint8_t d[kDbfFieldSize];
  uint64_t off = kDbfHeaderSize + static_cast<uint64_t>(f.desc_index) * kDbfFieldSize;
  if (data_.ReadAt(d, kDbfFieldSize, off) != kDbfFieldSize) {
    DriverError(kEdfRead, file_name_, data_.last_error());
    return kFailure;
  }
  uint32_t counter = GetLe32(d + kFldCounter);
  *out = counter;
  uint8_t next[4];
  PutLe32(next, counter + d[kFldStep]);
  if (!read_only_ && data_.WriteAt(next, 4, off + kFldCounter) != 4) {
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  return kSuccess;
}

// --- navigation ---

Status DbfArea::go_to(uint32_t recno) {
  if (Failed(go_cold())) return kFailure;
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (recno > rec_count_ && shared_ && Failed(RefreshCount())) return kFailure;
  if (recno >= 1 && recno <= rec_count_) {
    recno_ = recno;
    valid_ = false;
    bof_ = eof_ = false;
    positioned_ = true;
  } else {
    recno_ = rec_count_ + 1;
    bof_ = eof_ = true;
    positioned_ = false;
    deleted_ = false;
    if (Failed(BlankFill(false))) return kFailure;
    valid_ = true;
  }
  found_ = false;
  if (!relations_.empty()) return sync_children();
  return kSuccess;
}

Status DbfArea::go_to_id(const Value& id) {
  if (!id.is_numeric()) {
    return FieldValueError(kEdfDataType);
  }
  double n = id.number();
  // NaN and negative numbers go to record 0 (the phantom record), like numbers past the end.
  uint32_t r = !(n >= 0) ? 0 : (n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n));
  return go_to(r);
}

Status DbfArea::go_top() {
  top_ = true;
  bottom_ = false;
  if (Failed(go_to(1))) return kFailure;
  return skip_filter(1);
}

Status DbfArea::go_bottom() {
  if (Failed(go_cold())) return kFailure;
  if (shared_ && Failed(RefreshCount())) return kFailure;
  top_ = false;
  bottom_ = true;
  if (Failed(go_to(rec_count_))) return kFailure;
  return skip_filter(-1);
}

Status DbfArea::skip_raw(int64_t n) {
  if (n == 0) {
    bool b = bof_, e = eof_;
    if (Failed(go_cold())) return kFailure;
    valid_ = false;
    DropReadAhead();
    if (Failed(ReadRecord())) return kFailure;
    bof_ = b;
    eof_ = e;
    return kSuccess;
  }
  // |n| in unsigned arithmetic: n may be the most negative 64-bit number.
  uint64_t distance = n > 0 ? static_cast<uint64_t>(n) : 0 - static_cast<uint64_t>(n);
  if (n > 0) {
    return go_to(static_cast<uint32_t>(std::min<uint64_t>(recno_ + distance, 0xFFFFFFFFULL)));
  }
  if (distance < recno_) return go_to(static_cast<uint32_t>(recno_ - distance));
  if (Failed(go_to(1))) return kFailure;
  bof_ = true;
  return kSuccess;
}

Status DbfArea::skip(int64_t n) {
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  top_ = bottom_ = false;
  if (n == 0 || filter_ || GlobalSettings().deleted()) return WorkArea::skip(n);
  if (Failed(skip_raw(n))) return kFailure;
  if (bof_ && n < 0) {
    if (Failed(go_top())) return kFailure;
    bof_ = true;
  }
  if (n < 0) eof_ = false; else bof_ = false;
  return kSuccess;
}

// --- fields ---

Status DbfArea::DecodeField(const Field& f, Value* out) {
  const uint8_t* p = record_.data() + f.offset;
  switch (f.kind) {
    case FieldKind::kCharacter: {
      // Text keeps the bytes of the table's code page (see Codepage).
      *out = Value::String(std::string(reinterpret_cast<const char*>(p), f.length));
      break;
    }
    case FieldKind::kLogical:
      *out = Value::Logical(p[0] == 'T' || p[0] == 't' || p[0] == 'Y' || p[0] == 'y');
      break;
    case FieldKind::kDate:
      if (f.length == 3) *out = Value::Date(static_cast<int32_t>(GetLe24(p)));
      else if (f.length == 4) *out = Value::Date(static_cast<int32_t>(GetLe32(p)));
      else *out = Value::Date(DateFromDigits(std::string_view(reinterpret_cast<const char*>(p), 8)));
      break;
    case FieldKind::kNumeric:
    case FieldKind::kFloat: {
      int64_t i = 0;
      bool is_int = false;
      double d = ParseDecimal(std::string_view(reinterpret_cast<const char*>(p), f.length), &i, &is_int);
      *out = NumberFieldValue(d, i, is_int, f.length, f.decimals);
      break;
    }
    case FieldKind::kInteger:
    case FieldKind::kCurrency:
    case FieldKind::kAutoInc:
    case FieldKind::kRowVersion: {
      int w = f.length;
      if (w != 1 && w != 2 && w != 3 && w != 4 && w != 8) {
        return FieldValueError(kEdfDataType, f.name);
      }
      int64_t v = GetLeSigned(p, w);
      if (f.decimals > 0) {
        *out = Value::Double(static_cast<double>(v) / static_cast<double>(Pow10i(f.decimals)),
                             IntegerDisplayWidth(w), f.decimals);
      } else {
        *out = Value::Integer(v, IntegerDisplayWidth(w));
      }
      break;
    }
    case FieldKind::kDouble:
    case FieldKind::kDoubleCurrency: {
      uint64_t bits = GetLe64(p);
      double d;
      std::memcpy(&d, &bits, 8);
      *out = Value::Double(d, f.decimals ? 19 - f.decimals : 20, f.decimals);
      break;
    }
    case FieldKind::kTimestamp:
    case FieldKind::kModTime:
    case FieldKind::kModStamp:
      *out = Value::Timestamp(static_cast<int32_t>(GetLe32(p)), static_cast<int32_t>(GetLe32(p + 4)));
      break;
    case FieldKind::kTime:
      *out = Value::Timestamp(0, static_cast<int32_t>(GetLe32(p)));
      break;
    case FieldKind::kVarLength: {
      // The whole width, or, when the field's length bit is set, as many bytes as its last byte
      // says (never more than the width before that byte).
      size_t n = f.length;
      if (NullFlagsBit(f.length_bit)) n = std::min<size_t>(p[f.length - 1], f.length - 1u);
      *out = Value::String(std::string(reinterpret_cast<const char*>(p), n));
      break;
    }
    case FieldKind::kVariant:
      if (f.length == 3) {
        *out = Value::Date(static_cast<int32_t>(GetLe24(p)));
        break;
      }
      if (f.length == 4) {
        *out = Value::Integer(static_cast<int32_t>(GetLe32(p)), 10);
        break;
      }
      [[fallthrough]];
    default:
      return FieldValueError(kEdfDataType, f.name);
  }
  if (NullFlagsBit(f.null_bit)) *out = Value();
  return kSuccess;
}

bool DbfArea::NullFlagsBit(int bit) const {
  if (null_flags_field_ <= 0 || bit < 0) return false;
  const Field& nf = fields_[static_cast<size_t>(null_flags_field_ - 1)];
  const int byte = bit / 8;
  return byte < nf.length && ((record_[nf.offset + static_cast<uint32_t>(byte)] >> (bit % 8)) & 1);
}

bool DbfArea::SetNullFlagsBit(int bit, bool on) {
  if (null_flags_field_ <= 0 || bit < 0) return false;
  const Field& nf = fields_[static_cast<size_t>(null_flags_field_ - 1)];
  const int byte = bit / 8;
  if (byte >= nf.length) return false;
  uint8_t& b = record_[nf.offset + static_cast<uint32_t>(byte)];
  const auto mask = static_cast<uint8_t>(1u << (bit % 8));
  b = on ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
  return true;
}

Status DbfArea::get_value(int pos, Value* out) {
  if (pos < 1 || pos > static_cast<int>(fields_.size())) {
    return FieldValueError(kEdfDataType);
  }
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  if (Failed(DecodeField(fields_[static_cast<size_t>(pos - 1)], out))) return kFailure;
  if (trigger_active_) {
    Value field = Value::Integer(pos);
    (void)FireTrigger(kTrgGet, &field, out);
  }
  return kSuccess;
}

Status DbfArea::get_value_length(int pos, uint32_t* out) {
  if (pos < 1 || pos > static_cast<int>(fields_.size())) return kFailure;
  *out = fields_[static_cast<size_t>(pos - 1)].length;
  return kSuccess;
}

Status DbfArea::EncodeField(const Field& f, const Value& v) {
  uint8_t* p = record_.data() + f.offset;
  switch (f.kind) {
    case FieldKind::kCharacter: {
      if (!v.is_string()) return FieldValueError(kEdfDataType, f.name);
      size_t n = std::min<size_t>(v.str().size(), f.length);
      std::memcpy(p, v.str().data(), n);
      std::memset(p + n, ' ', f.length - n);
      break;
    }
    case FieldKind::kVarLength: {
      // A value shorter than the width is padded with zero bytes and its length kept in the
      // last byte, under the field's length bit; a table without the bit takes blanks instead.
      if (!v.is_string()) return FieldValueError(kEdfDataType, f.name);
      const size_t n = std::min<size_t>(v.str().size(), f.length);
      std::memcpy(p, v.str().data(), n);
      const bool shorter = n < f.length && SetNullFlagsBit(f.length_bit, true);
      if (shorter) {
        std::memset(p + n, 0, f.length - n);
        p[f.length - 1] = static_cast<uint8_t>(n);
      } else {
        (void)SetNullFlagsBit(f.length_bit, false);
        std::memset(p + n, ' ', f.length - n);
      }
      break;
    }
    case FieldKind::kLogical:
      if (!v.is_logical()) return FieldValueError(kEdfDataType, f.name);
      p[0] = v.logical() ? 'T' : 'F';
      break;
    case FieldKind::kDate:
      if (!v.is_date() && !v.is_timestamp()) return FieldValueError(kEdfDataType, f.name);
      if (f.length == 3) PutLe24(p, static_cast<uint32_t>(v.julian()));
      else if (f.length == 4) PutLe32(p, static_cast<uint32_t>(v.julian()));
      else std::memcpy(p, DateToDigits(v.julian()).data(), 8);
      break;
    case FieldKind::kNumeric:
    case FieldKind::kFloat: {
      if (!v.is_numeric()) return FieldValueError(kEdfDataType, f.name);
      std::string text = v.is_integer() ? FormatDecimal(v.integer(), f.decimals)
                                        : FormatDecimal(v.dbl(), f.decimals);
      const bool too_wide = text.empty() || static_cast<int>(text.size()) > f.length;
      if (too_wide && !(f.kind == FieldKind::kFloat && ExponentText(v.number(), f.length, &text))) {
        std::memset(p, '*', f.length);
        return FieldValueError(kEdfDataWidth, f.name);
      }
      std::string aligned = RightAlign(text, f.length);
      std::memcpy(p, aligned.data(), f.length);
      break;
    }
    case FieldKind::kInteger:
    case FieldKind::kCurrency: {  // currency: the value x 10^4 (its decimals), as user data
      if (!v.is_numeric()) return FieldValueError(kEdfDataType, f.name);
      int needed;
      int64_t iv = 0;
      if (v.is_integer() && !__builtin_mul_overflow(v.integer(), Pow10i(f.decimals), &iv)) {
        needed = NeededIntegerWidth(iv);
      } else if (f.decimals > 0 || !v.is_integer()) {
        double d = v.number() * static_cast<double>(Pow10i(f.decimals));
        d = std::round(d);
        if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18)) {
          needed = 99;
        } else {
          iv = static_cast<int64_t>(d);
          needed = NeededIntegerWidth(iv);
        }
      } else {
        iv = v.integer();
        needed = NeededIntegerWidth(iv);
      }
      if (needed > f.length) return FieldValueError(kEdfDataWidth, f.name);
      if (f.length >= 5 && f.length <= 7) return FieldValueError(kEdfDataType, f.name);
      PutLeSigned(p, f.length, iv);
      break;
    }
    case FieldKind::kDouble:
    case FieldKind::kDoubleCurrency: {
      if (!v.is_numeric()) return FieldValueError(kEdfDataType, f.name);
      double d = v.number();
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      PutLe64(p, bits);
      break;
    }
    case FieldKind::kTimestamp:
    case FieldKind::kModTime:
      if (!v.is_date() && !v.is_timestamp()) return FieldValueError(kEdfDataType, f.name);
      PutLe32(p, static_cast<uint32_t>(v.julian()));
      PutLe32(p + 4, static_cast<uint32_t>(v.is_timestamp() ? v.millis() : 0));
      break;
    case FieldKind::kTime:
      if (!v.is_date() && !v.is_timestamp()) return FieldValueError(kEdfDataType, f.name);
      PutLe32(p, static_cast<uint32_t>(v.is_timestamp() ? v.millis() : 0));
      break;
    case FieldKind::kVariant:
      if (f.length == 3 && (v.is_date() || v.is_timestamp())) {
        PutLe24(p, static_cast<uint32_t>(v.julian()));
        break;
      }
      if (f.length == 4 && v.is_numeric()) {
        double d = v.number();
        if (d < -2147483648.0 || d > 2147483647.0) return FieldValueError(kEdfDataWidth, f.name);
        PutLe32(p, static_cast<uint32_t>(static_cast<int32_t>(d)));
        break;
      }
      return FieldValueError(kEdfDataType, f.name);
    default:
      return FieldValueError(kEdfDataType, f.name);
  }
  (void)SetNullFlagsBit(f.null_bit, false);
  return kSuccess;
}

Status DbfArea::put_value(int pos, const Value& in) {
  if (pos < 1 || pos > static_cast<int>(fields_.size())) {
    return FieldValueError(kEdfDataType);
  }
  Value changed;
  const Value* given = PutTriggerValue(pos, in, &changed);
  if (!given) return kFailure;
  const Value& value = *given;
  bool phantom = false;
  if (Failed(PrepareChange(&phantom))) return kFailure;
  if (phantom) return kSuccess;
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  // A _NullFlags field of another program may be too short for its bits: no bit, no null.
  if (value.is_nil() && SetNullFlagsBit(f.null_bit, true)) return kSuccess;
  return EncodeField(f, value);
}

Status DbfArea::RequireMatchingKey() {
  const char* refusal = nullptr;
  if (memo_present_) {
    if (table_enciphered_) {
      refusal = "Write not allowed: the table is enciphered and has memo fields";
    }
  } else if (table_enciphered_ != key_.has_value()) {
    refusal = table_enciphered_
                  ? "Write not allowed: the table is enciphered and no password was given"
                  : "Write not allowed: a password was given for a table not enciphered";
  } else if (key_ && !key_checked_) {
    if (!KeyFitsTable()) {
      refusal = "Wrong password: the table is enciphered with another one; nothing changed";
    }
    key_checked_ = refusal == nullptr;
  }
  if (!refusal) return kSuccess;
  RuntimeError e;
  e.gen_code = kEgReadonly;
  e.sub_code = kEdfReadonly;
  e.file_name = file_name_;
  e.description = refusal;
  error(std::move(e));
  return kFailure;
}

Status DbfArea::go_hot() {
  if (read_only_) {
    DriverError(kEdfReadonly, file_name_);
    return kFailure;
  }
  if (Failed(RequireMatchingKey())) return kFailure;
  if (shared_ && !file_locked_ &&
      std::find(locks_.begin(), locks_.end(), recno_) == locks_.end()) {
    DriverError(kEdfUnlocked, file_name_);
    return kFailure;
  }
  hot_ = true;
  return kSuccess;
}

Status DbfArea::StampFields() {
  LocalTime now = Now();
  int32_t julian = JulianFromYmd(now.year, now.month, now.day);
  int32_t millis = ((now.hour * 60 + now.minute) * 60 + now.second) * 1000 + now.millisecond;
  bool row_version_taken = false;
  uint64_t row_version = 0;
  for (const Field& f : fields_) {
    uint8_t* p = record_.data() + f.offset;
    if (f.kind == FieldKind::kModTime || f.kind == FieldKind::kModStamp) {
      PutLe32(p, static_cast<uint32_t>(julian));
      PutLe32(p + 4, static_cast<uint32_t>(millis));
    } else if (f.kind == FieldKind::kRowVersion) {
      if (!row_version_taken) {
        uint8_t c[8];
        uint64_t off = kDbfHeaderSize + static_cast<uint64_t>(f.desc_index) * kDbfFieldSize + kFldRowVer;
        if (Failed(FlushCachedWrites())) return kFailure;
        if (int64_t n = data_.ReadAt(c, 8, off); n != 8) {
          DriverError(kEdfRead, file_name_, n < 0 ? data_.last_error() : 0);
          return kFailure;
        }
        row_version = GetLe64(c) + 1;
        PutLe64(c, row_version);
        if (data_.WriteAt(c, 8, off) != 8) {
          DriverError(kEdfWrite, file_name_, data_.last_error());
          return kFailure;
        }
        data_flush_pending_ = true;
        row_version_taken = true;
      }
      PutLe64(p, row_version);
    }
  }
  return kSuccess;
}

Status DbfArea::WriteRecordAt(uint32_t recno, const uint8_t* data) {
  uint64_t off = header_len_ + static_cast<uint64_t>(recno - 1) * record_len_;
  // The read-ahead keeps what the file will hold, so that a walk that changes records as it
  // goes keeps reading ahead.
  const bool cached =
      cache_count_ > 0 && recno >= cache_first_ && recno < cache_first_ + cache_count_;
  if (cached) {
    std::memcpy(cache_.data() + static_cast<size_t>(recno - cache_first_) * record_len_, data,
                record_len_);
    if (file_locked_ && !(appended_ && recno == rec_count_) && pending_.empty()) {
      // Held back while it joins the records changed before it (a walk that changes records
      // as it goes writes the read-ahead back in one piece).
      if (dirty_first_ != dirty_end_ && (recno + 1 < dirty_first_ || recno > dirty_end_)) {
        if (Failed(FlushCachedWrites())) return kFailure;
      }
      if (dirty_first_ == dirty_end_) {
        dirty_first_ = recno;
        dirty_end_ = recno + 1;
      } else {
        dirty_first_ = std::min(dirty_first_, recno);
        dirty_end_ = std::max(dirty_end_, recno + 1);
      }
      data_flush_pending_ = true;
      return kSuccess;
    }
  }
  uint32_t pending_count = static_cast<uint32_t>(pending_.size() / record_len_);
  if (pending_count > 0 && recno >= pending_first_ && recno < pending_first_ + pending_count) {
    std::memcpy(pending_.data() + static_cast<size_t>(recno - pending_first_) * record_len_, data,
                record_len_);
    return kSuccess;
  }
  if (appended_ && recno == rec_count_ && !shared_ &&
      (pending_count == 0 || recno == pending_first_ + pending_count)) {
    // Appends to a table held exclusively are gathered and written in large blocks.
    if (pending_count == 0) pending_first_ = recno;
    pending_.insert(pending_.end(), data, data + record_len_);
    data_flush_pending_ = true;
    return pending_.size() >= kPendingBytes ? FlushPending() : kSuccess;
  }
  if (Failed(FlushPending())) return kFailure;
  int64_t n;
  if (appended_ && recno == rec_count_) {
    // The new last record carries the end-of-file byte with it.
    uint8_t buf[0x10000];
    std::memcpy(buf, data, record_len_);
    buf[record_len_] = kDbfEofByte;
    n = data_.WriteAt(buf, record_len_ + 1u, off) - 1;
  } else {
    n = data_.WriteAt(data, record_len_, off);
  }
  if (n != record_len_) {
    DropReadAhead();  // it holds the record the file did not take
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  data_flush_pending_ = true;
  return kSuccess;
}

Status DbfArea::FlushPending() {
  if (Failed(FlushCachedWrites())) return kFailure;
  return FlushAppends();
}

Status DbfArea::FlushCachedWrites() {
  if (dirty_first_ == dirty_end_) return kSuccess;
  const uint32_t first = dirty_first_, end = dirty_end_;
  dirty_first_ = dirty_end_ = 0;
  const size_t bytes = static_cast<size_t>(end - first) * record_len_;
  const uint64_t off = header_len_ + static_cast<uint64_t>(first - 1) * record_len_;
  if (data_.WriteAt(cache_.data() + static_cast<size_t>(first - cache_first_) * record_len_,
                    bytes, off) != static_cast<int64_t>(bytes)) {
    cache_count_ = 0;  // it holds records the file did not take
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  return kSuccess;
}

Status DbfArea::FlushAppends() {
  if (pending_.empty()) return kSuccess;
  uint64_t off = header_len_ + static_cast<uint64_t>(pending_first_ - 1) * record_len_;
  const uint32_t gathered = static_cast<uint32_t>(pending_.size() / record_len_);
  pending_.push_back(kDbfEofByte);
  int64_t n = data_.WriteAt(pending_.data(), pending_.size(), off);
  data_flush_pending_ = true;
  if (n == static_cast<int64_t>(pending_.size())) {
    pending_.clear();
    return kSuccess;
  }
  const int os_code = data_.last_error();
  // Keep the records that can still be written, one at a time up to the first that cannot;
  // the table ends there (the count never covers records that are not in the file).
  uint32_t kept = 0;
  while (kept < gathered &&
         data_.WriteAt(pending_.data() + static_cast<size_t>(kept) * record_len_, record_len_,
                       off + static_cast<uint64_t>(kept) * record_len_) == record_len_) {
    ++kept;
  }
  pending_.clear();
  rec_count_ = pending_first_ - 1 + kept;
  header_dirty_ = true;
  uint64_t end = header_len_ + static_cast<uint64_t>(rec_count_) * record_len_;
  uint8_t eof = kDbfEofByte;
  bool eof_written = data_.WriteAt(&eof, 1, end) == 1;
  record_map_.Unmap();
  (void)data_.Truncate(end + (eof_written ? 1 : 0));
  DropReadAhead();
  if (recno_ > rec_count_) {
    // The current record was among those lost: the area stands on the phantom record.
    hot_ = appended_ = valid_ = positioned_ = false;
    recno_ = rec_count_ + 1;
  }
  DriverError(kEdfWrite, file_name_, os_code);
  return kFailure;
}

Status DbfArea::go_cold() {
  if (!hot_) return kSuccess;
  if (trigger_active_) {
    WorkArea* parent = pending_parent_;
    pending_parent_ = nullptr;  // the relation waits while the trigger runs
    bool go_on = FireTrigger(kTrgUpdate);
    pending_parent_ = parent;
    if (!go_on) return kFailure;
  }
  if (stamp_fields_ && Failed(StampFields())) return kFailure;
  if (Failed(put_record(nullptr))) return kFailure;
  if (appended_) {
    header_dirty_ = true;
    appended_ = false;
  }
  if (shared_ && header_dirty_) return write_header();
  return kSuccess;
}

Status DbfArea::put_record(const std::string* buffer) {
  if (buffer) {
    if (pending_parent_ && Failed(force_relation())) return kFailure;
    if (!positioned_) return kSuccess;
    if (!hot_ && Failed(go_hot())) return kFailure;
    size_t n = std::min(buffer->size(), record_.size());
    std::memcpy(record_.data(), buffer->data(), n);
    if (record_[0] == kRecCipherDeleted || record_[0] == kRecCipherLive) {
      record_[0] = record_[0] == kRecCipherDeleted ? kRecDeleted : kRecLive;
      if (!memo_present_) record_enciphered_ = true;
    }
    deleted_ = record_[0] == kRecDeleted;
    valid_ = true;
    return kSuccess;
  }
  if (Failed(WriteBufferAt(recno_))) return kFailure;
  hot_ = false;
  return kSuccess;
}

const uint8_t* DbfArea::StoredImage(std::vector<uint8_t>* scratch) {
  if (key_ && (record_enciphered_ || !memo_present_)) {
    *scratch = record_;
    (*scratch)[0] = (*scratch)[0] == kRecDeleted ? kRecCipherDeleted : kRecCipherLive;
    EncipherBytes(*key_, scratch->data() + 1, scratch->size() - 1);
    return scratch->data();
  }
  return record_.data();
}

Status DbfArea::WriteBufferAt(uint32_t recno) {
  std::vector<uint8_t> scratch;
  return WriteRecordAt(recno, StoredImage(&scratch));
}

Status DbfArea::get_record(std::string* out) {
  if (!out) return kSuccess;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  out->assign(reinterpret_cast<const char*>(record_.data()), record_.size());
  return kSuccess;
}

// --- record changes ---

Status DbfArea::append(bool release_locks) {
  if (Failed(go_cold())) return kFailure;
  if (!FireTrigger(kTrgAppend)) return kFailure;
  if (read_only_) {
    DriverError(kEdfReadonly, file_name_);
    return kFailure;
  }
  if (Failed(RequireMatchingKey())) return kFailure;
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  // The append lock of a shared table, released however this is left (an error handler may
  // throw at any step).
  struct AppendLock {
    DbfArea* area = nullptr;
    ~AppendLock() {
      if (area) area->UnlockHeader();
    }
  } append_lock;
  if (shared_) {
    // The header lock waits out contention: a failure is an error of the lock itself.
    if (!LockHeader(true)) {
      DriverError(kEdfLock, file_name_, data_.last_error());
      return kFailure;
    }
    append_lock.area = this;
    if (Failed(RefreshCount())) return kFailure;
    if (!file_locked_) {
      if (release_locks) (void)unlock(0);
      bool held = false;
      if (Failed(LockRecord(rec_count_ + 1, &held))) return kFailure;
      if (!held) {
        DriverError(kEdfAppendLock, file_name_, 0, "", false, true);
        return kFailure;
      }
    }
  }
  appended_ = true;
  if (Failed(BlankFill(true))) {
    appended_ = false;
    return kFailure;
  }
  ++rec_count_;
  recno_ = rec_count_;
  positioned_ = true;
  hot_ = true;
  header_dirty_ = true;
  valid_ = true;
  found_ = bof_ = eof_ = deleted_ = false;
  record_enciphered_ = key_.has_value() && !memo_present_;
  if (shared_) return go_cold();
  return kSuccess;
}

Status DbfArea::PrepareChange(bool* phantom) {
  *phantom = false;
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  if (!positioned_) {
    *phantom = true;
    return kSuccess;
  }
  if (!hot_ && Failed(go_hot())) return kFailure;
  return kSuccess;
}

const Value* DbfArea::PutTriggerValue(int pos, const Value& in, Value* changed) {
  if (!trigger_active_) return &in;
  Value field = Value::Integer(pos);
  *changed = in;
  return FireTrigger(kTrgPut, &field, changed) ? changed : nullptr;
}

Status DbfArea::delete_record() {
  if (!FireTrigger(kTrgDelete)) return kFailure;
  bool phantom = false;
  if (Failed(PrepareChange(&phantom))) return kFailure;
  if (phantom) return kSuccess;
  record_[0] = kRecDeleted;
  deleted_ = true;
  return kSuccess;
}

Status DbfArea::recall() {
  if (!FireTrigger(kTrgRecall)) return kFailure;
  bool phantom = false;
  if (Failed(PrepareChange(&phantom))) return kFailure;
  if (phantom) return kSuccess;
  record_[0] = kRecLive;
  deleted_ = false;
  return kSuccess;
}

Status DbfArea::is_deleted(bool* out) {
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  *out = deleted_;
  return kSuccess;
}

Status DbfArea::record_count(uint32_t* out) {
  if (shared_ && Failed(RefreshCount())) return kFailure;
  *out = rec_count_;
  return kSuccess;
}

Status DbfArea::flush() {
  if (Failed(go_cold()) || Failed(FlushPending())) return kFailure;
  if (header_dirty_ && Failed(write_header())) return kFailure;
  return CommitWrites();
}

Status DbfArea::CommitWrites() {
  if (!GlobalSettings().hardcommit() || !data_flush_pending_ || read_only_ || !data_.is_open()) {
    return kSuccess;
  }
  if (!data_.Commit()) {
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  data_flush_pending_ = false;
  return kSuccess;
}

Status DbfArea::RequireExclusiveWrite() {
  if (read_only_) {
    DriverError(kEdfReadonly, file_name_);
    return kFailure;
  }
  if (shared_) {
    DriverError(kEdfShared, file_name_);
    return kFailure;
  }
  return kSuccess;
}

Status DbfArea::pack_record(uint32_t recno, bool* keep) {
  *keep = !deleted_;
  return kSuccess;
}

DbfArea::PackProgress::PackProgress(const Value& scratch) {
  if (scratch.is_array() && !scratch.array().empty() && scratch.array()[0].is_block()) {
    block_ = scratch.array()[0];
    if (scratch.array().size() > 1 && scratch.array()[1].is_numeric()) {
      step_ = std::max<int64_t>(1, static_cast<int64_t>(scratch.array()[1].number()));
    }
  }
}

void DbfArea::PackProgress::Tick() {
  if (block_.is_nil() || ++since_call_ < step_) return;
  (void)CallBlock(block_);
  since_call_ = 0;
}

void DbfArea::PackProgress::Finish() {
  if (!block_.is_nil() && since_call_ > 0) (void)CallBlock(block_);
  since_call_ = 0;
}

Status DbfArea::pack() {
  if (Failed(RequireExclusiveWrite()) || Failed(RequireMatchingKey())) return kFailure;
  if (!FireTrigger(kTrgPack)) return kFailure;
  if (Failed(go_cold()) || Failed(FlushPending())) return kFailure;
  PackProgress progress(scratch_);
  return RewriteTable(false, &progress);
}

Status DbfArea::zap() {
  if (Failed(RequireExclusiveWrite()) || Failed(RequireMatchingKey())) return kFailure;
  if (!FireTrigger(kTrgZap)) return kFailure;
  if (Failed(go_cold()) || Failed(FlushPending())) return kFailure;
  return RewriteTable(true, nullptr);
}

// --- inquiries ---

Status DbfArea::record_info(uint32_t recno, int code, Value* out) {
  if (code == 10) return LockHolderInfo(recno ? recno : recno_, *out, out);
  bool moved = false;
  uint32_t back = recno_;
  if (recno != 0 && recno != recno_ && (code == 1 || (code >= 6 && code <= 9))) {
    if (Failed(go_to(recno))) return kFailure;
    moved = true;
  }
  Status s = kSuccess;
  switch (code) {
    case 1: {
      bool d = false;
      s = is_deleted(&d);
      *out = Value::Logical(d);
      break;
    }
    case 2: {
      uint32_t r = recno ? recno : recno_;
      *out = Value::Logical(!shared_ || file_locked_ ||
                            std::find(locks_.begin(), locks_.end(), r) != locks_.end());
      break;
    }
    case 3: *out = Value::Integer(record_len_); break;
    case 4: *out = Value::Integer(recno ? recno : recno_); break;
    case 5: *out = Value::Logical((recno == 0 || recno == recno_) && hot_); break;
    case 6: *out = Value::Logical(record_enciphered_); break;
    case 7:
    case 8:
    case 9: {
      // 7 the raw record, 8 the data of every memo field in field order, 9 both.
      std::string data;
      if (code != 8) s = get_record(&data);
      for (int i = 1; Ok(s) && code != 7 && i <= field_count(); ++i) {
        if (!IsMemoKind(fields_[static_cast<size_t>(i - 1)].kind)) continue;
        Value v;
        s = get_value(i, &v);
        if (Ok(s) && v.is_string()) data += v.str();
      }
      *out = Value::String(std::move(data));
      break;
    }
    default: s = WorkArea::record_info(recno, code, out); break;
  }
  if (moved) (void)go_to(back);
  return s;
}

Status DbfArea::info(int code, const Value& nv, Value* out) {
  switch (code) {
    case 1: case 2: *out = Value::Logical(true); return kSuccess;
    case 3: *out = Value::Integer(header_len_); return kSuccess;
    case 4: {
      int y = header_[kHdrYear] + 1900;
      *out = Value::Date(JulianFromYmd(y, header_[kHdrYear + 1], header_[kHdrYear + 2]));
      return kSuccess;
    }
    case 7: *out = Value::Integer(record_len_); return kSuccess;
    case 8: {
      ValueArray a;
      for (uint32_t r : locks_) a.push_back(Value::Integer(r));
      *out = Value::Array(std::move(a));
      return kSuccess;
    }
    case 9: *out = Value::String(driver_->settings().table_ext); return kSuccess;
    case 10: *out = Value::String(FullPath(file_name_)); return kSuccess;
    case 20: *out = Value::Logical(file_locked_); return kSuccess;
    case 23: *out = Value::Integer(data_.is_open() ? data_.fd() : -1); return kSuccess;
    case 31: *out = Value::Integer(static_cast<int64_t>(locks_.size())); return kSuccess;
    case 32: *out = Value::Logical(valid_); return kSuccess;
    case 35: {
      LockScheme ls;
      *out = SchemeOf(lock_scheme_, structural_bag_, &ls) ? Value::Integer(static_cast<int64_t>(ls.base))
                                                          : Value::Integer(0);
      return kSuccess;
    }
    case 36:
      *out = Value::Logical(shared_);
      if (nv.is_logical()) shared_ = nv.logical();
      return kSuccess;
    case 38: *out = Value::Integer(-1); return kSuccess;
    case 101:
    case 102: {
      int arg = nv.is_numeric() ? static_cast<int>(nv.number()) : 0;
      std::string s = arg == 1 ? "0.1 (DBF)"
                      : arg == 2 ? "0.1 (DBF:" + std::to_string(driver_->index()) + ")" : "0.1";
      *out = Value::String(s);
      return kSuccess;
    }
    case 128:
      *out = Value::Integer(lock_scheme_);
      if (nv.is_numeric() && nv.number() >= 1 && nv.number() <= 5) {
        lock_scheme_ = static_cast<int>(nv.number());
      }
      return kSuccess;
    case 129: *out = Value::Logical(read_only_); return kSuccess;
    case 130:
      if (hot_) {
        if (appended_) {
          (void)BlankFill(false);
          deleted_ = false;
        } else {
          valid_ = false;
          hot_ = false;
        }
      }
      *out = Value::Logical(true);
      return kSuccess;
    case 131:
      return nv.is_string() ? SetPassword(nv.str(), out) : (*out = Value(), kSuccess);
    case 132: *out = Value::Logical(table_enciphered_); return kSuccess;
    case 138:
      *out = Value::String(trigger_);
      if (nv.is_string()) {
        trigger_ = nv.str();
        trigger_active_ = !trigger_.empty() && FindTriggerFunction(trigger_) != nullptr;
      } else if (nv.is_logical()) {
        trigger_active_ = nv.logical() && !trigger_.empty() && FindTriggerFunction(trigger_);
      }
      return kSuccess;
    case 140:
    case 141: {
      std::string pw = nv.is_string() ? nv.str() : std::string();
      Status s = CipherTable(code == 140, pw);
      *out = Value::Logical(code == 140 ? table_enciphered_ : !table_enciphered_);
      return s;
    }
    case 133: *out = Value::Integer(static_cast<int>(memo_kind_)); return kSuccess;
    case 136: *out = Value::Integer(static_cast<int>(table_kind_)); return kSuccess;
    case 143: {
      *out = Value::Logical((driver_->settings().read_mode & read_mode_flag_) != 0);
      if (nv.is_logical()) read_mode_flag_ = nv.logical() ? 2 : 0;
      else if (!nv.is_nil()) read_mode_flag_ = 1;
      return kSuccess;
    }
    case 144: *out = Value::Logical(positioned_); return kSuccess;
    case 146:
      *out = Value::Logical(temporary_);
      if (nv.is_logical() && !data_.is_open()) temporary_ = nv.logical();
      return kSuccess;
    case 147:
      *out = Value::Logical(header_[kHdrFlagByte] != 0);
      if (nv.is_logical() && !read_only_) {
        header_[kHdrFlagByte] = nv.logical() ? 1 : 0;
        header_dirty_ = true;
        return write_header();
      }
      return kSuccess;
    default: return WorkArea::info(code, nv, out);
  }
}

// --- relations and filters ---

Status DbfArea::child_sync(WorkArea* parent, const Relation& rel) {
  if (Failed(go_cold())) return kFailure;
  pending_parent_ = parent;
  pending_relation_ = rel;
  return sync_children();
}

Status DbfArea::force_relation() {
  WorkArea* parent = pending_parent_;
  if (!parent) return kSuccess;
  pending_parent_ = nullptr;
  if (parent->eof()) return go_to(0);
  return parent->relation_eval(pending_relation_);
}

Status DbfArea::child_start(WorkArea* parent, const Relation& rel) {
  if (Failed(WorkArea::child_start(parent, rel))) return kFailure;
  return child_sync(parent, rel);
}

Status DbfArea::child_end(WorkArea* parent, const Relation& rel) {
  if (pending_parent_ == parent) pending_parent_ = nullptr;
  if (rel.scoped) {
    for (int code : {kOiScopeTopClear, kOiScopeBottomClear}) {
      OrderInfoRequest scope;
      scope.code = code;
      (void)order_info(&scope);
    }
  }
  return WorkArea::child_end(parent, rel);
}

Status DbfArea::clear_filter() {
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  return WorkArea::clear_filter();
}

Status DbfArea::set_filter(const Condition& cond) {
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  return WorkArea::set_filter(cond);
}

// --- locks ---

namespace {

// The pause between two tries of a lock that another holder keeps.
constexpr int kLockRetryMillis = 1;

// Byte of a record's lock in a scheme.
uint64_t RecordLockOffset(const LockScheme& ls, uint32_t recno, uint16_t header_len,
                          uint16_t record_len) {
  switch (ls.direction) {
    case LockDirection::kUp: return ls.base + recno;
    case LockDirection::kDown: return ls.base - recno;
    default: return ls.base + header_len + static_cast<uint64_t>(recno - 1) * record_len;
  }
}

uint64_t FileLockStart(const LockScheme& ls) {
  return ls.direction == LockDirection::kDown ? ls.base - ls.file_lock_length : ls.base + 1;
}

}  // namespace

Status DbfArea::raw_lock(int action, uint32_t recno) {
  if (!shared_) return kSuccess;
  LockScheme ls;
  if (!SchemeOf(lock_scheme_, structural_bag_, &ls)) return kFailure;
  switch (action) {
    case 1:
      if (!file_locked_) {
        if (!data_.Lock(FileLockStart(ls), ls.file_lock_length, true, false)) return kFailure;
        file_locked_ = true;
      }
      return kSuccess;
    case 2:
      if (file_locked_) {
        // The records held back are written while the lock still keeps others out; the lock
        // goes even when that write fails (its error reported, possibly by an exception).
        Status written = kFailure;
        try {
          written = FlushCachedWrites();
        } catch (...) {
          file_locked_ = false;
          cache_count_ = 0;
          (void)data_.Unlock(FileLockStart(ls), ls.file_lock_length);
          throw;
        }
        file_locked_ = false;
        cache_count_ = 0;  // read ahead under the lock: others may change the table now
        if (!data_.Unlock(FileLockStart(ls), ls.file_lock_length)) return kFailure;
        return written;
      }
      return kSuccess;
    case 3:
      if (file_locked_) return kSuccess;
      return data_.Lock(RecordLockOffset(ls, recno, header_len_, record_len_), 1, true, false)
                 ? kSuccess : kFailure;
    case 4:
      if (file_locked_) return kSuccess;
      return data_.Unlock(RecordLockOffset(ls, recno, header_len_, record_len_), 1) ? kSuccess
                                                                                   : kFailure;
    case 5:
    case 7:
      if (!header_locked_) {
        // The lock waits; only contention is tried again, any other failure is an error.
        while (!data_.Lock(ls.base, 1, true, true)) {
          if (data_.last_error() != kOsLockViolation) return kFailure;
          SleepMillis(kLockRetryMillis);
        }
        header_locked_ = true;
      }
      return kSuccess;
    case 6:
    case 8:
      if (header_locked_) {
        header_locked_ = false;
        if (!data_.Unlock(ls.base, 1)) return kFailure;
      }
      return kSuccess;
    case 9: {
      uint64_t off = RecordLockOffset(ls, recno, header_len_, record_len_);
      if (!data_.Lock(off, 1, true, false)) return kFailure;
      (void)data_.Unlock(off, 1);
      return kSuccess;
    }
    default: return kFailure;
  }
}

bool DbfArea::LockHeader(bool wait) { return Ok(raw_lock(5, 0)); }

void DbfArea::UnlockHeader() { (void)raw_lock(6, 0); }

bool DbfArea::LockContended() {
  // A table opened read-only cannot take a write lock at all (EBADF): its locks are simply
  // not had, as callers such as the key audit of a check expect.
  if (data_.last_error() == kOsLockViolation || read_only_) return true;
  DriverError(kEdfLock, file_name_, data_.last_error());
  return false;
}

Status DbfArea::LockRecord(uint32_t recno, bool* held) {
  *held = true;
  if (std::find(locks_.begin(), locks_.end(), recno) != locks_.end()) return kSuccess;
  if (Failed(raw_lock(3, recno))) {
    *held = false;
    return LockContended() ? kSuccess : kFailure;
  }
  locks_.push_back(recno);
  return kSuccess;
}

void DbfArea::UnlockRecord(uint32_t recno) {
  auto it = std::find(locks_.begin(), locks_.end(), recno);
  if (it == locks_.end()) return;
  (void)raw_lock(4, recno);
  locks_.erase(it);
}

Status DbfArea::RefreshLockedRecord() {
  if (!positioned_) return go_to(recno_);
  if (!hot_) {
    if (Failed(go_cold())) return kFailure;
    valid_ = false;
    DropReadAhead();
  }
  return kSuccess;
}

Status DbfArea::LockHolderInfo(uint32_t recno, Value what, Value* out) {
  *out = Value();
  if (dbase_lock_field_ == 0 || recno < 1 || recno > rec_count_) return kSuccess;
  // Nobody else holds the record when this area can lock it (or holds it already).
  if (!shared_ || file_locked_ || std::find(locks_.begin(), locks_.end(), recno) != locks_.end()) {
    return kSuccess;
  }
  if (Ok(raw_lock(3, recno))) {
    (void)raw_lock(4, recno);
    return kSuccess;
  }
  // What the holder wrote into its _DBASELOCK field when it took the lock.
  const Field& f = fields_[static_cast<size_t>(dbase_lock_field_ - 1)];
  std::vector<uint8_t> b(std::max<size_t>(f.length, 24), 0);
  uint64_t off = header_len_ + static_cast<uint64_t>(recno - 1) * record_len_ + f.offset;
  if (data_.ReadAt(b.data(), f.length, off) != static_cast<int64_t>(f.length)) {
    DriverError(kEdfRead, file_name_, data_.last_error());
    return kFailure;
  }
  int which = what.is_numeric() ? static_cast<int>(what.number()) : 0;
  if (which == 1) {
    *out = Value::Date(JulianFromYmd(1900 + b[5], b[6], b[7]));
  } else if (which == 2) {
    size_t n = 0;
    while (f.length >= 24 && n < 16 && b[8 + n] != 0) ++n;
    *out = Value::String(std::string(reinterpret_cast<const char*>(b.data() + 8), n));
  } else {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", b[2], b[3], b[4]);
    *out = Value::String(text);
  }
  return kSuccess;
}

bool DbfArea::RecordLockedElsewhere(uint32_t recno) {
  if (!shared_) return false;
  LockScheme ls;
  if (!SchemeOf(lock_scheme_, structural_bag_, &ls)) return true;
  return data_.LockedElsewhere(RecordLockOffset(ls, recno, header_len_, record_len_), 1);
}

Status DbfArea::WriteDbaseLock(uint32_t recno) {
  if (read_only_ || dbase_lock_field_ == 0 || recno < 1 || recno > rec_count_) return kSuccess;
  const Field& f = fields_[static_cast<size_t>(dbase_lock_field_ - 1)];
  if (f.length < 4) return kSuccess;
  std::vector<uint8_t> bytes(f.length, 0);
  uint64_t off = header_len_ + static_cast<uint64_t>(recno - 1) * record_len_ + f.offset;
  if (Failed(FlushCachedWrites())) return kFailure;
  if (int64_t n = data_.ReadAt(bytes.data(), bytes.size(), off);
      n != static_cast<int64_t>(bytes.size())) {
    DriverError(kEdfRead, file_name_, n < 0 ? data_.last_error() : 0);
    return kFailure;
  }
  LocalTime now = Now();
  uint8_t stamp[6] = {static_cast<uint8_t>(now.hour), static_cast<uint8_t>(now.minute),
                      static_cast<uint8_t>(now.second), static_cast<uint8_t>(now.year - 1900),
                      static_cast<uint8_t>(now.month), static_cast<uint8_t>(now.day)};
  for (size_t i = 0; i < 6 && 2 + i + 1 < bytes.size(); ++i) bytes[2 + i] = stamp[i];
  if (f.length >= 24) {
    std::string host = ComputerName();
    for (size_t i = 0; i < 16; ++i) bytes[8 + i] = i < host.size() && i < 15 ? static_cast<uint8_t>(host[i]) : 0;
  }
  // From field offset 2 to the second-last byte of the field.
  size_t len = bytes.size() - 3;
  if (data_.WriteAt(bytes.data() + 2, len, off + 2) != static_cast<int64_t>(len)) {
    DriverError(kEdfWrite, file_name_, data_.last_error());
    return kFailure;
  }
  data_flush_pending_ = true;
  DropReadAhead();
  return kSuccess;
}

Status DbfArea::lock(int method, uint32_t recno, bool* locked) {
  *locked = false;
  if (!shared_) {
    *locked = true;
    return kSuccess;
  }
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (method == 3) {
    if (file_locked_) {
      *locked = true;
      return kSuccess;
    }
    if (Failed(go_cold())) return kFailure;
    for (uint32_t r : std::vector<uint32_t>(locks_)) UnlockRecord(r);
    if (Ok(raw_lock(1, 0))) {
      DropReadAhead();
      if (Failed(RefreshLockedRecord())) return kFailure;
    } else if (!LockContended()) {
      return kFailure;
    }
    *locked = file_locked_;
    return kSuccess;
  }
  if (method != 1 && method != 2) return kSuccess;
  if (file_locked_) {
    *locked = true;
    return kSuccess;
  }
  if (recno == 0 || method == 1) recno = recno_;
  if (method == 1) {
    if (Failed(go_cold())) return kFailure;
    for (uint32_t r : std::vector<uint32_t>(locks_)) {
      if (r != recno) UnlockRecord(r);
    }
  }
  if (std::find(locks_.begin(), locks_.end(), recno) != locks_.end()) {
    *locked = true;
    return kSuccess;
  }
  bool held = false;
  if (Failed(LockRecord(recno, &held))) return kFailure;
  if (!held) return kSuccess;
  *locked = true;
  if (recno == recno_ && Failed(RefreshLockedRecord())) return kFailure;
  if (Failed(WriteDbaseLock(recno))) {
    // The lock is given back: a stamp that could not be written would tell others nothing.
    UnlockRecord(recno);
    *locked = false;
    return kFailure;
  }
  return kSuccess;
}

Status DbfArea::unlock(uint32_t recno) {
  if (!data_.is_open() || !shared_) return kSuccess;
  if (Failed(go_cold())) return kFailure;
  if (recno != 0 && std::find(locks_.begin(), locks_.end(), recno) != locks_.end()) {
    UnlockRecord(recno);
  } else if (recno == 0) {
    for (uint32_t r : std::vector<uint32_t>(locks_)) UnlockRecord(r);
  }
  if (file_locked_) return raw_lock(2, 0);
  return kSuccess;
}

bool DbfArea::LockIndexFile(File* file, bool lock, bool shared, bool wait, uint32_t* position) {
  LockScheme ls;
  if (!SchemeOf(lock_scheme_, structural_bag_, &ls)) return false;
  const uint64_t base = ls.index_base;
  const uint32_t pool = ls.index_pool;
  if (!lock) {
    if (pool == 0) return file->Unlock(base, 1);
    return *position == 0 ? file->Unlock(base, pool + 1) : file->Unlock(base + *position, 1);
  }
  for (;;) {
    bool ok;
    if (pool == 0) {
      ok = file->Lock(base, 1, !shared, false);
      *position = 0;
    } else if (!shared) {
      ok = file->Lock(base, pool + 1, true, false);
      *position = 0;
    } else {
      uint32_t p = 1 + RandomU32() % pool;
      ok = file->Lock(base + p, 1, false, false);
      *position = p;
    }
    // Only contention is waited out; any other failure is the caller's to raise at once.
    if (ok || !wait || file->last_error() != kOsLockViolation) return ok;
    SleepMillis(kLockRetryMillis);
  }
}

// --- enciphered tables and triggers ---

bool DbfArea::FireTrigger(int event, Value* extra, Value* value) {
  if (!trigger_active_) return true;
  const TriggerFunction* fn = FindTriggerFunction(trigger_);
  if (!fn) return true;
  Value none;
  return (*fn)(event, area_, extra ? extra : &none, value);
}

Status DbfArea::SetPassword(const std::string& password, Value* previous) {
  *previous = Value();
  if (memo_present_) return kSuccess;  // tables with memo fields are never enciphered
  if (key_) *previous = Value::String(std::string(key_->begin(), key_->end()));
  if (data_.is_open() && Failed(go_cold())) return kFailure;
  valid_ = false;
  DropReadAhead();
  if (key_) {
    key_->fill(0);
    key_.reset();
  }
  if (!password.empty()) key_ = KeyFromPassword(password);
  key_checked_ = false;
  return kSuccess;
}

Status DbfArea::CipherTable(bool encipher, const std::string& password) {
  if (encipher) {
    if (read_only_ || shared_ || table_enciphered_ || memo_present_) return kFailure;
  } else if (!table_enciphered_) {
    return kFailure;
  }
  // Deciphering rewrites the table as enciphering does: only with the table held exclusively,
  // and with a key to read it.
  if (Failed(RequireExclusiveWrite())) return kFailure;
  if (!encipher && Failed(RequireMatchingKey())) return kFailure;
  if (Failed(go_cold()) || Failed(FlushPending())) return kFailure;
  CipherChange change;
  change.from = key_;
  if (encipher) change.to = KeyFromPassword(password);
  change.encipher = encipher;
  return RecipherTable(change);
}

}  // namespace vosk
