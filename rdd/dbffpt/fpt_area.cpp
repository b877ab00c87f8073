#include "rdd/dbffpt/fpt_area.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cctype>
#include <cstring>
#include <limits>

#include "expr/settings.h"
#include "platform/os_error.h"
#include "platform/owned_file.h"
#include "rdd/byte_order.h"
#include "rdd/trigger.h"

namespace vosk {
namespace {

constexpr size_t kFileStep = 64 * 1024;
constexpr int kMemoKindError = 1056;  // memo kind outside 1-3 (Create error / Open error)

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

size_t FilePartStart(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? 0 : slash + 1;
}

bool HasExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot >= FilePartStart(name);
}

std::string WithoutExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && dot >= FilePartStart(name) ? name.substr(0, dot) : name;
}

std::string BaseName(const std::string& name) {
  size_t slash = name.find_last_of("/\\:");
  return WithoutExtension(slash == std::string::npos ? name : name.substr(slash + 1));
}

// Applies FILECASE to the file part of a name the program creates.
std::string ApplyFileCase(const std::string& name) {
  int mode = GlobalSettings().filecase();
  if (mode == kCaseMixed) return name;
  std::string out = name;
  for (size_t i = FilePartStart(name); i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    out[i] = static_cast<char>(mode == kCaseUpper ? std::toupper(c) : std::tolower(c));
  }
  return out;
}

// Holds the memo write lock (byte 0 of the memo file) of a shared table.
class MemoWriteLock {
 public:
  MemoWriteLock(MemoFile& memo, bool shared) : memo_(memo) {
    held_ = shared && memo_.Lock(true);
    ok_ = !shared || held_;
  }
  ~MemoWriteLock() {
    if (held_) memo_.Unlock();
  }
  MemoWriteLock(const MemoWriteLock&) = delete;
  MemoWriteLock& operator=(const MemoWriteLock&) = delete;
  bool ok() const { return ok_; }

 private:
  MemoFile& memo_;
  bool held_ = false;
  bool ok_ = false;
};

// True when a variant type word keeps part of its value in a memo block.
bool VariantUsesMemo(uint16_t type, int width) {
  if (type >= 1 && type <= kVarMaxText) return type > width - 2;
  if (type == kVarNumber) return width <= kVarInlineNumberWidth;
  return type == kVarArray || type == kVarTimestamp || type == kVarLong;
}

uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void PutDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  PutLe64(p, bits);
}

double GetDouble(const uint8_t* p) {
  uint64_t bits = GetLe64(p);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

}  // namespace

FptArea::~FptArea() {
  if (data_.is_open() || memo_.file().is_open()) {
    try {
      (void)FptArea::close();
    } catch (...) {
      // A destructor must not throw; the files are closed by their owners.
    }
  }
}

bool FptArea::blob() const { return driver_->name() == "DBFBLOB"; }

bool FptArea::HasMemoPart(const Field& f) const {
  return IsMemoKind(f.kind) || (f.kind == FieldKind::kVariant && f.length >= 6);
}

TextCoding FptArea::CodingOf(const Field& f) const {
  TextCoding c;
  c.binary = (f.flags & kFfBinary) != 0 || (f.kind != FieldKind::kMemo && IsMemoKind(f.kind));
  return c;
}

void FptArea::RaiseMemo(const MemoError& e, bool can_default) {
  DriverError(e.sub_code, memo_.name(), e.sub_code == kEdfDataType ? 0 : e.os_code, "", false,
              can_default);
}

ErrorAnswer FptArea::MemoCreateError(int sub_code, int os_code, bool can_retry) {
  RuntimeError e;
  e.gen_code = kEgCreate;
  e.sub_code = sub_code;
  e.os_code = os_code;
  e.file_name = memo_.name().empty() ? MemoFileName(memo_kind_, true) : memo_.name();
  e.can_retry = can_retry;
  return error(std::move(e));
}

// --- names and defaults ---

std::string FptArea::MemoExtension(MemoKind kind) const {
  if (blob()) return ".dbv";
  const DbfDriverSettings& s = driver_->settings();
  if (!s.memo_ext.empty() && static_cast<int>(kind) == s.memo_type) return s.memo_ext;
  if (kind == MemoKind::kFpt && !GlobalSettings().mfileext().empty()) {
    return GlobalSettings().mfileext();
  }
  return KindExtension(kind);
}

const char* FptArea::KindExtension(MemoKind kind) {
  switch (kind) {
    case MemoKind::kDbt: return ".dbt";
    case MemoKind::kSmt: return ".smt";
    default: return ".fpt";
  }
}

std::string FptArea::MemoFileName(MemoKind kind, bool creating) const {
  if (blob()) return file_name_;
  std::string name = WithoutExtension(file_name_) + MemoExtension(kind);
  return creating ? ApplyFileCase(name) : ResolveCase(name);
}

uint32_t FptArea::DefaultBlockSize(MemoKind kind) const {
  if (kind == MemoKind::kDbt) return kDbtBlockSize;
  int stored = driver_->settings().memo_block_size;
  if (IsValidBlockSize(stored)) return static_cast<uint32_t>(stored);
  int global = GlobalSettings().mblocksize();
  if (IsValidBlockSize(global)) return static_cast<uint32_t>(global);
  return kind == MemoKind::kSmt ? kDefaultSmtBlockSize : kDefaultFptBlockSize;
}

MemoVariant FptArea::DefaultVariant() const {
  int v = driver_->settings().memo_variant;
  return v >= 1 && v <= 4 ? static_cast<MemoVariant>(v) : MemoVariant::kFlex;
}

// --- create, open, close ---

Status FptArea::create(const OpenInfo& in) {
  if (!blob()) return DbfArea::create(in);
  OpenInfo info = in;
  file_name_ = info.file;
  if (!HasExtension(file_name_)) file_name_ += ".dbv";
  file_name_ = ApplyFileCase(NormalizeSeparators(file_name_));
  memo_kind_ = MemoKind::kFpt;
  shared_ = read_only_ = false;
  if (Failed(CreateMemoAndArea(&info, true))) return kFailure;
  record_.assign(1, ' ');
  valid_ = true;
  positioned_ = false;
  bof_ = eof_ = true;
  return kSuccess;
}

