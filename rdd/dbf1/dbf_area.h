#ifndef VOSK_RDD_DBF1_DBF_AREA_H_
#define VOSK_RDD_DBF1_DBF_AREA_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/file_map.h"
#include "rdd/dbf1/dbf_format.h"
#include "rdd/dbf1/record_cipher.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area.h"

namespace vosk {

class TableRewrite;

// The DBF driver: tables in the DBF format, their record buffer, navigation with BOF/EOF and
// the phantom record, field encoding, append, delete, recall, commit, pack and zap.
//
// Invariants:
//  - record_ holds record_len_ bytes; it is meaningful only while valid_ is set.
//  - recno_ is in 1..rec_count_ + 1; rec_count_ + 1 is the phantom record (positioned_ false).
//  - hot_ implies valid_; a hot record is written by go_cold before the area moves.
class DbfArea : public WorkArea {
 public:
  explicit DbfArea(Driver* driver) : WorkArea(driver) {}
  ~DbfArea() override;

  Status go_bottom() override;
  Status go_to(uint32_t recno) override;
  Status go_to_id(const Value& id) override;
  Status go_top() override;
  Status skip(int64_t n) override;
  Status skip_raw(int64_t n) override;
  Status append(bool release_locks) override;
  Status delete_record() override;
  Status is_deleted(bool* out) override;
  Status flush() override;
  Status get_record(std::string* out) override;
  Status get_value(int pos, Value* out) override;
  Status get_value_length(int pos, uint32_t* out) override;
  Status field_is_blank(int pos, bool* out) override;
  Status go_cold() override;
  Status go_hot() override;
  Status put_record(const std::string* buffer) override;
  Status put_value(int pos, const Value& value) override;
  Status recall() override;
  Status record_count(uint32_t* out) override;
  Status record_info(uint32_t recno, int code, Value* out) override;
  uint32_t record_number() const override { return recno_; }
  Status close() override;
  Status create(const OpenInfo& info) override;
  Status info(int code, const Value& new_value, Value* out) override;
  Status new_area() override;
  Status open(const OpenInfo& info) override;
  Status pack() override;
  Status pack_record(uint32_t recno, bool* keep) override;
  Status zap() override;
  Status transfer(TransferInfo* info) override;
  Status child_sync(WorkArea* parent, const Relation& rel) override;
  Status force_relation() override;
  Status child_start(WorkArea* parent, const Relation& rel) override;
  // Record inquiry 10: nil when nobody else holds the lock of the record (or the table has no
  // _DBASELOCK field); otherwise what the holder wrote there: `what` 0 the lock time
  // "hh:mm:ss", 1 the lock date, 2 the holder's computer name.
  Status LockHolderInfo(uint32_t recno, Value what, Value* out);
  // True when another program holds the record's lock or the table's (or when that cannot be
  // told): a change of the record may be under way. Takes no lock.
  bool RecordLockedElsewhere(uint32_t recno);
  Status child_end(WorkArea* parent, const Relation& rel) override;
  Status clear_filter() override;
  Status set_filter(const Condition& cond) override;
  // method 1: lock the current record releasing the others; 2: lock recno (0 = current)
  // keeping the others; 3: file lock. A refused lock answers *locked = false, no error.
  Status lock(int method, uint32_t recno, bool* locked) override;
  Status unlock(uint32_t recno) override;
  Status read_header() override;
  Status write_header() override;

  // Low-level lock actions on the data file's lock regions: 1 file lock, 2 file unlock,
  // 3 record lock, 4 record unlock, 5 header lock, 6 header unlock, 7 append lock, 8 append
  // unlock, 9 record lock test. Succeeds without doing anything on tables not shared.
  Status raw_lock(int action, uint32_t recno);

  // Locks or unlocks an index file of this table at the positions of the table's lock scheme
  // (pool 0: one byte at the base; pool 65536: 65537 bytes exclusively, or one random byte of
  // the pool shared). *position remembers which byte a shared lock took, for the unlock.
  bool LockIndexFile(File* file, bool lock, bool shared, bool wait, uint32_t* position);

  // --- the engine's fast paths (used by record transfer and the command-line tool) ---
  // The raw record bytes of the current record, read if needed; nullptr on failure.
  const uint8_t* RawRecord();
  // Lets sequential readers take records from a read-ahead buffer (read-only or exclusive
  // tables only; shared writers always read the file).
  void set_read_ahead(bool on) { read_ahead_ = on; }

