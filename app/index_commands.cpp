#include "app/index_commands.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/browse.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/expression_check.h"
#include "app/filename.h"
#include "app/key_search.h"
#include "app/ansi.h"
#include "app/file_naming.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/sort_filter.h"
#include "app/table_maintenance.h"
#include "app/ui.h"
#include "expr/memvars.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/order_bag_build.h"
#include "rdd/order_types.h"

namespace vosk {
namespace {

constexpr int kTagWidth = 10;  // the TAG name's field

// What the dialog "CREAIND" edits: the index file and the order to make in it.
struct IndexForm {
  std::string cInd;
  OrderDefinition order;
};

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string Padded(std::string s) {
  s.resize(std::max<size_t>(s.size(), kTagWidth), ' ');
  return s;
}

bool ValidTagName(const Value& v) {
  const std::string name = Trimmed(v.is_string() ? v.str() : "");
  return !name.empty() && name.find(' ') == std::string::npos;
}

// The dialog "CREAIND" titled cTitle over the form; with fixed_names the file and the TAG
// name cannot change. True, with the form holding what was entered, when confirmed.
bool RunIndexDialog(const std::string& cTitle, bool fixed_names, IndexForm& f) {
  Dialog dlg{"CREAIND", cTitle, 305, 185};
  dlg.Add(Control::Label("Nome file:", 10, 10, 60, 10));
  dlg.Add(Control::Memo(101, "cInd", f.cInd, 20, 10, 235, 20)).disabled = true;
  dlg.Add(Control::Label("TAG:", 52, 170, 24, 10));
  Control& tag = dlg.Add(
      Control::Get(102, "cTag", Value::String(Padded(f.order.name)), "@!", 50, 195, 50, 13));
  tag.valid = &ValidTagName;
  tag.disabled = fixed_names;
  dlg.Add(Control::Label("Chiave:", 65, 10, 60, 10));
  dlg.Add(Control::Memo(103, "cKey", f.order.key_text, 75, 10, 235, 40)).valid =
      ExpressionField(&ValidKeyNotEmpty);
  dlg.Add(Control::Label("Condizione FOR:", 125, 10, 80, 10));
  dlg.Add(Control::Memo(104, "cFor", f.order.for_text, 135, 10, 235, 40)).valid =
      ExpressionField(&ValidCondition);
  dlg.Add(Control::Check(105, "lUni", "Unique:", f.order.unique, 135, 255, 45, 12));
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 20, 255, 45, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 50, 255, 45, 14));
  UniqueFollowsKey(dlg, "cKey", "lUni");
  // The first field the user can change has the focus.
  dlg.focus = fixed_names ? 5 : 3;
  if (GetUi().RunDialog(dlg) != 1) return false;
  f.order.name = UpperName(Trimmed(CTL(dlg, "cTag")->Val().str()));
  f.order.key_text = ExpressionLine(CTL(dlg, "cKey")->value.str());
  f.order.for_text = ExpressionLine(CTL(dlg, "cFor")->value.str());
  f.order.unique = !f.order.key_text.empty() && CTL(dlg, "lUni")->value.logical();
  return true;
}

// The view after an index command: the index file open, its order controlling, no column
// sort or filter.
void IndexView(const std::string& cInd) {
  CurrentTableState& state = CurTable();
  KEYSEARCH();
  state.xCurOrder = Value();
  state.cCurIndex = cInd;
  state.cCurFilter.reset();
}

// After a build that failed: the index that was open is open again with the order that
// controlled; without one (or when it is gone) the view is in natural order.
void ReopenIndex(const std::optional<std::string>& index, const std::string& focus) {
  OrderListClear();
  if (index && !index->empty() && FileExists(*index) && OrderListAdd(*index)) {
    if (!focus.empty()) ORDSETFOCUS(Value::String(focus));
    IndexView(*index);
    return;
  }
  IndexView("");
  CurTable().cCurIndex.reset();
}

void Resync(Browse* oBrw, uint32_t record) {
  DBGOTO(Value::Integer(record));
  if (oBrw) oBrw->Stabilize(false);
}

// How a build ended.
enum class Outcome {
  kBuilt,
  kBadKey,  // a key or condition that cannot be built: not told yet
  kTold,    // another failure, told by the error handler (a full disk, say)
};

// Runs `build` (one or more order creates) under the progress pop-up `text`, which counts
// `orders` passes over the table's records (each record scanned, then its key written); the
// scan arguments handed to `build` move the bar.
Outcome BuildUnderProgress(const char* text, size_t orders,
                           const std::function<bool(const OrdCondArgs& scan)>& build) {
  Progress progress(text, 2 * orders * static_cast<uint64_t>(LASTREC()));
  OrdCondArgs scan;
  scan.eval_block = progress.EvalBlock();
  scan.write_block = progress.Ticker();
  scan.eval_step = progress.EvalStep();
  try {
    if (!BuildWithKeyCheck([&] { return build(scan); })) return Outcome::kBadKey;
  } catch (const Abandon&) {
    return Outcome::kTold;
  }
  progress.Advance(progress.total());
  return Outcome::kBuilt;
}