Status FptArea::open(const OpenInfo& in) {
  if (!blob()) return DbfArea::open(in);
  OpenInfo info = in;
  shared_ = info.shared;
  read_only_ = info.read_only;
  if (GlobalSettings().autoshare() == 2) shared_ = false;
  Codepage cp = kProgramCodepage;
  if (!info.codepage.empty()) (void)CodepageFromName(info.codepage, &cp);
  codepage_ = cp;
  codepage_source_ = info.codepage.empty() ? CodepageSource::kDefault : CodepageSource::kNamed;
  file_name_ = info.file;
  if (!HasExtension(file_name_) && GlobalSettings().defextensions()) file_name_ += ".dbv";
  file_name_ = ResolveCase(NormalizeSeparators(file_name_));
  if (info.alias.empty()) info.alias = Upper(BaseName(file_name_));
  memo_kind_ = MemoKind::kFpt;
  if (Failed(open_memo_file(info)) || Failed(WorkArea::open(info))) {
    (void)close();
    return kFailure;
  }
  record_.assign(1, ' ');
  valid_ = true;
  positioned_ = false;
  bof_ = eof_ = true;
  return kSuccess;
}

Status FptArea::close() {
  // The memo file is released too when the table's close raised.
  struct ReleaseMemo {
    FptArea& area;
    ~ReleaseMemo() { area.ReleaseMemoFile(); }
  } release{*this};
  return DbfArea::close();
}

void FptArea::ReleaseMemoFile() {
  if (memo_.file().is_open()) {
    std::string name = memo_.name();
    memo_.file().Close();
    if (temporary_ && !name.empty()) DeleteFile(name);
  }
  memo_.Invalidate();
  memo_flush_pending_ = false;
  // A change that could not be written is dropped: its blocks stay allocated.
  free_on_commit_.clear();
  free_on_rollback_.clear();
}

Status FptArea::CommitWrites() {
  // The memo file is committed even when the table's commit raises, and the other way round.
  int memo_error = 0;
  if (GlobalSettings().hardcommit() && memo_flush_pending_ && !read_only_ &&
      memo_.file().is_open()) {
    if (memo_.file().Commit()) {
      memo_flush_pending_ = false;
    } else {
      memo_error = memo_.file().last_error();
    }
  }
  Status table = DbfArea::CommitWrites();
  if (memo_error != 0) {
    DriverError(kEdfWrite, memo_.name(), memo_error);
    return kFailure;
  }
  return table;
}

Status FptArea::create_memo_file(const OpenInfo* info) {
  if (info) {
    MemoKind kind = memo_kind_;
    if (kind == MemoKind::kNone) {
      Value v;
      if (Failed(this->info(133, Value(), &v))) return kFailure;
      kind = v.is_numeric() ? static_cast<MemoKind>(static_cast<int>(v.number())) : MemoKind::kNone;
    }
    if (static_cast<int>(kind) < 1 || static_cast<int>(kind) > 3) {
      MemoCreateError(kMemoKindError, 0, false);
      return kFailure;
    }
    memo_kind_ = kind;
    MemoVariant variant = kind == MemoKind::kSmt ? MemoVariant::kSix
                          : kind == MemoKind::kDbt ? MemoVariant::kPlain : DefaultVariant();
    if (blob()) variant = MemoVariant::kFlex;
    if (kind == MemoKind::kFpt &&
        std::any_of(fields_.begin(), fields_.end(), [](const Field& f) {
          return f.kind == FieldKind::kVariant && f.length > 5;
        })) {
      variant = MemoVariant::kSix;
    }
    memo_.Configure(kind, variant, DefaultBlockSize(kind));
    memo_.set_dbase4_blocks(kind == MemoKind::kDbt && table_kind_ == TableKind::kDbase4);
    std::string name = MemoFileName(kind, true);
    for (;;) {
      int rc = memo_.file().Create(name, Share::kExclusive);
      if (rc == 0) break;
      if (!MemoCreateError(kEdfMemoCreate, rc, true).retry()) return kFailure;
    }
  }
  if (!memo_.file().is_open()) {
    MemoCreateError(kEdfMemoCreate, 0, false);
    return kFailure;
  }
  if (MemoError e = memo_.Initialise(blob()); !e.ok()) {
    RaiseMemo(e);
    return kFailure;
  }
  memo_.set_cache_header(!shared_);
  memo_flush_pending_ = true;
  return kSuccess;
}

Status FptArea::open_memo_file(const OpenInfo& info) {
  MemoKind kind = blob() ? MemoKind::kFpt : memo_kind_;
  if (kind == MemoKind::kNone && table_kind_ == TableKind::kVfp) {
    // Some writers leave the memo flag of Visual FoxPro headers clear; the only memo file
    // such a table can have is an FPT file.
    kind = memo_kind_ = MemoKind::kFpt;
    memo_present_ = true;
  }
  if (static_cast<int>(kind) < 1 || static_cast<int>(kind) > 3) {
    RuntimeError e;
    e.gen_code = kEgOpen;
    e.sub_code = kMemoKindError;
    e.file_name = file_name_;
    error(std::move(e));
    return kFailure;
  }
  std::string name = MemoFileName(kind, false);
  // The memo file the table has: an extension setting that names no file beside the table
  // (".DBT" set for every kind) gives way to the file of the kind's own extension.
  if (!blob() && !FileExists(name)) {
    const std::string own = ResolveCase(WithoutExtension(file_name_) + KindExtension(kind));
    if (FileExists(own)) name = own;
  }
  memo_missing_ = false;
  for (;;) {
    int rc = memo_.file().Open(name, read_only_ ? Access::kRead : Access::kReadWrite,
                               shared_ ? Share::kDenyNone : Share::kExclusive);
    if (rc == 0) break;
    // Read-only, the rest of the table can still be read without its memo file.
    if (rc == kOsFileNotFound && read_only_) {
      memo_missing_ = true;
      return kSuccess;
    }
    if (!DriverError(kEdfMemoOpen, name, rc, "", true, true).retry()) return kFailure;
  }
  bool locked = shared_ && memo_.Lock(false);
  MemoError e = memo_.Detect(kind, blob());
  if (locked) memo_.Unlock();
  if (!e.ok()) {
    RaiseMemo(e);
    memo_.file().Close();
    return kFailure;
  }
  memo_.set_dbase4_blocks(kind == MemoKind::kDbt && table_kind_ == TableKind::kDbase4);
  memo_.set_cache_header(!shared_);
  return kSuccess;
}

// --- references ---

