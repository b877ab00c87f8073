#include "rdd/work_area.h"

#include <algorithm>
#include <cctype>

#include "expr/settings.h"
#include "rdd/command_error.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

ConditionCompiler& InstalledCompiler() {
  static ConditionCompiler compiler;
  return compiler;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void SetConditionCompiler(ConditionCompiler compiler) {
  InstalledCompiler() = std::move(compiler);
}
const ConditionCompiler& GetConditionCompiler() { return InstalledCompiler(); }

char ReportedTypeLetter(FieldKind kind) {
  switch (kind) {
    case FieldKind::kCharacter: return 'C';
    case FieldKind::kLogical: return 'L';
    case FieldKind::kDate: return 'D';
    case FieldKind::kNumeric: return 'N';
    case FieldKind::kFloat: return 'F';
    case FieldKind::kInteger: return 'I';
    case FieldKind::kDouble: return 'B';
    case FieldKind::kBinaryMemo: return 'B';
    case FieldKind::kTimestamp: return 'T';
    case FieldKind::kTime: return 'T';
    case FieldKind::kModTime: return '@';
    case FieldKind::kModStamp: return '=';
    case FieldKind::kRowVersion: return '^';
    case FieldKind::kAutoInc: return '+';
    case FieldKind::kCurrency: return 'Y';
    case FieldKind::kDoubleCurrency: return 'Z';
    case FieldKind::kVarLength: return 'Q';
    case FieldKind::kMemo: return 'M';
    case FieldKind::kVariant: return 'V';
    case FieldKind::kPicture: return 'P';
    case FieldKind::kBlob: return 'W';
    case FieldKind::kGeneral: return 'G';
    case FieldKind::kSystem: return '0';
  }
  return 'U';
}

std::string WorkArea::system_name() const { return driver_ ? driver_->name() : "???DRIVER"; }

ErrorAnswer WorkArea::error(RuntimeError err) {
  if (err.subsystem.empty()) err.subsystem = system_name();
  return RaiseError(std::move(err));
}

ErrorAnswer WorkArea::DriverError(int sub_code, const std::string& file, int os_code,
                                  const std::string& operation, bool can_retry,
                                  bool can_default) {
  RuntimeError e;
  e.gen_code = GeneralCodeOfDriverSubcode(sub_code);
  e.sub_code = sub_code;
  e.os_code = os_code;
  e.file_name = file;
  e.operation = operation;
  e.can_retry = can_retry;
  e.can_default = can_default;
  return error(std::move(e));
}

Status WorkArea::Unsupported(const char* op) {
  RuntimeError e;
  e.gen_code = kEgUnsupported;
  e.operation = op;
  e.can_default = true;
  error(std::move(e));
  return kFailure;
}

// Base skip: one visible record at a time.
Status WorkArea::skip(int64_t n) {
  if (n == 0) return skip_raw(0);
  int dir = n > 0 ? 1 : -1;
  // |n| in unsigned arithmetic: n may be the most negative 64-bit number.
  uint64_t count = n > 0 ? static_cast<uint64_t>(n) : 0 - static_cast<uint64_t>(n);
  for (uint64_t i = 0; i < count; ++i) {
    if (Failed(skip_raw(dir)) || Failed(skip_filter(dir))) return kFailure;
    if (bof_ || eof_) break;
  }
  if (n > 0) bof_ = false; else eof_ = false;
  return kSuccess;
}

Status WorkArea::skip_filter(int direction) {
  bool hide_deleted = GlobalSettings().deleted();
  if (!filter_ && !hide_deleted) return kSuccess;
  bool was_bottom = bottom_;
  for (;;) {
    if (bof_) break;
    if (eof_) return kSuccess;
    if (hide_deleted) {
      bool deleted = false;
      if (Failed(is_deleted(&deleted))) return kFailure;
      if (deleted) {
        if (Failed(skip_raw(direction))) return kFailure;
        continue;
      }
    }
    if (filter_) {
      Value v = filter_.eval();
      if (v.is_logical() && !v.logical()) {
        if (Failed(skip_raw(direction))) return kFailure;
        continue;
      }
    }
    return kSuccess;
  }
  // Stopped at BOF while moving backwards.
  if (direction < 0) {
    if (was_bottom) return go_to(0);
    if (Failed(go_top())) return kFailure;
    bof_ = true;
  }
  return kSuccess;
}

Status WorkArea::add_field(Field f) {
  size_t i = 0;
  while (i < f.name.size() && (f.name[i] == ' ' || f.name[i] == '\t' || f.name[i] == '\r' ||
                               f.name[i] == '\n')) {
    ++i;
  }
  std::string name = f.name.substr(i);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.size() > 10) name.resize(10);
  f.name = Upper(name);
  if (f.flags & 0x01 && f.kind == FieldKind::kSystem) ++hidden_fields_;
  fields_.push_back(std::move(f));
  return kSuccess;
}

