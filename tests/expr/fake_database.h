#ifndef VOSK_TESTS_EXPR_FAKE_DATABASE_H_
#define VOSK_TESTS_EXPR_FAKE_DATABASE_H_

// An in-memory stand-in for the table engine: numbered areas with an alias and one record of
// named fields. Counts the lookups so that tests can see what is resolved once.

#include <map>
#include <string>
#include <vector>

#include "expr/database_access.h"
#include "expr/memvars.h"

namespace vosk::testing {

class FakeDatabase : public DatabaseAccess {
 public:
  struct Area {
    std::string alias;
    std::vector<std::pair<std::string, Value>> fields;
    uint64_t stamp = 0;
    uint32_t recno = 1;
  };

  // Opens (or replaces) a table in an area; the area gets a new stamp.
  void Open(int area, std::string alias, std::vector<std::pair<std::string, Value>> fields) {
    Area& a = areas_[area];
    a.alias = std::move(alias);
    a.fields = std::move(fields);
    a.stamp = ++stamp_counter_;
  }
  void Close(int area) { areas_.erase(area); }
  void set_track_stamps(bool on) { track_stamps_ = on; }
  Area* area(int n) {
    auto it = areas_.find(n);
    return it == areas_.end() ? nullptr : &it->second;
  }

  int field_pos_calls = 0;
  int get_field_calls = 0;

  int CurrentArea() override { return current_; }
  int SelectArea(int area) override {
    int previous = current_;
    current_ = area;
    return previous;
  }
  int AreaOfAlias(std::string_view alias) override {
    std::string up = UpperName(alias);
    if (up.size() == 1 && up[0] >= 'A' && up[0] <= 'K') return up[0] - 'A' + 1;
    if (up == "M") return 65535;
    for (auto& [n, a] : areas_) {
      if (a.alias == up) return n;
    }
    return 0;
  }
  int FieldPos(int area, std::string_view name) override {
    ++field_pos_calls;
    Area* a = this->area(area);
    if (a == nullptr) return 0;
    std::string up = UpperName(name);
    for (size_t i = 0; i < a->fields.size(); ++i) {
      if (a->fields[i].first == up) return static_cast<int>(i) + 1;
    }
    return 0;
  }
  Status GetField(int area, int field, Value* out) override {
    ++get_field_calls;
    Area* a = this->area(area);
    if (a == nullptr || field < 1 || field > static_cast<int>(a->fields.size())) {
      return kFailure;
    }
    const Value& v = a->fields[static_cast<size_t>(field) - 1].second;
    if (v.is_string()) {
      out->AssignString(v.str(), v.is_memo());
    } else {
      *out = v;
    }
    return kSuccess;
  }
  Status PutField(int area, int field, const Value& value) override {
    Area* a = this->area(area);
    if (a == nullptr || field < 1 || field > static_cast<int>(a->fields.size())) {
      return kFailure;
    }
    a->fields[static_cast<size_t>(field) - 1].second = value;
    return kSuccess;
  }
  Value CallFunction(std::string_view name, const ValueArray& args, bool* known) override {
    *known = true;
    Area* a = area(current_);
    if (name == "RECNO") return Value::Integer(a ? a->recno : 0, 7);
    if (name == "EOF" || name == "BOF" || name == "DELETED" || name == "FOUND") {
      return Value::Logical(false);
    }
    if (name == "LASTREC" || name == "RECCOUNT") return Value::Integer(a ? 100 : 0, 7);
    if (name == "FCOUNT") return Value::Integer(a ? static_cast<int64_t>(a->fields.size()) : 0);
    if (name == "ALIAS") return Value::String(a ? a->alias : "");
    if (name == "FIELDNAME") {
      int64_t n = args.empty() || !args[0].is_numeric() ? 0 : args[0].integer();
      if (a == nullptr || n < 1 || n > static_cast<int64_t>(a->fields.size())) {
        return Value::String("");
      }
      return Value::String(a->fields[static_cast<size_t>(n) - 1].first);
    }
    *known = false;
    return Value();
  }
  uint64_t AreaStamp(int area) override {
    if (!track_stamps_) return 0;
    Area* a = this->area(area);
    return a ? a->stamp : 0;
  }

 private:
  std::map<int, Area> areas_;
  int current_ = 1;
  uint64_t stamp_counter_ = 0;
  bool track_stamps_ = true;
};

// Installs a fake for the lifetime of the object.
class ScopedFakeDatabase {
 public:
  ScopedFakeDatabase() : previous_(GetDatabaseAccess()) { SetDatabaseAccess(&db_); }
  ~ScopedFakeDatabase() { SetDatabaseAccess(previous_); }
  FakeDatabase& db() { return db_; }

 private:
  FakeDatabase db_;
  DatabaseAccess* previous_;
};

}  // namespace vosk::testing

#endif  // VOSK_TESTS_EXPR_FAKE_DATABASE_H_