// Creates the form's order: in a new index file built beside the file of that name (new_file),
// else in the index file as it is (a TAG of the same name replaced). A key or condition that
// cannot be built shows "Chiave non valida."; after any failure the index that was open is
// open again.
void BuildIndexOrder(Browse* oBrw, const char* text, const IndexForm& f, bool new_file) {
  CurrentTableState& state = CurTable();
  const std::optional<std::string> previous = state.cCurIndex;
  const std::string focus = OrderFocus();
  const uint32_t record = RECNO();
  const Outcome outcome = BuildUnderProgress(text, 1, [&](OrdCondArgs scan) {
    if (new_file) return BuildBagBeside(f.cInd, {f.order}, scan);
    scan.for_text = f.order.for_text;
    scan.descending = f.order.descending;
    ORDCONDSET(scan);
    return ORDCREATE(f.cInd, f.order.name, f.order.key_text, nullptr,
                     f.order.unique ? Value::Logical(true) : Value());
  });
  if (outcome == Outcome::kBuilt) {
    IndexView(f.cInd);
  } else {
    if (outcome == Outcome::kBadKey) POPMSG("Chiave non valida.", 1);
    ReopenIndex(previous, focus);
  }
  Resync(oBrw, record);
}

// An index file that holds one order only: a new TAG would take the place of the one it has.
bool SingleOrderFile(const std::string& index) { return UpperName(CFILEEXT(index)) == "NTX"; }

bool SameName(const std::string& a, const std::string& b) { return UpperName(a) == UpperName(b); }

}  // namespace

bool ESISTETAG(const std::string& cTag) {
  const std::string wanted = Trimmed(cTag);
  for (const std::string& name : ATAG()) {
    // The comparison of SET EXACT OFF: as long as the wanted name.
    if (name.compare(0, wanted.size(), wanted) == 0) return true;
  }
  return false;
}

void CREAIND(Browse* oBrw, bool lTag) {
  RoutineFrame frame("CREAIND", __LINE__);
  CurrentTableState& state = CurTable();
  const std::string ext = IndexFileExt();
  IndexForm f;
  bool new_file = !lTag;
  bool into_structural = false;
  if (lTag) {
    const StructuralBag structural = StructuralBagOf(state.cCurTable);
    if ((!state.cCurIndex || state.cCurIndex->empty()) && structural.present &&
        state.xCurOrder.is_nil() && !state.cCurFilter && OrderCount() > 0) {
      // No TAG chosen yet, but the structural bag opened with the table: it takes the TAG.
      f.cInd = structural.path;
      into_structural = true;
    } else if (!state.cCurIndex || state.cCurIndex->empty()) {
      // The orders of the view are a sort or a filter: a TAG needs an index file.
      new_file = true;
    } else if (SingleOrderFile(*state.cCurIndex)) {
      if (!POPMSG("Il file indice " + CFILENOPATH(*state.cCurIndex) +
                      " contiene un solo TAG, che il nuovo TAG sostituirebbe.;"
                      "Creo il nuovo TAG in un nuovo file indice?",
                  2)
               .logical()) {
        return;
      }
      new_file = true;
    } else {
      f.cInd = *state.cCurIndex;
    }
  }
  if (new_file) {
    f.cInd = CGETFILE("File " + ext + " (*." + ext + ")|*." + ext, "Nuovo indice...", 1,
                      CFILEPATH(state.cCurTable), true);
    if (f.cInd.empty()) return;
    if (UpperName(CFILEEXT(f.cInd)) != ext) f.cInd = WithExtension(f.cInd, ext);
    if (FileExists(f.cInd) && !POPMSG("Sostituire il file esistente?", 2).logical()) return;
    f.order.name = UpperName(CFILENOEXT(f.cInd));
    if (!state.xCurOrder.is_numeric() && OrderControls()) {
      // A filter given without a key walks in record order: its condition is a start value,
      // the key that stands for the record order is not.
      const bool keyless =
          state.cCurFilter && state.xCurOrder.is_string() && state.xCurOrder.str().empty();
      f.order.key_text = keyless ? "" : ORDKEY();
      f.order.for_text = ORDFOR();
      f.order.unique = !keyless && ORDISUNIQUE();
    }
  }
  for (;;) {
    if (!RunIndexDialog(new_file ? "Nuovo indice" : "Nuovo TAG", false, f)) return;
    // Only a TAG added to the open index can take the place of one of its TAGs.
    if (new_file || !ESISTETAG(f.order.name) ||
        POPMSG("Sostituisco il TAG esistente?", 2).logical()) {
      break;
    }
  }
  frame.set_line(__LINE__);
  if (into_structural) state.cCurIndex = f.cInd;
  BuildIndexOrder(oBrw, "Creazione indice in corso...", f, new_file);
}