bool FptArea::ParseReference(const Field& f, Reference* out) const {
  const uint8_t* p = record_.data() + f.offset;
  *out = Reference();
  if (f.length == 4) {
    out->block = GetLe32(p);
    return true;
  }
  if (f.length != 10) return false;
  if (memo_kind_ == MemoKind::kSmt) {
    uint16_t type = GetLe16(p + kSmtRefType);
    if (type == kSmtNone) return true;
    out->type = type;
    out->length = GetLe32(p + kSmtRefLength);
    out->block = GetLe32(p + kSmtRefBlock);
    return true;
  }
  if (p[0] == 0) return true;
  uint64_t v = 0;
  for (int i = 0; i < 10; ++i) {
    if (p[i] == ' ') {
      if (v != 0) return false;  // a blank after a non-zero digit
      continue;
    }
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  if (v > 0xFFFFFFFFULL) return false;  // more than a block number can be
  out->block = static_cast<uint32_t>(v);
  return true;
}

void FptArea::StoreReference(const Field& f, const Reference& ref) {
  uint8_t* p = record_.data() + f.offset;
  if (f.length == 4) {
    PutLe32(p, ref.block);
    return;
  }
  if (memo_kind_ == MemoKind::kSmt) {
    if (ref.block == 0) {
      std::memset(p, ' ', 10);
      return;
    }
    PutLe16(p + kSmtRefType, static_cast<uint16_t>(ref.type));
    PutLe32(p + kSmtRefLength, ref.length);
    PutLe32(p + kSmtRefBlock, ref.block);
    return;
  }
  std::memset(p, ' ', 10);
  if (ref.block == 0) return;
  std::string digits = std::to_string(ref.block);
  std::memcpy(p + 10 - digits.size(), digits.data(), digits.size());
}

uint32_t FptArea::StoredBlock(const Field& f) const {
  if (f.kind == FieldKind::kVariant) {
    const uint8_t* p = record_.data() + f.offset;
    return VariantUsesMemo(GetLe16(p + f.length - 2), f.length)
               ? GetLe32(p + f.length - kVarTrailer)
               : 0;
  }
  Reference ref;
  return ParseReference(f, &ref) ? ref.block : 0;
}

void FptArea::SetStoredBlock(const Field& f, uint32_t block) {
  if (f.kind == FieldKind::kVariant) {
    PutLe32(record_.data() + f.offset + f.length - kVarTrailer, block);
    return;
  }
  Reference ref;
  (void)ParseReference(f, &ref);
  ref.block = block;
  StoreReference(f, ref);
}

// --- reading ---

Status FptArea::ReadBlockData(uint32_t block, uint32_t smt_length, uint32_t* type,
                              std::string* data) {
  MemoError e;
  switch (memo_.kind()) {
    case MemoKind::kDbt:
      *type = kFptText;
      e = memo_.ReadDbt(block, data);
      break;
    case MemoKind::kSmt: e = memo_.ReadRaw(block, smt_length, data); break;
    default: e = memo_.ReadFpt(block, type, data); break;
  }
  if (!e.ok()) {
    RaiseMemo(e, true);
    return kFailure;
  }
  return kSuccess;
}

Status FptArea::LoadStored(const Field& f, Stored* out) {
  if (!memo_.file().is_open() && !memo_missing_) {
    return FieldValueError(kEdfDataType, f.name);
  }
  if (!ParseReference(f, &out->ref)) {
    DriverError(kEdfCorrupt, file_name_, 0, f.name, false, true);
    return kFailure;
  }
  out->data.clear();
  out->type = memo_kind_ == MemoKind::kSmt ? out->ref.type : kFptText;
  if (out->ref.block == 0) return kSuccess;
  if (memo_missing_) {
    DriverError(kEdfMemoOpen, MemoFileName(memo_kind_, false), kOsFileNotFound, f.name, false,
                true);
    return kFailure;
  }
  return ReadBlockData(out->ref.block, out->ref.length, &out->type, &out->data);
}

Status FptArea::DecodeStored(const Field& f, const Stored& s, Value* out) {
  TextCoding coding = CodingOf(f);
  if (s.ref.block == 0) {
    *out = Value::String(std::string(), true);
    return kSuccess;
  }
  bool ok;
  switch (memo_kind_) {
    case MemoKind::kDbt: {
      std::string text = s.data;
      coding.ToProgram(&text);
      *out = Value::String(std::move(text), true);
      return kSuccess;
    }
    case MemoKind::kSmt: ok = DecodeSmtValue(s.type, s.data, coding, out); break;
    default:
      ok = DecodeFptValue(s.type, s.data, table_kind_ == TableKind::kVfp, coding, out);
      break;
  }
  if (!ok) {
    *out = Value();
    DriverError(kEdfCorrupt, memo_.name(), 0, f.name, false, true);
    return kFailure;
  }
  return kSuccess;
}

Status FptArea::get_value(int pos, Value* out) {
  if (pos < 1 || pos > static_cast<int>(fields_.size()) ||
      !HasMemoPart(fields_[static_cast<size_t>(pos - 1)]) || blob()) {
    if (pos >= 1 && pos <= static_cast<int>(fields_.size())) {
      const Field& f = fields_[static_cast<size_t>(pos - 1)];
      if (f.kind == FieldKind::kVariant && f.length < 3) {
        if (pending_parent_ && Failed(force_relation())) return kFailure;
        if (!valid_ && Failed(ReadRecord())) return kFailure;
        return GetVariant(f, out);
      }
    }
    return DbfArea::get_value(pos, out);
  }
  Status s = GetMemoPathValue(pos, out);
  if (Ok(s) && trigger_active_) {
    Value field = Value::Integer(pos);
    (void)FireTrigger(kTrgGet, &field, out);
  }
  return s;
}

// The value of a field with a memo part (or a variant field) of the current record.
Status FptArea::GetMemoPathValue(int pos, Value* out) {
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  if (null_flags_field_ > 0 && f.null_bit >= 0) {
    const Field& nf = fields_[static_cast<size_t>(null_flags_field_ - 1)];
    int byte = f.null_bit / 8;
    if (byte < nf.length && (record_[nf.offset + byte] >> (f.null_bit % 8)) & 1) {
      *out = Value();
      return kSuccess;
    }
  }
  if (f.kind == FieldKind::kVariant) return GetVariant(f, out);
  Stored s;
  if (Failed(LoadStored(f, &s))) {
    *out = Value();
    return kFailure;
  }
  return DecodeStored(f, s, out);
}

Status FptArea::get_value_length(int pos, uint32_t* out) {
  if (pos < 1 || pos > static_cast<int>(fields_.size()) ||
      !IsMemoKind(fields_[static_cast<size_t>(pos - 1)].kind)) {
    return DbfArea::get_value_length(pos, out);
  }
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  *out = 0;
  if (!memo_.file().is_open()) return kSuccess;
  Reference ref;
  if (!ParseReference(f, &ref)) {
    DriverError(kEdfCorrupt, file_name_, 0, f.name, false, true);
    return kFailure;
  }
  if (ref.block == 0) return kSuccess;
  if (memo_kind_ == MemoKind::kSmt) {
    *out = ref.length;
    return kSuccess;
  }
  if (memo_kind_ == MemoKind::kFpt) {
    uint32_t type = 0;
    if (MemoError e = memo_.FptHeader(ref.block, &type, out); !e.ok()) {
      RaiseMemo(e, true);
      return kFailure;
    }
    return kSuccess;
  }
  Stored s;
  if (Failed(LoadStored(f, &s))) return kFailure;
  *out = static_cast<uint32_t>(s.data.size());
  return kSuccess;
}

Status FptArea::field_info(int pos, int what, Value* out) {
  if (what < 201 || what > 205 || pos < 1 || pos > static_cast<int>(fields_.size()) ||
      !IsMemoKind(fields_[static_cast<size_t>(pos - 1)].kind)) {
    return DbfArea::field_info(pos, what, out);
  }
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  Value arg = *out;
  *out = Value();
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  Reference ref;
  bool readable = memo_.file().is_open() && ParseReference(f, &ref);
  switch (what) {
    case 201: {
      Value v;
      if (Failed(get_value(pos, &v))) return kFailure;
      if (v.is_string() && arg.is_array() && arg.array().size() >= 2 &&
          arg.array()[0].is_numeric() && arg.array()[1].is_numeric()) {
        double start = arg.array()[0].number(), count = arg.array()[1].number();
        const std::string& s = v.str();
        size_t from = start < 1 ? 0 : static_cast<size_t>(std::min<double>(start - 1, s.size()));
        size_t n = count < 0 ? 0 : static_cast<size_t>(std::min<double>(count, s.size() - from));
        *out = Value::String(s.substr(from, n), true);
      } else {
        *out = std::move(v);
      }
      return kSuccess;
    }
    case 202: {
      uint32_t len = 0;
      if (Failed(get_value_length(pos, &len))) return kFailure;
      *out = Value::Integer(len);
      return kSuccess;
    }
    case 203: {
      uint64_t off = readable && ref.block
                         ? static_cast<uint64_t>(ref.block) * memo_.block_size() +
                               (memo_kind_ == MemoKind::kFpt ? kFptBlockHeader : 0)
                         : 0;
      *out = Value::Integer(static_cast<int64_t>(off));
      return kSuccess;
    }
    case 204: *out = Value::Integer(readable ? ref.block : 0); return kSuccess;
    default: break;
  }
  // 205: the type letter of the stored value.
  char letter = 'U';
  if (readable && ref.block == 0) {
    letter = 'M';
  } else if (readable && memo_kind_ == MemoKind::kDbt) {
    letter = 'M';
  } else if (readable && memo_kind_ == MemoKind::kSmt) {
    static const char kSmtLetters[] = "UMNNDLA";
    letter = ref.type <= 6 ? kSmtLetters[ref.type] : 'U';
  } else if (readable) {
    uint32_t type = 0, len = 0;
    if (memo_.FptHeader(ref.block, &type, &len).ok()) {
      if (table_kind_ == TableKind::kVfp && (type == 1 || type == 2)) letter = 'M';
      else if (type == kFptRaw || type == kFptFlexString) letter = 'C';
      else if (type == kFptText || type == kFptSixText) letter = 'M';
      else if (type == kFptSixInteger || type == kFptSixNumber ||
               (type >= kFptInt8 && type <= kFptDoubleZero)) letter = 'N';
      else if (type == kFptSixDate || type == kFptDate) letter = 'D';
      else if (type == kFptSixLogical || type == kFptTrue || type == kFptFalse) letter = 'L';
      else if (type == kFptFlexArray || type == kFptFlexArrayRef || type == kFptSixArray) letter = 'A';
      else if (type == kFptFlexObject || type == kFptFlexObjectRef) letter = 'O';
    }
  }
  *out = Value::String(std::string(1, letter));
  return kSuccess;
}

// --- writing ---

Status FptArea::ReplaceBlocks(uint32_t old_block, uint32_t old_smt_length, bool store,
                              uint32_t type, const std::string& data, uint32_t* block) {
  *block = 0;
  MemoWriteLock lock(memo_, shared_);
  if (!lock.ok()) {
    DriverError(kEdfLock, memo_.name(), memo_.file().last_error());
    return kFailure;
  }
  // The blob store has no records to roll back.
  const bool hold = !blob();
  auto written_here = std::find_if(free_on_rollback_.begin(), free_on_rollback_.end(),
                                   [&](const HeldValue& h) { return h.block == old_block; });
  const bool free_now = !hold || written_here != free_on_rollback_.end();
  MemoError e = memo_.LoadHeader();
  if (e.ok()) {
    if (free_now) memo_.FreeValue(old_block, old_smt_length);
    if (store) e = memo_.WriteValue(type, data, block);
  }
  if (e.ok()) e = memo_.SaveHeader();
  if (!e.ok()) {
    memo_.Invalidate();  // what is in memory no longer matches the file
    RaiseMemo(e);
    return kFailure;
  }
  memo_flush_pending_ = true;
  if (!hold) return kSuccess;
  if (old_block != 0) {
    if (written_here != free_on_rollback_.end()) {
      free_on_rollback_.erase(written_here);
    } else if (std::none_of(free_on_commit_.begin(), free_on_commit_.end(),
                            [&](const HeldValue& h) { return h.block == old_block; })) {
      free_on_commit_.push_back({old_block, old_smt_length});
    }
  }
  if (*block != 0) free_on_rollback_.push_back({*block, static_cast<uint32_t>(data.size())});
  return kSuccess;
}

void FptArea::ReleaseHeldValues(bool commit) {
  if (free_on_commit_.empty() && free_on_rollback_.empty()) return;  // no memo value changed
  std::vector<HeldValue> release;
  std::vector<HeldValue> written;  // on commit: the values the written record references now
  release.swap(commit ? free_on_commit_ : free_on_rollback_);
  if (commit) written.swap(free_on_rollback_);
  free_on_commit_.clear();
  free_on_rollback_.clear();
  if (commit) {
    // A value the written record still references (put back by a whole-record put) stays.
    for (const Field& f : fields_) {
      if (!HasMemoPart(f)) continue;
      uint32_t block = StoredBlock(f);
      if (block == 0) continue;
      release.erase(std::remove_if(release.begin(), release.end(),
                                   [&](const HeldValue& h) { return h.block == block; }),
                    release.end());
    }
  }
  if (release.empty() || !memo_.file().is_open()) return;
  // The record is final either way; a failure here costs space, never a value, and the next
  // write of the memo file meets and reports the same fault.
  MemoWriteLock lock(memo_, shared_);
  if (!lock.ok()) return;
  MemoError e = memo_.LoadHeader();
  if (e.ok()) {
    if (commit) MoveIntoReleasedBlocks(written, &release);
    for (const HeldValue& h : release) memo_.FreeValue(h.block, h.length);
    e = memo_.SaveHeader();
  }
  if (!e.ok()) {
    memo_.Invalidate();
    return;
  }
  memo_flush_pending_ = true;
}

void FptArea::MoveIntoReleasedBlocks(const std::vector<HeldValue>& written,
                                     std::vector<HeldValue>* release) {
  struct Move {
    const Field* field;
    uint32_t from;       // the new value's blocks
    uint32_t to;         // the released value's blocks
    uint64_t blocks;     // taken by the new value
    uint64_t room;       // taken by the released value
  };
  std::vector<Move> moves;
  std::vector<uint64_t> room(release->size());
  for (size_t i = 0; i < release->size(); ++i) {
    room[i] = memo_.ValueBlocks((*release)[i].block, (*release)[i].length);
  }
  for (const Field& f : fields_) {
    if (!HasMemoPart(f)) continue;
    uint32_t block = StoredBlock(f);
    auto w = std::find_if(written.begin(), written.end(),
                          [&](const HeldValue& h) { return h.block == block; });
    if (block == 0 || w == written.end()) continue;
    uint64_t blocks = std::max<uint64_t>(1, memo_.BlocksFor(w->length));  // as written
    // The smallest released value that holds the new one.
    size_t best = release->size();
    for (size_t i = 0; i < release->size(); ++i) {
      if (room[i] >= blocks && (best == release->size() || room[i] < room[best])) best = i;
    }
    if (best == release->size()) continue;
    const uint32_t to = (*release)[best].block;
    if (!memo_.CopyBlocks(block, to, static_cast<uint32_t>(blocks)).ok()) break;
    moves.push_back({&f, block, to, blocks, room[best]});
    room[best] = 0;  // taken
    SetStoredBlock(f, to);
  }
  if (moves.empty()) return;
  // The record now references the copies; until it is written, the file references the
  // values where they were written, so both stay whole.
  CrashPoint("memo-move-copied");
  if (Failed(WriteBufferAt(recno_))) {  // raised: the table file failed a write in place
    for (const Move& m : moves) SetStoredBlock(*m.field, m.from);
    return;  // the released blocks hold unreferenced copies and are freed as they are
  }
  CrashPoint("memo-move-written");
  for (const Move& m : moves) {
    memo_.FreeBlocks(m.from, m.blocks);
    memo_.FreeBlocks(static_cast<uint32_t>(m.to + m.blocks), m.room - m.blocks);
    release->erase(std::remove_if(release->begin(), release->end(),
                                  [&](const HeldValue& h) { return h.block == m.to; }),
                   release->end());
  }
}

Status FptArea::put_record(const std::string* buffer) {
  if (buffer) return DbfArea::put_record(buffer);
  if (Failed(DbfArea::put_record(nullptr))) {
    // The record may have reached the file in part: what the change wrote is never freed.
    free_on_rollback_.clear();
    return kFailure;
  }
  ReleaseHeldValues(true);
  return kSuccess;
}

Status FptArea::PutMemo(const Field& f, const Value& v) {
  TextCoding coding = CodingOf(f);
  uint32_t type = kFptText;
  std::string data;
  bool store = true;
  if (v.is_string()) {
    data = v.str();
    coding.ToTable(&data);
    store = !data.empty();
  } else if (v.is_nil() && memo_kind_ != MemoKind::kDbt) {
    store = false;
  } else {
    bool ok = false;
    if (memo_kind_ == MemoKind::kSmt) {
      ok = EncodeMemoValue(ValueForm::kSmt, v, coding, &type, &data);
    } else if (memo_kind_ == MemoKind::kFpt && memo_.variant() == MemoVariant::kSix) {
      ok = EncodeMemoValue(ValueForm::kSix, v, coding, &type, &data);
    } else if (memo_kind_ == MemoKind::kFpt && memo_.variant() == MemoVariant::kFlex) {
      ok = EncodeMemoValue(ValueForm::kFlex, v, coding, &type, &data);
    }
    if (!ok) {
      return FieldValueError(kEdfDataType, f.name);
    }
  }
  if (!memo_.file().is_open()) {
    return FieldValueError(kEdfDataType, f.name);
  }
  Reference old;
  if (!ParseReference(f, &old)) old = Reference();  // a broken reference frees nothing
  Reference ref;
  if (Failed(ReplaceBlocks(old.block, old.length, store, type, data, &ref.block))) return kFailure;
  ref.type = type;
  ref.length = static_cast<uint32_t>(data.size());
  StoreReference(f, ref);
  return kSuccess;
}

Status FptArea::put_value(int pos, const Value& in) {
  if (pos < 1 || pos > static_cast<int>(fields_.size()) || blob()) {
    return DbfArea::put_value(pos, in);
  }
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  bool small_variant = f.kind == FieldKind::kVariant && f.length < 3;
  if (!HasMemoPart(f) && !small_variant) return DbfArea::put_value(pos, in);
  if (in.is_nil() && f.null_bit >= 0 && null_flags_field_ > 0) {
    return DbfArea::put_value(pos, in);
  }
  Value changed;
  const Value* given = PutTriggerValue(pos, in, &changed);
  if (!given) return kFailure;
  const Value& value = *given;
  bool phantom = false;
  if (Failed(PrepareChange(&phantom))) return kFailure;
  if (phantom) return kSuccess;
  Status s = f.kind == FieldKind::kVariant ? PutVariant(f, value) : PutMemo(f, value);
  if (Ok(s) && null_flags_field_ > 0 && f.null_bit >= 0) {
    const Field& nf = fields_[static_cast<size_t>(null_flags_field_ - 1)];
    int byte = f.null_bit / 8;
    if (byte < nf.length) {
      record_[nf.offset + byte] &= static_cast<uint8_t>(~(1u << (f.null_bit % 8)));
    }
  }
  return s;
}

// --- variant fields ---

Status FptArea::GetVariant(const Field& f, Value* out) {
  const uint8_t* p = record_.data() + f.offset;
  const int w = f.length;
  if (w == 1) {
    *out = Value::Integer(static_cast<int8_t>(p[0]), 4);
    return kSuccess;
  }
  if (w == 2) {
    *out = Value::Integer(static_cast<int16_t>(GetLe16(p)), 6);
    return kSuccess;
  }
  if (w < 6) return DbfArea::get_value(static_cast<int>(&f - fields_.data()) + 1, out);
  uint16_t type = GetLe16(p + w - 2);
  uint32_t block = GetLe32(p + w - kVarTrailer);
  *out = Value();
  std::string data;
  uint32_t stored_type = 0;
  auto corrupt = [&]() {
    *out = Value();
    DriverError(kEdfCorrupt, memo_.name(), 0, f.name, false, true);
    return kFailure;
  };
  if (VariantUsesMemo(type, w)) {
    if (!memo_.file().is_open() || memo_.kind() != MemoKind::kFpt || block == 0) return corrupt();
    if (Failed(ReadBlockData(block, 0, &stored_type, &data))) return kFailure;
  }
  TextCoding coding = CodingOf(f);
  if (type >= 1 && type <= kVarMaxText) {
    std::string s;
    if (type <= w - 2) {
      s.assign(reinterpret_cast<const char*>(p), type);
    } else {
      s.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(w - kVarTrailer));
      if (s.size() + data.size() != type) return corrupt();  // the parts do not add up
      s += data;
    }
    coding.ToProgram(&s);
    *out = Value::String(std::move(s));
    return kSuccess;
  }
  switch (type) {
    case kVarNil: return kSuccess;
    case kVarDate: *out = Value::Date(static_cast<int32_t>(GetLe24(p))); return kSuccess;
    case kVarInteger: *out = Value::Integer(static_cast<int32_t>(GetLe32(p)), 10); return kSuccess;
    case kVarLogical: *out = Value::Logical(p[0] != 0); return kSuccess;
    case kVarNumber: {
      const uint8_t* n = p;
      if (w <= kVarInlineNumberWidth) {
        if (data.size() != static_cast<size_t>(kVarNumberRecord)) return corrupt();
        n = reinterpret_cast<const uint8_t*>(data.data()) + 1;
      }
      *out = Value::Double(GetDouble(n + 2), n[0], n[1]);
      return kSuccess;
    }
    case kVarArray:
      if (stored_type != kFptSixArray ||
          !DecodeFptValue(stored_type, data, false, coding, out)) {
        return corrupt();
      }
      return kSuccess;
    case kVarTimestamp: {
      if (data.size() != 8) return corrupt();
      const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
      *out = Value::Timestamp(static_cast<int32_t>(GetLe32(d)), static_cast<int32_t>(GetLe32(d + 4)));
      return kSuccess;
    }
    case kVarLong:
      if (data.size() != 8) return corrupt();
      *out = Value::Integer(static_cast<int64_t>(GetLe64(reinterpret_cast<const uint8_t*>(data.data()))));
      return kSuccess;
    default: return kSuccess;  // reserved and unknown types read as nil
  }
}

