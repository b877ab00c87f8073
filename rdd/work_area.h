#ifndef VOSK_RDD_WORK_AREA_H_
#define VOSK_RDD_WORK_AREA_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expr/runtime_error.h"
#include "expr/status.h"
#include "expr/value.h"
#include "rdd/codepage.h"
#include "rdd/field.h"
#include "rdd/order_types.h"

namespace vosk {

class Driver;

// A compiled condition or expression evaluated in a work area, with its text.
struct Condition {
  std::function<Value()> eval;
  std::string text;
  explicit operator bool() const { return static_cast<bool>(eval); }
  // True only when the condition yields logical true.
  bool IsTrue() const {
    Value v = eval();
    return v.is_logical() && v.logical();
  }
};

// Compiles an expression text into a Condition for the current work area. Installed by the
// expression layer's glue (see rdd/expression_glue.h); nullptr until then.
using ConditionCompiler = std::function<bool(const std::string& text, Condition* out)>;
void SetConditionCompiler(ConditionCompiler compiler);
const ConditionCompiler& GetConditionCompiler();

// What an open or create is asked to do.
struct OpenInfo {
  int area = 0;
  std::string file;
  std::string alias;
  bool shared = false;
  bool read_only = false;
  std::string codepage;  // empty: the table's own mark, else the program's code page
  int connection = 0;    // passed on; no driver of the program uses it
  // Inside a file that holds several tables (a database): the table to read or write, or the
  // query whose rows are read. Empty: the driver's default.
  std::string table;
  std::string query;
};

// Where an area's code page came from.
enum class CodepageSource {
  kDefault,  // the program's code page: the table names none
  kNamed,    // named by the open or create request, or set through table inquiry 145
  kCpgFile,  // the .cpg file beside the table
  kMark,     // the code-page byte of the table header
};
const char* CodepageSourceName(CodepageSource source);

// One row of a structure array, decoded.
struct FieldSpec {
  std::string name;
  char type = 'C';
  int length = 0;
  int decimals = 0;
  int flags = 0;
};

// The scope of DBEVAL and of locate.
struct Scope {
  Condition for_cond;
  Condition while_cond;
  std::optional<int64_t> next;
  std::optional<uint32_t> record;
  bool rest = false;
};

// Record transfer between two work areas.
enum TransferFlags : uint16_t {
  kTransferMatch = 1,   // both layouts are identical
  kTransferPutRec = 2,  // whole-record copies allowed
  kTransferRowNumbers = 4,  // the destination is told each row's source record number
  kTransferSkipDeleted = 8,  // deleted source records are left out
};

// What the areas of a transfer note while they convert values: characters a code page lacks
// (written as '?') and values a field cannot hold (left blank), with the first places.
struct BadValue {
  uint64_t line = 0;   // of the text file
  std::string field;
  std::string text;    // UTF-8
};
struct TransferNotes {
  static constexpr size_t kFirstPlaces = 5;
  uint64_t lost = 0;
  uint64_t bad = 0;
  std::vector<BadValue> first_bad;
  void Bad(BadValue where) {
    if (++bad <= kFirstPlaces) first_bad.push_back(std::move(where));
  }
};

// One field pair of a transfer, 1-based field numbers.
struct TransferItem {
  uint16_t source = 0;
  uint16_t dest = 0;
};

class WorkArea;

// What the source's transfer operation is asked to do.
struct TransferInfo {
  WorkArea* source = nullptr;
  WorkArea* dest = nullptr;
  Scope scope;
  uint16_t flags = 0;
  std::vector<TransferItem> items;
  // Called now and then during the walk with the number of records copied so far.
  std::function<void(uint64_t copied)> progress;
  uint64_t copied = 0;
  // The code pages of the text values of the source and of the destination (the current
  // table's may be given instead of its own); strings cross between them as characters.
  Codepage source_cp = kProgramCodepage;
  Codepage dest_cp = kProgramCodepage;
  // Characters a code page of the way lacked (both areas' notes and the crossing), and the
  // first source record that had one.
  uint64_t lost = 0;
  uint32_t first_lost = 0;
  // Records whose store failed (appended, then marked deleted), and the first of them.
  uint64_t failed = 0;
  uint32_t first_failed = 0;
};

// Table inquiry codes the transfer and the Application use.
enum : int {
  kDbiIsTable = 1,
  kDbiCanPutRec = 2,  // whether the area takes whole raw records
  kDbiSetDelimiter = 6,
  kDbiPassword = 131,  // sets the key of an enciphered table (a text; "" none)
  // Text targets: the columns written before the fields (a number of kTextColumn* bits), and
  // the source record number of the row just appended (kTransferRowNumbers).
  kDbiTextColumns = 1002,
  kDbiRowNumber = 1003,
  // Text drivers: the code page of the file's text (a name), a UTF-8 byte-order mark at the
  // start of a CSV file (logical), an empty CSV value read as null (logical), and whether a
  // value read that its field cannot hold is left blank and noted (logical; else an error).
  kDbiFileCodepage = 1004,
  kDbiWriteBom = 1005,
  kDbiEmptyIsNull = 1006,
  kDbiBlankBadValues = 1007,
  // Spreadsheets: data rows per sheet (a number; 0 = the format's limit).
  kDbiSheetRows = 1008,
};
inline constexpr int kTextColumnRecno = 1;    // "_RECNO": the source record number
inline constexpr int kTextColumnDeleted = 2;  // "_DELETED": "*" for a deleted record

// One relation of a parent area to a child area.
struct Relation {
  Condition key;
  bool scoped = false;
  int child_area = 0;
};

// The base work area: the operations every driver inherits. A driver overrides only the
// operations its layer supplies and reaches the inherited one with Base::op.
//
// Invariants:
//  - fields_ holds the visible fields first and the hidden system fields after them.
//  - An area is bound to one registered driver for its whole life.
class WorkArea {
 public:
  explicit WorkArea(Driver* driver) : driver_(driver) {}
  virtual ~WorkArea() = default;
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;

