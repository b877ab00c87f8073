#ifndef VOSK_RDD_ORDER_KEY_SORTER_H_
#define VOSK_RDD_ORDER_KEY_SORTER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "expr/status.h"
#include "platform/file.h"

namespace vosk {

// What a sort needs from the engine that runs it: the run size for an expected key count and
// key length, the folder of its temporary file, and how a temporary-file failure is reported
// (the stage, the OS code and the file name; the call raises whatever the engine raises).
struct SortPolicy {
  enum class Stage { kCreate, kWrite, kRead };
  std::function<int64_t(uint64_t expected, int key_length)> run_size;
  std::string temp_directory;  // empty: the system's temporary folder
  std::string temp_prefix = "sort";
  std::function<void(Stage stage, int os_code, const std::string& file)> on_error;
};

// Sorts the (key, record) pairs of a build. Keys go into a pool of P entries of k + 4 bytes
// (key, then the record number); a full pool is sorted and written as one run to a temporary
// file; at the end the runs are merged (a single run is sorted in memory).
//
// Order: key bytes (reversed for a descending order), then the record number when equal keys
// are ordered by record, else the order of addition.
class KeySorter {
 public:
  // run_keys: P (0: chosen by the policy from the expected count and the key length).
  KeySorter(const SortPolicy& policy, int key_length, bool descending, bool by_recno,
            uint64_t expected, int64_t run_keys);
  ~KeySorter();
  KeySorter(const KeySorter&) = delete;
  KeySorter& operator=(const KeySorter&) = delete;

  Status Add(const uint8_t* key, uint32_t recno);
  // Hands every pair to emit in sorted order (emit's failure stops); distinct: only the first
  // pair of each run of equal keys (a unique order).
  Status Finish(const std::function<Status(const uint8_t* key, uint32_t recno)>& emit,
                bool distinct = false);

  int64_t run_keys() const { return run_keys_; }
  size_t runs() const { return runs_.size(); }


 private:
  struct Run {
    uint64_t offset;   // in the temporary file
    int64_t left;      // keys not yet read into the buffer
    std::vector<uint8_t> buffer;
    size_t pos = 0;    // next entry in the buffer
    size_t filled = 0; // entries in the buffer
  };
  int Compare(const uint8_t* a, const uint8_t* b) const;
  void Fail(SortPolicy::Stage stage, int os_code);
  void SortPool(std::vector<uint32_t>* order) const;
  Status WriteRun();
  Status Refill(Run* r, size_t share);

  SortPolicy policy_;
  int key_length_;
  int entry_size_;
  bool descending_;
  bool by_recno_;
  int64_t run_keys_;
  std::vector<uint8_t> pool_;
  int64_t in_pool_ = 0;
  std::vector<Run> runs_;
  File temp_;
  std::string temp_name_;
  uint64_t temp_size_ = 0;
};

}  // namespace vosk

#endif  // VOSK_RDD_ORDER_KEY_SORTER_H_