Status FptArea::PutVariant(const Field& f, const Value& v) {
  uint8_t* p = record_.data() + f.offset;
  const int w = f.length;
  if (w == 1 || w == 2) {
    if (!v.is_numeric()) return FieldValueError(kEdfDataType, f.name);
    double d = v.number();
    int64_t lo = w == 1 ? -128 : -32768, hi = w == 1 ? 127 : 32767;
    if (d < lo || d > hi) return FieldValueError(kEdfDataWidth, f.name);
    int64_t i = static_cast<int64_t>(d);
    if (w == 1) p[0] = static_cast<uint8_t>(i);
    else PutLe16(p, static_cast<uint16_t>(i));
    return kSuccess;
  }
  if (w < 6) return DbfArea::put_value(static_cast<int>(&f - fields_.data()) + 1, v);

  // The new field image and, when needed, the memo part.
  std::vector<uint8_t> image(static_cast<size_t>(w), 0);
  uint16_t type = kVarNil;
  bool memo_part = false;
  uint32_t memo_type = kFptRaw;
  std::string memo_data;
  TextCoding coding = CodingOf(f);
  switch (v.type()) {
    case Value::Type::kNil: break;
    case Value::Type::kString: {
      std::string s = v.str().substr(0, kVarMaxText);
      coding.ToTable(&s);
      type = static_cast<uint16_t>(s.size());
      if (s.size() <= static_cast<size_t>(w - 2)) {
        std::memcpy(image.data(), s.data(), s.size());
      } else {
        size_t inline_len = static_cast<size_t>(w - kVarTrailer);
        std::memcpy(image.data(), s.data(), inline_len);
        memo_part = true;
        memo_type = kFptText;
        memo_data = s.substr(inline_len);
      }
      if (type == 0) type = kVarNil;
      break;
    }
    case Value::Type::kDate:
    case Value::Type::kTimestamp:
      if (v.is_timestamp() && v.millis() != 0) {
        type = kVarTimestamp;
        memo_part = true;
        memo_data.resize(8);
        PutLe32(reinterpret_cast<uint8_t*>(memo_data.data()), static_cast<uint32_t>(v.julian()));
        PutLe32(reinterpret_cast<uint8_t*>(memo_data.data()) + 4, static_cast<uint32_t>(v.millis()));
      } else {
        type = kVarDate;
        PutLe24(image.data(), static_cast<uint32_t>(v.julian()));
      }
      break;
    case Value::Type::kLogical:
      type = kVarLogical;
      image[0] = v.logical() ? 1 : 0;
      break;
    case Value::Type::kInteger:
      if (v.integer() >= std::numeric_limits<int32_t>::min() &&
          v.integer() <= std::numeric_limits<int32_t>::max()) {
        type = kVarInteger;
        PutLe32(image.data(), static_cast<uint32_t>(v.integer()));
      } else {
        type = kVarLong;
        memo_part = true;
        memo_data.resize(8);
        PutLe64(reinterpret_cast<uint8_t*>(memo_data.data()), static_cast<uint64_t>(v.integer()));
      }
      break;
    case Value::Type::kDouble: {
      type = kVarNumber;
      uint8_t n[kVarNumberRecord] = {};
      n[1] = ClampByte(v.width());
      n[2] = ClampByte(v.decimals());
      PutDouble(n + 3, v.dbl());
      if (w > kVarInlineNumberWidth) {
        std::memcpy(image.data(), n + 1, 10);
      } else {
        memo_part = true;
        memo_data.assign(reinterpret_cast<const char*>(n), sizeof n);
      }
      break;
    }
    case Value::Type::kArray:
      type = kVarArray;
      memo_part = true;
      memo_type = kFptSixArray;
      if (!EncodeArrayBody(ValueForm::kSix, v.array(), coding, 1, &memo_data)) return FieldValueError(kEdfDataType, f.name);
      break;
    default: return FieldValueError(kEdfDataType, f.name);
  }
  uint16_t old_type = GetLe16(p + w - 2);
  uint32_t old_block = VariantUsesMemo(old_type, w) ? GetLe32(p + w - kVarTrailer) : 0;
  uint32_t block = 0;
  if (memo_part || old_block != 0) {
    if (!memo_.file().is_open() || memo_.kind() != MemoKind::kFpt) return FieldValueError(kEdfDataType, f.name);
    if (Failed(ReplaceBlocks(old_block, 0, memo_part, memo_type, memo_data, &block))) {
      return kFailure;
    }
  }
  // Without a memo part the block-number bytes belong to the inline value.
  if (memo_part) PutLe32(image.data() + w - kVarTrailer, block);
  PutLe16(image.data() + w - 2, type);
  std::memcpy(p, image.data(), image.size());
  return kSuccess;
}