void MODIIND(Browse* oBrw) {
  RoutineFrame frame("MODIIND", __LINE__);
  const CurrentTableState& state = CurTable();
  if (!state.cCurIndex || state.cCurIndex->empty() || !OrderControls()) return;
  IndexForm f{*state.cCurIndex,
              {OrderFocus(), ORDKEY(), ORDFOR(), ORDISUNIQUE(),
               DBORDERINFO(Value::Integer(kOiIsDesc)).logical()}};
  if (!RunIndexDialog("Modifica indice", true, f)) return;
  frame.set_line(__LINE__);
  BuildIndexOrder(oBrw, "Modifica indice in corso...", f, false);
}

void ELIMINATAG(Browse* oBrw) {
  RoutineFrame frame("ELIMINATAG", __LINE__);
  const std::vector<std::string> tags = ATAG();
  if (tags.empty()) return;  // none but a sorted or filtered view's own
  const std::string focus = OrderFocus();
  const std::optional<std::string> chosen = ChooseTag("Elimina TAG");
  if (!chosen) return;
  // Deleting a TAG cannot be undone: asked once more, naming it.
  if (!POPMSG(Ansi("Eliminare il TAG ") + *chosen + Ansi("? L'operazione non può essere annullata."),
              5)
           .logical()) {
    return;
  }
  const size_t position =
      static_cast<size_t>(std::find(tags.begin(), tags.end(), *chosen) - tags.begin());
  frame.set_line(__LINE__);
  ORDDESTROY(Value::String(*chosen));
  if (OrderCount() == 0) {
    ORDINA(oBrw);
    return;
  }
  // The order that controlled goes on controlling; when it is the one removed, the one listed
  // before it takes its place, or the one after it when it was the first.
  std::string next = focus;
  if (focus.empty() || SameName(focus, *chosen)) {
    const std::vector<std::string> left = ATAG();
    if (left.empty()) {  // only a view's own order is left
      ORDINA(oBrw);
      return;
    }
    next = left[position > 0 ? std::min(position - 1, left.size() - 1) : 0];
  }
  ORDSETFOCUS(Value::String(next));
  DBGOTOP();
  KEYSEARCH();
  if (oBrw) oBrw->Stabilize(false);
}

bool OKEXCL2(const std::string& cTable, const std::string& cInd, const std::string& cFocus) {
  const uint32_t record = RECNO();
  DBCLOSE();
  const bool free = !NETUSED(cTable);
  OpenCurrent(true);
  OrderListClear();
  OrderListAdd(cInd);
  if (!cFocus.empty()) ORDSETFOCUS(Value::String(cFocus));
  DBGOTO(Value::Integer(record));
  return free;
}

void RICOSTIND(Browse* oBrw) {
  RoutineFrame frame("RICOSTIND", __LINE__);
  const CurrentTableState& state = CurTable();
  if (!state.cCurIndex || state.cCurIndex->empty()) return;
  const std::string cInd = *state.cCurIndex;
  const std::string cFocus = OrderFocus();
  const uint32_t record = RECNO();
  if (!POPMSG("Confermi la ricostruzione dell'indice attivo?", 2).logical()) return;
  frame.set_line(__LINE__);
  if (!OKEXCL2(state.cCurTable, cInd, cFocus)) {
    POPMSG(std::string(kOpenElsewhere) + "ricostruire l'indice attivo.", 1);
    return;
  }
  // Every order open (the structural bag's too) is built again as it is defined, each bag
  // beside its file, which it replaces once whole.
  const int orders = OrderCount();
  if (orders == 0) return;  // a file of no order: nothing to build
  const Outcome outcome = BuildUnderProgress(
      "Ricostruzione indice in corso...", static_cast<size_t>(orders), [&](const auto& scan) {
        OpenCurrent(false);
        if (!OrderListAdd(cInd)) return false;
        ORDCONDSET(scan);
        return ORDLISTREBUILD();
      });
  // Whatever happened, the table is open shared again with the index (rebuilt, or as it was).
  OpenCurrent(true);
  OrderListAdd(cInd);
  if (!cFocus.empty()) ORDSETFOCUS(Value::String(cFocus));
  if (outcome == Outcome::kBadKey) POPMSG("Chiave non valida.", 1);
  IndexView(cInd);
  Resync(oBrw, record);
}

}  // namespace vosk
