#ifndef VOSK_RDD_DBFFPT_FPT_AREA_H_
#define VOSK_RDD_DBFFPT_FPT_AREA_H_

#include <cstdint>
#include <string>
#include <vector>

#include "rdd/dbf1/dbf_area.h"
#include "rdd/dbffpt/memo_codec.h"
#include "rdd/dbffpt/memo_file.h"

namespace vosk {

// The memo layer ("DBFFPT", and "DBFBLOB" for a memo file used alone as a store of values):
// memo, picture, blob, general and binary-memo fields keep a reference in the record and their
// data in a DBT, FPT or SMT file beside the table; variant ("V") fields keep small values in the
// record and larger ones in the memo file. Every other field passes to the DBF driver.
//
// Invariants:
//  - memo_ is open exactly while a table with memo fields (or a DBFBLOB store) is open.
//  - A value is written to the memo file before its reference reaches the record, under the
//    memo write lock when the table is shared.
//  - The blocks of a value that the record in the file references are freed only once the
//    record change that replaced the value has been written (free_on_commit_); a rollback frees
//    what the change wrote instead (free_on_rollback_). A value the pending change wrote and
//    replaced again is freed at once. So no reference in the file, nor one a rollback restores,
//    points into freed blocks. Once the change is written, a value it wrote that fits in the
//    blocks of a value it replaced moves there (MoveIntoReleasedBlocks), so that rewriting a
//    value does not make the memo file grow.
//  - packing_ is set only while pack() rewrites the records with the references of the
//    compacted memo file, which pack_blocks_ holds.
class FptArea : public DbfArea {
 public:
  explicit FptArea(Driver* driver) : DbfArea(driver) {}
  ~FptArea() override;

  // Field inquiries 201-205 on memo fields. For 201, *out may hold {start, count} on entry.
  Status field_info(int pos, int what, Value* out) override;
  Status get_value(int pos, Value* out) override;
  Status get_value_length(int pos, uint32_t* out) override;
  Status put_value(int pos, const Value& value) override;
  Status put_record(const std::string* buffer) override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status close() override;
  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override;
  Status pack() override;
  Status pack_record(uint32_t recno, bool* keep) override;
  Status zap() override;
  Status create_memo_file(const OpenInfo* info) override;
  std::string RewriteMemoName() override;
  Status BuildRewrittenMemo(File* out, bool zap, PackProgress** progress) override;
  void AdoptRewrittenMemo(File* file) override;
  Status open_memo_file(const OpenInfo& info) override;
  Status get_value_to_file(int pos, const std::string& file) override {
    return GetValueToFile(pos, file, 0);
  }
  // Writes a memo field's data to a file: mode 1 appends to an existing file, any other mode
  // creates (or truncates) it.
  Status GetValueToFile(int pos, const std::string& file, int mode);
  Status put_value_from_file(int pos, const std::string& file) override;

  MemoFile& memo_file() { return memo_; }
  // True for the DBFBLOB driver (no data file).
  bool blob() const;

 protected:
  Status CommitWrites() override;

 private:
  // A memo reference decoded from the record.
  struct Reference {
    uint32_t block = 0;
    uint32_t type = 0;    // SMT only
    uint32_t length = 0;  // SMT only
  };
  // A value whose blocks wait for the end of the pending record change.
  struct HeldValue {
    uint32_t block = 0;
    // Data length: of an SMT value (FPT and DBT read their own), and of every value the
    // pending change wrote.
    uint32_t length = 0;
  };
  // A stored value as it lies in the memo file.
  struct Stored {
    Reference ref;
    uint32_t type = kFptText;  // FPT type (DBT: text; SMT: the reference's type)
    std::string data;
  };

  // Closes the memo file (deleted when temporary) and drops the held values.
  void ReleaseMemoFile();
  bool HasMemoPart(const Field& f) const;
  TextCoding CodingOf(const Field& f) const;
  // Decodes a reference; false when its bytes break the reference rules.
  bool ParseReference(const Field& f, Reference* out) const;
  void StoreReference(const Field& f, const Reference& ref);
  // The block of a field's value in the memo file (0: none, or a broken reference).
  uint32_t StoredBlock(const Field& f) const;
  // Points a field with a value in the memo file at another copy of it.
  void SetStoredBlock(const Field& f, uint32_t block);
  // Reads the stored value of a memo field (block 0: empty data). Raises on failure.
  Status LoadStored(const Field& f, Stored* out);
  Status ReadBlockData(uint32_t block, uint32_t smt_length, uint32_t* type, std::string* data);
  Status DecodeStored(const Field& f, const Stored& s, Value* out);
  Status GetVariant(const Field& f, Value* out);
  Status GetMemoPathValue(int pos, Value* out);
  Status PutVariant(const Field& f, const Value& v);
  Status PutMemo(const Field& f, const Value& v);
  // Writes data into new blocks (*block 0 for no data) and gives up the value at old_block
  // (when non-zero): the blob store frees it at once, a record field as the invariants say.
  Status ReplaceBlocks(uint32_t old_block, uint32_t old_smt_length, bool store, uint32_t type,
                       const std::string& data, uint32_t* block);
  // Ends the pending record change for the memo file: after the record was written (commit)
  // frees the values it replaced, unless the record still references them; on rollback frees
  // the values the change wrote. A failure leaves the blocks allocated (space lost, no value).
  void ReleaseHeldValues(bool commit);
  // On commit, under the memo write lock with the header loaded: a value the change wrote
  // that fits in blocks the change released is copied there, the record is written again
  // referencing the copy, and the blocks it was written to are freed (the end of the file
  // shrinks back). The released values used so are taken off *release.
  void MoveIntoReleasedBlocks(const std::vector<HeldValue>& written,
                              std::vector<HeldValue>* release);
  // Pack, first pass: copies the memo data of every record that survives into target and
  // appends the new block numbers to pack_blocks_, one per memo field of each such record
  // (0: the field is left as it is). Neither the table nor its memo file changes.
  Status CopyMemosToTarget(MemoFile* target, PackProgress* progress);
  Status CopyToPackTarget(const Field& f, MemoFile* target, uint32_t* new_block);
  // Pack, second pass: stores a block number collected by the first pass in a field.
  void ApplyPackBlock(const Field& f, uint32_t new_block);
  // Raises a memo-file error (subcode from e) naming the memo file.
  void RaiseMemo(const MemoError& e, bool can_default = false);
  ErrorAnswer MemoCreateError(int sub_code, int os_code, bool can_retry);
  std::string MemoExtension(MemoKind kind) const;
  // ".dbt", ".fpt" or ".smt": the extension of the kind without any setting.
  static const char* KindExtension(MemoKind kind);
  std::string MemoFileName(MemoKind kind, bool creating) const;
  uint32_t DefaultBlockSize(MemoKind kind) const;
  MemoVariant DefaultVariant() const;
  Status BlobInfo(int code, const Value& nv, Value* out);

  MemoFile memo_;
  bool memo_flush_pending_ = false;
  // A read-only open found no memo file: memo values that are not empty cannot be read.
  bool memo_missing_ = false;
  std::vector<HeldValue> free_on_commit_;    // values the record in the file references
  std::vector<HeldValue> free_on_rollback_;  // values the pending change wrote
  bool packing_ = false;
  std::vector<uint32_t> pack_blocks_;  // new block numbers, in record and field order
  size_t pack_next_ = 0;               // next entry of pack_blocks_ to store
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_FPT_AREA_H_