  // --- position flags ---
  virtual bool bof() const { return bof_; }
  virtual bool eof() const { return eof_; }
  virtual bool found() const { return found_; }
  void set_found(bool f) { found_ = f; }

  // --- navigation ---
  virtual Status go_bottom() { return Unsupported("go_bottom"); }
  virtual Status go_to(uint32_t recno) { return Unsupported("go_to"); }
  virtual Status go_to_id(const Value& id) { return Unsupported("go_to_id"); }
  virtual Status go_top() { return Unsupported("go_top"); }
  virtual Status seek(const Value& key, bool soft, bool find_last) { return Unsupported("seek"); }
  virtual Status skip(int64_t n);
  virtual Status skip_filter(int direction);
  virtual Status skip_raw(int64_t n) { return Unsupported("skip_raw"); }

  // --- structure ---
  // Adds one decoded field (name normalised here: leading blanks, tabs, CR and LF skipped,
  // trailing blanks removed, upper-cased, at most 10 characters).
  virtual Status add_field(Field field);
  virtual Status append(bool release_locks) { return Unsupported("append"); }
  // Checks and adds every row of a structure array.
  virtual Status create_fields(const ValueArray& structure);
  virtual Status delete_record() { return Unsupported("delete_record"); }
  virtual Status is_deleted(bool* out) { return Unsupported("is_deleted"); }
  virtual int field_count() const { return static_cast<int>(fields_.size()) - hidden_fields_; }
  // Value of a field-info inquiry: name, type letter, length, decimals, flags.
  virtual Status field_info(int pos, int what, Value* out);
  virtual std::string field_name(int pos) const;
  virtual Status flush() { return Unsupported("flush"); }
  virtual Status get_record(std::string* out) { return Unsupported("get_record"); }
  virtual Status get_value(int pos, Value* out) { return Unsupported("get_value"); }
  virtual Status get_value_length(int pos, uint32_t* out) { return Unsupported("get_value_length"); }
  // Whether a field of the current record holds no value at all (a blank number, date or
  // logical), which its value cannot tell from zero, the empty date or false. A record
  // transfer leaves such fields blank in the destination. The base answers false.
  virtual Status field_is_blank(int pos, bool* out) {
    *out = false;
    return kSuccess;
  }
  virtual Status go_cold() { return Unsupported("go_cold"); }
  virtual Status go_hot() { return Unsupported("go_hot"); }
  virtual Status put_record(const std::string* buffer) { return Unsupported("put_record"); }
  virtual Status put_value(int pos, const Value& value) { return Unsupported("put_value"); }
  virtual Status recall() { return Unsupported("recall"); }
  virtual Status record_count(uint32_t* out) { return Unsupported("record_count"); }
  // *out holds the argument of a code that takes one on entry.
  virtual Status record_info(uint32_t recno, int code, Value* out);
  virtual uint32_t record_number() const { return 0; }
  virtual Value record_id() const { return Value::Integer(record_number()); }
  virtual Status set_field_extent(int count);
  virtual const std::string& alias_name() const { return alias_; }
  virtual Status close();
  virtual Status create(const OpenInfo& info);
  virtual Status info(int code, const Value& new_value, Value* out);
  virtual Status new_area() { return kSuccess; }
  virtual Status open(const OpenInfo& info);
  virtual std::string system_name() const;
  virtual Status eval(const std::function<void()>& block, const Scope& scope);
  // Record transfer: the walk over the scope of this (source) area, copying each record with
  // transfer_record. The base runs the walk; drivers that can copy whole records decide
  // kTransferPutRec first.
  virtual Status transfer(TransferInfo* info);
  // Copies the current record of this area into a new record of info->dest.
  virtual Status transfer_record(TransferInfo* info);
  // Evaluates a condition in this area: *out is true when it yields logical true or a
  // non-zero number.
  virtual Status eval_block(const Condition& cond, bool* out);
  virtual Status pack() { return Unsupported("pack"); }
  virtual Status pack_record(uint32_t recno, bool* keep) { return Unsupported("pack_record"); }
  virtual Status zap() { return Unsupported("zap"); }

