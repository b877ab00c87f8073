#include "rdd/order/key_sorter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <queue>

#include "platform/owned_file.h"
#include "platform/system.h"
#include "rdd/byte_order.h"

namespace vosk {

KeySorter::KeySorter(const SortPolicy& policy, int key_length, bool descending, bool by_recno,
                     uint64_t expected, int64_t run_keys)
    : policy_(policy),
      key_length_(key_length),
      entry_size_(key_length + 4),
      descending_(descending),
      by_recno_(by_recno) {
  run_keys_ = run_keys > 0 ? run_keys
                          : policy_.run_size ? policy_.run_size(expected, key_length)
                                             : std::max<int64_t>(1, static_cast<int64_t>(expected));
  if (run_keys_ < 1) run_keys_ = 1;
  pool_.resize(static_cast<size_t>(run_keys_) * static_cast<size_t>(entry_size_));
}

KeySorter::~KeySorter() {
  if (temp_.is_open()) {
    temp_.Close();
    DeleteFile(temp_name_);
  }
}

void KeySorter::Fail(SortPolicy::Stage stage, int os_code) {
  if (policy_.on_error) policy_.on_error(stage, os_code, temp_name_);
}

int KeySorter::Compare(const uint8_t* a, const uint8_t* b) const {
  int c = std::memcmp(a, b, static_cast<size_t>(key_length_));
  if (descending_) c = -c;
  if (c == 0 && by_recno_) {
    uint32_t ra = GetLe32(a + key_length_), rb = GetLe32(b + key_length_);
    c = ra < rb ? -1 : ra > rb ? 1 : 0;
  }
  return c;
}

void KeySorter::SortPool(std::vector<uint32_t>* order) const {
  // Sorted on the first 16 key bytes as two integers, then on the rest; equal entries keep
  // the order of addition (the index breaks the tie), as a stable sort would.
  struct Slot {
    uint64_t hi, lo;
    uint32_t index;
  };
  const uint8_t* base = pool_.data();
  const size_t es = static_cast<size_t>(entry_size_);
  std::vector<Slot> slots(static_cast<size_t>(in_pool_));
  for (uint32_t i = 0; i < slots.size(); ++i) {
    const uint8_t* p = base + i * es;
    uint64_t hi = 0, lo = 0;
    for (int b = 0; b < 8; ++b) hi = (hi << 8) | (b < key_length_ ? p[b] : 0);
    for (int b = 8; b < 16; ++b) lo = (lo << 8) | (b < key_length_ ? p[b] : 0);
    slots[i] = {descending_ ? ~hi : hi, descending_ ? ~lo : lo, i};
  }
  const bool rest = key_length_ > 16 || by_recno_;
  std::sort(slots.begin(), slots.end(), [&](const Slot& x, const Slot& y) {
    if (x.hi != y.hi) return x.hi < y.hi;
    if (x.lo != y.lo) return x.lo < y.lo;
    if (rest) {
      int c = Compare(base + x.index * es, base + y.index * es);
      if (c != 0) return c < 0;
    }
    return x.index < y.index;
  });
  order->resize(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) (*order)[i] = slots[i].index;
}

Status KeySorter::WriteRun() {
  if (!temp_.is_open()) {
    std::string dir = policy_.temp_directory.empty() ? TempDirectory() : policy_.temp_directory;
    // An owned name (pid, lock held while open): a run file of a killed build is removed by
    // the next start of the program or of dbutool.
    temp_name_ = OwnedFileName(dir, "", "." + policy_.temp_prefix + kTempSuffix);
    int rc = temp_.Create(temp_name_, Share::kExclusive);
    if (rc != 0) {
      Fail(SortPolicy::Stage::kCreate, rc);
      return kFailure;
    }
  }
  std::vector<uint32_t> order;
  SortPool(&order);
  const size_t es = static_cast<size_t>(entry_size_);
  std::vector<uint8_t> out;
  out.reserve(order.size() * es);
  for (uint32_t i : order) out.insert(out.end(), pool_.data() + i * es, pool_.data() + (i + 1) * es);
  if (temp_.WriteAt(out.data(), out.size(), temp_size_) != static_cast<int64_t>(out.size())) {
    Fail(SortPolicy::Stage::kWrite, temp_.last_error());
    return kFailure;
  }
  runs_.push_back(Run{temp_size_, in_pool_, {}, 0, 0});
  temp_size_ += out.size();
  in_pool_ = 0;
  return kSuccess;
}

Status KeySorter::Add(const uint8_t* key, uint32_t recno) {
  if (in_pool_ == run_keys_ && Failed(WriteRun())) return kFailure;
  uint8_t* p = pool_.data() + static_cast<size_t>(in_pool_) * static_cast<size_t>(entry_size_);
  std::memcpy(p, key, static_cast<size_t>(key_length_));
  PutLe32(p + key_length_, recno);
  ++in_pool_;
  return kSuccess;
}

Status KeySorter::Refill(Run* r, size_t share) {
  size_t n = static_cast<size_t>(std::min<int64_t>(r->left, static_cast<int64_t>(share)));
  size_t bytes = n * static_cast<size_t>(entry_size_);
  r->buffer.resize(bytes);
  if (n > 0 && temp_.ReadAt(r->buffer.data(), bytes, r->offset) != static_cast<int64_t>(bytes)) {
    Fail(SortPolicy::Stage::kRead, temp_.last_error());
    return kFailure;
  }
  r->offset += bytes;
  r->left -= static_cast<int64_t>(n);
  r->pos = 0;
  r->filled = n;
  return kSuccess;
}

Status KeySorter::Finish(const std::function<Status(const uint8_t*, uint32_t)>& emit,
                         bool distinct) {
  if (distinct) {
    std::string previous;
    bool have_previous = false;
    const size_t klen = static_cast<size_t>(key_length_);
    return Finish([&](const uint8_t* k, uint32_t r) -> Status {
      if (have_previous && std::memcmp(previous.data(), k, klen) == 0) return kSuccess;
      previous.assign(reinterpret_cast<const char*>(k), klen);
      have_previous = true;
      return emit(k, r);
    });
  }
  const size_t es = static_cast<size_t>(entry_size_);
  if (runs_.empty()) {
    std::vector<uint32_t> order;
    SortPool(&order);
    for (uint32_t i : order) {
      const uint8_t* p = pool_.data() + i * es;
      if (Failed(emit(p, GetLe32(p + key_length_)))) return kFailure;
    }
    return kSuccess;
  }
  if (in_pool_ > 0 && Failed(WriteRun())) return kFailure;
  // The pool memory is shared out among the runs as read buffers.
  size_t share = std::max<size_t>(1, static_cast<size_t>(run_keys_) / runs_.size());
  std::vector<uint8_t>().swap(pool_);
  for (Run& r : runs_) {
    if (Failed(Refill(&r, share))) return kFailure;
  }
  auto later = [&](size_t x, size_t y) {
    int c = Compare(runs_[x].buffer.data() + runs_[x].pos * es,
                    runs_[y].buffer.data() + runs_[y].pos * es);
    return c != 0 ? c > 0 : x > y;  // equal keys: earlier runs first
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> heap(later);
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (runs_[i].filled > 0) heap.push(i);
  }
  while (!heap.empty()) {
    size_t i = heap.top();
    heap.pop();
    Run& r = runs_[i];
    const uint8_t* p = r.buffer.data() + r.pos * es;
    if (Failed(emit(p, GetLe32(p + key_length_)))) return kFailure;
    if (++r.pos == r.filled) {
      if (r.left == 0) continue;
      if (Failed(Refill(&r, share))) return kFailure;
    }
    heap.push(i);
  }
  return kSuccess;
}

}  // namespace vosk