Status WorkArea::set_field_extent(int count) {
  fields_.clear();
  hidden_fields_ = 0;
  fields_.reserve(static_cast<size_t>(std::max(count, 0)));
  return kSuccess;
}

// Kinds and widths of a structure-array row.
Status WorkArea::create_fields(const ValueArray& structure) {
  if (Failed(set_field_extent(static_cast<int>(structure.size())))) return kFailure;
  auto arg_error = [&]() {
    error(CommandErrorOf(kEgArg, 1014));
    return kFailure;
  };
  for (const Value& row : structure) {
    if (!row.is_array() || row.array().size() < 4) return arg_error();
    const ValueArray& r = row.array();
    if (!r[0].is_string() || !r[1].is_string() || !r[2].is_numeric() || !r[3].is_numeric()) {
      return arg_error();
    }
    Field f;
    f.name = r[0].str();
    char type = r[1].str().empty() ? ' '
                                   : static_cast<char>(std::toupper(static_cast<unsigned char>(r[1].str()[0])));
    int64_t len = static_cast<int64_t>(r[2].number());
    int64_t dec = static_cast<int64_t>(r[3].number());
    if (len < 0) len = 0;
    if (dec < 0) dec = 0;
    if (r.size() > 4 && r[4].is_numeric()) f.flags = static_cast<uint8_t>(r[4].number());
    f.decimals = static_cast<uint16_t>(std::min<int64_t>(dec, 255));
    f.letter = type;
    switch (type) {
      case 'C': f.kind = FieldKind::kCharacter; f.length = static_cast<uint16_t>(std::min<int64_t>(len, 65535)); f.decimals = 0; break;
      case 'L': f.kind = FieldKind::kLogical; f.length = 1; f.decimals = 0; break;
      case 'D': f.kind = FieldKind::kDate; f.length = (len == 3 || len == 4) ? len : 8; f.decimals = 0; break;
      case 'N':
      case 'F':
        if (len >= 256) return arg_error();
        f.kind = type == 'N' ? FieldKind::kNumeric : FieldKind::kFloat;
        f.length = static_cast<uint16_t>(len);
        break;
      case 'I': f.kind = FieldKind::kInteger; f.length = (len >= 1 && len <= 4) || len == 8 ? len : 4; break;
      case '2': case '4': f.kind = FieldKind::kInteger; f.length = type - '0'; f.decimals = 0; break;
      case 'B':
        if (len == 10) { f.kind = FieldKind::kBinaryMemo; f.length = 10; f.decimals = 0; }
        else { f.kind = FieldKind::kDouble; f.length = 8; }
        break;
      case '8': f.kind = FieldKind::kDouble; f.length = 8; break;
      case 'Y': f.kind = FieldKind::kCurrency; f.length = 8; f.decimals = 4; break;
      case 'Z': f.kind = FieldKind::kDoubleCurrency; f.length = 8; break;
      case 'T': f.kind = len == 4 ? FieldKind::kTime : FieldKind::kTimestamp; f.length = len == 4 ? 4 : 8; f.decimals = 0; break;
      case '@': f.kind = FieldKind::kModTime; f.length = 8; f.decimals = 0; break;
      case '=': f.kind = FieldKind::kModStamp; f.length = 8; f.decimals = 0; break;
      case '^': f.kind = FieldKind::kRowVersion; f.length = 8; f.decimals = 0; break;
      case '+': f.kind = FieldKind::kAutoInc; f.length = 4; f.decimals = 0; break;
      case 'M': f.kind = FieldKind::kMemo; f.length = len == 4 ? 4 : 10; f.decimals = 0; break;
      case 'P': f.kind = FieldKind::kPicture; f.length = len == 4 ? 4 : 10; f.decimals = 0; break;
      case 'W': f.kind = FieldKind::kBlob; f.length = len == 4 ? 4 : 10; f.decimals = 0; break;
      case 'G': f.kind = FieldKind::kGeneral; f.length = len == 4 ? 4 : 10; f.decimals = 0; break;
      case 'Q': f.kind = FieldKind::kVarLength; f.length = len == 0 ? 1 : (len >= 256 ? 255 : len); f.decimals = 0; break;
      case 'V': f.kind = FieldKind::kVariant; f.length = (len < 3 || len == 5) ? 6 : len; f.decimals = 0; break;
      case '0': f.kind = FieldKind::kSystem; f.length = static_cast<uint16_t>(len); break;
      default: return arg_error();
    }
    if (Failed(add_field(std::move(f)))) return kFailure;
  }
  return kSuccess;
}

