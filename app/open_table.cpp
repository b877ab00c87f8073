#include "app/open_table.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/key_search.h"
#include "app/main_menu.h"
#include "app/messages.h"
#include "app/order_info.h"
#include "app/password.h"
#include "app/sort_filter.h"
#include "app/startup.h"
#include "app/table_files.h"
#include "app/ui.h"
#include "app/voskdbu.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "platform/os_error.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/table_driver.h"

namespace vosk {
namespace {

constexpr int kMruMax = 15;
// "Seleziona TAG": its edits start right of the longest label, "Condizione FOR:".
constexpr int kEditCol = 76, kEditWidth = 150;
constexpr int kRddiMemoType = 14;
constexpr int kRddiMemoExt = 6;

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The message OKOPEN gives for a failed open, "" when no rule matches. Each matching rule
// replaces the message of the rules before it.
std::string OkOpenMessage(const RuntimeError& e, const std::string& cIndex,
                          const std::string& failing_file) {
  // An error raised while evaluating an index key (an alias it names) carries no file name.
  const std::string name = e.file_name.empty() ? failing_file : e.file_name;
  // An open that failed for a reason no rule names still failed: saying so beats letting the
  // real open run into an error report that ends the program.
  std::string message = "Impossibile aprire il file " + name + ".";
  if (e.os_code == kOsFileNotFound) message = "Impossibile aprire il file " + name + ".";
  if (e.os_code == kOsNone && e.gen_code == kEgOpen) {
    message = "Impossibile aprire il file " + name + (CFILEEXT(name).empty() ? ".DBF" : "") + ".";
  }
  // A table held exclusively by another program: access denied, or the sharing violation
  // through which this system's share modes report it.
  if (e.os_code == kOsAccessDenied || e.os_code == kOsSharingViolation) {
    message =
        Ansi("Il file ") + name + Ansi(" è già aperto in modo esclusivo oppure è in sola lettura.");
  }
  // A file too short for its own header reads as a read error: it is corrupt as well.
  if (e.sub_code == kEdfCorrupt || e.gen_code == kEgCorruption || e.sub_code == kEdfRead) {
    message = "Il file " + name + " risulta corrotto.";
  }
  if (e.gen_code == kEgNoVar) {
    message = "Il file indice " + cIndex + Ansi(" non è compatibile con la tabella specificata.");
  }
  return message;
}

void SetPassword(const std::optional<std::string>& password) {
  DBINFO(kDbiPassword, Value::String(password.value_or("")));
}

void SetTitle() { GetUi().SetWindowTitle(MainWindowTitle()); }

// Opens `table` in a spare work area and runs `then` there, with a handler that breaks out;
// the error that stopped it, if any. The current work area is as before afterwards.
std::optional<RuntimeError> TryOpen(const std::string& table, bool read_only,
                                    const std::function<void()>& then) {
  std::optional<RuntimeError> failure;
  AreaSelection back("");
  ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    DBOPEN(true, "", table, "OKOPEN", true, read_only);
    if (!USED()) {
      RuntimeError e;
      e.gen_code = kEgOpen;
      e.file_name = table;
      failure = e;
    } else {
      then();
    }
  } catch (const Abandon& abandon) {
    failure = abandon.error();
  }
  try {
    DBCLOSE("OKOPEN");
  } catch (const Abandon&) {
  }
  return failure;
}

// Reopens the current table in its own work area under the default driver, applies its
// password and runs `then` (rebuild the columns, reset order and filter); the error that
// stopped it, if any.
std::optional<RuntimeError> Reopen(CurrentTableState& state, const std::function<void()>& then) {
  ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
  try {
    DBOPEN(false, "", state.cCurTable, kCurrentAlias, true, state.lReadOnly);
    TableOpened(state.cCurTable);
    SetPassword(state.cPassword);
    then();
  } catch (const Abandon& abandon) {
    return abandon.error();
  }
  return std::nullopt;
}

bool AutoOpenIndexExists(const std::string& index) {
  return OrderBagsSupported() && FileExists(index);
}

}  // namespace

