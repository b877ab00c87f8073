// Pack and zap of the DBF driver: the table is rewritten into new files beside the old ones and
// swapped in through a TableRewrite, never rewritten in place.

#include <algorithm>
#include <cstring>

#include "platform/owned_file.h"
#include "rdd/byte_order.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/table_rewrite.h"

namespace vosk {
namespace {

constexpr size_t kRewriteStep = 1 << 20;  // bytes gathered before each write of the new table

bool AllOf(const uint8_t* p, size_t n, const char* allowed) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] == 0 || !std::strchr(allowed, p[i])) return false;
  }
  return true;
}

}  // namespace

bool DbfArea::RecordLooksClear(const uint8_t* rec, bool* tested) const {
  *tested = false;
  for (const Field& f : fields_) {
    const uint8_t* p = rec + f.offset;
    switch (f.kind) {
      case FieldKind::kNumeric:
      case FieldKind::kFloat:
        *tested = true;
        if (!AllOf(p, f.length, " 0123456789.-+*eE")) return false;
        break;
      case FieldKind::kDate:
        if (f.length != 8) break;
        *tested = true;
        if (!AllOf(p, 8, "0123456789") && !AllOf(p, 8, " ")) return false;
        break;
      case FieldKind::kLogical:
        *tested = true;
        if (!AllOf(p, 1, "TtFfYyNn? ")) return false;
        break;
      default:
        break;
    }
  }
  return true;
}

void DbfArea::StampKeyCheck(const std::optional<CipherKey>& key, uint8_t* head) {
  const uint32_t check = key ? KeyCheckValue(*key) : 0;
  PutLe32(head + kHdrKeyCheck, check);
  PutLe32(head + kHdrKeyCheck + 4, key ? ~check : 0);
}

bool DbfArea::KeyFitsTable() {
  const uint32_t check = GetLe32(header_.data() + kHdrKeyCheck);
  if (check != 0 && GetLe32(header_.data() + kHdrKeyCheck + 4) == ~check) {
    return check == KeyCheckValue(*key_);
  }
  // No check value (a table enciphered elsewhere): a right key may meet a record of odd bytes
  // that another program wrote, never a run of them.
  constexpr uint32_t kProbe = 16;
  std::vector<uint8_t> rec(record_len_);
  bool any_tested = false;
  for (uint32_t j = 1; j <= std::min(kProbe, rec_count_); ++j) {
    const uint64_t at = header_len_ + static_cast<uint64_t>(j - 1) * record_len_;
    if (data_.ReadAt(rec.data(), rec.size(), at) != static_cast<int64_t>(rec.size())) break;
    if (rec[0] != kRecCipherLive && rec[0] != kRecCipherDeleted) continue;
    DecipherBytes(*key_, rec.data() + 1, rec.size() - 1u);
    bool tested = false;
    if (RecordLooksClear(rec.data(), &tested)) return true;
    any_tested |= tested;
  }
  return !any_tested;
}

