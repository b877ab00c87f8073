#include "rdd/dbffpt/memo_file.h"

#include <algorithm>
#include <cstring>

#include "rdd/byte_order.h"

namespace vosk {
namespace {

constexpr size_t kFirstRead = 4096;     // one read usually brings header and data
constexpr size_t kCopyStep = 64 * 1024;
// A header may claim a next free block a little past the end of the file (a last block
// written short); anything further is not believed.
constexpr uint64_t kNextFreeSlack = 16;

MemoError Corrupt() { return {kEdfCorrupt, 0}; }

}  // namespace

void MemoFile::Configure(MemoKind kind, MemoVariant variant, uint32_t block_size) {
  kind_ = kind;
  variant_ = kind == MemoKind::kDbt ? MemoVariant::kPlain
             : kind == MemoKind::kSmt ? MemoVariant::kSix : variant;
  block_size_ = kind == MemoKind::kDbt ? kDbtBlockSize : block_size;
  loaded_ = false;
}

bool MemoFile::six_list() const {
  return kind_ == MemoKind::kSmt || (kind_ == MemoKind::kFpt && variant_ == MemoVariant::kSix);
}

bool MemoFile::flex_list() const {
  return kind_ == MemoKind::kFpt &&
         (variant_ == MemoVariant::kFlex || variant_ == MemoVariant::kClip);
}

int MemoFile::header_size() const { return flex_list() ? kFlexHeaderSize : kMemoHeaderSize; }

uint32_t MemoFile::first_block() const {
  return static_cast<uint32_t>((header_size() + block_size_ - 1) / block_size_);
}

uint32_t MemoFile::GetWord(const uint8_t* p) const {
  return kind_ == MemoKind::kFpt ? GetBe32(p) : GetLe32(p);
}

void MemoFile::PutWord(uint8_t* p, uint32_t v) const {
  if (kind_ == MemoKind::kFpt) PutBe32(p, v);
  else PutLe32(p, v);
}

uint64_t MemoFile::BlocksFor(uint64_t length) const {
  switch (kind_) {
    case MemoKind::kDbt:
      // The text and both terminator bytes lie inside the value's own blocks.
      return dbase4_blocks_ ? (length + kDbt4BlockHeader + block_size_ - 1) / block_size_
                            : (length + 2 + block_size_ - 1) / block_size_;
    case MemoKind::kSmt: return (length + block_size_ - 1) / block_size_;
    default: return (length + kFptBlockHeader + block_size_ - 1) / block_size_;
  }
}

bool MemoFile::InData(uint32_t block, uint64_t blocks) const {
  return block >= first_block() && blocks > 0 && block + blocks <= free_.next_free();
}

MemoError MemoFile::ReadAtChecked(void* buf, size_t len, uint64_t offset) {
  int64_t n = file_.ReadAt(buf, len, offset);
  if (n < 0) return {kEdfRead, file_.last_error()};
  if (static_cast<size_t>(n) != len) return Corrupt();  // the value runs past the end
  return MemoError::Ok();
}

// --- header ---

MemoError MemoFile::Initialise(bool blob) {
  std::vector<uint8_t> h(static_cast<size_t>(header_size()), 0);
  uint32_t next = first_block();
  PutWord(h.data() + kMhNextFree, next);
  // dBase IV keeps its block size at bytes 20-21 and leaves bytes 4-7 zero, which its readers
  // expect; the others keep it at bytes 4-7.
  if (!(kind_ == MemoKind::kDbt && dbase4_blocks_)) PutWord(h.data() + kMhBlockSize, block_size_);
  if (variant_ == MemoVariant::kClip) {
    // Marks the variant so that the file reopens as what it was created as.
    std::memcpy(h.data() + kMhSignature, kClipSignature, 12);
  } else {
    const char* sig = six_list() ? kSixSignature : kPlainSignature;
    std::memcpy(h.data() + kMhSignature, sig, std::strlen(sig));
  }
  if (kind_ == MemoKind::kDbt && dbase4_blocks_) PutLe16(h.data() + 20, kDbtBlockSize);
  if (flex_list()) {
    std::memcpy(h.data() + kMhFlexSignature, kFlexSignature, kFlexSignatureLength);
    if (blob && block_size_ <= 0xFFFF) {
      PutLe16(h.data() + kMhFlexBlockSize, static_cast<uint16_t>(block_size_));
    }
  }
  if (file_.WriteAt(h.data(), h.size(), 0) != static_cast<int64_t>(h.size())) {
    return {kEdfWrite, file_.last_error()};
  }
  uint64_t end = Offset(next);
  std::vector<uint8_t> zero(1024, 0);
  for (uint64_t pos = h.size(); pos < end; pos += zero.size()) {
    size_t len = static_cast<size_t>(std::min<uint64_t>(zero.size(), end - pos));
    if (file_.WriteAt(zero.data(), len, pos) != static_cast<int64_t>(len)) {
      return {kEdfWrite, file_.last_error()};
    }
  }
  if (!file_.Truncate(end)) return {kEdfWrite, file_.last_error()};
  free_.Reset(next, six_list() ? kSixMaxRuns : flex_list() ? kFlexMaxRuns : 0);
  saved_next_free_ = next;
  list_offset_ = list2_offset_ = list_counter_ = root_ = 0;
  root_changed_ = false;
  loaded_ = true;
  return MemoError::Ok();
}

MemoError MemoFile::Detect(MemoKind kind, bool blob) {
  kind_ = kind;
  loaded_ = false;
  if (kind == MemoKind::kDbt) {
    variant_ = MemoVariant::kPlain;
    block_size_ = kDbtBlockSize;
    return MemoError::Ok();
  }
  uint8_t h[kFlexHeaderSize] = {};
  int64_t n = file_.ReadAt(h, sizeof h, 0);
  if (n < 0) return {kEdfRead, file_.last_error()};
  if (n < kMemoHeaderSize) return Corrupt();  // no header
  variant_ = MemoVariant::kPlain;
  uint32_t size = GetWord(h + kMhBlockSize);
  if (kind == MemoKind::kFpt && size > 65536 && size % 65536 != 0) size &= 0xFFFF;
  if (std::memcmp(h + kMhSignature, kSixSignature, 7) == 0) {
    variant_ = MemoVariant::kSix;
  } else if (std::memcmp(h + kMhSignature, kClipSignature, 12) == 0) {
    variant_ = MemoVariant::kClip;
  } else if (n >= kFlexHeaderSize &&
             std::memcmp(h + kMhFlexSignature, kFlexSignature, kFlexSignatureLength) == 0) {
    variant_ = MemoVariant::kFlex;
    uint16_t size16 = GetLe16(h + kMhFlexBlockSize);
    if (size16 != 0 && (blob || size == 0)) size = size16;
  }
  if (kind == MemoKind::kSmt) variant_ = MemoVariant::kSix;
  if (size == 0) return Corrupt();  // block size 0
  // A value takes at least one whole block: a larger block would make the memory and the disk
  // a value needs out of proportion to the value.
  if (size > kMaxBlockSize) return Corrupt();
  block_size_ = size;
  return MemoError::Ok();
}

MemoError MemoFile::LoadHeader() {
  if (loaded_ && cache_header_) return MemoError::Ok();
  loaded_ = false;
  std::vector<uint8_t> h(static_cast<size_t>(header_size()), 0);
  if (MemoError e = ReadAtChecked(h.data(), h.size(), 0); !e.ok()) return e;
  int64_t size = file_.Size();
  if (size < 0) return {kEdfRead, file_.last_error()};
  uint64_t blocks_in_file = (static_cast<uint64_t>(size) + block_size_ - 1) / block_size_;
  uint64_t next = GetWord(h.data() + kMhNextFree);
  // A next free block below the end of the file (a header never written, or one that lags
  // behind the values in use) is taken from the size, so that nothing already stored can be
  // overwritten.
  next = std::max<uint64_t>({next, first_block(), blocks_in_file});
  if (next > blocks_in_file + kNextFreeSlack || next > 0xFFFFFFFFULL) return Corrupt();
  free_.Reset(static_cast<uint32_t>(next), six_list() ? kSixMaxRuns : flex_list() ? kFlexMaxRuns : 0);
  if (six_list()) {
    uint16_t count = GetLe16(h.data() + kMhSixCount);
    if (count > kSixMaxRuns) return Corrupt();  // the list cannot exceed the header
    for (int i = 0; i < count; ++i) {
      const uint8_t* e = h.data() + kMhSixList + i * kSixEntrySize;
      uint16_t len = GetLe16(e);
      uint32_t start = GetLe32(e + 2);
      if (len == 0) continue;
      // A free run inside the header or overlapping another is not believed.
      if (start < first_block() || !free_.AddLoaded(start, len)) return Corrupt();
    }
  }
  if (flex_list()) {
    list2_offset_ = GetLe32(h.data() + kMhFlexList2);
    list_offset_ = GetLe32(h.data() + kMhFlexList);
    list_counter_ = GetLe32(h.data() + kMhFlexCounter);
    root_ = GetLe32(h.data() + kMhBlobRoot);
    if (MemoError e = LoadFlexList(); !e.ok()) return e;
  }
  free_.clear_changed();
  saved_next_free_ = free_.next_free();
  root_changed_ = false;
  loaded_ = true;
  return MemoError::Ok();
}

MemoError MemoFile::LoadFlexList() {
  const uint64_t list_blocks = BlocksFor(kFlexListDataLength);
  auto check_block = [&](uint32_t offset, uint32_t* length) -> MemoError {
    if (offset % block_size_ != 0) return Corrupt();  // a list block starts a block
    uint32_t block = offset / block_size_;
    uint32_t type = 0;
    if (MemoError e = FptHeader(block, &type, length); !e.ok()) return e;
    if (type != kFlexListType || *length < 2) return Corrupt();  // not a list block
    if (!InData(block, std::max<uint64_t>(BlocksFor(*length), list_blocks))) return Corrupt();
    return MemoError::Ok();
  };
  uint32_t length = 0;
  if (list2_offset_ != 0) {
    if (MemoError e = check_block(list2_offset_, &length); !e.ok()) return e;
  }
  if (list_offset_ == 0) return MemoError::Ok();
  if (MemoError e = check_block(list_offset_, &length); !e.ok()) return e;
  uint32_t type = 0;
  std::string data;
  if (MemoError e = ReadFpt(list_offset_ / block_size_, &type, &data); !e.ok()) return e;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
  uint16_t word = GetLe16(p);
  if (word < 3 || (word - 3) % 4 != 0) return Corrupt();  // count field is 4 * n + 3
  size_t n = (word - 3) / 4;
  if (2 + n * kFlexEntrySize > data.size()) return Corrupt();  // more entries than room
  free_.set_capacity(static_cast<int>(std::max<size_t>(kFlexMaxRuns, (data.size() - 2) / kFlexEntrySize)));
  auto overlaps_list = [&](uint32_t start, uint32_t len) {
    for (uint32_t off : {list_offset_, list2_offset_}) {
      if (off == 0) continue;
      uint64_t b = off / block_size_;
      if (start < b + list_blocks && b < static_cast<uint64_t>(start) + len) return true;
    }
    return false;
  };
  for (size_t i = 0; i < n; ++i) {
    uint32_t off = GetLe32(p + 2 + i * kFlexEntrySize);
    uint32_t len = GetLe32(p + 6 + i * kFlexEntrySize);
    // Runs are whole blocks after the header, clear of the list blocks and of each other.
    if (off % block_size_ != 0 || len % block_size_ != 0 || len == 0) return Corrupt();
    uint32_t start = off / block_size_, blocks = len / block_size_;
    if (start < first_block() || overlaps_list(start, blocks) || !free_.AddLoaded(start, blocks)) {
      return Corrupt();
    }
  }
  return MemoError::Ok();
}

MemoError MemoFile::WriteListBlock(uint32_t offset, bool second) {
  std::vector<FreeRun> runs = free_.runs();  // by length
  if (!second) {
    std::sort(runs.begin(), runs.end(),
              [](const FreeRun& a, const FreeRun& b) { return a.start < b.start; });
  }
  std::vector<uint8_t> b(kFptBlockHeader + kFlexListDataLength, kFlexListFill);
  PutBe32(b.data(), kFlexListType);
  PutBe32(b.data() + 4, kFlexListDataLength);
  uint8_t* d = b.data() + kFptBlockHeader;
  size_t n = 0;
  for (const FreeRun& r : runs) {
    if (n == static_cast<size_t>(kFlexMaxRuns)) break;
    uint64_t off = Offset(r.start), len = Offset(r.length);
    if (off > 0xFFFFFFFFULL || len > 0xFFFFFFFFULL) continue;  // beyond 32-bit byte offsets
    uint8_t* e = d + 2 + n * kFlexEntrySize;
    PutLe32(e, static_cast<uint32_t>(second ? len : off));
    PutLe32(e + 4, static_cast<uint32_t>(second ? off : len));
    ++n;
  }
  PutLe16(d, static_cast<uint16_t>(4 * n + 3));
  if (file_.WriteAt(b.data(), b.size(), offset) != static_cast<int64_t>(b.size())) {
    return {kEdfWrite, file_.last_error()};
  }
  return MemoError::Ok();
}

MemoError MemoFile::SaveFlexList() {
  const uint32_t list_blocks = static_cast<uint32_t>(BlocksFor(kFlexListDataLength));
  if (free_.runs().empty()) {
    if (list_offset_ == 0 && list2_offset_ == 0) return MemoError::Ok();
    uint32_t low = 0xFFFFFFFFu;
    uint32_t count = 0;
    for (uint32_t off : {list_offset_, list2_offset_}) {
      if (off == 0) continue;
      low = std::min(low, off / block_size_);
      count += list_blocks;
    }
    if (static_cast<uint64_t>(low) + count == free_.next_free()) {
      // The list blocks are the last blocks of the file: give their space back.
      free_.set_next_free(low);
      list_offset_ = list2_offset_ = 0;
      return MemoError::Ok();
    }
  } else {
    for (uint32_t* off : {&list_offset_, &list2_offset_}) {
      if (*off != 0) continue;
      uint32_t start = free_.next_free();
      if (Offset(start) > 0xFFFFFFFFULL ||
          static_cast<uint64_t>(start) + list_blocks > 0xFFFFFFFFULL) {
        return MemoError::Ok();  // no room below 4 GB for a list block: the list is not kept
      }
      free_.set_next_free(start + list_blocks);
      *off = static_cast<uint32_t>(Offset(start));
    }
  }
  if (list_offset_ != 0) {
    if (MemoError e = WriteListBlock(list_offset_, false); !e.ok()) return e;
  }
  if (list2_offset_ != 0) {
    if (MemoError e = WriteListBlock(list2_offset_, true); !e.ok()) return e;
  }
  return MemoError::Ok();
}

MemoError MemoFile::SaveHeader() {
  if (!free_.changed() && !root_changed_) return MemoError::Ok();
  if (flex_list()) {
    if (MemoError e = SaveFlexList(); !e.ok()) return e;
    ++list_counter_;
    uint8_t t[16];
    PutLe32(t, list2_offset_);
    PutLe32(t + 4, list_offset_);
    PutLe32(t + 8, list_counter_);
    PutLe32(t + 12, root_);
    if (file_.WriteAt(t, sizeof t, kMhFlexList2) != static_cast<int64_t>(sizeof t)) {
      return {kEdfWrite, file_.last_error()};
    }
  }
  if (six_list()) {
    uint8_t t[kMemoHeaderSize - kMhSixCount] = {};
    int n = 0;
    for (const FreeRun& r : free_.runs()) {
      if (n == kSixMaxRuns) break;
      uint8_t* e = t + 2 + n * kSixEntrySize;
      // Runs longer than a 16-bit count keep only what the entry can say.
      PutLe16(e, static_cast<uint16_t>(std::min<uint32_t>(r.length, 0xFFFF)));
      PutLe32(e + 2, r.start);
      ++n;
    }
    PutLe16(t, static_cast<uint16_t>(n));
    if (file_.WriteAt(t, sizeof t, kMhSixCount) != static_cast<int64_t>(sizeof t)) {
      return {kEdfWrite, file_.last_error()};
    }
  }
  uint8_t w[4];
  PutWord(w, free_.next_free());
  if (file_.WriteAt(w, 4, kMhNextFree) != 4) return {kEdfWrite, file_.last_error()};
  if (free_.next_free() < saved_next_free_) {
    int64_t size = file_.Size();
    if (size > 0 && static_cast<uint64_t>(size) > Offset(free_.next_free()) &&
        !file_.Truncate(Offset(free_.next_free()))) {
      return {kEdfWrite, file_.last_error()};
    }
  }
  saved_next_free_ = free_.next_free();
  free_.clear_changed();
  root_changed_ = false;
  return MemoError::Ok();
}

// --- reading ---

MemoError MemoFile::FptHeader(uint32_t block, uint32_t* type, uint32_t* length) {
  if (block < first_block()) return Corrupt();  // a value inside the header
  uint8_t h[kFptBlockHeader];
  if (MemoError e = ReadAtChecked(h, sizeof h, Offset(block)); !e.ok()) return e;
  *type = GetBe32(h);
  *length = GetBe32(h + 4);
  return MemoError::Ok();
}

MemoError MemoFile::ReadFpt(uint32_t block, uint32_t* type, std::string* data) {
  if (block < first_block()) return Corrupt();  // a value inside the header
  uint64_t off = Offset(block);
  buf_.resize(kFirstRead);
  int64_t n = file_.ReadAt(buf_.data(), buf_.size(), off);
  if (n < 0) return {kEdfRead, file_.last_error()};
  if (n < kFptBlockHeader) return Corrupt();  // block past the end of the file
  *type = GetBe32(buf_.data());
  uint32_t length = GetBe32(buf_.data() + 4);
  size_t have = static_cast<size_t>(n) - kFptBlockHeader;
  if (length <= have) {
    data->assign(reinterpret_cast<const char*>(buf_.data()) + kFptBlockHeader, length);
    return MemoError::Ok();
  }
  int64_t size = file_.Size();
  if (size < 0) return {kEdfRead, file_.last_error()};
  // The length is believed only when the data lies inside the file.
  if (off + kFptBlockHeader + length > static_cast<uint64_t>(size)) return Corrupt();
  data->resize(length);
  std::memcpy(data->data(), buf_.data() + kFptBlockHeader, have);
  return ReadAtChecked(data->data() + have, length - have, off + kFptBlockHeader + have);
}

MemoError MemoFile::ReadDbt(uint32_t block, std::string* data) {
  if (block < first_block()) return Corrupt();  // a value inside the header
  data->clear();
  uint64_t off = Offset(block);
  buf_.resize(kFirstRead);
  int64_t n = file_.ReadAt(buf_.data(), buf_.size(), off);
  if (n < 0) return {kEdfRead, file_.last_error()};
  if (n == 0) return Corrupt();  // block past the end of the file
  if (n >= kDbt4BlockHeader && std::memcmp(buf_.data(), kDbt4Marker, 4) == 0) {
    uint32_t stored = GetLe32(buf_.data() + 4);
    if (stored < kDbt4BlockHeader) return Corrupt();  // length shorter than its own header
    uint32_t length = stored - kDbt4BlockHeader;
    size_t have = static_cast<size_t>(n) - kDbt4BlockHeader;
    if (length <= have) {
      data->assign(reinterpret_cast<const char*>(buf_.data()) + kDbt4BlockHeader, length);
      return MemoError::Ok();
    }
    int64_t size = file_.Size();
    if (size < 0) return {kEdfRead, file_.last_error()};
    if (off + stored > static_cast<uint64_t>(size)) return Corrupt();  // runs past the end
    data->resize(length);
    std::memcpy(data->data(), buf_.data() + kDbt4BlockHeader, have);
    return ReadAtChecked(data->data() + have, length - have, off + kDbt4BlockHeader + have);
  }
  for (;;) {
    const uint8_t* end = static_cast<const uint8_t*>(
        std::memchr(buf_.data(), kDbtTerminator, static_cast<size_t>(n)));
    size_t take = end ? static_cast<size_t>(end - buf_.data()) : static_cast<size_t>(n);
    data->append(reinterpret_cast<const char*>(buf_.data()), take);
    if (end || static_cast<size_t>(n) < buf_.size()) return MemoError::Ok();
    off += static_cast<uint64_t>(n);
    n = file_.ReadAt(buf_.data(), buf_.size(), off);
    if (n < 0) return {kEdfRead, file_.last_error()};
    if (n == 0) return MemoError::Ok();  // no terminator before the end: the rest is the text
  }
}

MemoError MemoFile::ReadRaw(uint32_t block, uint32_t length, std::string* data) {
  if (block < first_block()) return Corrupt();  // a value inside the header
  int64_t size = file_.Size();
  if (size < 0) return {kEdfRead, file_.last_error()};
  if (Offset(block) + length > static_cast<uint64_t>(size)) return Corrupt();  // past the end
  data->resize(length);
  return ReadAtChecked(data->data(), length, Offset(block));
}

// --- writing ---

MemoError MemoFile::WriteValue(uint32_t type, std::string_view data, uint32_t* block) {
  uint64_t blocks = BlocksFor(data.size());
  if (blocks == 0) blocks = 1;
  uint32_t start = 0;
  if (data.size() > 0xFFFFFFF0u || blocks > 0xFFFFFFFFULL ||
      !free_.Allocate(static_cast<uint32_t>(blocks), &start)) {
    return {kEdfWrite, 0};  // the file cannot address more blocks
  }
  std::vector<uint8_t>& b = buf_;
  b.assign(static_cast<size_t>(blocks * block_size_), 0);
  size_t used = data.size();
  uint8_t* p = b.data();
  switch (kind_) {
    case MemoKind::kFpt:
      PutBe32(p, type);
      PutBe32(p + 4, static_cast<uint32_t>(data.size()));
      p += kFptBlockHeader;
      used += kFptBlockHeader;
      break;
    case MemoKind::kDbt:
      if (dbase4_blocks_) {
        std::memcpy(p, kDbt4Marker, 4);
        PutLe32(p + 4, static_cast<uint32_t>(data.size() + kDbt4BlockHeader));
        p += kDbt4BlockHeader;
        used += kDbt4BlockHeader;
      } else {
        b[data.size()] = kDbtTerminator;
        b[data.size() + 1] = kDbtTerminator;
        used += 2;
      }
      break;
    default: break;
  }
  if (!data.empty()) std::memcpy(p, data.data(), data.size());
  if (variant_ == MemoVariant::kFlex && kind_ == MemoKind::kFpt && used % block_size_ != 0) {
    b.back() = kFlexPadByte;
  }
  if (file_.WriteAt(b.data(), b.size(), Offset(start)) != static_cast<int64_t>(b.size())) {
    return {kEdfWrite, file_.last_error()};
  }
  *block = start;
  return MemoError::Ok();
}

uint64_t MemoFile::ValueBlocks(uint32_t block, uint32_t smt_length) {
  if (block == 0) return 0;
  uint64_t blocks = 0;
  switch (kind_) {
    case MemoKind::kFpt: {
      uint32_t type = 0, length = 0;
      if (!FptHeader(block, &type, &length).ok() || type == kFlexListType) return 0;
      blocks = BlocksFor(length);
      break;
    }
    case MemoKind::kDbt: {
      std::string text;
      if (block < first_block() || !ReadDbt(block, &text).ok()) return 0;
      // Another writer may have ended the text with one terminator byte only.
      blocks = dbase4_blocks_ ? BlocksFor(text.size())
                              : (text.size() + 1 + block_size_ - 1) / block_size_;
      break;
    }
    default: blocks = BlocksFor(smt_length); break;
  }
  if (!InData(block, blocks)) return 0;  // not a value of this file: leave the blocks alone
  for (uint32_t off : {list_offset_, list2_offset_}) {
    if (off != 0 && off / block_size_ >= block && off / block_size_ < block + blocks) return 0;
  }
  return blocks;
}

void MemoFile::FreeBlocks(uint32_t start, uint64_t blocks) {
  if (blocks == 0 || !InData(start, blocks)) return;
  free_.Free(start, static_cast<uint32_t>(blocks));
}

MemoError MemoFile::CopyBlocks(uint32_t from, uint32_t to, uint32_t blocks) {
  uint64_t left = Offset(blocks);
  uint64_t src = Offset(from), dst = Offset(to);
  std::vector<uint8_t> b(static_cast<size_t>(std::min<uint64_t>(left, kCopyStep)));
  while (left > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, b.size()));
    if (MemoError e = ReadAtChecked(b.data(), n, src); !e.ok()) return e;
    if (file_.WriteAt(b.data(), n, dst) != static_cast<int64_t>(n)) {
      return {kEdfWrite, file_.last_error()};
    }
    src += n;
    dst += n;
    left -= n;
  }
  return MemoError::Ok();
}

}  // namespace vosk
