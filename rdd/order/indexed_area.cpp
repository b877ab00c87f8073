#include "rdd/order/indexed_area.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>

#include "expr/expression.h"
#include "expr/settings.h"
#include "platform/owned_file.h"
#include "platform/system.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::string OrderName(const std::string& s) {
  std::string n = Upper(Trim(s));
  if (n.size() > 10) n.resize(10);
  return n;
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string BaseNameOf(const std::string& path) {
  std::string base = FileNameOf(path);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

bool HasExt(const std::string& path) { return FileNameOf(path).find('.') != std::string::npos; }

// Selects an area for the lifetime of the object (expressions see its fields).
class ScopedArea {
 public:
  explicit ScopedArea(int area) : previous_(CurrentAreaNumber()) {
    if (previous_ != area) SelectAreaNumber(area);
  }
  ~ScopedArea() {
    if (CurrentAreaNumber() != previous_) SelectAreaNumber(previous_);
  }
  ScopedArea(const ScopedArea&) = delete;
  ScopedArea& operator=(const ScopedArea&) = delete;

 private:
  int previous_;
};

// The field a key expression names when it is a single field (with an optional alias or
// FIELD-> prefix), else "". An alias prefix that no other open area uses is taken as this
// table's own: other programs write the alias they had ("ntx_char->v1" for ntx-char.dbf).
std::string SingleFieldName(const std::string& text, const std::string& alias, int area) {
  std::string t = Upper(Trim(text));
  size_t arrow = t.find("->");
  if (arrow != std::string::npos) {
    std::string prefix = Trim(t.substr(0, arrow));
    if (prefix != alias && prefix != "FIELD" && prefix != "_FIELD") {
      int other = AreaOfDesignator(prefix);
      if (other != 0 && other != area) return "";
    }
    t = Trim(t.substr(arrow + 2));
  }
  if (t.empty() || !(std::isalpha(static_cast<unsigned char>(t[0])) || t[0] == '_')) return "";
  for (char c : t) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return "";
  }
  return t;
}

}  // namespace

std::string OrderNormalName(const std::string& s) { return OrderName(s); }
std::string TrimBlanks(const std::string& s) { return Trim(s); }
std::string PathFileName(const std::string& path) { return FileNameOf(path); }
std::string PathBaseName(const std::string& path) { return BaseNameOf(path); }
bool PathHasExtension(const std::string& path) { return HasExt(path); }

IndexedArea::~IndexedArea() { bags_.clear(); }

bool IndexedArea::DirtyRead() const {
  return (read_mode_flag_ & driver_->settings().read_mode) != 0;
}

ErrorAnswer IndexedArea::OrderError(int gen_code, int sub_code, const std::string& operation,
                                bool can_default) {
  RuntimeError e;
  e.gen_code = gen_code;
  e.sub_code = sub_code;
  e.operation = operation;
  e.can_default = can_default;
  return error(std::move(e));
}

// --- keys ---

int IndexedArea::KeyFieldIndex(const std::string& key_text) const {
  std::string field = SingleFieldName(key_text, alias_, area_);
  if (field.empty()) return -1;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].name == field) return static_cast<int>(i);
  }
  return -1;
}

Status IndexedArea::CompileOrder(Order* o) {
  o->key_field = 0;
  const int index = KeyFieldIndex(o->key_text());
  if (index >= 0) {
    const Field& f = fields_[static_cast<size_t>(index)];
    int len = 0, dec = 0;
    char type = 0;
    switch (f.kind) {
      case FieldKind::kCharacter: type = 'C'; len = std::min<int>(f.length, MaxCharKeyLength()); break;
      case FieldKind::kNumeric:
      case FieldKind::kFloat: type = 'N'; len = f.length; dec = f.decimals; break;
      case FieldKind::kDate: if (f.length == 8) { type = 'D'; len = 8; } break;
      case FieldKind::kLogical: type = 'L'; len = 1; break;
      default: break;
    }
    bool fits = type != 0 && o->FieldGivesKey(type, len, dec) &&
                (o->type() == 0 || o->type() == type);
    if (fits) {
      o->key_field = index + 1;
      o->key_field_length = f.length;
      o->key_field_decimals = f.decimals;
      o->set_type(type);
    } else if (f.kind == FieldKind::kInteger && o->type() == 0) {
      // Evaluated, but the key's type is known now: a CDX tag's pad byte (its keys' trailing
      // zeros) must be right before the first key is evaluated.
      o->set_type('N');
    }
  }
  if (!o->key_block) {
    CompileError err;
    o->key_expr = Compile(o->key_text(), &err);
    if (!o->key_expr) {
      error(err.ToRuntimeError(o->key_text()));
      return kFailure;
    }
  }
  if (!o->for_text().empty() && !o->for_block) {
    CompileError err;
    o->for_expr = Compile(o->for_text(), &err);
    if (!o->for_expr) {
      error(err.ToRuntimeError(o->for_text()));
      return kFailure;
    }
  }
  return kSuccess;
}

Status IndexedArea::EvalKey(Order* o, std::string* key) {
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  if (o->key_field > 0) {
    const Field& f = fields_[static_cast<size_t>(o->key_field - 1)];
    const uint8_t* p = record_.data() + f.offset;
    if (o->KeyIsFieldBytes()) {
      key->assign(reinterpret_cast<const char*>(p), static_cast<size_t>(o->key_length()));
      return kSuccess;
    }
    if (o->KeyFromField(p, key)) return kSuccess;
  }
  Value v;
  {
    ScopedArea select(area_);
    if (o->key_block) {
      v = o->key_block();
    } else if (o->key_expr) {
      v = o->key_expr->Eval();
    } else if (o->key_field > 0) {
      if (Failed(get_value(o->key_field, &v))) return kFailure;
    }
  }
  if (o->type() == 0) {
    int len, dec;
    o->set_type(KeyTypeOf(v, &len, &dec));
  }
  if (!o->EncodeKey(v, key)) {
    OrderError(kEgDataType, 1026, o->key_text());
    return kFailure;
  }
  return kSuccess;
}

Status IndexedArea::EvalFor(Order* o, bool* result) {
  *result = true;
  if (!o->for_expr && !o->for_block) return kSuccess;
  if (!valid_ && Failed(ReadRecord())) return kFailure;
  ScopedArea select(area_);
  Value v = o->for_block ? o->for_block() : o->for_expr->Eval();
  *result = v.is_logical() && v.logical();
  return kSuccess;
}