Status DbfArea::BuildRewrittenTable(File* out, bool zap, PackProgress* progress,
                                    std::array<uint8_t, kDbfHeaderSize>* head, uint32_t* count,
                                    const CipherChange* cipher) {
  if (cipher) zap = false;
  *count = 0;
  auto write_error = [&]() {
    DriverError(kEdfWrite, file_name_, out->last_error());
    return kFailure;
  };
  // Header and descriptors as they are on disk; zap sets every autoincrement counter to 0.
  std::vector<uint8_t> buf(header_len_);
  int64_t n = data_.ReadAt(buf.data(), buf.size(), 0);
  if (n != static_cast<int64_t>(buf.size())) {
    DriverError(n < 0 ? kEdfRead : kEdfCorrupt, file_name_, n < 0 ? data_.last_error() : 0);
    return kFailure;
  }
  if (zap) {
    for (const Field& f : fields_) {
      if (f.kind != FieldKind::kAutoInc && !(f.flags & kFfAutoInc)) continue;
      size_t off = kDbfHeaderSize + static_cast<size_t>(f.desc_index) * kDbfFieldSize + kFldCounter;
      if (off + 4 <= buf.size()) PutLe32(buf.data() + off, 0);
    }
  }
  uint64_t written = 0;
  std::vector<uint8_t> scratch;
  const uint32_t old_count = zap ? 0 : rec_count_;
  for (uint32_t j = 1; j <= old_count; ++j) {
    if (cipher) key_ = cipher->from;
    if (Failed(go_to(j)) || Failed(ReadRecord())) return kFailure;
    bool keep = true;
    if (cipher) {
      key_ = cipher->to;
      record_enciphered_ = cipher->encipher;
    } else if (Failed(pack_record(j, &keep))) {
      return kFailure;
    }
    hot_ = false;  // what pack_record changed goes to the new file only
    if (progress) progress->Tick();
    CrashPoint("rewrite-record");
    if (!keep) continue;
    ++*count;
    const uint8_t* image = StoredImage(&scratch);
    buf.insert(buf.end(), image, image + record_len_);
    if (buf.size() >= kRewriteStep) {
      if (out->WriteAt(buf.data(), buf.size(), written) != static_cast<int64_t>(buf.size())) {
        return write_error();
      }
      written += buf.size();
      buf.clear();
    }
  }
  if (progress) progress->Finish();
  buf.push_back(kDbfEofByte);
  if (out->WriteAt(buf.data(), buf.size(), written) != static_cast<int64_t>(buf.size())) {
    return write_error();
  }
  if (cipher) {
    // The version byte tells whether the table is enciphered: stamped for the new table only.
    const bool was = table_enciphered_;
    table_enciphered_ = cipher->encipher;
    StampHeader(*count, head->data());
    StampKeyCheck(cipher->to, head->data());
    table_enciphered_ = was;
  } else {
    StampHeader(*count, head->data());
  }
  if (out->WriteAt(head->data(), kDbfHeaderSize, 0) != kDbfHeaderSize) return write_error();
  return kSuccess;
}

Status DbfArea::RewriteTable(bool zap, PackProgress* progress) {
  std::vector<std::string> finals = {data_.path()};
  std::string memo = RewriteMemoName();
  if (!memo.empty()) finals.push_back(memo);
  TableRewrite rw(std::move(finals));
  std::string failed;
  if (int rc = rw.Begin(&failed)) {
    DriverError(kEdfCreate, failed, rc);
    return kFailure;
  }
  DropReadAhead();
  if (!memo.empty() && Failed(BuildRewrittenMemo(&rw.file(1), zap, &progress))) return kFailure;
  std::array<uint8_t, kDbfHeaderSize> head{};
  uint32_t count = 0;
  if (Failed(BuildRewrittenTable(&rw.file(0), zap, progress, &head, &count))) return kFailure;
  valid_ = false;
  if (Failed(SwapInRewrite(&rw, head, count))) return kFailure;
  return go_to(zap ? 0 : 1);
}

Status DbfArea::SwapInRewrite(TableRewrite* rw, const std::array<uint8_t, kDbfHeaderSize>& head,
                              uint32_t count) {
  CrashPoint("rewrite-built");
  std::string failed;
  if (int rc = rw->Commit(&failed)) {
    DriverError(kEdfWrite, failed, rc);
    if (!rw->committed()) return kFailure;
    // The journal is durable: the next open finishes the swap. This area goes on with the
    // files it has open, which are no longer the table's.
  }
  record_map_.Unmap();
  data_ = std::move(rw->file(0));
  if (rw->size() > 1) AdoptRewrittenMemo(&rw->file(1));
  header_ = head;
  rec_count_ = count;
  header_dirty_ = false;
  data_flush_pending_ = false;
  DropReadAhead();
  pending_.clear();
  valid_ = hot_ = appended_ = false;
  return kSuccess;
}

Status DbfArea::RecipherTable(const CipherChange& change) {
  TableRewrite rw({data_.path()});
  std::string failed;
  if (int rc = rw.Begin(&failed)) {
    DriverError(kEdfCreate, failed, rc);
    return kFailure;
  }
  DropReadAhead();
  // Whatever happens below, this area reads with the key it had until the swap is done.
  const std::optional<CipherKey> kept = key_;
  std::array<uint8_t, kDbfHeaderSize> head{};
  uint32_t count = 0;
  const Status built = BuildRewrittenTable(&rw.file(0), false, nullptr, &head, &count, &change);
  key_ = kept;
  valid_ = false;
  if (Failed(built) || Failed(SwapInRewrite(&rw, head, count))) return kFailure;
  if (key_) key_->fill(0);
  key_ = change.to;
  key_checked_ = true;
  table_enciphered_ = change.encipher;
  return go_top();
}

}  // namespace vosk
