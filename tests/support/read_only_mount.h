#ifndef VOSK_TESTS_SUPPORT_READ_ONLY_MOUNT_H_
#define VOSK_TESTS_SUPPORT_READ_ONLY_MOUNT_H_

// A folder on a file system mounted read-only, for the tests that run as root (root writes
// any file whatever its permissions), or nothing when this system cannot mount one.

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace vosk {

class ReadOnlyMount {
 public:
  // Mounts a small tmpfs on `dir`: files are put in it, then MakeReadOnly() remounts it.
  explicit ReadOnlyMount(const std::string& dir) : dir_(dir) {
    std::filesystem::create_directories(dir);
    mounted_ = ::system(("mount -t tmpfs -o size=1m tmpfs '" + dir + "' 2>/dev/null").c_str()) == 0;
  }
  ~ReadOnlyMount() {
    if (mounted_) (void)::system(("umount '" + dir_ + "' 2>/dev/null").c_str());
  }
  ReadOnlyMount(const ReadOnlyMount&) = delete;
  ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

  bool mounted() const { return mounted_; }
  bool MakeReadOnly() {
    return ::system(("mount -o remount,ro '" + dir_ + "' 2>/dev/null").c_str()) == 0;
  }

 private:
  std::string dir_;
  bool mounted_ = false;
};

}  // namespace vosk

#endif  // VOSK_TESTS_SUPPORT_READ_ONLY_MOUNT_H_
