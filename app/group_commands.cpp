#include "app/group_commands.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ansi.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/expression_check.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/progress.h"
#include "app/record_change.h"
#include "app/table_files.h"
#include "app/tget.h"
#include "app/ui.h"
#include "expr/expression.h"
#include "expr/runtime_error.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"
#include "rdd/record_walk.h"
#include "rdd/work_area.h"

namespace vosk {
namespace {

constexpr char kTableLocked[] =
    "Il file (o un suo record) risulta attualmente bloccato da un altro programma. Impossibile "
    "effettuare ";
constexpr char kBadExpression[] = "Espressione non valida per questo campo.";
constexpr char kBadCondition[] = "Condizione non valida.";
constexpr const char* kValueControls[] = {"cVal", "dVal", "nVal", "lVal"};

char TypeOf(int n) {
  const Value t = FIELDTYPE(n);
  return t.is_string() && !t.str().empty() ? t.str()[0] : ' ';
}

std::string TextOf(const Value& v) { return v.is_string() ? v.str() : ""; }

bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// True when a value control holds something: a text that is not blank, a date, a number
// other than 0.
bool HoldsValue(const Value& v) {
  if (v.is_string()) return !Blank(v.str());
  if (v.is_date()) return v.julian() != 0;
  if (v.is_numeric()) return v.number() != 0;
  return false;
}

// The value a number field starts from, with its decimals.
Value ZeroOf(int n) {
  const int len = FIELDLEN(n), dec = FIELDDEC(n);
  return dec > 0 ? Value::Double(0, len - dec - 1, dec) : Value::Integer(0, len);
}

void Show(Dialog& dlg, Control& c) {
  if (!dlg.on_control_changed) return;
  dlg.on_control_changed(static_cast<int>(&c - dlg.controls.data()));
}

// Empties the value control of field n's type; the control, or nullptr for the other types.
Control* ResetValueControl(Dialog& dlg, int n) {
  switch (TypeOf(n)) {
    case 'C':
    case 'M': {
      Control* c = CTL(dlg, "cVal");
      c->value = Value::String("", true);
      return c;
    }
    case 'D': {
      Control* c = CTL(dlg, "dVal");
      *c->get = TGet(Value::Date(0), "");
      return c;
    }
    case 'N': {
      Control* c = CTL(dlg, "nVal");
      *c->get = TGet(ZeroOf(n), MKPICTURE(n).value_or(""));
      return c;
    }
    case 'L': {
      Control* c = CTL(dlg, "lVal");
      c->value = Value::String(".F.");
      return c;
    }
    default:
      return nullptr;
  }
}

// True for the errors of evaluating an expression or of assigning its value to a field; the
// others (a full disk, a damaged file, a lock) are the error handler's.
bool ExpressionError(const RuntimeError& e) {
  if (e.os_code != kOsNone) return false;
  return (e.gen_code >= kEgArg && e.gen_code <= 17) || e.gen_code == kEgDataType ||
         e.gen_code == kEgDataWidth || (e.gen_code >= 46 && e.gen_code <= 51);
}

// Runs `body` with errors of expressions abandoning it quietly (a division by zero gives 0);
// the other errors go to the Application's handler, which tells them and abandons. False when
// it was abandoned; `bad_message` is shown for an error of an expression.
bool Guarded(const std::function<void()>& body, const char* bad_message) {
  const ErrorHandler application = MakeErrorHandler(GetUi());
  ScopedErrorHandler guard([&application](const RuntimeError& e) -> ErrorAnswer {
    if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
    if (!ExpressionError(e)) return application(e);
    throw Abandon(e);
  });
  try {
    body();
    return true;
  } catch (const Abandon& abandon) {
    if (ExpressionError(abandon.error())) POPMSG(bad_message, 1);
    return false;
  }
}

// The count of records in the Italian way, with a dot between thousands: 1.000.000.
std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
    out += digits[i];
  }
  return out;
}