Status IndexedArea::EnsureType(Order* o) {
  if (o->type() != 0) return kSuccess;
  std::string key;
  return EvalKey(o, &key);
}

std::string IndexedArea::SearchKeyOf(Order* o, const Value& v) {
  return o->SearchKey(v);  // text keys keep the table's bytes, as its values do
}

// --- order resolution ---

int IndexedArea::NumberOf(const Order* order) const {
  int n = 0;
  for (const auto& b : bags_) {
    for (const auto& o : b->orders()) {
      ++n;
      if (o == order) return n;
    }
  }
  return 0;
}

Order* IndexedArea::Resolve(const Value& order, const Value& bag) {
  OrderBag* only = nullptr;
  if (bag.is_string() && !Trim(bag.str()).empty()) {
    std::string bag_text = NormalizeSeparators(Trim(bag.str()));
    bool with_dir = bag_text.find('/') != std::string::npos;
    for (const auto& b : bags_) {
      std::string have = with_dir ? FullPath(b->path()) : FileNameOf(b->path());
      std::string want = with_dir ? FullPath(bag_text) : bag_text;
      std::string want_ext = HasExt(FileNameOf(want)) ? want : want + BagExtension();
      if (Upper(have) == Upper(want_ext) || Upper(have) == Upper(want)) {
        only = b.get();
        break;
      }
    }
    if (!only) return nullptr;
  } else if (bag.is_numeric()) {
    int64_t n = static_cast<int64_t>(bag.number());
    if (n < 1 || n > static_cast<int64_t>(bags_.size())) return nullptr;
    only = bags_[static_cast<size_t>(n - 1)].get();
  }
  if (order.is_string()) {
    std::string name = OrderName(order.str());
    if (name.empty()) return only ? nullptr : focus_;
    for (const auto& b : bags_) {
      if (only && b.get() != only) continue;
      for (const auto& o : b->orders()) {
        if (o->name() == name) return o;
      }
    }
    return nullptr;
  }
  if (order.is_numeric()) {
    int64_t n = static_cast<int64_t>(order.number());
    if (n <= 0) return nullptr;
    for (const auto& b : bags_) {
      if (only && b.get() != only) continue;
      for (const auto& o : b->orders()) {
        if (--n == 0) return o;
      }
    }
    return nullptr;
  }
  return focus_;
}

// --- navigation ---

Status IndexedArea::CheckRecord(Order* o, const OrderCursor& c) {
  if (!c.on) return kSuccess;
  if (c.recno >= 1 && c.recno <= rec_count_) return kSuccess;
  // Another program may have appended the record since the count was read.
  if (c.recno > rec_count_ && shared_ && Failed(RefreshCount())) return kFailure;
  if (c.recno >= 1 && c.recno <= rec_count_) return kSuccess;
  return o->bag()->Corrupt();  // a key of no record
}

Status IndexedArea::GoToKey(Order* o, uint32_t target) {
  if (Failed(go_to(target))) return kFailure;
  if (target == 0 || eof_ || o->custom() || !o->cursor.on || !check_landing_) return kSuccess;
  bool same;
  if (Failed(ShowsCursorKey(o, &same))) return kFailure;
  if (same) return kSuccess;
  if (o->bag()->shared()) {
    bool real;
    if (Failed(MismatchStays(o, target, &real))) return kFailure;
    if (!real) return kSuccess;
  }
  return o->bag()->Corrupt();  // a key naming another record
}

Status IndexedArea::ShowsCursorKey(Order* o, bool* same) {
  bool pass;
  std::string key;
  if (Failed(EvalFor(o, &pass))) return kFailure;
  if (pass && Failed(EvalKey(o, &key))) return kFailure;
  *same = pass && key == o->cursor.key;
  return kSuccess;
}

Status IndexedArea::MismatchStays(Order* o, uint32_t target, bool* real) {
  // Another program writes a record before its keys, holding the record's lock (or the
  // table's) until both are done, and changes the keys under the bag's write lock: under the
  // read lock, a record nobody holds that still differs from a key the bag still has is damage.
  *real = false;
  OrderReadLock lock(o->bag());
  if (!lock.ok()) return kFailure;
  if (RecordLockedElsewhere(target)) return kSuccess;
  if (o->generation() != o->cursor.generation) {
    // The bag changed since the cursor was read: the key must still stand for the record.
    OrderCursor probe;
    if (Failed(o->Locate(&probe, o->cursor.key, target))) return kFailure;
    if (!probe.on || probe.recno != target || probe.key != o->cursor.key) return kSuccess;
  }
  valid_ = false;
  bool same;
  if (Failed(ShowsCursorKey(o, &same))) return kFailure;
  *real = !same && !RecordLockedElsewhere(target);
  return kSuccess;
}

Status IndexedArea::LogicalEdge(Order* o, bool top, OrderCursor* c) {
  bool tree_first = top != o->against_tree();
  if (tree_first) {
    bool use = o->descending_tree() ? o->has_bottom : o->has_top;
    const std::string& start = o->descending_tree() ? o->scope_bottom : o->scope_top;
    if (Failed(use ? o->Seek(c, start, false, false) : o->First(c))) return kFailure;
  } else {
    bool use = o->descending_tree() ? o->has_top : o->has_bottom;
    const std::string& end = o->descending_tree() ? o->scope_top : o->scope_bottom;
    if (use) {
      if (Failed(o->Seek(c, end, true, false))) return kFailure;
      if (Failed(c->on ? o->Prev(c) : o->Last(c))) return kFailure;
    } else if (Failed(o->Last(c))) {
      return kFailure;
    }
  }
  if (Failed(CheckRecord(o, *c))) return kFailure;
  if (c->on && !o->InScope(reinterpret_cast<const uint8_t*>(c->key.data()))) c->on = false;
  return kSuccess;
}

Status IndexedArea::Step(Order* o, OrderCursor* c, bool forward) {
  // The key stepped from: the next one must not stand before it in tree order.
  const bool from_key = c->on && !c->between;
  if (from_key) step_from_ = c->key;
  if (Failed(Move(o, c, forward))) return kFailure;
  return Arrive(o, from_key, c, forward);
}