  // --- relations ---
  virtual Status child_end(WorkArea* parent, const Relation& rel);
  virtual Status child_start(WorkArea* parent, const Relation& rel);
  virtual Status child_sync(WorkArea* parent, const Relation& rel) { return Unsupported("child_sync"); }
  virtual Status sync_children();
  virtual Status clear_relations();
  // Drops the relations into one child area (closing that child), keeping the others.
  void DropRelationsInto(int child_area);
  virtual Status force_relation() { return kSuccess; }
  virtual int relation_area(int n) const;
  virtual std::string relation_text(int n) const;
  // Positions the child of a relation of this (parent) area: the key evaluated here is sought
  // in the child's controlling order (first made the child's scope when the relation is
  // scoped), or, when the child has none, taken as a record number.
  virtual Status relation_eval(const Relation& rel);
  virtual Status set_relation(const Relation& rel);

  // --- filters and locate ---
  virtual Status clear_filter();
  virtual Status clear_locate();
  virtual std::string filter_text() const { return filter_.text; }
  virtual Status set_filter(const Condition& cond);
  virtual Status set_locate(const Scope& scope);
  virtual Status locate(bool continue_search);
  virtual Status compile(const std::string& text, Condition* out);

  // --- orders (the index engines override these) ---
  // Opens an order bag and adds its orders to the order list.
  virtual Status order_list_add(const std::string& bag, const Value& order) {
    return Unsupported("order_list_add");
  }
  // Closes every bag but the structural one; no order stays controlling.
  virtual Status order_list_clear() { return Unsupported("order_list_clear"); }
  // Closes one bag of the list.
  virtual Status order_list_delete(const std::string& bag) {
    return Unsupported("order_list_delete");
  }
  // *previous = name of the controlling order; with an order designator (not nil) makes the order
  // it resolves to controlling (none when it resolves to nothing).
  virtual Status order_list_focus(const Value& order, const Value& bag, std::string* previous) {
    previous->clear();
    return Unsupported("order_list_focus");
  }
  virtual Status order_list_rebuild() { return Unsupported("order_list_rebuild"); }
  // Keeps the order condition record for the next order_create (nullptr releases it).
  virtual Status order_condition(std::unique_ptr<OrderCondition> cond) {
    order_condition_ = std::move(cond);
    return kSuccess;
  }
  virtual Status order_create(const OrderCreateInfo& info) { return Unsupported("order_create"); }
  virtual Status order_destroy(const Value& order, const Value& bag) {
    return Unsupported("order_destroy");
  }
  // Answers an order-info request; the base answers the neutral values (no orders).
  virtual Status order_info(OrderInfoRequest* req);
  const OrderCondition* pending_order_condition() const { return order_condition_.get(); }

  // --- errors ---
  // Raises a runtime error on behalf of the area (subsystem = driver name).
  virtual ErrorAnswer error(RuntimeError err);

