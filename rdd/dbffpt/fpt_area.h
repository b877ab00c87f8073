#ifndef VOSK_RDD_DBFFPT_FPT_AREA_H_
#define VOSK_RDD_DBFFPT_FPT_AREA_H_

#include <cstdint>
#include <string>

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
//  - pack_target_ is set only while pack() runs the DBF pack.
class FptArea : public DbfArea {
 public:
  explicit FptArea(Driver* driver) : DbfArea(driver) {}
  ~FptArea() override;

  // Field inquiries 201-205 on memo fields. For 201, *out may hold {start, count} on entry.
  Status field_info(int pos, int what, Value* out) override;
  Status get_value(int pos, Value* out) override;
  Status get_value_length(int pos, uint32_t* out) override;
  Status put_value(int pos, const Value& value) override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status close() override;
  Status create(const OpenInfo& info) override;
  Status open(const OpenInfo& info) override;
  Status flush() override;
  Status pack() override;
  Status pack_record(uint32_t recno, bool* keep) override;
  Status zap() override;
  Status create_memo_file(const OpenInfo* info) override;
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

 private:
  // A memo reference decoded from the record.
  struct Reference {
    uint32_t block = 0;
    uint32_t type = 0;    // SMT only
    uint32_t length = 0;  // SMT only
  };
  // A stored value as it lies in the memo file.
  struct Stored {
    Reference ref;
    uint32_t type = kFptText;  // FPT type (DBT: text; SMT: the reference's type)
    std::string data;
  };

  bool HasMemoPart(const Field& f) const;
  TextCoding CodingOf(const Field& f) const;
  // Decodes a reference; false when its bytes break the reference rules.
  bool ParseReference(const Field& f, Reference* out) const;
  void StoreReference(const Field& f, const Reference& ref);
  // Reads the stored value of a memo field (block 0: empty data). Raises on failure.
  Status LoadStored(const Field& f, Stored* out);
  Status ReadBlockData(uint32_t block, uint32_t smt_length, uint32_t* type, std::string* data);
  Status DecodeStored(const Field& f, const Stored& s, Value* out);
  Status GetVariant(const Field& f, Value* out);
  Status GetMemoPathValue(int pos, Value* out);
  Status PutVariant(const Field& f, const Value& v);
  Status PutMemo(const Field& f, const Value& v);
  // Frees old_block (when non-zero) and writes data into new blocks; *block 0 for no data.
  Status ReplaceBlocks(uint32_t old_block, uint32_t old_smt_length, bool store, uint32_t type,
                       const std::string& data, uint32_t* block);
  Status CopyToPackTarget(const Field& f);
  // Raises a memo-file error (subcode from e) naming the memo file.
  void RaiseMemo(const MemoError& e, bool can_default = false);
  ErrorAnswer MemoCreateError(int sub_code, int os_code, bool can_retry);
  std::string MemoExtension(MemoKind kind) const;
  std::string MemoFileName(MemoKind kind, bool creating) const;
  uint32_t DefaultBlockSize(MemoKind kind) const;
  MemoVariant DefaultVariant() const;
  Status BlobInfo(int code, const Value& nv, Value* out);

  MemoFile memo_;
  bool memo_flush_pending_ = false;
  MemoFile* pack_target_ = nullptr;  // the temporary memo file while packing
};

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_FPT_AREA_H_