Status IndexedArea::Move(Order* o, OrderCursor* c, bool forward) {
  bool tree_forward = forward != o->against_tree();
  if (c->between) {
    c->between = false;
    if (!tree_forward && Failed(c->on ? o->Prev(c) : o->Last(c))) return kFailure;
    return kSuccess;
  }
  return tree_forward ? o->Next(c) : o->Prev(c);
}

Status IndexedArea::Arrive(Order* o, bool from_key, OrderCursor* c, bool forward) {
  bool tree_forward = forward != o->against_tree();
  if (from_key && c->on) {
    int cmp = o->CompareKeys(reinterpret_cast<const uint8_t*>(step_from_.data()),
                             static_cast<int>(step_from_.size()),
                             reinterpret_cast<const uint8_t*>(c->key.data()),
                             static_cast<int>(c->key.size()), true);
    if (o->descending_tree()) cmp = -cmp;
    if (tree_forward ? cmp > 0 : cmp < 0) return o->bag()->Corrupt();  // keys out of order
  }
  if (Failed(CheckRecord(o, *c))) return kFailure;
  if (c->on && !o->InScope(reinterpret_cast<const uint8_t*>(c->key.data()))) c->on = false;
  return kSuccess;
}

// A scan of a shared bag would take the bag's lock at every step. Instead, a step taken under
// the lock also reads the keys of the next steps into step_run_ (more each time while the scan
// goes on); the following steps take them without a lock for as long as the order is as it
// was (its generation moves with every change this process makes or takes in) and the head of
// the bag shows that no other program wrote it. Each key taken is checked as a step checks it.
void IndexedArea::ReadStepsAhead(Order* o, bool forward) {
  StepRun& r = step_run_;
  const OrderCursor& c = o->cursor;
  if (!o->bag()->shared() || !c.on || c.between) {
    r.order = nullptr;
    return;
  }
  bool continues = r.order == o && r.forward == forward && r.generation == o->generation() &&
                   r.next == r.steps.size();
  r.size = continues ? std::min<size_t>(r.size * 2, kStepRunMax) : kStepRunMin;
  r.order = o;
  r.forward = forward;
  r.generation = o->generation();
  r.next = 0;
  r.probe = c;
  size_t n = 0;
  while (n < r.size) {
    if (Failed(Move(o, &r.probe, forward)) || !r.probe.on ||
        !o->InScope(reinterpret_cast<const uint8_t*>(r.probe.key.data()))) {
      break;
    }
    if (r.steps.size() <= n) r.steps.emplace_back();
    r.steps[n++] = r.probe;
  }
  r.steps.resize(n);
}

bool IndexedArea::TakeStepAhead(Order* o, bool forward, Status* status) {
  StepRun& r = step_run_;
  OrderCursor& c = o->cursor;
  if (r.order != o || r.forward != forward || r.next >= r.steps.size() ||
      r.generation != o->generation() || !positioned_ || !c.on || c.between ||
      c.recno != recno_ || c.generation != o->generation() || !o->bag()->Unchanged()) {
    return false;
  }
  step_from_ = c.key;
  c = r.steps[r.next++];
  if (r.next + kPrefetchSteps < r.steps.size()) {
    PrefetchRecord(r.steps[r.next + kPrefetchSteps].recno);
  }
  *status = Arrive(o, true, &c, forward);
  if (Failed(*status)) r.order = nullptr;
  return true;
}

Status IndexedArea::SyncCursor(Order* o, bool* on_record) {
  *on_record = positioned_ && recno_ >= 1 && recno_ <= rec_count_;
  if (!*on_record) return kSuccess;
  OrderCursor& c = o->cursor;
  bool same_record = (c.on || c.between) && c.recno == recno_;
  if (same_record && c.generation == o->generation()) return kSuccess;
  std::string key;
  if (same_record) {
    key = c.key;
  } else if (Failed(EvalKey(o, &key))) {
    return kFailure;
  }
  return o->Locate(&c, key, recno_);
}

bool IndexedArea::Visible() {
  if (GlobalSettings().deleted()) {
    bool d = false;
    if (Ok(is_deleted(&d)) && d) return false;
  }
  if (filter_) {
    Value v = filter_.eval();
    if (v.is_logical() && !v.logical()) return false;
  }
  return true;
}

Status IndexedArea::go_top() {
  Order* o = focus_;
  if (!o) return Base::go_top();
  read_ahead_ = false;  // records come in key order, not one after another
  if (Failed(go_cold())) return kFailure;
  uint32_t target = 0;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok() || Failed(LogicalEdge(o, true, &o->cursor))) return kFailure;
    if (o->cursor.on) target = o->cursor.recno;
  }
  top_ = true;
  bottom_ = false;
  if (Failed(GoToKey(o, target))) return kFailure;
  top_ = true;
  return skip_filter(1);
}

Status IndexedArea::go_bottom() {
  Order* o = focus_;
  if (!o) return Base::go_bottom();
  read_ahead_ = false;
  if (Failed(go_cold())) return kFailure;
  if (shared_ && Failed(RefreshCount())) return kFailure;
  uint32_t target = 0;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok() || Failed(LogicalEdge(o, false, &o->cursor))) return kFailure;
    if (o->cursor.on) target = o->cursor.recno;
  }
  if (Failed(GoToKey(o, target))) return kFailure;
  top_ = false;
  bottom_ = true;
  return skip_filter(-1);
}

Status IndexedArea::skip_raw(int64_t n) {
  Order* o = focus_;
  if (!o || n == 0) return Base::skip_raw(n);
  read_ahead_ = false;
  if (Failed(go_cold())) return kFailure;
  bool forward = n > 0;
  uint64_t steps = forward ? static_cast<uint64_t>(n) : static_cast<uint64_t>(-n);
  if (steps == 1) {
    Status s;
    if (TakeStepAhead(o, forward, &s)) {
      if (Failed(s)) return kFailure;
      return GoToKey(o, o->cursor.on ? o->cursor.recno : 0);
    }
  }
  uint32_t target = 0;
  bool bof = false;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    OrderCursor& c = o->cursor;
    bool on_record;
    if (Failed(SyncCursor(o, &on_record))) return kFailure;
    if (!on_record) {
      if (forward) {
        c.on = false;
        steps = 0;
      } else {
        if (Failed(LogicalEdge(o, false, &c))) return kFailure;
        --steps;
      }
    }
    const bool one_step = steps == 1 && on_record;
    while (steps > 0 && (c.on || c.between)) {
      if (Failed(Step(o, &c, forward))) return kFailure;
      --steps;
    }
    if (one_step) ReadStepsAhead(o, forward);
    if (c.on) {
      target = c.recno;
    } else if (!forward) {
      if (Failed(LogicalEdge(o, true, &c))) return kFailure;
      target = c.on ? c.recno : 0;
      bof = true;
    }
  }
  if (Failed(GoToKey(o, target))) return kFailure;
  if (bof) bof_ = true;
  return kSuccess;
}

