// Pack and zap of the DBF driver: the table is rewritten into new files beside the old ones and
// swapped in through a TableRewrite, never rewritten in place.

#include <cstring>

#include "platform/owned_file.h"
#include "rdd/byte_order.h"
#include "rdd/dbf1/dbf_area.h"
#include "rdd/table_rewrite.h"

namespace vosk {
namespace {

constexpr size_t kRewriteStep = 1 << 20;  // bytes gathered before each write of the new table

}  // namespace

Status DbfArea::BuildRewrittenTable(File* out, bool zap, PackProgress* progress,
                                    std::array<uint8_t, kDbfHeaderSize>* head, uint32_t* count) {
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
    if (Failed(go_to(j)) || Failed(ReadRecord())) return kFailure;
    bool keep = false;
    if (Failed(pack_record(j, &keep))) return kFailure;
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
  StampHeader(*count, head->data());
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
  CrashPoint("rewrite-built");
  if (int rc = rw.Commit(&failed)) {
    DriverError(kEdfWrite, failed, rc);
    if (!rw.committed()) return kFailure;
    // The journal is durable: the next open finishes the swap. This area goes on with the
    // files it has open, which are no longer the table's.
  }
  data_ = std::move(rw.file(0));
  if (!memo.empty()) AdoptRewrittenMemo(&rw.file(1));
  header_ = head;
  rec_count_ = count;
  header_dirty_ = false;
  data_flush_pending_ = false;
  DropReadAhead();
  pending_.clear();
  valid_ = hot_ = appended_ = false;
  return go_to(zap ? 0 : 1);
}

}  // namespace vosk