  const std::string& file_name() const { return file_name_; }
  uint16_t header_length() const { return header_len_; }
  uint16_t record_length() const { return record_len_; }
  TableKind table_kind() const { return table_kind_; }
  MemoKind memo_kind() const { return memo_kind_; }
  uint8_t version_byte() const { return header_[kHdrVersion]; }
  bool shared() const { return shared_; }
  bool read_only() const { return read_only_; }
  bool table_enciphered() const { return table_enciphered_; }
  // The header's flag of a structural order bag (opened with the table). Setting it writes the
  // header at the next flush or close.
  bool structural_bag() const { return structural_bag_; }
  void set_structural_bag(bool on) {
    structural_bag_ = on;
    header_dirty_ = true;
  }
  int lock_scheme() const { return lock_scheme_; }

  // Lock regions of a scheme; false for a scheme outside 1-5.
  static bool SchemeOf(int scheme, bool structural_bag, LockScheme* out);
  // Version byte written for a table kind, memo kind and flags.
  static uint8_t VersionByteFor(TableKind kind, MemoKind memo, bool autoinc, bool memo_present,
                                bool enciphered);

  // Clear and enciphered records never mix: a table marked enciphered is written only with
  // its own key, one not marked only without ("Write not allowed" otherwise, before anything
  // is written). Tables with memo fields are never enciphered here: one marked enciphered by
  // another program is not written.
  Status RequireMatchingKey();

 protected:
  // Reads the current record into the buffer when it is not valid yet.
  Status ReadRecord();
  // Completes a record just read into the buffer: the "D"/"E" deletion bytes of enciphered
  // records are turned into "*"/blank and the rest deciphered with the table key.
  void AcceptReadRecord();
  // Recomputes the record count from the file size.
  Status RefreshCount();
  // Fills the buffer with the blank record; with take_counters the autoincrement fields
  // receive their next values (append).
  Status BlankFill(bool take_counters);
  Status DecodeField(const Field& f, Value* out);
  Status EncodeField(const Field& f, const Value& v);
  // A bit of the current record's _NullFlags field; a table without one, or a field of another
  // program too short for the bit, has no bit: reads false, writes are ignored (returns false).
  bool NullFlagsBit(int bit) const;
  bool SetNullFlagsBit(int bit, bool on);
  // Takes the next value of an autoincrement counter from the descriptor on disk.
  Status NextCounter(int field_index, int64_t* out);
  Status WriteRecordAt(uint32_t recno, const uint8_t* data);
  // The destination of a transfer that can take this table's records in blocks as they are
  // stored (nullptr when the records must go one at a time), and that block copy.
  DbfArea* BlockCopyTarget(TransferInfo* info);
  Status CopyRecordBlocks(TransferInfo* info, DbfArea* dest);
  // Writes what this area holds back: the records changed in the read-ahead under a table
  // lock and the appended records gathered for a table held exclusively. Every read of the
  // data file outside the read-ahead and every header write calls it first.
  Status FlushPending();
  // The appended records gathered for a table held exclusively, with the end-of-file byte
  // after them.
  Status FlushAppends();
  // The records changed in the read-ahead while the table is locked whole, in one write.
  Status FlushCachedWrites();
  // Writes the record buffer at a record number, enciphered when the table's key says so.
  Status WriteBufferAt(uint32_t recno);
  bool LockRecord(uint32_t recno);
  void UnlockRecord(uint32_t recno);
  bool LockHeader(bool wait);
  void UnlockHeader();
  void StampFields();
  // "Write not allowed" on read-only tables, "Exclusive required" on shared ones (pack, zap).
  Status RequireExclusiveWrite();
  // Whether the key fits the enciphered table: by the check value in its header when it has
  // one, else by its first records (a wrong key turns their numbers, dates and logicals into
  // bytes they never hold; a table without such fields cannot tell and is taken as fitting).
  bool KeyFitsTable();
  // Writes the check value of a key (none: zeros) into a 32-byte header.
  static void StampKeyCheck(const std::optional<CipherKey>& key, uint8_t* head);
  // The progress pair {block, step} that DBPACK leaves in the scratch slot: Tick() calls the
  // block every step records examined, Finish() once more for the records since the last call.
  class PackProgress {
   public:
    explicit PackProgress(const Value& scratch);
    void Tick();
    void Finish();