bool ExplainStructuralBag(const std::string& cFile) {
  TableOpening probe;
  {
    AreaSelection back("");
    ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    AreaOptions o;
    o.file = cFile;
    o.alias = "BAGPROBE";
    o.shared = true;
    try {
      probe = UseTable(true, o, true);
    } catch (const Abandon&) {
      // The table's own trouble is told by its test-open.
    }
    try {
      DBCLOSE("BAGPROBE");
    } catch (const Abandon&) {
    }
  }
  const BagTrouble& t = probe.trouble;
  if (!t) return false;
  std::string what = t.kind == BagTrouble::Kind::kMissing
                         ? Ansi(" non è stato trovato")
                         : Ansi(" non può essere usato (") + t.reason + ")";
  std::string text = Ansi("L'indice strutturale ") + t.bag + what +
                     Ansi(":;la tabella viene aperta in sola lettura, perché una modifica "
                          "lascerebbe l'indice errato per gli altri programmi che lo usano.");
  if (t.kind != BagTrouble::Kind::kMissing) {
    text += Ansi(";Il comando \"dbutool reindex ") + cFile + " " + t.bag +
            Ansi("\" lo ricostruisce.");
  }
  POPMSG(text, 1);
  return true;
}

void DBOPEN(bool lNew, const std::string& cDriver, const std::string& cFile,
            const std::string& cAlias, bool lShared, bool lReadOnly) {
  // The engine's rule: a table flagging a structural bag opens with that bag's driver and the
  // bag; a bag that cannot be kept current keeps a table open for changes from opening (the
  // opening commands open such a table read-only, having told why: ExplainStructuralBag).
  AreaOptions o;
  o.driver = cDriver;
  o.file = cFile;
  o.alias = cAlias;
  o.shared = lShared;
  o.read_only = lReadOnly;
  const auto open = [&] { return UseTable(lNew, o, !lReadOnly).opened; };
  NETERR(false);
  if (open()) {
    SetPassword("");
    return;
  }
  if (!NETERR()) return;
  const std::optional<std::string> previous = ProgressText();
  if (previous) POPMSG();
  if (lShared) {
    POPMSG(Ansi("E' in corso un'operazione di sistema..."));
  } else {
    POPMSG("Spegnere tutti i terminali...", 0, "Attenzione");
  }
  // No count and no cancel: the open waits until the other program lets the table go.
  for (;;) {
    NETERR(false);
    const bool opened = open();
    GetUi().ProcessEvents();
    if (opened && !NETERR() && USED()) break;
    ::usleep(100 * 1000);
  }
  SetPassword("");
  POPMSG();
  if (previous) POPMSG(*previous);
}

void DBCLOSE(const std::string& cAlias) {
  const std::string alias = cAlias.empty() ? ALIAS() : cAlias;
  if (alias.empty() || SELECT(Value::String(alias)) == 0) return;
  const int previous = SELECT();
  DBSELECTAREA(alias);
  const int area = SELECT();
  DBCLOSEAREA();
  const std::string view = SETTEMP() + "\x7FVIEW" + std::to_string(area) + ".NTX";
  ::unlink(view.c_str());
  if (previous != area) DBSELECTAREA(previous);
}