Status WorkArea::field_info(int pos, int what, Value* out) {
  if (pos < 1 || pos > static_cast<int>(fields_.size())) {
    *out = Value();
    return kFailure;
  }
  const Field& f = fields_[pos - 1];
  switch (what) {
    case 1: *out = Value::String(f.name); break;
    case 2: *out = Value::String(std::string(1, ReportedTypeLetter(f.kind))); break;
    case 3: *out = Value::Integer(f.length); break;
    case 4: *out = Value::Integer(f.decimals); break;
    case 5: *out = Value::Integer(f.flags); break;
    default: *out = Value(); return kFailure;
  }
  return kSuccess;
}

std::string WorkArea::field_name(int pos) const {
  if (pos < 1 || pos > field_count()) return std::string();
  return fields_[pos - 1].name;
}

Status WorkArea::record_info(uint32_t recno, int code, Value* out) {
  *out = Value();
  return kSuccess;
}

Status WorkArea::close() {
  (void)clear_filter();
  (void)clear_locate();
  (void)clear_relations();
  alias_.clear();
  return kSuccess;
}

// Registers the alias: it must pass the character rule and designate no area yet.
Status WorkArea::open(const OpenInfo& info) {
  std::string alias = info.alias;
  while (!alias.empty() && alias.back() == ' ') alias.pop_back();
  alias = Upper(alias);
  if (alias.size() > 32) alias.resize(32);
  if (!IsValidAlias(alias)) {
    error(CommandErrorOf(kEgBadAlias, 1010, alias));
    return kFailure;
  }
  int other = AreaOfDesignator(alias);
  if (other != 0 && other != area_) {
    error(CommandErrorOf(kEgDupAlias, 1011, alias));
    return kFailure;
  }
  alias_ = alias;
  return kSuccess;
}

Status WorkArea::create(const OpenInfo& info) { return open(info); }

const char* CodepageSourceName(CodepageSource source) {
  switch (source) {
    case CodepageSource::kNamed: return "named";
    case CodepageSource::kCpgFile: return ".cpg file";
    case CodepageSource::kMark: return "table header";
    default: return "default";
  }
}

Status WorkArea::info(int code, const Value& new_value, Value* out) {
  switch (code) {
    case 22: *out = Value::Integer(static_cast<int64_t>(relations_.size())); break;
    case 26: *out = Value::Logical(bof_); break;
    case 27: *out = Value::Logical(eof_); break;
    case 29: *out = Value::Logical(found_); break;
    case 30: *out = Value::Integer(static_cast<int64_t>(fields_.size())); break;
    case 33: *out = Value::String(alias_); break;
    case 145:
      *out = Value::String(CodepageName(codepage_));
      if (new_value.is_string()) {
        Codepage cp;
        if (CodepageFromName(new_value.str(), &cp)) {
          codepage_ = cp;
          codepage_source_ = CodepageSource::kNamed;
        }
      }
      break;
    default: *out = Value(); break;
  }
  return kSuccess;
}

Status WorkArea::StartScope(const Scope& scope, int64_t* remaining, bool* nothing) {
  *remaining = -1;
  *nothing = false;
  if (scope.record) {
    *remaining = 1;
    return go_to_id(Value::Integer(*scope.record));
  }
  if (scope.next) {
    *nothing = *scope.next < 1;
    *remaining = *scope.next;
    return kSuccess;
  }
  return !scope.while_cond && !scope.rest ? go_top() : kSuccess;
}