Status IndexedArea::seek(const Value& value, bool soft, bool find_last) {
  if (Failed(go_cold())) return kFailure;
  Order* o = focus_;
  if (!o) {
    OrderError(kEgNoOrder, 1201, "", true);
    return kFailure;
  }
  read_ahead_ = false;
  if (Failed(EnsureType(o))) return kFailure;
  std::string key = SearchKeyOf(o, value);
  const uint8_t* kb = reinterpret_cast<const uint8_t*>(key.data());
  const int klen = static_cast<int>(key.size());
  bool tree_after = find_last != o->against_tree();
  uint32_t target = 0;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    OrderCursor& c = o->cursor;
    if (Failed(o->Seek(&c, key, tree_after, false))) return kFailure;
    if (tree_after && Failed(c.on ? o->Prev(&c) : o->Last(&c))) return kFailure;
    if (Failed(CheckRecord(o, c))) return kFailure;
    bool hit = c.on && o->CompareKeys(kb, klen, reinterpret_cast<const uint8_t*>(c.key.data()),
                                  o->key_length(), false) == 0;
    if (c.on && (hit || soft)) {
      const uint8_t* ck = reinterpret_cast<const uint8_t*>(c.key.data());
      bool below_top = o->has_top && o->CompareToScope(ck, o->scope_top) < 0;
      bool above_bottom = o->has_bottom && o->CompareToScope(ck, o->scope_bottom) > 0;
      bool ascending = o->descending_tree() == o->against_tree();
      bool before_start = ascending ? below_top : above_bottom;
      if (before_start) {
        if (Failed(LogicalEdge(o, true, &c))) return kFailure;
        target = c.on ? c.recno : 0;
      } else if (!below_top && !above_bottom) {
        target = c.recno;
      }
    }
  }
  if (Failed(GoToKey(o, target))) return kFailure;
  if (target != 0 && Failed(skip_filter(find_last ? -1 : 1))) return kFailure;
  OrderCursor& c = o->cursor;
  bool found = !eof_ && c.on && c.recno == recno_ &&
               o->CompareKeys(kb, klen, reinterpret_cast<const uint8_t*>(c.key.data()),
                          o->key_length(), false) == 0;
  if (!eof_ && c.on && !o->InScope(reinterpret_cast<const uint8_t*>(c.key.data()))) {
    if (Failed(go_to(0))) return kFailure;
  } else if (!found && !soft && !eof_) {
    if (Failed(go_to(0))) return kFailure;
  }
  found_ = found && !eof_;
  if (!(recno_ == 1 && !positioned_)) bof_ = false;
  return kSuccess;
}

// --- key count and position ---

Status IndexedArea::TopPosition(Order* o, int64_t* out) {
  *out = 0;
  if (!o->scoped()) {
    if (o->against_tree()) return o->CountAll(out);
    *out = 1;
    return kSuccess;
  }
  OrderCursor top;
  if (Failed(LogicalEdge(o, true, &top))) return kFailure;
  return top.on ? o->Position(top, out) : kSuccess;
}

Status IndexedArea::KeyCount(Order* o, int64_t* out) {
  *out = 0;
  if (Failed(go_cold())) return kFailure;
  // Hidden deleted records count like any other: only a filter makes the keys be stepped.
  bool use_cache = !filter_;
  if (use_cache && !o->bag()->shared() && o->cached_count >= 0) {
    *out = o->cached_count;
    return kSuccess;
  }
  if (use_cache) {
    // Every key in scope is visible: the count follows from the subtree counts (kept while
    // the file does not change), without walking the keys.
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    if (!o->scoped()) {
      if (Failed(o->CountAll(out))) return kFailure;
    } else {
      OrderCursor first, last;
      if (Failed(LogicalEdge(o, true, &first)) || Failed(LogicalEdge(o, false, &last))) {
        return kFailure;
      }
      if (first.on && last.on) {
        int64_t a, b;
        if (Failed(o->Position(first, &a)) || Failed(o->Position(last, &b))) return kFailure;
        *out = std::max<int64_t>(0, (o->against_tree() ? a - b : b - a) + 1);
      }
    }
    o->cached_count = *out;
    return kSuccess;
  }
  uint32_t saved = recno_;
  std::vector<uint32_t> records;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    OrderCursor c;
    if (Failed(LogicalEdge(o, true, &c))) return kFailure;
    while (c.on) {
      records.push_back(c.recno);
      if (Failed(Step(o, &c, true))) return kFailure;
    }
  }
  for (uint32_t r : records) {
    if (Failed(Base::go_to(r))) return kFailure;
    if (Visible()) ++*out;
  }
  return Base::go_to(saved);
}

Status IndexedArea::KeyPosition(Order* o, int64_t* out) {
  *out = 0;
  if (Failed(go_cold())) return kFailure;
  bool unfiltered = !filter_;
  uint32_t saved = recno_;
  std::vector<uint32_t> records;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    bool on_record;
    if (Failed(SyncCursor(o, &on_record))) return kFailure;
    OrderCursor& c = o->cursor;
    if (!on_record || c.between || !c.on) return kSuccess;
    if (!o->InScope(reinterpret_cast<const uint8_t*>(c.key.data()))) return kSuccess;
    if (unfiltered) {
      // The distance from the first key in scope (the first or last key of the tree when
      // there is no scope), both placed by subtree counts.
      int64_t pos, first;
      if (Failed(o->Position(c, &pos)) || Failed(TopPosition(o, &first))) return kFailure;
      if (first == 0) return kSuccess;
      *out = (o->against_tree() ? first - pos : pos - first) + 1;
      return kSuccess;
    }
    OrderCursor walk = c;
    for (;;) {
      if (Failed(Step(o, &walk, false))) return kFailure;
      if (!walk.on) break;
      records.push_back(walk.recno);
    }
  }
  if (!Visible()) return kSuccess;
  int64_t pos = 1;
  for (uint32_t r : records) {
    if (Failed(Base::go_to(r))) return kFailure;
    if (Visible()) ++pos;
  }
  if (Failed(Base::go_to(saved))) return kFailure;
  *out = pos;
  return kSuccess;
}