bool OKOPEN(const std::string& cFile, const std::string& cIndex, bool lReadOnly) {
  RoutineFrame frame("OKOPEN", __LINE__);
  std::string message;
  const int previous = SELECT();
  {
    ScopedErrorHandler breakout([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    std::string failing_file = cFile;
    try {
      DBOPEN(true, "", cFile, "OKOPEN", true, lReadOnly);
      if (!cIndex.empty()) {
        failing_file = cIndex;
        OrderListClear();
        OrderListAdd(cIndex);
        OrderCheckKeys();
      }
    } catch (const Abandon& abandon) {
      message = OkOpenMessage(abandon.error(), cIndex, failing_file);
    }
    try {
      DBCLOSE("OKOPEN");
    } catch (const Abandon&) {
    }
  }
  if (previous > 0) DBSELECTAREA(previous);
  if (!message.empty()) POPMSG(message, 1);
  return message.empty();
}

std::string AutoIndexName(const std::string& table) {
  const std::string base = CFILEPATH(table) + CFILENOEXT(table);
  const std::string ext = OrderBagExt();
  const std::string name = base + (VOSK() ? std::string(".NTX") : UpperName(ext));
  return FileExists(name) ? name : base + ext;
}

void APRITAB(Browse* oBrw, const std::string& cFile_in) {
  RoutineFrame frame("APRITAB", __LINE__);
  const bool auto_open = IniLogical("AutoOpen", "No");
  std::string cFile = cFile_in;
  if (cFile.empty()) {
    cFile =
        CGETFILE("File DBF (*.DBF)|*.DBF", "Apri tabella...", 1, CFILEPATH(CurTable().cCurTable));
  } else {
    cFile = FULLNAME(cFile);
  }
  if (cFile.empty()) return;
  if (CFILEEXT(cFile).empty()) cFile += ".DBF";
  if (!FileExists(cFile)) {
    POPMSG("Impossibile trovare il file " + cFile + ".", 1);
    return;
  }
  CurrentTableState& state = CurTable();
  // The table opens with the memo kind its files show, whatever the last table had; a table
  // that is not opened leaves the kind of the current one.
  UseMemoKindOf(cFile);
  struct KeepMemoKind {
    const std::string& current;
    bool keep = true;
    ~KeepMemoKind() {
      if (keep) UseMemoKindOf(current);
    }
  } memo_kind{state.cCurTable};
  const bool read_only = ExplainReadOnlyOpen(cFile);
  if (!OKOPEN(cFile, "", read_only)) return;
  // A table without fields has no record to show or add (as at start-up): its header ends
  // where the first field descriptor would begin.
  if (std::ifstream header(cFile, std::ios::binary); header.seekg(32) && header.get() == 0x0D) {
    POPMSG(Ansi("Impossibile aprire il file;") + cFile + Ansi(";perché privo di campi."), 1);
    return;
  }
  const std::string index = AutoIndexName(cFile);
  const bool with_index = auto_open && AutoOpenIndexExists(index);
  if (with_index && !OKOPEN(cFile, index, read_only)) return;

  frame.set_line(__LINE__);
  memo_kind.keep = false;
  state.cCurTable = cFile;
  state.lReadOnly = read_only;
  DBOPEN(false, "", cFile, kCurrentAlias, true, read_only);
  TableOpened(cFile);
  for (int item = 2; item <= 4; ++item) GetUi().SetStatusItem(item, StatusItemText(item));
  state.cPassword.reset();
  SetPassword(state.cPassword);
  REFRESHPSW();
  if (with_index) {
    OrderListClear();
    OrderListAdd(index);
    state.xCurOrder = Value();
    state.cCurIndex = index;
    state.cCurFilter.reset();
  }
  if (oBrw) {
    REBUILDBRW(oBrw);
    oBrw->set_nColAct(1);
    oBrw->set_nColPos(1);
    oBrw->SetHScrollPos(1);
  } else {
    ShowAllFields(FCOUNT());
  }
  if (!with_index) {
    ORDINA(oBrw);
  } else if (oBrw) {
    oBrw->Refresh();
    oBrw->Change();
  }
  ADDMRU(cFile);
}

std::string IndexFileExt() {
  std::string ext = VOSK() ? std::string("NTX") : UpperName(OrderBagExt());
  return ext.size() > 3 ? ext.substr(ext.size() - 3) : ext;
}

void APRIIND(Browse* oBrw) {
  RoutineFrame frame("APRIIND", __LINE__);
  const std::string ext = IndexFileExt();
  CurrentTableState& state = CurTable();
  std::string index = CGETFILE("File " + ext + " (*." + ext + ")|*." + ext, "Apri indice...", 1,
                               CFILEPATH(state.cCurTable));
  if (index.empty()) return;
  if (CFILEEXT(index).empty()) index += "." + ext;
  if (!FileExists(index)) {
    POPMSG("Impossibile trovare il file " + index + ".", 1);
    return;
  }
  if (!OKOPEN(state.cCurTable, index)) return;
  frame.set_line(__LINE__);
  OrderListClear();
  OrderListAdd(index);
  KEYSEARCH();
  state.xCurOrder = Value();
  state.cCurIndex = index;
  state.cCurFilter.reset();
  if (oBrw) {
    oBrw->Refresh();
    oBrw->Change();
  }
}

std::vector<std::string> ATAG() {
  std::vector<std::string> tags;
  for (int n = 1; n <= ORDCOUNT(); ++n) {
    std::string name = ORDNAME(Value::Integer(n));
    // The order of a sorted or filtered view is the program's own, not the user's.
    if (!name.empty() && name[0] == '\x7F') continue;
    tags.push_back(std::move(name));
  }
  return tags;
}

std::optional<std::string> ChooseTag(const std::string& cTitle) {
  const std::vector<std::string> tags = ATAG();
  // The list starts on the controlling order, or on the first when none controls (the table
  // in its own order with the structural bag open) or the view's own order does (a sort or a
  // filter, which the list leaves out), showing that order's key.
  const std::string focus = OrderFocus();
  const bool listed = std::find(tags.begin(), tags.end(), focus) != tags.end();
  const std::string start = !listed && !tags.empty() ? tags.front() : focus;
  // The order number of an entry of the list (the first of that name, as the list has it).
  const auto number_of = [](const std::string& tag) {
    return Value::Integer(ORDNUMBER(Value::String(tag)));
  };
  const Value n = number_of(start);
  Dialog dlg{"SELEZTAG", cTitle, kEditCol + kEditWidth + 10, 150};
  dlg.Add(Control::Label("TAG:", 8, 8, 40, 10));
  Control combo;
  combo.id = 101;
  combo.kind = ControlKind::kCombo;
  combo.name = "cTag";
  combo.items = tags;
  combo.value = Value::String(start);
  combo.row = 6, combo.col = kEditCol, combo.width = kEditWidth, combo.height = 60;
  dlg.Add(std::move(combo));
  dlg.Add(Control::Label("Chiave:", 24, 8, 66, 10));
  dlg.Add(Control::Memo(102, "cKey", ORDKEY(n), 22, kEditCol, kEditWidth, 24)).read_only = true;
  dlg.Add(Control::Label("Condizione FOR:", 52, 8, 66, 10));
  dlg.Add(Control::Memo(103, "cFor", ORDFOR(n), 50, kEditCol, kEditWidth, 24)).read_only = true;
  dlg.Add(Control::Check(104, "lUni", "Unique:", ORDISUNIQUE(n), 80, 8, 80, 12)).disabled = true;
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 128, kEditCol, 50, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 128, kEditCol + 54, 50, 14));
  // Choosing another tag shows its key, condition and uniqueness.
  Control& chosen = dlg.controls[1];
  chosen.on_change = [&dlg, number_of] {
    const Value n = number_of(dlg.controls[1].value.str());
    CTL(dlg, "cKey")->value = Value::String(ORDKEY(n));
    CTL(dlg, "cFor")->value = Value::String(ORDFOR(n));
    CTL(dlg, "lUni")->value = Value::Logical(ORDISUNIQUE(n));
    for (int i : {3, 5, 6}) {
      if (dlg.on_control_changed) dlg.on_control_changed(i);
    }
  };
  dlg.focus = 1;
  dlg.lAsk = false;  // the dialog closes without asking
  if (GetUi().RunDialog(dlg) != 1) return std::nullopt;
  return dlg.controls[1].value.str();
}