Status WorkArea::eval(const std::function<void()>& block, const Scope& scope) {
  int64_t remaining = -1;
  bool nothing = false;
  if (Failed(StartScope(scope, &remaining, &nothing))) return kFailure;
  if (nothing) return kSuccess;
  while (!eof()) {
    if (scope.while_cond && !scope.while_cond.IsTrue()) break;
    if (!scope.for_cond || scope.for_cond.IsTrue()) block();
    if (remaining > 0 && --remaining == 0) break;
    if (Failed(skip(1))) return kFailure;
  }
  return kSuccess;
}

Status WorkArea::eval_block(const Condition& cond, bool* out) {
  *out = false;
  if (!cond) return kFailure;
  Value v = cond.eval();
  *out = (v.is_logical() && v.logical()) || (v.is_numeric() && v.number() != 0);
  return kSuccess;
}

// The record walk: positioning by the scope, then WHILE, FOR and one transfer_record per
// record passed, skipping forward through the area's filter and the deleted setting. Each
// record that made either area (or the crossing) lose a character is noted.
Status WorkArea::transfer(TransferInfo* info) {
  const Scope& scope = info->scope;
  int64_t remaining = -1;
  bool nothing = false;
  if (Failed(StartScope(scope, &remaining, &nothing))) return kFailure;
  if (nothing) return kSuccess;
  WorkArea* dest = info->dest;
  while (!eof()) {
    bool pass = true;
    if (scope.while_cond) {
      if (Failed(eval_block(scope.while_cond, &pass))) return kFailure;
      if (!pass) return kSuccess;
    }
    if (scope.for_cond && Failed(eval_block(scope.for_cond, &pass))) return kFailure;
    if (pass && (info->flags & kTransferSkipDeleted)) {
      bool deleted = false;
      if (Failed(is_deleted(&deleted))) return kFailure;
      pass = !deleted;
    }
    if (pass) {
      if (Failed(transfer_record(info))) return kFailure;
      const uint64_t lost = notes_.lost + dest->notes_.lost;
      if (lost != info->lost) {
        if (info->first_lost == 0) info->first_lost = record_number();
        info->lost = lost;
      }
      if ((++info->copied & 0xFFFF) == 0 && info->progress) info->progress(info->copied);
    }
    if (remaining > 0 && --remaining == 0) return kSuccess;
    if (Failed(skip(1))) return kFailure;
  }
  return kSuccess;
}

Status WorkArea::AppendTransferRow(TransferInfo* info) {
  if (Failed(info->dest->append(true))) return kFailure;
  if (!(info->flags & kTransferRowNumbers)) return kSuccess;
  Value ignored;
  return info->dest->info(kDbiRowNumber, Value::Integer(record_number()), &ignored);
}

namespace {

// Text whose bytes are data, not characters: binary memo kinds and fields marked binary.
bool HoldsBytes(const Field& f) {
  return f.kind == FieldKind::kBinaryMemo || f.kind == FieldKind::kPicture ||
         f.kind == FieldKind::kBlob || f.kind == FieldKind::kGeneral || (f.flags & 0x04);
}

}  // namespace

void WorkArea::CrossCodepages(const TransferInfo& info, int pos, Value* v) {
  if (info.source_cp == info.dest_cp || !v->is_string() || pos < 1 ||
      pos > static_cast<int>(fields_.size()) || HoldsBytes(fields_[pos - 1]) ||
      AsciiRun(v->str()) == v->str().size()) {
    return;
  }
  std::string text = v->str();
  notes_.lost += TranslateBytes(&text, info.source_cp, info.dest_cp);
  *v = Value::String(std::move(text), v->is_memo());
}

Status WorkArea::StoreTransferValue(TransferInfo* info, const TransferItem& item, Value* v,
                                    bool blank) {
  WorkArea* dest = info->dest;
  if (blank) return kSuccess;  // the new record's field is blank already
  // A null lands as null in a nullable field; another field stays blank.
  if (v->is_nil() && (item.dest < 1 || item.dest > dest->fields_.size() ||
                      dest->fields_[item.dest - 1].null_bit < 0)) {
    return kSuccess;
  }
  CrossCodepages(*info, item.source, v);
  return dest->put_value(item.dest, *v);
}