Status IndexedArea::KeyGoto(Order* o, int64_t position, bool* ok) {
  *ok = false;
  if (filter_) {
    // Records the filter hides: the keys are stepped one by one from the top.
    if (Failed(go_top())) return kFailure;
    if (position < 1) return go_to(0);
    for (int64_t i = 1; i < position && !eof_; ++i) {
      if (Failed(skip(1))) return kFailure;
    }
    *ok = !eof_;
    return kSuccess;
  }
  if (Failed(go_cold())) return kFailure;
  read_ahead_ = false;
  uint32_t target = 0;
  if (position >= 1) {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    OrderCursor& c = o->cursor;
    bool from_end = o->against_tree();
    int64_t n = position;
    if (o->scoped()) {
      // Counted in tree order from the first key in scope.
      int64_t first;
      if (Failed(TopPosition(o, &first))) return kFailure;
      n = first == 0 ? 0 : o->against_tree() ? first - position + 1 : first + position - 1;
      from_end = false;
    } else if (!o->bag()->shared() && o->cached_count >= 0) {
      // A known count: past the end needs no descent, and the nearer end is counted from.
      if (n > o->cached_count) n = 0;
      else if (2 * n > o->cached_count + 1) {
        n = o->cached_count - n + 1;
        from_end = !from_end;
      }
    }
    if (n >= 1 && (Failed(o->GoToPosition(&c, n, from_end)) || Failed(CheckRecord(o, c)))) {
      return kFailure;
    }
    if (n >= 1 && c.on && o->InScope(reinterpret_cast<const uint8_t*>(c.key.data()))) {
      target = c.recno;
    }
  }
  top_ = bottom_ = false;
  if (Failed(GoToKey(o, target))) return kFailure;
  // A hidden deleted record at that position: the next visible one.
  if (target != 0 && Failed(skip_filter(1))) return kFailure;
  *ok = target != 0 && !eof_;
  return kSuccess;
}

Status IndexedArea::RelativePosition(Order* o, double* out) {
  *out = 0;
  if (Failed(go_cold())) return kFailure;
  OrderReadLock lock(o->bag());
  if (!lock.ok()) return kFailure;
  bool on_record;
  if (Failed(SyncCursor(o, &on_record))) return kFailure;
  const OrderCursor& c = o->cursor;
  if (!on_record || c.between || !c.on) return kSuccess;
  if (!o->InScope(reinterpret_cast<const uint8_t*>(c.key.data()))) return kSuccess;
  double f;
  if (Failed(o->Fraction(c, &f))) return kFailure;
  if (o->scoped()) {
    // Rescaled between the first and the last key in scope (tree order).
    OrderCursor first, last;
    if (Failed(LogicalEdge(o, !o->against_tree(), &first)) ||
        Failed(LogicalEdge(o, o->against_tree(), &last))) {
      return kFailure;
    }
    double lo = 0, hi = 0;
    if (Failed(o->Fraction(first, &lo)) || Failed(o->Fraction(last, &hi))) return kFailure;
    double span = hi - lo;
    if (!first.on || !last.on || span < 1e-13) {
      *out = 0.5;
      return kSuccess;
    }
    f = std::clamp((f - lo) / span, 0.0, 1.0);
  }
  *out = o->against_tree() ? 1.0 - f : f;
  return kSuccess;
}

Status IndexedArea::FindRecord(Order* o, uint32_t recno, bool cont, bool* found) {
  *found = false;
  if (Failed(go_cold())) return kFailure;
  uint32_t target = 0;
  {
    OrderReadLock lock(o->bag());
    if (!lock.ok()) return kFailure;
    OrderCursor& c = o->cursor;
    if (cont) {
      bool on_record;
      if (Failed(SyncCursor(o, &on_record))) return kFailure;
      if (!on_record) return kSuccess;
      if (Failed(Step(o, &c, true))) return kFailure;
    } else if (Failed(LogicalEdge(o, true, &c))) {
      return kFailure;
    }
    while (c.on && c.recno != recno) {
      if (Failed(Step(o, &c, true))) return kFailure;
    }
    if (c.on) target = c.recno;
  }
  if (Failed(GoToKey(o, target))) return kFailure;
  *found = target != 0;
  found_ = *found;
  return kSuccess;
}

Status IndexedArea::SetScope(Order* o, bool top, const std::optional<Value>& value) {
  step_run_.order = nullptr;  // the steps read ahead stop at the old scope
  bool& has = top ? o->has_top : o->has_bottom;
  std::string& bytes = top ? o->scope_top : o->scope_bottom;
  Value& stored = top ? o->scope_top_value : o->scope_bottom_value;
  o->cached_count = -1;
  if (!value || value->is_nil()) {
    has = false;
    bytes.clear();
    stored = Value();
    return kSuccess;
  }
  if (Failed(EnsureType(o))) return kFailure;
  has = true;
  bytes = SearchKeyOf(o, *value);
  stored = *value;
  return kSuccess;
}

// --- maintenance ---

Status IndexedArea::go_hot() {
  bool was_hot = hot_;
  if (Failed(Base::go_hot())) return kFailure;
  if (was_hot || pending_append_ || appended_) return kSuccess;
  for (auto& b : bags_) {
    if (b->read_only()) continue;
    for (auto& o : b->orders()) {
      o->hot_valid = false;
      if (o->custom()) continue;
      if (Failed(EvalKey(o, &o->old_key)) || Failed(EvalFor(o, &o->old_for))) {
        return kFailure;
      }
      o->hot_valid = true;
    }
  }
  return kSuccess;
}