void SELEZTAG(Browse* oBrw) {
  RoutineFrame frame("SELEZTAG", __LINE__);
  if (ATAG().empty()) return;  // none, or only a sorted or filtered view's own
  const std::optional<std::string> tag = ChooseTag("Seleziona TAG");
  if (!tag) return;
  ORDSETFOCUS(Value::String(*tag));
  // A TAG of the structural bag, which opened with the table, makes that bag the current
  // index: the status bar names it and its TAG, and its TAG can be modified and rebuilt.
  CurrentTableState& state = CurTable();
  if (!state.cCurIndex || state.cCurIndex->empty()) {
    const StructuralBag bag = StructuralBagOf(state.cCurTable);
    const Value bag_name = DBORDERINFO(Value::Integer(kOiBagName));
    if (bag.present && bag_name.is_string() && SameText(bag_name.str(), CFILENOPATH(bag.path))) {
      state.cCurIndex = bag.path;
    }
  }
  DBGOTOP();
  KEYSEARCH();
  if (oBrw) {
    oBrw->Refresh();
    oBrw->Change();
  }
}

void AUTOOPEN(Browse* oBrw) {
  const bool on = !IniLogical("AutoOpen", "No");
  WriteIniLogical("AutoOpen", on);
  GetUi().SetMenuCheck("Apri indice automaticamente", on);
}

std::vector<std::string> ReadMru() {
  std::vector<std::string> list;
  for (int i = 1;; ++i) {
    std::string path = GETPVPROFSTRING("Mru", "File" + std::to_string(i), "");
    if (path.empty()) break;
    list.push_back(path);
  }
  return list;
}