   private:
    Value block_;  // nil: no progress block
    int64_t step_ = 1;
    int64_t since_call_ = 0;
  };
  // The body of pack and zap (REQUIRES: the table is held exclusively and writable, no record
  // hot): builds the new table beside the old one (with zap empty, else the records that
  // pack_record keeps, as pack_record left them) and its memo file through the hooks below,
  // then swaps both in through a TableRewrite. Neither old file is written. progress may be
  // null.
  Status RewriteTable(bool zap, PackProgress* progress);
  // A change of every record's cipher that a rewrite carries out (whole-table encipher and
  // decipher): each record is read with `from` and stored with `to`, deleted ones included.
  struct CipherChange {
    std::optional<CipherKey> from, to;
    bool encipher = false;
  };
  // The body of whole-table encipher and decipher (REQUIRES: as for RewriteTable): the records
  // go into a new table beside the old one, swapped in once complete, so that no moment leaves
  // a mix of enciphered and clear records. The memo file is not touched.
  Status RecipherTable(const CipherChange& change);
  // The end of every rewrite: commits the new files of rw (the table's, then its memo's) and
  // takes them as this area's open files, with the new table's header and record count.
  Status SwapInRewrite(TableRewrite* rw, const std::array<uint8_t, kDbfHeaderSize>& head,
                       uint32_t count);
  // False when a deciphered record (its bytes after the deletion flag) holds bytes its
  // numbers, dates or logicals never hold (the sign of a wrong key); *tested tells whether it
  // has such fields at all.
  bool RecordLooksClear(const uint8_t* rec, bool* tested) const;
  // True when navigation goes record after record (no controlling order): a table locked
  // whole may then be read ahead, as no other program can change it meanwhile.
  virtual bool InNaturalOrder() const { return true; }
  // Hooks of the memo layer into a rewrite: the memo file to rewrite ("" none); filling its new
  // file before the records are written (the hook may take the progress, then it sets
  // *progress to null); adopting the new file once it is swapped in.
  virtual std::string RewriteMemoName() { return ""; }
  virtual Status BuildRewrittenMemo(File* out, bool zap, PackProgress** progress) {
    return kSuccess;
  }
  virtual void AdoptRewrittenMemo(File* file) {}
  // Writes the header, the descriptors, the records kept and the end-of-file byte of a
  // rewritten table into out; *head gets its 32-byte header, *count its record count.
  // With a cipher change every record is kept and re-enciphered instead (zap ignored).
  Status BuildRewrittenTable(File* out, bool zap, PackProgress* progress,
                             std::array<uint8_t, kDbfHeaderSize>* head, uint32_t* count,
                             const CipherChange* cipher = nullptr);
  // The bytes of the record buffer as they are stored (enciphered when the table's key says
  // so); points into record_ or scratch.
  const uint8_t* StoredImage(std::vector<uint8_t>* scratch);
  // The 32-byte header for a record count as write_header() stores it.
  void StampHeader(uint32_t count, uint8_t* out);
  // Readies the current record for a change: forces a pending relation, reads the record and
  // makes it hot. On the phantom record *phantom is set and nothing else happens.
  Status PrepareChange(bool* phantom);
  // The value a put stores after the put trigger saw it (in itself when triggers are off);
  // nullptr when the trigger refused the put.
  const Value* PutTriggerValue(int pos, const Value& in, Value* changed);
  // Calls the trigger function when triggers are on; false refuses the operation.
  bool FireTrigger(int event, Value* extra = nullptr, Value* value = nullptr);
  // Sets the table key from a password (empty: no key); *previous gets the old key or nil.
  Status SetPassword(const std::string& password, Value* previous);
  // Enciphers or deciphers every record (whole-table encipher / decipher).
  Status CipherTable(bool encipher, const std::string& password);
  // Writes lock time, date and computer name into the _DBASELOCK field of a record on disk.
  void WriteDbaseLock(uint32_t recno);
  // Re-reads the current record after a lock protects it.
  Status RefreshLockedRecord();
  // "Create error" (general 20) with a subcode.
  ErrorAnswer CreateError(int sub_code, int os_code = 0, bool can_retry = false);
  // Raises a value error of a field (data type or width; the handler may answer "default")
  // and fails.
  Status FieldValueError(int sub_code, const std::string& field = "") {
    DriverError(sub_code, "", 0, field, false, true);
    return kFailure;
  }
  // The end of a create: the memo file when asked for, the default alias, the base area;
  // closes everything on failure.
  Status CreateMemoAndArea(OpenInfo* info, bool with_memo);
  // Sets the table's code page: the one named, else that of a .cpg file beside the table,
  // else that of the header's code-page byte, else the program's.
  // read_marks false (create): only the name counts.
  void ChooseCodepage(const std::string& named, bool read_marks);
  // On create: a UTF-8 table gets a .cpg file naming its code page (the header byte has no
  // mark for it); any other table loses a .cpg left by an older table of its name.
  void WriteCpgFile();
  // Forgets the read-ahead, after writing the records changed in it.
  void DropReadAhead() {
    (void)FlushCachedWrites();  // a failure is reported as it happens
    cache_count_ = 0;
  }
  // The records up to byte `end` of the file are in record_map_ (mapped again when the file
  // grew); false when they must be read.
  bool MappedRecords(uint64_t end);
  // Asks the processor to fetch a record that is about to be read through the map (records
  // read in key order lie anywhere in the file: fetching ahead hides the memory's latency).
  void PrefetchRecord(uint32_t recno) const {
    uint64_t off = header_len_ + static_cast<uint64_t>(recno - 1) * record_len_;
    if (recno == 0 || off + record_len_ > record_map_.size()) return;
    for (uint64_t b = off & ~uint64_t{63}; b < off + record_len_; b += 64) {
      __builtin_prefetch(record_map_.data() + b);
    }
  }
  bool TableHasNullFlags() const { return null_flags_field_ > 0; }