Status IndexedArea::go_cold() {
  bool was_hot = hot_;
  bool appended = appended_;
  if (Failed(Base::go_cold())) return kFailure;
  if (!was_hot && !pending_append_) return kSuccess;
  if (bags_.empty()) {
    pending_append_ = false;
    return kSuccess;
  }
  if (was_hot && appended && shared_) {
    if (pending_append_) throw MultipleAppendError();
    pending_append_ = true;
    return kSuccess;
  }
  bool append = appended || pending_append_;
  pending_append_ = false;
  return UpdateOrders(append);
}

Status IndexedArea::UpdateOrders(bool append) {
  const uint32_t recno = recno_;
  CrashPoint("order-keys");  // the record is written, its keys are not
  for (auto& b : bags_) {
    if (b->read_only()) continue;
    std::unique_ptr<OrderWriteLock> lock;
    for (Order* o : b->orders()) {
      if (o->custom() || (append && o->change_only())) continue;
      if (!append && !o->hot_valid) continue;
      std::string key;
      bool add;
      if (Failed(EvalKey(o, &key)) || Failed(EvalFor(o, &add))) return kFailure;
      bool del;
      if (append) {
        del = false;
      } else if (key == o->old_key) {
        del = !add && o->old_for;
        add = add && !o->old_for;
      } else {
        del = o->old_for || o->partial();
      }
      o->hot_valid = false;
      if (!del && !add) continue;
      if (!lock) {
        lock = std::make_unique<OrderWriteLock>(b.get());
        if (!lock->ok()) return kFailure;
      }
      if (!o->usable()) continue;
      bool exclusive = !b->shared();
      if (del) {
        bool deleted;
        if (Failed(o->Delete(o->old_key, recno, &deleted))) return kFailure;
        if (!deleted) {
          if (o->change_only()) {
            add = false;
          } else if (!o->partial() && !o->unique()) {
            OrderError(kEgCorruption, kEdfCorrupt, b->path());
            return kFailure;
          }
        } else if (exclusive && o->cached_count >= 0 &&
                   o->InScope(reinterpret_cast<const uint8_t*>(o->old_key.data()))) {
          --o->cached_count;
        }
      }
      if (add) {
        bool added;
        if (Failed(o->Insert(key, recno, &added))) return kFailure;
        if (added && exclusive && o->cached_count >= 0 &&
            o->InScope(reinterpret_cast<const uint8_t*>(key.data()))) {
          ++o->cached_count;
        }
      }
      if (!exclusive) o->cached_count = -1;
      // The record keeps its place in the order it stands in: the cursor follows its key.
      o->cursor.on = false;
      o->cursor.between = true;
      o->cursor.key = key;
      o->cursor.recno = recno;
      o->cursor.generation = 0;
    }
    if (lock && Failed(lock->Release())) return kFailure;
  }
  return kSuccess;
}

Status IndexedArea::append(bool release_locks) {
  // A changed record's keys are brought up to date before the new record takes the buffer.
  if (Failed(go_cold())) return kFailure;
  for (auto& b : bags_) {
    for (auto& o : b->orders()) o->hot_valid = false;
  }
  return Base::append(release_locks);
}

// --- open and close ---

Status IndexedArea::open(const OpenInfo& info) {
  if (Failed(Base::open(info))) return kFailure;
  if (structural_bag_ && GlobalSettings().autopen()) {
    std::string bag = file_name_;
    size_t dot = bag.find_last_of('.');
    if (dot != std::string::npos && dot > bag.find_last_of('/') + 1) bag.resize(dot);
    bag = ResolveCase(bag + BagExtension());
    if (FileExists(bag)) {
      if (Failed(order_list_add(bag, Value()))) {
        (void)close();
        return kFailure;
      }
      structural_opened_ = true;
      focus_ = nullptr;
      int n = GlobalSettings().autorder();
      if (n > 0) focus_ = Resolve(Value::Integer(n), Value());
      return OpeningTop();
    }
  }
  return kSuccess;
}

void IndexedArea::CloseBag(size_t index) {
  OrderBag* b = bags_[index].get();
  for (Order* o : b->orders()) {
    if (o == focus_) focus_ = nullptr;
  }
  bags_.erase(bags_.begin() + static_cast<long>(index));
}

Status IndexedArea::close() {
  Status s = kSuccess;
  // The bags and the table are released whatever the record write raises.
  std::exception_ptr raised;
  try {
    if (data_.is_open() && Failed(go_cold())) s = kFailure;
  } catch (...) {
    s = kFailure;
    raised = std::current_exception();
  }
  focus_ = nullptr;
  bags_.clear();
  pending_append_ = false;
  try {
    if (Failed(Base::close())) s = kFailure;
  } catch (...) {
    s = kFailure;
    if (!raised) raised = std::current_exception();
  }
  if (raised) std::rethrow_exception(raised);
  return s;
}

void IndexedArea::CloseQuietly() noexcept {
  try {
    if (data_.is_open()) (void)close();
  } catch (...) {
    // A destructor must not throw: what could not be written is reported nowhere.
  }
  bags_.clear();
}

Status IndexedArea::RebuildAll() {
  for (auto& b : bags_) {
    if (Failed(RebuildBag(b.get()))) return kFailure;
  }
  return go_top();
}

Status IndexedArea::zap() {
  if (Failed(Base::zap())) return kFailure;
  return RebuildAll();
}

Status IndexedArea::pack() {
  if (Failed(Base::pack())) return kFailure;
  return RebuildAll();
}

// --- order list ---

bool IndexedArea::IsStructuralName(const std::string& path) const {
  return Upper(BaseNameOf(path)) == Upper(BaseNameOf(file_name_));
}

Status IndexedArea::OpeningTop() {
  struct Unjudged {
    bool& check;
    ~Unjudged() { check = true; }
  } opening{check_landing_ = false};
  return go_top();
}

Status IndexedArea::order_list_add(const std::string& bag_name, const Value& order) {
  if (Failed(go_cold())) return kFailure;
  std::string name = NormalizeSeparators(Trim(bag_name));
  if (name.empty()) return kFailure;
  if (!HasExt(name)) name += BagExtension();
  name = ResolveCase(name);
  for (auto& b : bags_) {
    if (FullPath(b->path()) == FullPath(name)) {
      if (!focus_ && b->order_count() > 0) {
        focus_ = b->order_at(0);
        return OpeningTop();
      }
      return kSuccess;
    }
  }
  std::unique_ptr<OrderBag> bag;
  if (Failed(OpenBag(name, &bag))) return kFailure;
  bag->set_structural(IsStructuralName(name));
  for (Order* o : bag->orders()) {
    if (Failed(CompileOrder(o))) return kFailure;
  }
  bags_.push_back(std::move(bag));
  if (Failed(AfterBagOpened(bags_.back().get()))) {
    bags_.pop_back();
    return kFailure;
  }
  if (!focus_ && bags_.back()->order_count() > 0) {
    focus_ = bags_.back()->order_at(0);
    return OpeningTop();
  }
  return kSuccess;
}

