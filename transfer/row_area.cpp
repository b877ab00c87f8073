#include "transfer/row_area.h"

#include <algorithm>
#include <cctype>

#include "expr/runtime_error.h"

namespace vosk {

std::string RowArea::BaseNameOf(const std::string& file) {
  size_t slash = file.find_last_of("/\\");
  std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

void RowArea::TakeCodepage(const OpenInfo& info) {
  Codepage cp = kProgramCodepage;
  if (!info.codepage.empty()) (void)CodepageFromName(info.codepage, &cp);
  codepage_ = cp;
}

Status RowArea::delete_record() {
  if (!read_only_ && positioned_) row_deleted_ = true;
  return kSuccess;
}

Status RowArea::append(bool release_locks) {
  if (Failed(go_cold()) || Failed(go_hot())) return kFailure;
  values_.assign(fields_.size(), Value());
  row_deleted_ = false;
  ++rec_count_;
  recno_ = rec_count_;
  eof_ = false;
  positioned_ = true;
  return kSuccess;
}

Status RowArea::go_cold() {
  if (!changed_) return kSuccess;
  changed_ = false;
  return WriteRow();
}

Status RowArea::go_hot() {
  if (read_only_) {
    DriverError(kEdfReadonly);
    return kFailure;
  }
  changed_ = true;
  return kSuccess;
}

Status RowArea::put_value(int pos, const Value& value) {
  if (pos < 1 || pos > static_cast<int>(values_.size())) return kFailure;
  if (!positioned_) return kSuccess;
  if (!changed_) return kFailure;
  values_[static_cast<size_t>(pos - 1)] = value;
  return kSuccess;
}

Status RowArea::record_count(uint32_t* out) {
  *out = static_cast<uint32_t>(std::min<uint64_t>(rec_count_, 0xFFFFFFFFu));
  return kSuccess;
}

Status RowArea::get_value(int pos, Value* out) {
  if (pos < 1 || pos > static_cast<int>(values_.size())) return kFailure;
  *out = positioned_ ? values_[static_cast<size_t>(pos - 1)] : Value();
  return kSuccess;
}

Status RowArea::field_is_blank(int pos, bool* out) {
  *out = pos < 1 || pos > static_cast<int>(values_.size()) || !positioned_ ||
         values_[static_cast<size_t>(pos - 1)].is_nil();
  return kSuccess;
}

// Reading starts at the first row once; standing on it, going to the top stays there.
Status RowArea::go_top() {
  if (recno_ != 1) {
    if (recno_ != 0 || !read_only_) return Unsupported("go_top");
    recno_ = 1;
    bool got = false;
    if (Failed(ReadRow(&got))) return kFailure;
    eof_ = !got;
    positioned_ = got;
    bof_ = false;
  }
  return skip_filter(1);
}

Status RowArea::skip_raw(int64_t n) {
  if (n != 1 || !positioned_) return Unsupported("skip_raw");
  ++recno_;
  bool got = false;
  if (Failed(ReadRow(&got))) return kFailure;
  eof_ = !got;
  positioned_ = got;
  return kSuccess;
}

Status RowArea::go_to(uint32_t recno) {
  if (!read_only_ || recno < recno_) return Unsupported("go_to");
  if (recno_ == 0 && Failed(go_top())) return kFailure;
  while (recno_ < recno && positioned_) {
    if (Failed(skip_raw(1))) return kFailure;
  }
  return kSuccess;
}

Status RowArea::go_to_id(const Value& id) {
  if (!id.is_numeric() || id.number() < 0 || id.number() > 0xFFFFFFFFu) {
    return Unsupported("go_to_id");
  }
  return go_to(static_cast<uint32_t>(id.number()));
}

Status RowArea::info(int code, const Value& new_value, Value* out) {
  switch (code) {
    case kDbiCanPutRec: *out = Value::Logical(false); return kSuccess;
    case kDbiSetDelimiter: *out = Value(); return kSuccess;
    case kDbiTextColumns:
      *out = Value::Integer(deleted_column_ ? kTextColumnDeleted : 0);
      if (new_value.is_numeric() && (static_cast<int>(new_value.number()) & kTextColumnDeleted) &&
          !read_only_ && !deleted_column_ && rec_count_ == 0) {
        if (Failed(AddDeletedColumn())) return kFailure;
        deleted_column_ = true;
      }
      return kSuccess;
    case 129: *out = Value::Logical(read_only_); return kSuccess;
    case 144: *out = Value::Logical(positioned_); return kSuccess;
    default: return WorkArea::info(code, new_value, out);
  }
}

}  // namespace vosk
