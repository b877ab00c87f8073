#include "app/sort_filter.h"

#include <cctype>
#include <optional>

#include "app/browse.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/expression_check.h"
#include "app/key_search.h"
#include "app/messages.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/ui.h"
#include "expr/runtime_error.h"
#include "platform/system.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"

namespace vosk {
namespace {

constexpr int kSortKeyWidth = 240;  // longest key of a column sort
constexpr int kFloatKeyWidth = 40;  // NTX key of a float column: 28 digits before the point

char TypeOf(int nField) {
  const Value t = FIELDTYPE(nField);
  return t.is_string() && !t.str().empty() ? t.str()[0] : ' ';
}

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The view's way back to physical order: no order open and the state says so.
void ClearView() {
  OrderListClear();
  KEYSEARCH();
  CurrentTableState& state = CurTable();
  state.xCurOrder = Value();
  state.cCurIndex.reset();
  state.cCurFilter.reset();
}

// Replaces the orders of the view by one temporary order on cKey over the records where cFor
// holds (every record when cFor is empty), keeping only the first record of each key when
// `unique`, under the progress pop-up `text`. A key or condition error shows "Chiave non
// valida." and answers false; the view is then physical. Other errors go to the program's
// handler.
bool BuildViewOrder(const std::string& text, const std::string& cFor, const std::string& cKey,
                    bool unique) {
  bool built;
  {
    // The records are scanned, then their keys written: each counts on the bar.
    Progress progress(text, 2 * static_cast<uint64_t>(LASTREC()));
    ClearView();
    built = BuildWithKeyCheck([&] {
      OrdCondArgs cond;
      cond.for_text = cFor;
      cond.temporary = true;
      cond.eval_block = progress.EvalBlock();
      cond.write_block = progress.Ticker();
      cond.eval_step = progress.EvalStep();
      ORDCONDSET(cond);
      const bool ok =
          ORDBUILD(GETNEWFNAME(), "", cKey, nullptr, unique ? Value::Logical(true) : Value());
      // A condition or a unique key writes fewer keys than records: the bar ends full anyway.
      if (ok) progress.Advance(progress.total());
      return ok;
    });
  }
  if (built) return true;
  ClearView();
  POPMSG("Chiave non valida.", 1);
  return false;
}

void Redisplay(Browse* oBrw) {
  if (!oBrw) return;
  // A view sorted by a column marks that column's header.
  const CurrentTableState& state = CurTable();
  int mark = 0;
  if (state.xCurOrder.is_numeric()) {
    const int field = static_cast<int>(state.xCurOrder.number());
    for (size_t c = 0; c < state.aViewCols.size(); ++c) {
      if (state.aViewCols[c] == field) mark = static_cast<int>(c) + 1;
    }
  }
  oBrw->SetSortMark(mark);
  oBrw->Refresh();
  oBrw->Change();  // the status bar shows the new order at once
}

}  // namespace

bool BuildWithKeyCheck(const std::function<bool()>& build) {
  bool bad_key = false;
  ErrorHandler program = GetErrorHandler();
  ScopedErrorHandler breakout([&](const RuntimeError& e) -> ErrorAnswer {
    if (!KeyOrConditionError(e) || e.gen_code == kEgZeroDiv) {
      if (program) return program(e);
      throw Abandon(e);
    }
    bad_key = true;
    throw Abandon(e);
  });
  try {
    return build() && !bad_key;
  } catch (const Abandon&) {
    if (!bad_key) throw;
  }
  return false;
}

std::string GETNEWFNAME() {
  const auto centiseconds = [] {
    const LocalTime t = Now();
    return static_cast<long>(((t.hour * 60 + t.minute) * 60 + t.second) * 100 + t.millisecond / 10);
  };
  const LocalTime t = Now();
  char date[9];
  std::snprintf(date, sizeof date, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
  const long now = centiseconds();
  const std::string name = std::string(1, '\x7F') + date + std::to_string(now);
  while (centiseconds() == now) SleepMillis(1);
  return name;
}

bool ORDBUILD(std::string cBag, const std::string& cTag, const std::string& cKey,
              std::function<Value()> bKey, const Value& lUnique) {
  const size_t slash = cBag.find_last_of("/\\");
  if (cBag.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) {
    cBag += ".NTX";
  }
  // "FIELD->NAME" is NAME: the alias of the work area's own fields goes.
  std::string key;
  for (size_t i = 0; i < cKey.size();) {
    size_t j = i + 5;
    const bool word = cKey.size() >= j && (i == 0 || !IsNameChar(cKey[i - 1])) && [&] {
      for (size_t k = 0; k < 5; ++k) {
        if (std::toupper(static_cast<unsigned char>(cKey[i + k])) != "FIELD"[k]) {
          return false;
        }
      }
      return true;
    }();
    if (word) {
      while (j < cKey.size() && cKey[j] == ' ') ++j;
      if (cKey.compare(j, 2, "->") == 0) {
        j += 2;
        while (j < cKey.size() && cKey[j] == ' ') ++j;
        i = j;
        continue;
      }
    }
    key += cKey[i++];
  }
  return ORDCREATE(cBag, cTag, key, std::move(bKey), lUnique);
}

std::string SortKeyText(int nField) {
  const std::string name = FIELDNAME(nField);
  const std::string width = std::to_string(kSortKeyWidth);
  switch (TypeOf(nField)) {
    case 'C':
      if (FIELDLEN(nField) > kSortKeyWidth) {
        return "UPPER( LEFT( " + name + ", " + width + " ) )";
      }
      return "UPPER( " + name + " )";
    case 'M':
      return "UPPER( PADR( " + name + ", " + width + ", CHR( 1 ) ) )";
    case 'F':
      // An NTX key holds a number in its field's plain form, which cannot hold the values
      // other programs write in exponent form ("1.10042642493e+009" in an F19.11 field): a
      // key of kFloatKeyWidth characters holds them.
      if (RDDSETDEFAULT() == "DBFNTX") {
        return "VAL( STR( " + name + ", " + std::to_string(kFloatKeyWidth) + ", " +
               std::to_string(FIELDDEC(nField)) + " ) )";
      }
      return name;
    default:
      return name;
  }
}

void ORDINA(Browse* oBrw, int nCol) {
  RoutineFrame frame("ORDINA", __LINE__);
  CurrentTableState& state = CurTable();
  const uint32_t nRec = RECNO();
  if (nCol > 0) {
    if (nCol > static_cast<int>(state.aViewCols.size())) {
      GetUi().Beep();
      return;
    }
    const int n = state.aViewCols[static_cast<size_t>(nCol - 1)];
    const char type = TypeOf(n);
    if (RDDSETDEFAULT() == "DBFNTX" && (type == 'T' || type == '@')) {
      GetUi().Beep();  // time-stamp keys are not offered with NTX
      return;
    }
    frame.set_line(__LINE__);
    if (BuildViewOrder("Ordinamento in corso...", "", SortKeyText(n), false)) {
      state.xCurOrder = Value::Integer(n);
    }
  } else {
    ClearView();
  }
  DBGOTO(Value::Integer(nRec));
  Redisplay(oBrw);
}

void FILTRA(Browse* oBrw) {
  RoutineFrame frame("FILTRA", __LINE__);
  CurrentTableState& state = CurTable();
  std::string cFor = state.cCurFilter.value_or("");
  std::string cKey;
  if (state.cCurFilter && state.xCurOrder.is_string()) cKey = state.xCurOrder.str();
  bool lUni = state.cCurFilter.has_value() && OrderIsUnique();
  if (state.cCurIndex && !state.cCurIndex->empty() && OrderControls()) {
    cFor = ORDFOR();
    cKey = ORDKEY();
    lUni = ORDISUNIQUE();
  }

  Dialog dlg{"FILTRO", "Imposta filtro", 260, 132};
  dlg.Add(Control::Label("Condizione di filtro:", 6, 8, 120, 10));
  dlg.Add(Control::Memo(101, "cFor", cFor, 16, 8, 244, 36)).valid =
      ExpressionField(&ValidCondition);
  dlg.Add(Control::Label("Ordinamento:", 58, 8, 120, 10));
  dlg.Add(Control::Memo(102, "cKey", cKey, 68, 8, 244, 24)).valid = ExpressionField(&ValidKey);
  dlg.Add(Control::Check(103, "lUni", "Unique:", lUni, 98, 8, 80, 12));
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 112, 148, 50, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 112, 202, 50, 14));
  const auto key_text = [&dlg] {
    const Value& v = CTL(dlg, "cKey")->value;
    return ExpressionLine(v.is_string() ? v.str() : "");
  };
  UniqueFollowsKey(dlg, "cKey", "lUni");
  dlg.focus = 1;
  if (GetUi().RunDialog(dlg) != 1) return;

  cFor = ExpressionLine(CTL(dlg, "cFor")->value.str());
  cKey = key_text();
  lUni = !cKey.empty() && CTL(dlg, "lUni")->value.logical();
  const bool key_given = !cKey.empty();
  if (!key_given) cKey = "RECNO()";
  frame.set_line(__LINE__);
  if (BuildViewOrder("Creazione filtro in corso...", cFor, cKey, lUni)) {
    state.xCurOrder = Value::String(key_given ? cKey : "");
    state.cCurIndex.reset();
    state.cCurFilter = cFor;
  }
  if (oBrw) oBrw->Stabilize(false);
}

}  // namespace vosk