Status WorkArea::StoreFailed(TransferInfo* info) {
  ++info->failed;
  if (info->first_failed == 0) info->first_failed = record_number();
  return info->dest->delete_record();
}

Status WorkArea::TransferCheckedRecord(TransferInfo* info) {
  bool deleted = false;
  if (Failed(is_deleted(&deleted))) return kFailure;
  const size_t n = info->items.size();
  transfer_values_.resize(n);
  transfer_blank_.assign(n, 0);
  for (size_t k = 0; k < n; ++k) {
    bool blank = false;
    if (Failed(field_is_blank(info->items[k].source, &blank))) return kFailure;
    transfer_blank_[k] = blank;
    if (!blank && Failed(get_value(info->items[k].source, &transfer_values_[k]))) {
      return kFailure;
    }
  }
  WorkArea* dest = info->dest;
  if (Failed(AppendTransferRow(info))) return kFailure;
  // A record whose store failed is marked deleted, also when the error's handler abandons
  // the command.
  try {
    for (size_t k = 0; k < n; ++k) {
      if (Failed(StoreTransferValue(info, info->items[k], &transfer_values_[k],
                                    transfer_blank_[k]))) {
        (void)StoreFailed(info);
        return kFailure;
      }
    }
  } catch (...) {
    try {
      (void)StoreFailed(info);
    } catch (...) {
    }
    throw;
  }
  return deleted ? dest->delete_record() : kSuccess;
}

Status WorkArea::DecideWholeRecords(TransferInfo* info, bool eligible) {
  info->flags &= static_cast<uint16_t>(~kTransferPutRec);
  if (!(info->flags & kTransferMatch) || !eligible || info->source_cp != info->dest_cp) {
    return kSuccess;
  }
  bool putrec = info->dest->driver() == driver_;
  if (!putrec) {
    Value answer;
    if (Failed(info->dest->info(kDbiCanPutRec, Value(), &answer))) return kFailure;
    putrec = answer.is_logical() && answer.logical();
  }
  if (putrec) info->flags |= kTransferPutRec;
  return kSuccess;
}

Status WorkArea::transfer_record(TransferInfo* info) {
  WorkArea* dest = info->dest;
  bool deleted = false;
  if (Failed(is_deleted(&deleted))) return kFailure;
  const bool whole = (info->flags & (kTransferMatch | kTransferPutRec)) ==
                     (kTransferMatch | kTransferPutRec);
  Status s = kSuccess;
  if (whole) {
    std::string& record = transfer_buffer_;
    if (Failed(get_record(&record))) return kFailure;
    if (Failed(AppendTransferRow(info))) return kFailure;
    try {
      s = dest->put_record(&record);
    } catch (...) {
      try {
        (void)StoreFailed(info);
      } catch (...) {
      }
      throw;
    }
  } else {
    if (Failed(AppendTransferRow(info))) return kFailure;
    // A record whose store failed is marked deleted, also when the error's handler abandons
    // the command.
    try {
      Value v;
      for (const TransferItem& item : info->items) {
        bool blank = false;
        if (Failed(field_is_blank(item.source, &blank))) {
          s = kFailure;
          break;
        }
        if (!blank && Failed(get_value(item.source, &v))) {
          s = kFailure;
          break;
        }
        if (Failed(StoreTransferValue(info, item, &v, blank))) {
          s = kFailure;
          break;
        }
      }
    } catch (...) {
      try {
        (void)StoreFailed(info);
      } catch (...) {
      }
      throw;
    }
  }
  if (Failed(s)) {
    (void)StoreFailed(info);
    return kFailure;
  }
  return deleted ? dest->delete_record() : kSuccess;
}

Status WorkArea::clear_filter() {
  filter_ = Condition();
  return kSuccess;
}

Status WorkArea::set_filter(const Condition& cond) {
  (void)clear_filter();
  filter_ = cond;
  return kSuccess;
}

Status WorkArea::clear_locate() {
  locate_ = Scope();
  return kSuccess;
}

Status WorkArea::set_locate(const Scope& scope) {
  locate_ = scope;
  return kSuccess;
}

