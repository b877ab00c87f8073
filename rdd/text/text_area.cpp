#include "rdd/text/text_area.h"

#include <algorithm>
#include <cstring>

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/driver_registry.h"

namespace vosk {
namespace {

constexpr size_t kReadBufferSize = 64 * 1024;
constexpr size_t kWriteBufferSize = 256 * 1024;

// The name with the driver's extension when it has none and the default-extension setting
// is on.
std::string WithDefaultExtension(const std::string& name, const std::string& ext) {
  std::string n = NormalizeSeparators(name);
  size_t slash = n.find_last_of('/');
  size_t dot = n.rfind('.');
  bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (!has_ext && GlobalSettings().defextensions()) n += ext;
  return n;
}

// The open info with the file's base name as alias when none was given.
OpenInfo WithAlias(const OpenInfo& info, const std::string& file_name) {
  OpenInfo named = info;
  if (named.alias.empty()) {
    size_t sep = file_name.find_last_of("/:");
    std::string base = sep == std::string::npos ? file_name : file_name.substr(sep + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    named.alias = base;
  }
  return named;
}

}  // namespace

TextArea::~TextArea() {
  if (file_.is_open()) {
    try {
      (void)close();
    } catch (...) {
      // A destructor reports nothing; close() already raised its error.
    }
  }
}

Status TextArea::create(const OpenInfo& info) {
  shared_ = false;
  read_only_ = false;
  // "-" is the standard output, written as a stream.
  streaming_ = info.file == "-";
  file_name_ = streaming_ ? info.file : WithDefaultExtension(info.file, driver_->settings().table_ext);
  for (;;) {
    int os = streaming_ ? file_.OpenStandardOutput() : file_.Create(file_name_, Share::kExclusive);
    if (os == 0) break;
    if (!DriverError(kEdfCreate, file_name_, os, "", true, true).retry()) return kFailure;
  }
  Codepage cp = kProgramCodepage;
  if (!info.codepage.empty()) (void)CodepageFromName(info.codepage, &cp);
  codepage_ = cp;
  file_cp_ = cp;
  if (Failed(WorkArea::open(WithAlias(info, file_name_))) || Failed(Prepare())) {
    (void)close();
    return kFailure;
  }
  recno_ = 1;
  eof_ = true;
  positioned_ = false;
  BlankRecord();
  return kSuccess;
}

Status TextArea::open(const OpenInfo& info) {
  shared_ = true;
  read_only_ = true;
  Codepage cp = kProgramCodepage;
  if (!info.codepage.empty()) (void)CodepageFromName(info.codepage, &cp);
  codepage_ = cp;
  file_cp_ = cp;
  // "-" is the standard input, read as a stream.
  streaming_ = info.file == "-";
  file_name_ = streaming_ ? info.file : WithDefaultExtension(info.file, driver_->settings().table_ext);
  for (;;) {
    int os = streaming_ ? file_.OpenStandardInput()
                        : file_.Open(ResolveCase(file_name_), Access::kRead, Share::kDenyNone);
    if (os == 0) break;
    if (!DriverError(kEdfOpen, file_name_, os, "", true, true).retry()) return kFailure;
  }
  in_.assign(kReadBufferSize, 0);
  in_pos_ = in_len_ = 0;
  in_offset_ = 0;
  if (Failed(WorkArea::open(WithAlias(info, file_name_))) || Failed(Prepare())) {
    (void)close();
    return kFailure;
  }
  return go_top();
}

Status TextArea::close() {
  Status s = kSuccess;
  if (file_.is_open()) {
    s = go_cold();
    if (Ok(s) && !read_only_ && EndByte() >= 0 && GlobalSettings().eof()) {
      out_.push_back(static_cast<char>(EndByte()));
      flush_pending_ = true;
    }
    if (Ok(s)) s = flush();
    file_.Close();
  }
  out_.clear();
  in_.clear();
  Status base = WorkArea::close();
  return Ok(s) ? base : s;
}

Status TextArea::WriteOut() {
  if (out_.empty()) return kSuccess;
  int64_t n = streaming_ ? file_.Write(out_.data(), out_.size())
                         : file_.WriteAt(out_.data(), out_.size(), out_offset_);
  if (n != static_cast<int64_t>(out_.size())) {
    int os = file_.last_error();
    out_.clear();
    DriverError(kEdfWrite, file_name_, os);
    return kFailure;
  }
  out_offset_ += out_.size();
  out_.clear();
  return kSuccess;
}

Status TextArea::WriteNow(const std::string& text) {
  out_ += text;
  return WriteOut();
}

Status TextArea::go_cold() {
  if (!changed_) return kSuccess;
  changed_ = false;
  FormatRecord(&out_);
  flush_pending_ = true;
  return out_.size() >= kWriteBufferSize ? WriteOut() : kSuccess;
}

Status TextArea::go_hot() {
  if (read_only_) {
    DriverError(kEdfReadonly, file_name_);
    return kFailure;
  }
  changed_ = true;
  return kSuccess;
}

Status TextArea::flush() {
  if (Failed(go_cold()) || Failed(WriteOut())) return kFailure;
  if (flush_pending_ && GlobalSettings().hardcommit() && !streaming_) (void)file_.Commit();
  flush_pending_ = false;
  return kSuccess;
}

Status TextArea::append(bool release_locks) {
  if (Failed(go_cold()) || Failed(go_hot())) return kFailure;
  ++rec_count_;
  recno_ = rec_count_;
  eof_ = false;
  positioned_ = true;
  BlankRecord();
  return kSuccess;
}

Status TextArea::record_count(uint32_t* out) {
  *out = static_cast<uint32_t>(std::min<uint64_t>(rec_count_, 0xFFFFFFFFu));
  return kSuccess;
}

int TextArea::Refill() {
  if (in_.empty()) return -1;
  int64_t n = streaming_ ? file_.Read(in_.data(), in_.size())
                         : file_.ReadAt(in_.data(), in_.size(), in_offset_);
  if (n <= 0) {
    in_pos_ = in_len_ = 0;
    return -1;
  }
  in_offset_ += static_cast<uint64_t>(n);
  in_len_ = static_cast<size_t>(n);
  in_pos_ = 1;
  return static_cast<unsigned char>(in_[0]);
}

size_t TextArea::TakeRun(const char* stops, size_t nstops, std::string* out, size_t max) {
  size_t start = in_pos_;
  size_t end = in_len_;
  for (size_t i = 0; i < nstops; ++i) {
    const void* hit = std::memchr(in_.data() + start, stops[i], end - start);
    if (hit) end = static_cast<size_t>(static_cast<const char*>(hit) - in_.data());
  }
  size_t n = end - start;
  size_t room = out->size() < max ? max - out->size() : 0;
  out->append(in_.data() + start, std::min(n, room));
  in_pos_ = end;
  return n;
}

Status TextArea::go_top() {
  if (Failed(go_cold())) return kFailure;
  if (recno_ != 1) {
    if (recno_ != 0 || !read_only_) return Unsupported("go_top");
    recno_ = 0;
    if (Failed(NextRecord())) return kFailure;
    bof_ = false;
  }
  return skip_filter(1);
}

Status TextArea::skip_raw(int64_t n) {
  if (n != 1 || !positioned_) return Unsupported("skip_raw");
  if (Failed(go_cold())) return kFailure;
  return NextRecord();
}

Status TextArea::NextRecord() {
  ++recno_;
  bool got = false;
  if (Failed(ReadRecord(&got))) return kFailure;
  eof_ = !got;
  positioned_ = got;
  return kSuccess;
}

Status TextArea::go_to(uint32_t recno) {
  if (!read_only_ || recno < recno_) return Unsupported("go_to");
  if (recno_ == 0 && Failed(NextRecord())) return kFailure;
  while (recno_ < recno && positioned_) {
    if (Failed(NextRecord())) return kFailure;
  }
  return kSuccess;
}

Status TextArea::go_to_id(const Value& id) {
  if (!id.is_numeric()) return Unsupported("go_to_id");
  double n = id.number();
  if (n < 0 || n > 0xFFFFFFFFu) return Unsupported("go_to_id");
  return go_to(static_cast<uint32_t>(n));
}

Status TextArea::info(int code, const Value& new_value, Value* out) {
  switch (code) {
    case kDbiSetDelimiter: *out = Value(); return kSuccess;
    case 10: *out = Value::String(file_name_); return kSuccess;
    case 23: *out = Value::Integer(file_.fd()); return kSuccess;
    case 36: *out = Value::Logical(shared_); return kSuccess;
    case 129: *out = Value::Logical(read_only_); return kSuccess;
    case 144: *out = Value::Logical(positioned_); return kSuccess;
    case 101: case 102: {
      char buf[64];
      if (new_value.is_numeric() && new_value.number() == 1) {
        std::snprintf(buf, sizeof buf, "%d.%d (%s)", 0, 1, system_name().c_str());
      } else if (new_value.is_numeric() && new_value.number() == 2) {
        std::snprintf(buf, sizeof buf, "%d.%d (%s:%d)", 0, 1, system_name().c_str(),
                      driver_->index());
      } else {
        std::snprintf(buf, sizeof buf, "%d.%d", 0, 1);
      }
      *out = Value::String(buf);
      return kSuccess;
    }
    case kDbiTextLine: *out = Value::Integer(static_cast<int64_t>(line_)); return kSuccess;
    case kDbiFileCodepage: {
      *out = Value::String(CodepageName(file_cp_));
      Codepage cp;
      if (new_value.is_string() && CodepageFromName(new_value.str(), &cp)) file_cp_ = cp;
      return kSuccess;
    }
    case kDbiBlankBadValues:
      *out = Value::Logical(blank_bad_);
      if (new_value.is_logical()) blank_bad_ = new_value.logical();
      return kSuccess;
    default: return WorkArea::info(code, new_value, out);
  }
}

void TextArea::NoteBadValue(int pos, std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  const size_t last = text.find_last_not_of(' ');
  text = first == std::string_view::npos ? std::string_view() : text.substr(first, last - first + 1);
  std::string shown = ToUtf8(text.substr(0, 40), file_cp_);
  notes_.Bad({line_, field_name(pos), shown});
}

Status TextArea::ValueError(int sub_code, int pos) {
  ErrorAnswer a = DriverError(sub_code, "", 0, field_name(pos), false, true);
  return a.kind == ErrorAnswer::Kind::kDefault ? kSuccess : kFailure;
}

}  // namespace vosk
