#include "rdd/order/order_bag.h"

#include <algorithm>
#include <cstdio>

#include "expr/settings.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "platform/owned_file.h"
#include "platform/system.h"
#include "rdd/order/order.h"

namespace vosk {

Order::~Order() = default;

int Order::CompareToScope(const uint8_t* key, const std::string& scope) const {
  int n = std::min<int>(key_length_, static_cast<int>(scope.size()));
  return CompareKeys(key, n, reinterpret_cast<const uint8_t*>(scope.data()),
                     static_cast<int>(scope.size()), false);
}

bool Order::InScope(const uint8_t* key) const {
  if (has_top && CompareToScope(key, scope_top) < 0) return false;
  if (has_bottom && CompareToScope(key, scope_bottom) > 0) return false;
  return true;
}

Status OrderBag::BuildBeside(const std::string& final_path, bool shared, std::string* build_path) {
  final_path_ = final_path;
  if (FileExists(final_path)) {
    for (;;) {
      int rc = replaced_.Open(final_path, Access::kReadWrite,
                              shared ? Share::kDenyNone : Share::kExclusive);
      if (rc == 0) break;
      if (!Error(kEgCreate, 1006, rc, true).retry()) {
        final_path_.clear();
        return kFailure;
      }
    }
  }
  *build_path = BesideName(final_path);
  return kSuccess;
}

std::string OrderBag::BesideName(const std::string& final_path) {
  const std::string dir = DirectoryOf(final_path), part = FilePartOf(final_path);
  const size_t dot = part.find_last_of('.');
  const std::string base = part.substr(0, dot);
  const std::string suffix = (dot == std::string::npos ? "" : part.substr(dot)) + ".new";
  (void)RemoveOrphanedFiles(dir, base + ".", suffix);
  return OwnedFileName(dir, base + ".", suffix);
}

Status OrderBag::RebuildBeside(const std::string& build_path) {
  File fresh;
  for (;;) {
    const int rc = fresh.Create(build_path, shared_ ? Share::kDenyNone : Share::kExclusive);
    if (rc == 0) break;
    if (!Error(kEgCreate, 1006, rc, true).retry()) return kFailure;
  }
  head_map_.Unmap();
  replaced_ = std::move(file_);
  file_ = std::move(fresh);
  final_path_ = path_;
  path_ = file_.path();
  return kSuccess;
}

void OrderBag::Published() {
  replaced_.Close();
  path_ = file_.path();
  final_path_.clear();
}

Status OrderBag::CopyBeside(const std::string& final_path, std::string* build_path) {
  if (Failed(BuildBeside(final_path, false, build_path))) return kFailure;
  int rc = 0;
  {
    File copy;
    rc = copy.Create(*build_path, Share::kExclusive);
    std::vector<uint8_t> buffer(1 << 20);
    for (uint64_t at = 0; rc == 0;) {
      const int64_t n = replaced_.ReadAt(buffer.data(), buffer.size(), at);
      if (n < 0) {
        rc = replaced_.last_error();
      } else if (n == 0) {
        break;
      } else if (copy.WriteAt(buffer.data(), static_cast<size_t>(n), at) != n) {
        rc = copy.last_error() != 0 ? copy.last_error() : kOsDiskFull;
      }
      at += static_cast<uint64_t>(std::max<int64_t>(n, 0));
    }
    if (rc == 0) CrashPoint("bag-copied");
  }
  if (rc == 0) return kSuccess;
  DeleteFile(*build_path);
  Error(kEgWrite, kEdfWrite, rc);
  final_path_.clear();
  replaced_.Close();
  return kFailure;
}

Status OrderBag::Publish() {
  if (final_path_.empty()) return kSuccess;
  if ((GlobalSettings().hardcommit() && !file_.Commit()) || !file_.RenameTo(final_path_)) {
    Error(kEgWrite, kEdfWrite, file_.last_error());
    return kFailure;
  }
  (void)SyncDirectory(DirectoryOf(final_path_));
  if (GlobalSettings().hardcommit()) unsynced_ = false;
  Published();
  return kSuccess;
}

Status OrderBag::Sync() {
  if (!unsynced_ || !GlobalSettings().hardcommit() || !file_.is_open()) return kSuccess;
  unsynced_ = false;
  if (file_.Commit()) return kSuccess;
  Error(kEgWrite, kEdfWrite, file_.last_error());
  return kFailure;
}

bool OrderBag::Unchanged() {
  if (ReloadDue()) return false;
  if (!shared_ || host_->DirtyRead()) return true;
  if (!head_map_.data() && !head_map_.Map(file_.fd(), kHeadBytes)) return false;
  return HeadUnchanged(head_map_.data());
}

void OrderBag::CloseFile() noexcept {
  read_locks_ = write_locks_ = 0;
  discard_pending_ = false;
  head_map_.Unmap();
  if (!file_.is_open()) return;
  (void)UnlockFile();
  std::string name = file_.path();
  file_.Close();
  if (RemovedOnClose() && !name.empty()) DeleteFile(name);
}

ErrorAnswer OrderBag::Error(int gen_code, int sub_code, int os_code, bool can_retry,
                            bool can_default) const {
  RuntimeError e;
  e.gen_code = gen_code;
  e.sub_code = sub_code;
  e.os_code = os_code;
  // A bag being built is known by the name it is meant to take.
  e.file_name = final_path_.empty() ? path_ : final_path_;
  e.operation = e.file_name;
  e.can_retry = can_retry;
  e.can_default = can_default;
  return host_->RaiseOrderError(std::move(e));
}

Status OrderBag::Corrupt() const {
  Error(kEgCorruption, kEdfCorrupt);
  return kFailure;
}

void OrderBag::LockFault(int code, const char* what) const {
  throw InternalError(code, std::string(EngineName()) + what);
}

Status OrderBag::ReadLock() {
  if (read_locks_ == 0 && write_locks_ == 0 &&
      ((shared_ && !host_->DirtyRead()) || ReloadDue())) {
    if (Failed(LockAndReread(false, [&] { return Reread(true); }))) return kFailure;
  }
  ++read_locks_;
  return kSuccess;
}

void OrderBag::ReadUnlock() {
  if (read_locks_ <= 0) LockFault(9106, "IndexUnLockRead: bad count of locks.");
  if (--read_locks_ == 0 && write_locks_ == 0 && !UnlockFile()) {
    LockFault(9108, "IndexUnLockRead: unlock error.");
  }
}

Status OrderBag::WriteLock(bool reread) {
  if (read_only_) LockFault(9101, "IndexLockWrite: readonly index.");
  if (read_locks_ > 0) LockFault(9105, "IndexLockWrite: writeLock after readLock.");
  if (write_locks_ == 0) {
    if ((shared_ || ReloadDue()) &&
        Failed(LockAndReread(true, [&] { return Reread(reread); }))) {
      return kFailure;
    }
    BeginChange();
  }
  ++write_locks_;
  return kSuccess;
}

Status OrderBag::WriteUnlock(bool discard) {
  if (write_locks_ <= 0) LockFault(9106, "IndexUnLockWrite: bad count of locks.");
  if (read_locks_ > 0) LockFault(9105, "IndexUnLockWrite: writeUnLock before readUnLock.");
  if (discard) discard_pending_ = true;
  if (write_locks_ > 1) {
    --write_locks_;
    return kSuccess;
  }
  discard = discard_pending_;
  discard_pending_ = false;
  Status s = EndChange(discard);
  --write_locks_;
  if (!UnlockFile()) LockFault(9108, "IndexUnLockWrite: unlock error.");
  return s;
}

void OrderBag::ForceUnlock() noexcept {
  if (write_locks_ > 0) DropChange();
  (void)UnlockFile();
  read_locks_ = write_locks_ = 0;
  discard_pending_ = false;
}

OrderReadLock::~OrderReadLock() {
  if (!ok_) return;
  try {
    b_->ReadUnlock();
  } catch (const std::exception& e) {
    // A destructor must not throw: the fault is reported and the locks are dropped.
    std::fprintf(stderr, "%s: %s\n", b_->path().c_str(), e.what());
    b_->ForceUnlock();
  } catch (...) {
    b_->ForceUnlock();
  }
}

Status ChunkedReadLock::Pause(bool* moved) {
  *moved = false;
  steps_ = 0;
  if (!b_->shared() || b_->host()->DirtyRead()) return kSuccess;
  lock_.reset();
  // Writers poll for the lock: the pause gives a waiting one its turn.
  SleepMillis(1);
  lock_.emplace(b_);
  if (!lock_->ok()) return kFailure;
  if (b_->epoch() != epoch_) {
    epoch_ = b_->epoch();
    *moved = true;
    ++moves_;
  }
  return kSuccess;
}

OrderWriteLock::~OrderWriteLock() {
  if (!ok_) return;
  try {
    (void)b_->WriteUnlock(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", b_->path().c_str(), e.what());
    b_->ForceUnlock();
  } catch (...) {
    b_->ForceUnlock();
  }
}

Status OrderBag::LockFile(bool exclusive) {
  if (!shared_) return kSuccess;
  if (!host_->LockOrderFile(&file_, true, !exclusive, true, &lock_position_)) {
    Error(kEgLock, kEdfLock, file_.last_error());
    return kFailure;
  }
  file_locked_ = true;
  return kSuccess;
}

bool OrderBag::UnlockFile() noexcept {
  if (!file_locked_) return true;
  file_locked_ = false;
  try {
    return host_->LockOrderFile(&file_, false, false, false, &lock_position_);
  } catch (...) {
    return false;
  }
}

}  // namespace vosk