// Runs `change` once on every record that meets the condition text (all when it is blank) and
// `also`, in the browse's order and through its filter, deleted records included. The records
// are gathered first and changed afterwards, so a change that moves a record in the order, or
// out of the filter, neither skips a record nor changes one twice. The progress bar moves over
// its first half while gathering and its second half while changing. *changed counts the
// records changed as the walk goes, so it holds them also when an error abandons the walk.
void Walk(const std::string& condition, Progress& progress, const std::function<bool()>& also,
          const std::function<void()>& change, uint64_t* changed) {
  Condition cond;
  if (!Blank(condition) && !GetConditionCompiler()(condition, &cond)) {
    RuntimeError e;
    e.gen_code = kEgSyntax;
    throw Abandon(e);
  }
  const uint64_t half = progress.total() / 2;
  const auto step = [&progress, half](uint64_t base) {
    return [&progress, half, base](uint64_t done, uint64_t total) {
      progress.Advance(base + (total ? done * half / total : 0));
      return true;
    };
  };
  std::vector<uint32_t> records;
  if (GatherRecords([&] { return (!cond || cond.IsTrue()) && (!also || also()); }, step(0),
                    &records)) {
    ChangeRecords(records, change, step(half), changed);
  }
}

// Ends a walk that changed `changed` records: "N record <what>".
void TellCount(uint64_t changed, const char* what) {
  POPMSG(Grouped(changed) + " record " + what, 1);
}

Control Memo(int id, const char* name, int row, int col, int width, int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kMemo;
  c.name = name;
  c.value = Value::String("", true);
  c.multi_line = true;
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control Combo(int id, const char* name, std::vector<std::string> items, int row, int col,
              int width) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kCombo;
  c.name = name;
  c.items = std::move(items);
  c.value = Value::String(c.items.empty() ? "" : c.items.front());
  c.row = row, c.col = col, c.width = width, c.height = 12;
  return c;
}

// The dialog "Sostituisci valori" over the current table; nField follows the chosen field.
// REQUIRES: dlg and nField outlive the dialog's run (its hooks refer to both).
void BuildReplaceDialog(Dialog& dlg, int& nField) {
  dlg = Dialog{"SOSTVAL", "Sostituisci valori", 305, 200};
  dlg.Add(Control::Label("Campo:", 12, 5, 28, 10));
  dlg.Add(Combo(101, "cCam", ACAMPI(), 10, 35, 65));
  dlg.Add(Control::Label("Valore:", 32, 5, 28, 10));
  dlg.Add(Memo(102, "cVal", 30, 35, 210, 40));
  dlg.Add(Control::Get(103, "dVal", Value::Date(0), "", 30, 35, 45, 13));
  dlg.Add(Control::Get(104, "nVal", Value::Integer(0), "", 30, 35, 65, 13));
  dlg.Add(Combo(105, "lVal", {".F.", ".T."}, 30, 35, 25));
  dlg.Add(Control::Label("Espressione:", 80, 10, 60, 10));
  dlg.Add(Memo(106, "cExp", 90, 10, 235, 40));
  dlg.Add(Control::Label("Condizione di filtro:", 140, 10, 80, 10));
  dlg.Add(Memo(107, "cFor", 150, 10, 235, 40));
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 10, 255, 45, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 30, 255, 45, 14));
  dlg.focus = 1;

  CTL(dlg, "cCam")->on_change = [&dlg, &nField] {
    const Control& cam = *CTL(dlg, "cCam");
    const int n = FIELDPOS(TextOf(cam.value));
    if (n == 0) return;
    nField = n;
    ATTIVACAM(dlg, nField);
  };
  // A value and an expression exclude each other.
  const auto drop_expression = [&dlg] {
    CTL(dlg, "cExp")->value = Value::String("", true);
    REFRESHALL(dlg);
  };
  for (const char* name : {"cVal", "dVal", "nVal"}) {
    CTL(dlg, name)->on_lost_focus = [&dlg, name, drop_expression] {
      if (HoldsValue(CTL(dlg, name)->Val())) drop_expression();
    };
  }
  CTL(dlg, "lVal")->on_change = drop_expression;
  CTL(dlg, "cExp")->on_lost_focus = [&dlg, &nField] {
    if (!Blank(TextOf(CTL(dlg, "cExp")->value))) PULISCICAM(dlg, nField);
  };
  CTL(dlg, "cExp")->valid = [](const Value& v) { return Blank(TextOf(v)) || TESTEXP(v.str()); };
  CTL(dlg, "cFor")->valid = [](const Value& v) { return ValidCondition(TextOf(v)); };

  ADJPOS(dlg);
  ATTIVACAM(dlg, nField, true);
}