  File data_;
  std::string file_name_;
  std::array<uint8_t, kDbfHeaderSize> header_{};
  uint16_t header_len_ = 0;
  uint16_t record_len_ = 1;
  TableKind table_kind_ = TableKind::kStandard;
  MemoKind memo_kind_ = MemoKind::kNone;
  int lock_scheme_ = 0;
  std::vector<uint8_t> record_;
  std::vector<uint8_t> blank_record_;  // the blank record, made by the first BlankFill
  bool blank_has_counters_ = false;    // fields that take counter values on append
  uint32_t rec_count_ = 0;
  uint32_t recno_ = 0;
  bool autoinc_ = false;
  bool memo_present_ = false;
  bool structural_bag_ = false;
  bool stamp_fields_ = false;
  bool data_flush_pending_ = false;
  bool shared_ = false;
  bool read_only_ = false;
  bool valid_ = false;
  bool positioned_ = false;
  bool hot_ = false;
  bool appended_ = false;
  bool deleted_ = false;
  bool table_enciphered_ = false;
  bool header_dirty_ = false;
  bool file_locked_ = false;
  bool header_locked_ = false;
  bool temporary_ = false;
  int null_flags_field_ = 0;  // 1-based index into fields_ of _NullFlags, 0 = none
  int dbase_lock_field_ = 0;  // 1-based index of _DBASELOCK, 0 = none
  std::vector<uint32_t> locks_;  // record numbers locked, in locking order
  WorkArea* pending_parent_ = nullptr;  // relation waiting to reposition this child
  Relation pending_relation_;
  int read_mode_flag_ = 1;
  std::optional<CipherKey> key_;      // record cipher key; wiped when released
  bool record_enciphered_ = false;    // the buffer is (to be) stored enciphered
  bool key_checked_ = false;          // key_ was found to fit the table
  std::string trigger_;               // trigger function name
  bool trigger_active_ = false;
  // Records read one at a time come from a read-only map of the table while it is opened
  // shared or read-only (no cooperating program shortens it then; this area drops the map
  // before it shortens or replaces its file).
  FileMap record_map_;
  bool map_refused_ = false;
  // Read-ahead of consecutive records for sequential scans.
  bool read_ahead_ = false;
  std::vector<uint8_t> cache_;
  uint32_t cache_first_ = 0;  // record number of the first cached record
  uint32_t cache_count_ = 0;
  // While the table is locked whole no other process may change or lock its records, so the
  // records this area changes within the read-ahead are written together: [dirty_first_,
  // dirty_end_) holds them, written before the read-ahead moves, before any other read or
  // write of the file, at every flush and before the unlock.
  uint32_t dirty_first_ = 0;
  uint32_t dirty_end_ = 0;
  // Appended records of an exclusive table not yet written (consecutive, from pending_first_).
  std::vector<uint8_t> pending_;
  uint32_t pending_first_ = 0;
};

// Registers "DBF" (and the memo-capable names that build on it).
void RegisterDbfDriver();

}  // namespace vosk

#endif  // VOSK_RDD_DBF1_DBF_AREA_H_
