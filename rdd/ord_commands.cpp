#include "rdd/ord_commands.h"

#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/command_error.h"
#include "rdd/db_commands.h"
#include "rdd/driver_registry.h"
#include "rdd/work_area.h"
#include "rdd/work_area_table.h"

namespace vosk {
namespace {

// An order or bag designator: a name or a number, anything else absent.
Value Designator(const Value& v) { return v.is_string() || v.is_numeric() ? v : Value(); }

Value Info(WorkArea* a, int code, const Value& bag, const Value& order,
           std::optional<Value> new_value = std::nullopt) {
  OrderInfoRequest req;
  req.code = code;
  req.bag = Designator(bag);
  req.order = Designator(order);
  req.new_value = std::move(new_value);
  if (Failed(a->order_info(&req))) return Value();
  return req.result;
}

bool Truthy(const Value& v) { return v.is_logical() && v.logical(); }

}  // namespace

std::string ORDBAGEXT() {
  WorkArea* a = CurrentArea();
  if (!a) {
    InitDatabaseEngine();
    Driver* d = DefaultDriver();
    if (d && d->IsA("DBFCDX")) return ".cdx";
    if (d && d->IsA("DBFNTX")) return ".ntx";
    return "";
  }
  Value v = Info(a, kOiBagExt, Value(), Value());
  return v.is_string() ? v.str() : "";
}

bool ORDCONDSET(const OrdCondArgs& args) {
  WorkArea* a = CurrentArea();
  if (!a) return false;
  auto c = std::make_unique<OrderCondition>();
  c->for_text = args.for_text;
  c->for_block = args.for_block;
  c->all = args.all.value_or(true);
  c->while_block = args.while_block;
  c->while_text = args.while_text;
  c->eval_block = args.eval_block;
  c->eval_step = args.eval_step;
  c->write_block = args.write_block;
  c->start_record = args.start_record;
  c->next = args.next;
  c->record = args.record;
  c->rest = args.rest;
  c->descending = args.descending;
  c->compound = args.compound;
  c->additive = args.additive;
  c->use_current = args.use_current;
  c->custom = args.custom;
  c->candidate = args.candidate;
  c->no_optimize = args.no_optimize;
  c->temporary = args.temporary;
  c->use_filter = args.use_filter;
  c->exclusive = args.exclusive;
  if (c->while_block) c->rest = true;
  if (c->next > 0 || c->record != 0 || c->rest || c->use_current || c->use_filter) c->all = false;
  c->active = !c->all || !c->for_text.empty() || c->for_block || !c->while_text.empty() ||
              c->while_block || c->no_optimize || c->eval_block || c->temporary;
  c->scoped = !c->all;
  return Ok(a->order_condition(std::move(c)));
}

bool ORDCREATE(const std::string& bag, const std::string& tag, const std::string& key_text,
               std::function<Value()> key_block, const Value& unique) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  OrderCreateInfo info;
  info.bag_name = bag;
  info.tag_name = tag;
  info.key_text = key_text;
  info.key_block = std::move(key_block);
  info.unique = unique.is_logical() ? unique.logical() : GlobalSettings().unique();
  return Ok(a->order_create(info));
}

bool ORDDESTROY(const Value& order, const Value& bag) {
  WorkArea* a = CurrentArea();
  if (!a) return false;
  return Ok(a->order_destroy(Designator(order), Designator(bag)));
}

std::string ORDFOR(const Value& order, const Value& bag, const Value& new_for) {
  WorkArea* a = CommandArea();
  if (!a) return "";
  Value v = Info(a, kOiCondition, bag, order,
                 new_for.is_string() ? std::optional<Value>(new_for) : std::nullopt);
  return v.is_string() ? v.str() : "";
}

std::string ORDKEY(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return "";
  Value v = Info(a, kOiExpression, bag, order);
  return v.is_string() ? v.str() : "";
}

bool ORDLISTADD(const Value& bag, const Value& order) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  if (!bag.is_string()) {
    CommandError(kEgArg, 1008);
    return false;
  }
  return Ok(a->order_list_add(bag.str(), Designator(order)));
}

void ORDLISTCLEAR() {
  if (WorkArea* a = CommandArea()) (void)a->order_list_clear();
}

bool ORDLISTREBUILD() {
  WorkArea* a = CommandArea();
  return a && Ok(a->order_list_rebuild());
}

std::string ORDNAME(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return "";
  Value v = Info(a, kOiName, bag, order);
  return v.is_string() ? v.str() : "";
}

int ORDNUMBER(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return 0;
  if (!order.is_string() && !order.is_nil()) return 0;
  Value v = Info(a, kOiNumber, bag, order);
  return v.is_numeric() ? static_cast<int>(v.number()) : 0;
}