// The value typed for field n's type, as the table stores it; nil for the types that take
// none, nullopt when a text cannot be stored in the table's code page (already told).
std::optional<Value> TypedValue(Dialog& dlg, int n) {
  switch (TypeOf(n)) {
    case 'C':
    case 'M': {
      std::string stored;
      if (!StoredText(TextOf(CTL(dlg, "cVal")->value), &stored)) return std::nullopt;
      return Value::String(stored, TypeOf(n) == 'M');
    }
    case 'D':
      return CTL(dlg, "dVal")->Val();
    case 'N':
      return CTL(dlg, "nVal")->Val();
    case 'L':
      return Value::Logical(TextOf(CTL(dlg, "lVal")->value) == ".T.");
    default:
      return Value();
  }
}

// True when an expression's value may go into a field of type t.
bool FitsField(char t, const Value& v) {
  switch (t) {
    case 'C':
    case 'M':
      return v.is_string();
    case 'D':
      return v.is_date();
    case 'N':
      return v.is_numeric();
    case 'L':
      return v.is_logical();
    default:
      return true;  // the field itself refuses what it cannot hold
  }
}

// Runs the dialog until it is confirmed and the table lock is taken; false when cancelled.
// The lock is then held by `change`.
bool ConfirmedAndLocked(Dialog& dlg, std::unique_ptr<RecordChange>* change, const char* what) {
  for (;;) {
    if (GetUi().RunDialog(dlg) != 1) return false;
    *change = std::make_unique<RecordChange>(RecordChange::kTable);
    if ((*change)->held()) return true;
    change->reset();
    POPMSG(std::string(kTableLocked) + what + ".", 1);
  }
}

}  // namespace

std::vector<std::string> ACAMPI() {
  std::vector<std::string> names;
  for (int n = 1; n <= FCOUNT(); ++n) names.push_back(FIELDNAME(n));
  return names;
}

void ADJPOS(Dialog& oDlg) {
  const Control& val = *CTL(oDlg, "cVal");
  for (const char* name : {"dVal", "nVal", "lVal"}) {
    Control& c = *CTL(oDlg, name);
    c.row = val.row;
    c.col = val.col;
  }
}

void ATTIVACAM(Dialog& oDlg, int nField, bool lInit) {
  for (const char* name : kValueControls) CTL(oDlg, name)->hidden = true;
  if (Control* shown = ResetValueControl(oDlg, nField)) {
    shown->hidden = false;
    // A character field takes no more than its width; a memo any length.
    shown->max_length = TypeOf(nField) == 'C' ? FIELDLEN(nField) : 0;
  }
  for (const char* name : kValueControls) Show(oDlg, *CTL(oDlg, name));
  if (!lInit) REFRESHALL(oDlg);
}

void PULISCICAM(Dialog& oDlg, int nField) {
  (void)ResetValueControl(oDlg, nField);
  REFRESHALL(oDlg);
}