void ADDMRU(const std::string& cFile_in) {
  std::vector<std::string> list = ReadMru();
  if (!cFile_in.empty()) {
    // The file-name part as the directory spells it.
    std::string cFile = cFile_in;
    const std::string dir = CFILEPATH(cFile);
    const std::string name = CFILENOPATH(cFile);
    for (const std::string& entry : ListDirectory(dir.empty() ? "." : dir)) {
      if (SameText(entry, name)) {
        cFile = dir + entry;
        break;
      }
    }
    std::erase_if(list, [&](const std::string& e) { return SameText(e, cFile); });
    list.insert(list.begin(), cFile);
    if (static_cast<int>(list.size()) > kMruMax) list.resize(kMruMax);
    for (size_t i = 0; i < list.size(); ++i) {
      WRITEPPROSTRING("Mru", "File" + std::to_string(i + 1), list[i]);
    }
  }
  GetUi().SetRecentFiles(list);
}

void BLOCKMRU(Browse* oBrw, const std::string& cFile) {
  APRITAB(oBrw, cFile);
  SetTitle();
}

void CAMBIARDD(Browse* oBrw, const std::string& cDriver) {
  RoutineFrame frame("CAMBIARDD", __LINE__);
  const int memo = IniInt("Memo", 1);
  const Value extension = RDDINFO(kRddiMemoExt);
  const std::string memo_ext = extension.is_string() ? extension.str() : ".DBT";
  const std::string previous = RDDSETDEFAULT();
  CurrentTableState& state = CurTable();
  // A driver that is not part of the program falls back quietly to its nearest parent.
  SetDefaultDriver(cDriver);
  SetMemoFormat(memo, memo_ext);
  UseMemoKindOf(state.cCurTable);
  // The table must reopen under the new driver before anything changes: tried first in a
  // spare work area, with what the reopening does (the order list cleared).
  const auto rebuild = [oBrw] {
    if (oBrw) REBUILDBRW(oBrw);
    ORDINA(oBrw);
  };
  frame.set_line(__LINE__);
  std::optional<RuntimeError> failure =
      TryOpen(state.cCurTable, state.lReadOnly, [] { OrderListClear(); });
  bool reopened = false;
  if (!failure) {
    frame.set_line(__LINE__);
    failure = Reopen(state, rebuild);
    reopened = true;
  }
  if (failure) {
    // The table stays open under the driver it had, and the settings keep that driver.
    SetDefaultDriver(previous);
    SetMemoFormat(memo, memo_ext);
    UseMemoKindOf(state.cCurTable);
    if (reopened) (void)Reopen(state, rebuild);
    POPMSG("Impossibile aprire la tabella " + state.cCurTable + " con il driver " +
               cDriver + ":;" + failure->ToString() + ";La tabella resta aperta con il driver " +
               previous + ".",
           1);
  } else {
    // Written only once the table is open under the new driver: a driver that cannot open it
    // must not become the one the next start uses.
    WRITEPPROSTRING(kIniSection, "RDD", cDriver);
  }
  Ui& ui = GetUi();
  const std::string now = RDDSETDEFAULT();
  ui.SetMenuCheck("DBFNTX", now == "DBFNTX");
  ui.SetMenuCheck("DBFCDX", now == "DBFCDX");
  ui.SetStatusItem(2, StatusItemText(2));
}

void CAMBIAMEMO(Browse* oBrw, int nType) {
  RDDINFO(kRddiMemoType, Value::Integer(nType));
  RDDINFO(kRddiMemoExt, Value::String(nType == 1 || VOSK() ? ".DBT" : ".FPT"));
  WRITEPPROSTRING(kIniSection, "Memo", std::to_string(nType));
  if (oBrw == nullptr) return;
  Ui& ui = GetUi();
  ui.SetMenuCheck("Memo DBT", nType == 1);
  ui.SetMenuCheck("Memo FPT", nType == 2);
  ui.SetStatusItem(3, StatusItemText(3));
}

void CAMBIAANSI(Browse* oBrw, const std::string& cCod) {
  RoutineFrame frame("CAMBIAANSI", __LINE__);
  const uint32_t record = RECNO();
  WRITEPPROSTRING(kIniSection, "Codifica", cCod);
  CurrentTableState& state = CurTable();
  DBOPEN(false, "", state.cCurTable, kCurrentAlias, true, state.lReadOnly);
  TableOpened(state.cCurTable);
  SetPassword(state.cPassword);
  if (oBrw) REBUILDBRW(oBrw, false);
  DBGOTO(Value::Integer(record));
  ORDINA(oBrw);
  Ui& ui = GetUi();
  ui.SetMenuCheck("Codifica ANSI", cCod == "ANSI");
  ui.SetMenuCheck("Codifica OEM", cCod == "OEM");
  ui.SetStatusItem(4, CodepageItemText());
}

}  // namespace vosk