Value ORDSCOPE(int which, std::optional<Value> value) {
  WorkArea* a = CommandArea();
  if (!a) return Value();
  if (which == 2) {
    if (value && !value->is_nil()) return Info(a, kOiScopeSet, Value(), Value(), value);
    return Info(a, kOiScopeClear, Value(), Value());
  }
  if (which != 0 && which != 1) return Value();
  bool top = which == 0;
  if (!value) return Info(a, top ? kOiScopeTop : kOiScopeBottom, Value(), Value());
  if (value->is_nil()) return Info(a, top ? kOiScopeTopClear : kOiScopeBottomClear, Value(), Value());
  return Info(a, top ? kOiScopeTop : kOiScopeBottom, Value(), Value(), value);
}

std::string ORDSETFOCUS(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return "";
  std::string previous;
  (void)a->order_list_focus(Designator(order), Designator(bag), &previous);
  return previous;
}

int ORDCOUNT(const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return 0;
  Value v = Info(a, kOiCount, bag, Value());
  return v.is_numeric() ? static_cast<int>(v.number()) : 0;
}

bool ORDFINDREC(uint32_t recno, bool continue_search) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  return Truthy(Info(a, continue_search ? kOiFindRecCont : kOiFindRec, Value(), Value(),
                     Value::Integer(recno)));
}

bool ORDISUNIQUE(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  return a && Truthy(Info(a, kOiUnique, bag, order));
}

int64_t ORDKEYCOUNT(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return 0;
  Value v = Info(a, kOiKeyCount, bag, order);
  return v.is_numeric() ? static_cast<int64_t>(v.number()) : 0;
}

int64_t ORDKEYNO(const Value& order, const Value& bag) {
  WorkArea* a = CommandArea();
  if (!a) return 0;
  Value v = Info(a, kOiPosition, bag, order);
  return v.is_numeric() ? static_cast<int64_t>(v.number()) : 0;
}

bool ORDKEYGOTO(int64_t position) {
  WorkArea* a = CommandArea();
  return a && Truthy(Info(a, kOiPosition, Value(), Value(), Value::Integer(position)));
}

Value ORDKEYVAL() {
  WorkArea* a = CommandArea();
  return a ? Info(a, kOiKeyVal, Value(), Value()) : Value();
}

namespace {

bool KeyAddOrDelete(int code, const Value& order, const Value& bag, const Value& key_value) {
  WorkArea* a = CommandArea();
  return a && Truthy(Info(a, code, bag, order,
                          key_value.is_nil() ? std::nullopt : std::optional<Value>(key_value)));
}

}  // namespace

bool ORDKEYADD(const Value& order, const Value& bag, const Value& key_value) {
  return KeyAddOrDelete(kOiKeyAdd, order, bag, key_value);
}

bool ORDKEYDEL(const Value& order, const Value& bag, const Value& key_value) {
  return KeyAddOrDelete(kOiKeyDelete, order, bag, key_value);
}

bool ORDDESCEND(const Value& order, const Value& bag, const Value& new_value) {
  WorkArea* a = CommandArea();
  return a && Truthy(Info(a, kOiIsDesc, bag, order,
                          new_value.is_logical() ? std::optional<Value>(new_value)
                                                 : std::nullopt));
}

Value DBORDERINFO(const Value& code, const Value& bag, const Value& order,
                  std::optional<Value> new_value) {
  WorkArea* a = CommandArea();
  if (!a) return Value();
  if (!code.is_numeric()) {
    CommandError(kEgArg, 1014);
    return Value();
  }
  return Info(a, static_cast<int>(code.number()), bag, order, std::move(new_value));
}

int INDEXORD() {
  WorkArea* a = CurrentArea();
  if (!a) return 0;
  Value v = Info(a, kOiNumber, Value(), Value());
  return v.is_numeric() ? static_cast<int>(v.number()) : 0;
}

bool ORDSETRELATION(const Value& child, const std::string& key_text) {
  return DBSETRELATION(child, key_text, true, true);
}

bool DBSEEK(const Value& key, const Value& soft, const Value& last) {
  WorkArea* a = CommandArea();
  if (!a) return false;
  if (key.is_nil()) {
    CommandError(kEgArg, 1001);
    return false;
  }
  bool s = soft.is_logical() ? soft.logical() : GlobalSettings().softseek();
  bool l = last.is_logical() && last.logical();
  if (Failed(a->seek(key, s, l))) return false;
  return a->found();
}

bool DBCREATEINDEX(const std::string& bag, const std::string& key_text,
                   std::function<Value()> key_block, const Value& unique) {
  return ORDCREATE(bag, "", key_text, std::move(key_block), unique);
}
bool DBSETINDEX(const std::string& bag) { return ORDLISTADD(Value::String(bag)); }
void DBCLEARINDEX() { ORDLISTCLEAR(); }
void DBREINDEX() { (void)ORDLISTREBUILD(); }
void DBSETORDER(int order) { (void)ORDSETFOCUS(Value::Integer(order)); }
std::string INDEXEXT() { return ORDBAGEXT(); }
std::string INDEXKEY(int order) { return ORDKEY(Value::Integer(order)); }

}  // namespace vosk