  // --- locks ---
  virtual Status lock(int kind, uint32_t recno, bool* locked) { return Unsupported("lock"); }
  virtual Status unlock(uint32_t recno) { return Unsupported("unlock"); }

  // --- memo files ---
  virtual Status create_memo_file(const OpenInfo* info) { return Unsupported("create_memo_file"); }
  virtual Status open_memo_file(const OpenInfo& info) { return Unsupported("open_memo_file"); }
  virtual Status get_value_to_file(int pos, const std::string& file) { return Unsupported("get_value_to_file"); }
  virtual Status put_value_from_file(int pos, const std::string& file) { return Unsupported("put_value_from_file"); }

  // --- header ---
  virtual Status read_header() { return Unsupported("read_header"); }
  virtual Status write_header() { return Unsupported("write_header"); }

  // --- accessors ---
  Driver* driver() const { return driver_; }
  int area_number() const { return area_; }
  void set_area_number(int a) { area_ = a; }
  void set_alias(std::string a) { alias_ = std::move(a); }
  const std::vector<Field>& fields() const { return fields_; }
  const Field& field(int pos) const { return fields_[pos - 1]; }  // REQUIRES: 1 <= pos
  const Condition& filter() const { return filter_; }
  Value& scratch() { return scratch_; }
  int parent_count() const { return parent_count_; }
  const std::vector<Relation>& relations() const { return relations_; }
  Codepage codepage() const { return codepage_; }
  CodepageSource codepage_source() const { return codepage_source_; }
  const TransferNotes& notes() const { return notes_; }
  void ClearNotes() { notes_ = TransferNotes(); }

 protected:
  // Sets kTransferPutRec when the layouts match (kTransferMatch), the source's records are
  // eligible and both areas use one code page: at once between areas of one driver, otherwise
  // when the destination answers that it takes whole records.
  Status DecideWholeRecords(TransferInfo* info, bool eligible);
  // Appends the destination's record of a transfer and tells it the source record number
  // when the transfer asks for it.
  Status AppendTransferRow(TransferInfo* info);
  // Positions the area where a scope starts: the record given, the current one (NEXT, WHILE,
  // REST) or the top. *remaining: records the scope may take (-1: no limit); *nothing: NEXT
  // below 1, nothing to do.
  Status StartScope(const Scope& scope, int64_t* remaining, bool* nothing);
  // transfer_record for sources that are not tables: every value of the record is read (and so
  // checked) before the destination record is appended, so a rejected record leaves nothing.
  Status TransferCheckedRecord(TransferInfo* info);
  // A string value of field pos of this (source) area turned from the transfer's source code
  // page into its destination's; characters the destination lacks are counted in notes_.
  void CrossCodepages(const TransferInfo& info, int pos, Value* v);
  // Stores a value read from this area (blank: none) in the destination's field of item.
  Status StoreTransferValue(TransferInfo* info, const TransferItem& item, Value* v, bool blank);
  // Counts a record whose store failed and marks the destination's record deleted.
  Status StoreFailed(TransferInfo* info);
  // "Operation not supported" (general 30) for an operation this driver lacks.
  Status Unsupported(const char* op);
  // Raises a driver error with the general code its subcode implies.
  ErrorAnswer DriverError(int sub_code, const std::string& file = "", int os_code = 0,
                          const std::string& operation = "", bool can_retry = false,
                          bool can_default = false);

  Driver* driver_;
  int area_ = 0;
  std::string alias_;
  std::vector<Field> fields_;
  int hidden_fields_ = 0;
  bool bof_ = true, eof_ = true, found_ = false, top_ = false, bottom_ = false;
  Condition filter_;
  Scope locate_;
  std::vector<Relation> relations_;
  int parent_count_ = 0;
  Value scratch_;
  Codepage codepage_ = kProgramCodepage;
  CodepageSource codepage_source_ = CodepageSource::kDefault;
  std::unique_ptr<OrderCondition> order_condition_;  // set by ORDCONDSET, used by create
  std::string transfer_buffer_;  // the raw record of a whole-record transfer
  std::vector<Value> transfer_values_;  // the values of a checked record transfer
  std::vector<char> transfer_blank_;
  TransferNotes notes_;  // of the transfers this area took part in
};

}  // namespace vosk

#endif  // VOSK_RDD_WORK_AREA_H_