Status WorkArea::locate(bool continue_search) {
  const Scope& s = locate_;
  int64_t remaining = -1;
  if (continue_search) {
    if (!s.for_cond) return kSuccess;
    if (Failed(skip(1))) return kFailure;
  } else if (s.record) {
    if (Failed(go_to_id(Value::Integer(*s.record)))) return kFailure;
  } else if (s.next || s.while_cond || s.rest) {
    remaining = s.next ? *s.next : -1;
  } else if (Failed(go_top())) {
    return kFailure;
  }
  found_ = false;
  while (!eof()) {
    if (!continue_search && s.while_cond && !s.while_cond.IsTrue()) break;
    if (!s.for_cond || s.for_cond.IsTrue()) {
      found_ = true;
      break;
    }
    bool go_on = continue_search || (!s.record && (remaining < 0 || --remaining > 0));
    if (!go_on) break;
    if (Failed(skip(1))) return kFailure;
  }
  return kSuccess;
}

Status WorkArea::compile(const std::string& text, Condition* out) {
  const ConditionCompiler& c = GetConditionCompiler();
  if (!c || !c(text, out)) return kFailure;
  scratch_ = Value();
  return kSuccess;
}

Status WorkArea::child_start(WorkArea* parent, const Relation& rel) {
  ++parent_count_;
  return kSuccess;
}

Status WorkArea::child_end(WorkArea* parent, const Relation& rel) {
  if (parent_count_ > 0) --parent_count_;
  return kSuccess;
}

Status WorkArea::sync_children() {
  for (const Relation& r : relations_) {
    if (WorkArea* child = AreaAt(r.child_area)) {
      if (Failed(child->child_sync(this, r))) return kFailure;
    }
  }
  return kSuccess;
}

Status WorkArea::clear_relations() {
  for (const Relation& r : relations_) {
    if (WorkArea* child = AreaAt(r.child_area)) (void)child->child_end(this, r);
  }
  relations_.clear();
  return kSuccess;
}

void WorkArea::DropRelationsInto(int child_area) {
  std::vector<Relation> kept;
  for (Relation& r : relations_) {
    if (r.child_area != child_area) {
      kept.push_back(std::move(r));
    } else if (WorkArea* child = AreaAt(r.child_area)) {
      (void)child->child_end(this, r);
    }
  }
  relations_ = std::move(kept);
}

int WorkArea::relation_area(int n) const {
  if (n < 1 || n > static_cast<int>(relations_.size())) return 0;
  return relations_[n - 1].child_area;
}

std::string WorkArea::relation_text(int n) const {
  if (n < 1 || n > static_cast<int>(relations_.size())) return std::string();
  return relations_[n - 1].key.text;
}

Status WorkArea::relation_eval(const Relation& rel) {
  WorkArea* child = AreaAt(rel.child_area);
  if (!child) return kFailure;
  Value key = rel.key ? rel.key.eval() : Value();  // evaluated in this area (see Condition)
  OrderInfoRequest focus;
  focus.code = kOiNumber;
  if (Failed(child->order_info(&focus))) return kFailure;
  if (focus.result.is_numeric() && focus.result.number() > 0) {
    if (rel.scoped) {
      for (int code : {kOiScopeTop, kOiScopeBottom}) {
        OrderInfoRequest scope;
        scope.code = code;
        scope.new_value = key;
        if (Failed(child->order_info(&scope))) return kFailure;
      }
    }
    return child->seek(key, false, false);
  }
  return child->go_to_id(key.is_numeric() ? key : Value::Integer(0));
}

Status WorkArea::set_relation(const Relation& rel) {
  relations_.push_back(rel);
  if (WorkArea* child = AreaAt(rel.child_area)) return child->child_start(this, rel);
  return kSuccess;
}

Status WorkArea::order_info(OrderInfoRequest* req) {
  switch (req->code) {
    case kOiNumber:
    case kOiCount:
    case kOiPosition:
    case kOiKeyCount:
      req->result = Value::Integer(0);
      break;
    case kOiCondition:
    case kOiExpression:
    case kOiName:
    case kOiBagName:
    case kOiBagExt:
      req->result = Value::String("");
      break;
    case kOiIsDesc:
    case kOiUnique:
    case kOiCustom:
      req->result = Value::Logical(false);
      break;
    default:
      req->result = Value();
      break;
  }
  return kSuccess;
}

}  // namespace vosk
