#ifndef VOSK_PLATFORM_FILE_MAP_H_
#define VOSK_PLATFORM_FILE_MAP_H_

#include <cstddef>
#include <cstdint>

namespace vosk {

// A read-only shared memory map of the start of an open file, for reads that must cost no
// system call. What other processes write to the file is seen at once (one page cache).
// Only bytes below the file's size when mapped may be read, and only while nothing shortens
// the file: the users map files that no cooperating program shortens while they hold them
// open (a table or bag opened shared or read-only).
class FileMap {
 public:
  FileMap() = default;
  ~FileMap() { Unmap(); }
  FileMap(const FileMap&) = delete;
  FileMap& operator=(const FileMap&) = delete;

  // Maps the first `length` bytes of the file open as fd (replacing an earlier map); false
  // when the file is shorter or the map cannot be made (the caller reads as before).
  bool Map(int fd, size_t length);
  void Unmap() noexcept;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace vosk

#endif  // VOSK_PLATFORM_FILE_MAP_H_