Status IndexedArea::order_list_clear() {
  if (Failed(go_cold())) return kFailure;
  focus_ = nullptr;
  bool keep_structural = GlobalSettings().autopen() || structural_opened_;
  for (size_t i = bags_.size(); i-- > 0;) {
    if (keep_structural && bags_[i]->structural()) continue;
    CloseBag(i);
  }
  return kSuccess;
}

Status IndexedArea::order_list_delete(const std::string& bag) {
  if (Failed(go_cold())) return kFailure;
  Order* o = Resolve(Value::Integer(1), Value::String(bag));
  for (size_t i = 0; i < bags_.size(); ++i) {
    for (Order* x : bags_[i]->orders()) {
      if (x == o) {
        CloseBag(i);
        return kSuccess;
      }
    }
  }
  return kFailure;
}

Status IndexedArea::order_list_focus(const Value& order, const Value& bag, std::string* previous) {
  *previous = focus_ ? focus_->name() : std::string();
  if (!order.is_nil()) focus_ = Resolve(order, bag);
  if (order.is_string() && Trim(order.str()).empty()) focus_ = nullptr;
  return kSuccess;
}

Status IndexedArea::order_list_rebuild() {
  if (Failed(go_cold())) return kFailure;
  if (shared_) {
    OrderError(kEgShared, kEdfShared);
    return kFailure;
  }
  if (read_only_) {
    OrderError(kEgReadonly, kEdfReadonly);
    return kFailure;
  }
  return RebuildAll();
}

// --- create and destroy ---

std::string IndexedArea::BagFileFor(const OrderCreateInfo& info) const {
  std::string file = Trim(info.bag_name);
  if (file.empty()) file = Trim(info.tag_name);
  if (file.empty()) file = BaseNameOf(file_name_);
  file = NormalizeSeparators(file);
  if (!HasExt(file)) file += BagExtension();
  return ResolveCase(file);
}

std::string IndexedArea::TemporaryBagPath(const std::string& file) {
  return OwnedFileName(TempDirectory(), "", "-" + FilePartOf(file));
}

Status IndexedArea::order_create(const OrderCreateInfo& info) {
  std::unique_ptr<OrderCondition> cond = std::move(order_condition_);
  if ((Trim(info.bag_name).empty() && Trim(info.tag_name).empty()) ||
      (Trim(info.key_text).empty() && !info.key_block)) {
    OrderError(kEgArg, 1006);
    return kFailure;
  }
  if (Failed(go_cold())) return kFailure;
  // Learn the key's type and length on the phantom record.
  uint32_t saved = recno_;
  KeyDescription key;
  key.key_text = Trim(info.key_text);
  key.key_block = info.key_block;
  key.for_block = cond ? cond->for_block : nullptr;
  key.for_text = cond ? Trim(cond->for_text) : "";
  if (!key.key_block) {
    CompileError err;
    key.key_expr = Compile(info.key_text, &err);
    if (!key.key_expr) {
      error(err.ToRuntimeError(info.key_text));
      return kFailure;
    }
  }
  if (!key.for_block && !key.for_text.empty()) {
    CompileError err;
    key.for_expr = Compile(key.for_text, &err);
    if (!key.for_expr) {
      error(err.ToRuntimeError(key.for_text));
      return kFailure;
    }
  }
  if (Failed(go_to(0))) return kFailure;
  Value key_value, for_value;
  const bool has_for = key.for_block || key.for_expr;
  {
    ScopedArea select(area_);
    key_value = key.key_block ? key.key_block() : key.key_expr->Eval();
    if (has_for) for_value = key.for_block ? key.for_block() : key.for_expr->Eval();
  }
  key.type = KeyTypeOf(key_value, &key.length, &key.decimals);
  if (key.type == 0) {
    (void)go_to(saved);
    OrderError(kEgDataType, 1026, info.key_text);
    return kFailure;
  }
  if (key.length == 0) {
    (void)go_to(saved);
    OrderError(kEgDataWidth, 1026, info.key_text);
    return kFailure;
  }
  if (has_for && !for_value.is_logical()) {
    (void)go_to(saved);
    OrderError(kEgDataType, 1053, key.for_text);
    return kFailure;
  }
  if (Failed(go_to(saved))) return kFailure;
  Order* o = nullptr;
  if (Failed(CreateOrder(info, cond.get(), std::move(key), &o))) return kFailure;
  focus_ = o;
  return go_top();
}

Status IndexedArea::order_destroy(const Value& order, const Value& bag) {
  Order* o = Resolve(order, bag);
  if (!o) return kFailure;
  if (Failed(go_cold())) return kFailure;
  OrderBag* f = o->bag();
  for (size_t i = 0; i < bags_.size(); ++i) {
    if (bags_[i].get() != f) continue;
    if (f->order_count() == 1) {
      std::string path = f->path();
      bool was_structural = f->structural();
      CloseBag(i);
      DeleteFile(path);
      if (was_structural && structural_bag_) {
        structural_bag_ = false;
        header_dirty_ = true;
      }
      return kSuccess;
    }
    if (f->read_only()) {
      OrderError(kEgReadonly, kEdfReadonly, f->path());
      return kFailure;
    }
    OrderWriteLock lock(f);
    if (!lock.ok()) return kFailure;
    if (focus_ == o) focus_ = nullptr;
    if (Failed(f->RemoveOrderAndPages(o))) return kFailure;
    return lock.Release();
  }
  return kFailure;
}

// --- custom orders ---