// --- files ---

Status FptArea::GetValueToFile(int pos, const std::string& file, int mode) {
  if (pos < 1 || pos > static_cast<int>(fields_.size()) ||
      !HasMemoPart(fields_[static_cast<size_t>(pos - 1)])) {
    return FieldValueError(kEdfDataType);
  }
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  std::string data;
  if (f.kind == FieldKind::kVariant) {
    Value v;
    if (Failed(GetVariant(f, &v))) return kFailure;
    if (v.is_string()) data = v.str();
  } else {
    Stored s;
    if (Failed(LoadStored(f, &s))) return kFailure;
    data = std::move(s.data);
  }
  File out;
  std::string name = NormalizeSeparators(file);
  int rc = mode == 1 ? out.Open(ResolveCase(name), Access::kReadWrite, Share::kExclusive)
                     : out.Create(ApplyFileCase(name), Share::kExclusive);
  if (rc != 0) {
    DriverError(mode == 1 ? kEdfOpen : kEdfOpenExternal, file, rc);
    return kFailure;
  }
  int64_t at = mode == 1 ? out.Size() : 0;
  if (at < 0 || out.WriteAt(data.data(), data.size(), static_cast<uint64_t>(at)) !=
                    static_cast<int64_t>(data.size())) {
    DriverError(kEdfWrite, file, out.last_error());
    return kFailure;
  }
  return kSuccess;
}

