#include "rdd/expression_glue.h"

#include <memory>
#include <string>

#include "expr/database_access.h"
#include "expr/expression.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

// Runs f with `area` selected, restoring the previous selection afterwards.
template <typename F>
auto InArea(int area, F f) {
  int previous = CurrentAreaNumber();
  if (area == previous || area == 0) return f();
  SelectAreaNumber(area);
  struct Restore {
    int n;
    ~Restore() { SelectAreaNumber(n); }
  } restore{previous};
  return f();
}

int AreaArg(const ValueArray& args, size_t i) {
  if (i >= args.size() || args[i].is_nil()) return 0;
  if (args[i].is_numeric()) return static_cast<int>(args[i].number());
  if (args[i].is_string()) return AreaOfDesignator(args[i].str());
  return 0;
}

constexpr size_t kFieldNameSignificant = 10;

class EngineAccess : public DatabaseAccess {
 public:
  int CurrentArea() override { return CurrentAreaNumber(); }
  int SelectArea(int area) override { return SelectAreaNumber(area); }
  int AreaOfAlias(std::string_view alias) override { return AreaOfDesignator(alias); }
  uint64_t AreaStamp(int area) override { return AreaSlotStamp(area); }

  int FieldPos(int area, std::string_view name) override {
    WorkArea* a = AreaAt(area);
    if (!a) return 0;
    for (int i = 1; i <= a->field_count(); ++i) {
      if (a->field_name(i) == name) return i;
    }
    // A table stores at most 10 characters of a name: a longer name that no field has is the
    // field of its first 10 (a Visual FoxPro database's long names in index keys).
    if (name.size() > kFieldNameSignificant) {
      const std::string_view stored = name.substr(0, kFieldNameSignificant);
      for (int i = 1; i <= a->field_count(); ++i) {
        if (a->field_name(i) == stored) return i;
      }
    }
    return 0;
  }

  Status GetField(int area, int field, Value* out) override {
    WorkArea* a = AreaAt(area);
    if (!a) return kFailure;
    return a->get_value(field, out);
  }

  Status PutField(int area, int field, const Value& value) override {
    WorkArea* a = AreaAt(area);
    if (!a) return kFailure;
    return a->put_value(field, value);
  }

  Value CallFunction(std::string_view name, const ValueArray& args, bool* known) override {
    *known = true;
    auto num = [&](size_t i, int64_t def) {
      return i < args.size() && args[i].is_numeric() ? static_cast<int64_t>(args[i].number()) : def;
    };
    if (name == "RECNO") return Value::Integer(RECNO(), 7);
    if (name == "EOF") return Value::Logical(EOF_());
    if (name == "BOF") return Value::Logical(BOF());
    if (name == "FOUND") return Value::Logical(FOUND());
    if (name == "DELETED") return Value::Logical(DELETED());
    if (name == "LASTREC" || name == "RECCOUNT") return Value::Integer(LASTREC(), 7);
    if (name == "FCOUNT") return Value::Integer(FCOUNT(), 3);
    if (name == "USED") return Value::Logical(USED());
    if (name == "FIELDNAME" || name == "FIELD") return Value::String(FIELDNAME(static_cast<int>(num(0, 0))));
    if (name == "FIELDPOS") {
      return Value::Integer(args.size() > 0 && args[0].is_string() ? FIELDPOS(args[0].str()) : 0, 3);
    }
    if (name == "FIELDGET") return FIELDGET(static_cast<int>(num(0, 0)));
    if (name == "FIELDPUT") {
      return FIELDPUT(static_cast<int>(num(0, 0)), args.size() > 1 ? args[1] : Value());
    }
    if (name == "ALIAS") return Value::String(ALIAS(AreaArg(args, 0)));
    if (name == "SELECT") {
      return Value::Integer(args.empty() ? SELECT() : SELECT(args[0]), 5);
    }
    if (name == "DBFILTER") return Value::String(DBFILTER());
    if (name == "RECSIZE") return DBINFO(7);
    if (name == "HEADER") return DBINFO(3);
    if (name == "LUPDATE") return DBINFO(4);
    if (name == "DBSTRUCT") return DBSTRUCT();
    if (name == "NETERR") {
      return Value::Logical(NETERR(args.size() > 0 && args[0].is_logical()
                                       ? std::optional<bool>(args[0].logical())
                                       : std::nullopt));
    }
    if (name == "DBGOTOP") { DBGOTOP(); return Value(); }
    if (name == "DBGOBOTTOM") { DBGOBOTTOM(); return Value(); }
    if (name == "DBSKIP") { DBSKIP(num(0, 1)); return Value(); }
    if (name == "DBGOTO") { DBGOTO(args.empty() ? Value() : args[0]); return Value(); }
    if (name == "RLOCK" || name == "LOCK") return Value::Logical(RLOCK());
    if (name == "FLOCK") return Value::Logical(FLOCK());
    if (name == "DBUNLOCK") { DBUNLOCK(); return Value(); }
    if (name == "DBINFO") {
      return DBINFO(static_cast<int>(num(0, 0)), args.size() > 1 ? args[1] : Value());
    }
    // Orders and relations: an order and a bag are named by a name or a number.
    const Value order = args.size() > 0 ? args[0] : Value();
    const Value bag = args.size() > 1 ? args[1] : Value();
    if (name == "ORDKEY") return Value::String(ORDKEY(order, bag));
    if (name == "ORDKEYNO") return Value::Integer(ORDKEYNO(order, bag), 10);
    if (name == "ORDKEYCOUNT") return Value::Integer(ORDKEYCOUNT(order, bag), 10);
    if (name == "ORDNAME") return Value::String(ORDNAME(order, bag));
    if (name == "ORDNUMBER") return Value::Integer(ORDNUMBER(order, bag), 3);
    if (name == "ORDFOR") return Value::String(ORDFOR(order, bag));
    if (name == "ORDKEYVAL") return ORDKEYVAL();
    if (name == "INDEXORD") return Value::Integer(INDEXORD(), 3);
    if (name == "INDEXKEY") return Value::String(INDEXKEY(static_cast<int>(num(0, 0))));
    if (name == "DBRELATION") return Value::String(DBRELATION(static_cast<int>(num(0, 1))));
    if (name == "DBRSELECT") return Value::Integer(DBRSELECT(static_cast<int>(num(0, 1))), 5);
    *known = false;
    return Value();
  }
};

// Compiles a condition for the current area: evaluated with that area selected.
bool CompileCondition(const std::string& text, Condition* out) {
  CompileError err;
  std::shared_ptr<Expression> e(Compile(text, &err).release());
  if (!e) {
    RaiseError(err.ToRuntimeError(text));
    return false;
  }
  int area = CurrentAreaNumber();
  out->text = text;
  out->eval = [e, area]() { return InArea(area, [&] { return e->Eval(); }); };
  return true;
}

}  // namespace

void InstallExpressionGlue() {
  static EngineAccess access;
  SetDatabaseAccess(&access);
  SetConditionCompiler(CompileCondition);
}

}  // namespace vosk