Status IndexedArea::AddKeyCustom(Order* o, bool add, const std::optional<Value>& given,
                             bool* done) {
  *done = false;
  if (!o->custom()) {
    OrderError(kEgUnknown, 1052);
    return kFailure;
  }
  if (o->bag()->read_only()) {
    OrderError(kEgReadonly, kEdfReadonly, o->bag()->path());
    return kFailure;
  }
  if (Failed(go_cold())) return kFailure;
  if (!positioned_) return kSuccess;
  std::string key;
  if (given && !given->is_nil() && o->takes_given_keys()) {
    // A template order takes the key value the caller gives for the current record.
    if (Failed(EnsureType(o))) return kFailure;
    if (!o->EncodeKey(*given, &key)) {
      OrderError(kEgDataType, 1026, o->key_text());
      return kFailure;
    }
  } else if (Failed(EvalKey(o, &key))) {
    return kFailure;
  }
  OrderWriteLock lock(o->bag());
  if (!lock.ok()) return kFailure;
  if (Failed(add ? o->Insert(key, recno_, done) : o->Delete(key, recno_, done))) {
    return kFailure;
  }
  o->cached_count = -1;
  return lock.Release();
}

// --- order info ---

Status IndexedArea::order_info(OrderInfoRequest* req) {
  const std::optional<Value>& nv = req->new_value;
  switch (req->code) {
    case kOiBagExt:
      req->result = Value::String(BagExtension());
      return kSuccess;
    case kOiCount: {
      if (req->bag.is_nil()) {
        int n = 0;
        for (auto& b : bags_) n += static_cast<int>(b->order_count());
        req->result = Value::Integer(n);
      } else {
        Order* o = Resolve(Value::Integer(1), req->bag);
        req->result = Value::Integer(o ? static_cast<int64_t>(o->bag()->order_count()) : 0);
      }
      return kSuccess;
    }
    default:
      break;
  }
  Order* o = Resolve(req->order, req->bag);
  if (!o) return WorkArea::order_info(req);
  switch (req->code) {
    case kOiCondition:
      req->result = Value::String(o->for_text());
      if (nv && nv->is_string()) {
        // The text is replaced; the order keeps the keys it has.
        std::string t = Trim(nv->str());
        std::unique_ptr<Expression> e;
        if (!t.empty()) {
          CompileError err;
          e = Compile(t, &err);
          if (!e) {
            error(err.ToRuntimeError(t));
            return kFailure;
          }
        }
        o->set_for_text(t);
        o->for_expr = std::move(e);
        o->for_block = nullptr;
        if (!o->bag()->read_only()) {
          OrderWriteLock lock(o->bag());
          if (!lock.ok()) return kFailure;
          o->bag()->MarkHeaderChanged();
          return lock.Release();
        }
      }
      return kSuccess;
    case kOiExpression: req->result = Value::String(o->key_text()); return kSuccess;
    case kOiPosition: {
      if (nv && nv->is_numeric()) {
        bool ok;
        if (Failed(KeyGoto(o, static_cast<int64_t>(nv->number()), &ok))) return kFailure;
        req->result = Value::Logical(ok);
        return kSuccess;
      }
      int64_t pos;
      if (Failed(KeyPosition(o, &pos))) return kFailure;
      req->result = Value::Integer(pos);
      return kSuccess;
    }
    case kOiRelKeyPos: {
      double f;
      if (Failed(RelativePosition(o, &f))) return kFailure;
      req->result = Value::Double(f);
      return kSuccess;
    }
    case kOiName: req->result = Value::String(o->name()); return kSuccess;
    case kOiNumber: req->result = Value::Integer(NumberOf(o)); return kSuccess;
    case kOiBagName: req->result = Value::String(FileNameOf(o->bag()->path())); return kSuccess;
    case kOiIsDesc:
      req->result = Value::Logical(o->descending() != o->toggled());
      if (nv && nv->is_logical() && nv->logical() != (o->descending() != o->toggled())) {
        o->set_toggled(!o->toggled());
        step_run_.order = nullptr;
      }
      return kSuccess;
    case kOiUnique: req->result = Value::Logical(o->unique()); return kSuccess;
    case kOiKeyType:
      if (Failed(EnsureType(o))) return kFailure;
      req->result = Value::String(std::string(1, o->type()));
      return kSuccess;
    case kOiKeySize: req->result = Value::Integer(o->key_length()); return kSuccess;
    case kOiKeyDec: req->result = Value::Integer(o->key_decimals()); return kSuccess;
    case kOiKeyCount: {
      int64_t n;
      if (Failed(KeyCount(o, &n))) return kFailure;
      req->result = Value::Integer(n);
      return kSuccess;
    }
    case kOiKeyAdd:
    case kOiKeyDelete: {
      bool done;
      if (Failed(AddKeyCustom(o, req->code == kOiKeyAdd, nv, &done))) return kFailure;
      req->result = Value::Logical(done);
      return kSuccess;
    }
    case kOiKeyVal: {
      if (!positioned_) {
        req->result = Value();
        return kSuccess;
      }
      Value v;
      ScopedArea select(area_);
      if (o->key_block) v = o->key_block();
      else if (o->key_expr) v = o->key_expr->Eval();
      req->result = v;
      return kSuccess;
    }
    case kOiScopeTop:
    case kOiScopeBottom: {
      bool top = req->code == kOiScopeTop;
      req->result = top ? o->scope_top_value : o->scope_bottom_value;
      if (nv) return SetScope(o, top, nv);
      return kSuccess;
    }
    case kOiScopeTopClear:
    case kOiScopeBottomClear: {
      bool top = req->code == kOiScopeTopClear;
      req->result = top ? o->scope_top_value : o->scope_bottom_value;
      return SetScope(o, top, std::nullopt);
    }
    case kOiScopeSet:
      req->result = o->scope_top_value;
      if (Failed(SetScope(o, true, nv))) return kFailure;
      return SetScope(o, false, nv);
    case kOiScopeClear:
      req->result = o->scope_top_value;
      if (Failed(SetScope(o, true, std::nullopt))) return kFailure;
      return SetScope(o, false, std::nullopt);
    case kOiCustom: req->result = Value::Logical(o->custom()); return kSuccess;
    case kOiFindRec:
    case kOiFindRecCont: {
      bool found = false;
      if (nv && nv->is_numeric() &&
          Failed(FindRecord(o, static_cast<uint32_t>(nv->number()), req->code == kOiFindRecCont,
                            &found))) {
        return kFailure;
      }
      req->result = Value::Logical(found);
      return kSuccess;
    }
    default:
      return WorkArea::order_info(req);
  }
}

}  // namespace vosk