Status FptArea::put_value_from_file(int pos, const std::string& file) {
  if (pos < 1 || pos > static_cast<int>(fields_.size()) ||
      !HasMemoPart(fields_[static_cast<size_t>(pos - 1)])) {
    return FieldValueError(kEdfDataType);
  }
  const Field& f = fields_[static_cast<size_t>(pos - 1)];
  File in;
  int rc = in.Open(ResolveCase(NormalizeSeparators(file)), Access::kRead, Share::kDenyNone);
  if (rc != 0) {
    DriverError(kEdfOpen, file, rc);
    return kFailure;
  }
  int64_t size = in.Size();
  if (size < 0) {
    DriverError(kEdfRead, file, in.last_error());
    return kFailure;
  }
  uint64_t want = static_cast<uint64_t>(size);
  if (f.kind == FieldKind::kVariant) want = std::min<uint64_t>(want, kVarMaxText);
  if (want > 0xFFFFFFF0u) return FieldValueError(kEdfDataWidth, f.name);
  std::string data(static_cast<size_t>(want), '\0');
  for (uint64_t at = 0; at < want; at += kFileStep) {
    size_t len = static_cast<size_t>(std::min<uint64_t>(kFileStep, want - at));
    if (in.ReadAt(data.data() + at, len, at) != static_cast<int64_t>(len)) {
      DriverError(kEdfRead, file, in.last_error());
      return kFailure;
    }
  }
  if (f.kind == FieldKind::kVariant) return put_value(pos, Value::String(std::move(data)));
  if (pending_parent_ && Failed(force_relation())) return kFailure;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  if (!positioned_) return kSuccess;
  if (!hot_ && Failed(go_hot())) return kFailure;
  if (!memo_.file().is_open()) {
    return FieldValueError(kEdfDataType, f.name);
  }
  // The file's bytes are stored as they are: raw (FPT type 0) unless the field holds text.
  uint32_t type = f.kind == FieldKind::kMemo && !(f.flags & kFfBinary) ? kFptText : kFptRaw;
  if (memo_kind_ == MemoKind::kSmt) type = kSmtText;
  Reference old;
  if (!ParseReference(f, &old)) old = Reference();
  Reference ref;
  if (Failed(ReplaceBlocks(old.block, old.length, !data.empty(), type, data, &ref.block))) {
    return kFailure;
  }
  ref.type = type;
  ref.length = static_cast<uint32_t>(data.size());
  StoreReference(f, ref);
  return kSuccess;
}

