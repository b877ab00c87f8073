#include "platform/file_map.h"

#include <sys/mman.h>
#include <sys/stat.h>

namespace vosk {

bool FileMap::Map(int fd, size_t length) {
  Unmap();
  struct stat st {};
  if (fd < 0 || length == 0 || fstat(fd, &st) != 0 || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) < length) {
    return false;
  }
  void* p = mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<const uint8_t*>(p);
  size_ = length;
  return true;
}

void FileMap::Unmap() noexcept {
  if (data_) munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace vosk
