#ifndef VOSK_RDD_DBFFPT_MEMO_FILE_H_
#define VOSK_RDD_DBFFPT_MEMO_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "expr/runtime_error.h"
#include "platform/file.h"
#include "rdd/dbf1/dbf_format.h"
#include "rdd/dbffpt/free_space.h"
#include "rdd/dbffpt/memo_format.h"

namespace vosk {

// Why a memo-file operation failed: a driver subcode (read, write or corruption) and the OS
// code. The work area turns it into a runtime error naming the memo file.
struct [[nodiscard]] MemoError {
  int sub_code = 0;  // 0: success
  int os_code = 0;
  bool ok() const { return sub_code == 0; }
  static MemoError Ok() { return {}; }
};

// The blocks of one memo file: its header, the free-space list, and the values stored in it.
// It knows nothing of records or fields; references are block numbers.
//
// Invariants:
//  - block_size() > 0 once the file has been initialised or detected.
//  - While loaded(), free_space() mirrors the header and list blocks on disk, except for
//    changes not yet written by SaveHeader().
class MemoFile {
 public:
  MemoFile() = default;
  MemoFile(const MemoFile&) = delete;
  MemoFile& operator=(const MemoFile&) = delete;

  File& file() { return file_; }
  const std::string& name() const { return file_.path(); }
  MemoKind kind() const { return kind_; }
  MemoVariant variant() const { return variant_; }
  uint32_t block_size() const { return block_size_; }
  // DBT files of dBase IV tables write the 8-byte block header form.
  void set_dbase4_blocks(bool on) { dbase4_blocks_ = on; }
  // Exclusive files may keep the header in memory between writes.
  void set_cache_header(bool on) { cache_header_ = on; }
  // Sets what Initialise() writes.
  void Configure(MemoKind kind, MemoVariant variant, uint32_t block_size);

  int header_size() const;
  uint32_t first_block() const;
  // DBFBLOB stores keep a user block number in the header.
  uint32_t root() const { return root_; }

  // Writes the header of an empty file and cuts the file after it.
  MemoError Initialise(bool blob);
  // Reads the header of an existing FPT or SMT file for its variant and block size (DBT: 512).
  MemoError Detect(MemoKind kind, bool blob);

  // Loads next free block and free list (again when the header is not cached).
  MemoError LoadHeader();
  // Writes what changed in the header and list blocks; truncates after a shrink.
  MemoError SaveHeader();
  void Invalidate() { loaded_ = false; }
  const FreeSpace& free_space() const { return free_; }

  // --- reading (a block number is range-checked before use) ---
  // FPT: type and data length from the block header.
  MemoError FptHeader(uint32_t block, uint32_t* type, uint32_t* length);
  // FPT: type and data. max_bytes limits what is read (0: everything).
  MemoError ReadFpt(uint32_t block, uint32_t* type, std::string* data);
  // DBT: the text up to the first 0x1A, or as long as a dBase IV block header says.
  MemoError ReadDbt(uint32_t block, std::string* data);
  // SMT (and any raw read): length bytes from the start of a block.
  MemoError ReadRaw(uint32_t block, uint32_t length, std::string* data);
  // Blocks taken by a value of a data length (per kind).
  uint64_t BlocksFor(uint64_t length) const;

  // --- writing (REQUIRES: LoadHeader() succeeded) ---
  // Stores a value in newly allocated blocks. FPT: type and data; DBT: the text; SMT: data.
  MemoError WriteValue(uint32_t type, std::string_view data, uint32_t* block);
  // Blocks taken by the value at block, or 0 when no value of this file can lie there (in the
  // header, past the next free block, over a list block). smt_length: the data length of an
  // SMT value (FPT reads its own block header; DBT the fewest blocks its text and a terminator
  // take, so that what is counted never reaches into the next value).
  uint64_t ValueBlocks(uint32_t block, uint32_t smt_length);
  // Frees the blocks of the value at block. A block that does not look like a value is left
  // alone.
  void FreeValue(uint32_t block, uint32_t smt_length) {
    FreeBlocks(block, ValueBlocks(block, smt_length));
  }
  // Frees blocks of a value counted by ValueBlocks (or a part of them). Plain FPT and DBT files
  // keep no list: only blocks at the end of the file are given back.
  void FreeBlocks(uint32_t start, uint64_t blocks);
  // Copies whole blocks (a value counted by ValueBlocks) to blocks no value uses.
  MemoError CopyBlocks(uint32_t from, uint32_t to, uint32_t blocks);
  void set_root(uint32_t root) { root_ = root; root_changed_ = true; }

  // Memo write lock (byte 0): exclusive and waiting for writers, shared for header reads.
  bool Lock(bool exclusive) { return file_.Lock(0, 1, exclusive, true); }
  void Unlock() { (void)file_.Unlock(0, 1); }

 private:
  bool six_list() const;   // free list in the header (SIx variant, SMT)
  bool flex_list() const;  // free list in list blocks (FlexFile, CLIP)
  uint64_t Offset(uint32_t block) const { return static_cast<uint64_t>(block) * block_size_; }
  uint32_t GetWord(const uint8_t* p) const;
  void PutWord(uint8_t* p, uint32_t v) const;
  // True when [block, block + blocks) lies between the header and the next free block.
  bool InData(uint32_t block, uint64_t blocks) const;
  MemoError LoadFlexList();
  MemoError SaveFlexList();
  MemoError WriteListBlock(uint32_t offset, bool second);
  MemoError ReadAtChecked(void* buf, size_t len, uint64_t offset);

  File file_;
  MemoKind kind_ = MemoKind::kNone;
  MemoVariant variant_ = MemoVariant::kNone;
  uint32_t block_size_ = 0;
  bool dbase4_blocks_ = false;
  bool cache_header_ = false;
  bool loaded_ = false;
  FreeSpace free_;
  uint32_t saved_next_free_ = 0;  // next free block as last read or written
  uint32_t list_offset_ = 0;      // FlexFile main list block (byte offset, 0 = none)
  uint32_t list2_offset_ = 0;     // FlexFile second list block
  uint32_t list_counter_ = 0;     // FlexFile save counter
  uint32_t root_ = 0;
  bool root_changed_ = false;
  std::vector<uint8_t> buf_;      // scratch for block images
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_MEMO_FILE_H_