// --- maintenance ---

Status FptArea::zap() {
  if (!blob()) return DbfArea::zap();
  if (Failed(DbfArea::zap())) return kFailure;
  if (!memo_.file().is_open()) return kSuccess;
  return create_memo_file(nullptr);
}

Status FptArea::CopyToPackTarget(const Field& f, MemoFile* target, uint32_t* new_block) {
  *new_block = 0;
  const uint8_t* p = record_.data() + f.offset;
  uint32_t block = 0, length = 0, type = kFptText;
  if (f.kind == FieldKind::kVariant) {
    uint16_t vtype = GetLe16(p + f.length - 2);
    if (!VariantUsesMemo(vtype, f.length)) return kSuccess;
    block = GetLe32(p + f.length - kVarTrailer);
  } else {
    Reference ref;
    if (!ParseReference(f, &ref)) {
      if (DriverError(kEdfCorrupt, file_name_, 0, f.name, false, true).retry()) return kFailure;
      return kSuccess;  // defaulted: the second pass drops the broken reference
    }
    block = ref.block;
    length = ref.length;
    type = ref.type;
  }
  if (block == 0) return kSuccess;
  std::string data;
  if (Failed(ReadBlockData(block, length, &type, &data))) return kFailure;
  if (MemoError e = target->WriteValue(type, data, new_block); !e.ok()) {
    DriverError(e.sub_code, target->name(), e.os_code);
    return kFailure;
  }
  return kSuccess;
}

void FptArea::ApplyPackBlock(const Field& f, uint32_t new_block) {
  Reference ref;
  if (f.kind != FieldKind::kVariant && !ParseReference(f, &ref)) {
    StoreReference(f, Reference());  // the first pass was told to drop it
    return;
  }
  if (new_block != 0) SetStoredBlock(f, new_block);
}

Status FptArea::CopyMemosToTarget(MemoFile* target, PackProgress* progress) {
  const uint32_t count = rec_count_;
  for (uint32_t j = 1; j <= count; ++j) {
    if (Failed(go_to(j)) || Failed(ReadRecord())) return kFailure;
    bool keep = false;
    if (Failed(DbfArea::pack_record(j, &keep))) return kFailure;
    progress->Tick();
    CrashPoint("rewrite-memo");
    if (!keep) continue;
    for (const Field& f : fields_) {
      if (!HasMemoPart(f)) continue;
      uint32_t new_block = 0;
      if (Failed(CopyToPackTarget(f, target, &new_block))) return kFailure;
      pack_blocks_.push_back(new_block);
    }
  }
  progress->Finish();
  return kSuccess;
}

Status FptArea::pack_record(uint32_t recno, bool* keep) {
  if (Failed(DbfArea::pack_record(recno, keep))) return kFailure;
  if (!*keep || !packing_) return kSuccess;
  bool any = false;
  for (const Field& f : fields_) {
    if (!HasMemoPart(f)) continue;
    // Both passes keep the same records: nothing changed the table between them.
    assert(pack_next_ < pack_blocks_.size());
    ApplyPackBlock(f, pack_next_ < pack_blocks_.size() ? pack_blocks_[pack_next_] : 0);
    ++pack_next_;
    any = true;
  }
  if (any) hot_ = true;  // the references changed: the DBF pack writes the record
  return kSuccess;
}