void SOSTVAL(Browse* oBrw) {
  RoutineFrame frame("SOSTVAL", __LINE__);
  if (!TableWritable()) return;
  const uint32_t nRec = RECNO();
  Dialog dlg;
  int nField = 1;
  BuildReplaceDialog(dlg, nField);
  std::unique_ptr<RecordChange> change;
  std::optional<Value> value;
  for (;;) {
    if (!ConfirmedAndLocked(dlg, &change, "la sostituzione")) return;
    value = TypedValue(dlg, nField);
    if (value) break;
    change.reset();
  }
  frame.set_line(__LINE__);
  uint64_t changed = 0;
  bool walked = false;
  {
    Progress progress("Sostituzione valori in corso...", 2 * uint64_t{LASTREC()});
    const char t = TypeOf(nField);
    const std::string cExp = TextOf(CTL(dlg, "cExp")->value);
    const std::string cFor = TextOf(CTL(dlg, "cFor")->value);
    if (Blank(cExp)) {
      walked = value->is_nil() ||
               Guarded([&] { Walk(cFor, progress, nullptr, [&] { FIELDPUT(nField, *value); },
                                  &changed); },
                       kBadCondition);
    } else {
      std::unique_ptr<Expression> expr = Compile(cExp);
      if (!expr) {
        POPMSG(kBadExpression, 1);
      } else {
        walked = Guarded(
            [&] {
              if (!FitsField(t, expr->Eval())) {
                RuntimeError e;
                e.gen_code = kEgDataType;
                throw Abandon(e);
              }
              Walk(cFor, progress, nullptr, [&] { FIELDPUT(nField, expr->Eval()); }, &changed);
            },
            kBadExpression);
      }
    }
    change->Finish();
    DBGOTO(Value::Integer(nRec));
  }
  if (oBrw) oBrw->Stabilize();
  if (walked || changed > 0) TellCount(changed, "modificati");
}

namespace {

// Marks deleted (recall: recalls) the records that meet a condition: the dialog "Cancella
// record" ("Ripristina record"), whose condition must not be empty, then the walk over the live
// (deleted) records.
void ByCondition(Browse* oBrw, bool recall) {
  const uint32_t nRec = RECNO();
  Dialog dlg{recall ? "RIPRREC" : "CANCREC", recall ? "Ripristina record" : "Cancella record",
             305, 70};
  dlg.Add(Control::Label("Condizione:", 10, 10, 60, 10));
  Control& cond = dlg.Add(Memo(101, "cFor", 20, 10, 235, 40));
  cond.valid = [](const Value& v) { return ValidConditionNotEmpty(TextOf(v)); };
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 20, 255, 45, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 40, 255, 45, 14));
  dlg.focus = 1;
  std::unique_ptr<RecordChange> change;
  if (!ConfirmedAndLocked(dlg, &change, recall ? "il ripristino" : "la cancellazione")) return;
  uint64_t changed = 0;
  bool walked = false;
  {
    Progress progress(recall ? "Ripristino record in corso..." : "Cancellazione record in corso...",
                      2 * uint64_t{LASTREC()});
    const std::string cFor = TextOf(CTL(dlg, "cFor")->value);
    walked = Guarded(
        [&] {
          // Only the records the command changes count.
          if (recall) {
            Walk(cFor, progress, [] { return DELETED(); }, [] { DBRECALL(); }, &changed);
          } else {
            Walk(cFor, progress, [] { return !DELETED(); }, [] { DBDELETE(); }, &changed);
          }
        },
        kBadCondition);
    change->Finish();
    DBGOTO(Value::Integer(nRec));
  }
  if (oBrw) oBrw->Stabilize();
  if (walked || changed > 0) TellCount(changed, recall ? "richiamati" : "eliminati");
}

}  // namespace

void CANCREC(Browse* oBrw) {
  RoutineFrame frame("CANCREC", __LINE__);
  if (!TableWritable()) return;
  ByCondition(oBrw, false);
}

void RIPRREC(Browse* oBrw) {
  RoutineFrame frame("RIPRREC", __LINE__);
  if (!TableWritable()) return;
  ByCondition(oBrw, true);
}

}  // namespace vosk