// The values of the surviving records are copied into the new memo file first, then the
// records with their new references into the new table; both are swapped in together.
Status FptArea::pack() {
  // Ends the packing state and gives back the block numbers however pack() is left.
  struct PackState {
    FptArea& area;
    ~PackState() {
      area.packing_ = false;
      std::vector<uint32_t>().swap(area.pack_blocks_);
      area.pack_next_ = 0;
    }
  } state{*this};
  return DbfArea::pack();
}

std::string FptArea::RewriteMemoName() {
  return memo_.file().is_open() && !blob() ? memo_.name() : std::string();
}

Status FptArea::BuildRewrittenMemo(File* out, bool zap, PackProgress** progress) {
  MemoFile target;
  target.file() = std::move(*out);
  // The file goes back to the rewrite however this is left.
  struct GiveBack {
    File* out;
    MemoFile& target;
    ~GiveBack() { *out = std::move(target.file()); }
  } give_back{out, target};
  target.Configure(memo_.kind(), memo_.variant(), memo_.block_size());
  target.set_dbase4_blocks(memo_.kind() == MemoKind::kDbt && table_kind_ == TableKind::kDbase4);
  auto fail = [&](const MemoError& e) {
    DriverError(e.sub_code, e.sub_code == kEdfRead ? target.name() : memo_.name(), e.os_code);
    return kFailure;
  };
  if (MemoError e = target.Initialise(false); !e.ok()) return fail(e);
  if (zap) return kSuccess;
  pack_blocks_.clear();
  if (Failed(CopyMemosToTarget(&target, *progress))) return kFailure;
  *progress = nullptr;
  if (MemoError e = target.SaveHeader(); !e.ok()) return fail(e);
  packing_ = true;
  pack_next_ = 0;
  return kSuccess;
}

void FptArea::AdoptRewrittenMemo(File* file) {
  memo_.file() = std::move(*file);
  memo_.Invalidate();
  free_on_commit_.clear();
  free_on_rollback_.clear();
  memo_flush_pending_ = false;
}

// --- inquiries ---

Status FptArea::info(int code, const Value& nv, Value* out) {
  switch (code) {
    case 37: *out = Value::String(memo_.file().is_open() ? memo_.name() : std::string()); return kSuccess;
    case 38: *out = Value::Integer(memo_.file().is_open() ? memo_.file().fd() : -1); return kSuccess;
    case 39:
      *out = Value::Integer(memo_.file().is_open() ? memo_.block_size()
                                                   : DefaultBlockSize(memo_kind_ == MemoKind::kNone
                                                                          ? static_cast<MemoKind>(driver_->settings().memo_type)
                                                                          : memo_kind_));
      return kSuccess;
    case 133:
      *out = Value::Integer(memo_kind_ != MemoKind::kNone ? static_cast<int>(memo_kind_)
                                                          : driver_->settings().memo_type);
      return kSuccess;
    case 135:
      *out = Value::Integer(static_cast<int>(memo_.file().is_open() ? memo_.variant()
                                                                    : DefaultVariant()));
      return kSuccess;
    case 130:
      if (hot_) ReleaseHeldValues(false);  // the record in the file keeps its old values
      return DbfArea::info(code, nv, out);
    default:
      if (blob() && code >= 201 && code <= 213) return BlobInfo(code, nv, out);
      return DbfArea::info(code, nv, out);
  }
}

// The DBFBLOB store: values kept by block number.
//   201 value at block nv          202 store value nv, answer its block
//   203 nv = {block, value}: replace, answer the new block
//   204 free the value at block nv  205 data length at block nv
//   206 root block (a new numeric nv replaces it)
Status FptArea::BlobInfo(int code, const Value& nv, Value* out) {
  *out = Value();
  if (!memo_.file().is_open()) return kFailure;
  auto block_arg = [](const Value& v) -> uint32_t {
    return v.is_numeric() && v.number() > 0 && v.number() <= 0xFFFFFFFFu
               ? static_cast<uint32_t>(v.number()) : 0;
  };
  Field f;
  f.kind = FieldKind::kBlob;
  f.flags = kFfBinary;
  f.name = "BLOB";
  switch (code) {
    case 201:
    case 205: {
      uint32_t block = block_arg(nv);
      if (block == 0) {
        *out = code == 201 ? Value() : Value::Integer(0);
        return kSuccess;
      }
      uint32_t type = 0;
      std::string data;
      if (Failed(ReadBlockData(block, 0, &type, &data))) return kFailure;
      if (code == 205) {
        *out = Value::Integer(static_cast<int64_t>(data.size()));
        return kSuccess;
      }
      TextCoding coding;
      if (!DecodeFptValue(type, data, false, coding, out)) {
        *out = Value();
        DriverError(kEdfCorrupt, memo_.name(), 0, "", false, true);
        return kFailure;
      }
      return kSuccess;
    }
    case 202:
    case 203: {
      uint32_t old_block = 0;
      Value v = nv;
      if (code == 203) {
        if (!nv.is_array() || nv.array().size() < 2) return kFailure;
        old_block = block_arg(nv.array()[0]);
        v = nv.array()[1];
      }
      uint32_t type = kFptText;
      std::string data;
      TextCoding coding;
      bool store = true;
      if (v.is_string()) {
        data = v.str();
        coding.ToTable(&data);
      } else if (v.is_nil()) {
        store = false;
      } else if (!EncodeMemoValue(ValueForm::kFlex, v, coding, &type, &data)) {
        return FieldValueError(kEdfDataType);
      }
      uint32_t block = 0;
      if (Failed(ReplaceBlocks(old_block, 0, store, type, data, &block))) return kFailure;
      *out = Value::Integer(block);
      return kSuccess;
    }
    case 204: {
      uint32_t ignored = 0;
      if (Failed(ReplaceBlocks(block_arg(nv), 0, false, 0, std::string(), &ignored))) {
        return kFailure;
      }
      *out = Value::Logical(true);
      return kSuccess;
    }
    case 206: {
      MemoWriteLock lock(memo_, shared_);
      MemoError e = memo_.LoadHeader();
      if (!e.ok()) {
        RaiseMemo(e);
        return kFailure;
      }
      *out = Value::Integer(memo_.root());
      if (nv.is_numeric() && !read_only_) {
        memo_.set_root(block_arg(nv));
        if (MemoError s = memo_.SaveHeader(); !s.ok()) {
          memo_.Invalidate();
          RaiseMemo(s);
          return kFailure;
        }
      }
      return kSuccess;
    }
    default: return kFailure;
  }
}

}  // namespace vosk
