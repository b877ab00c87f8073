#include "app/browse_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "app/ansi.h"
#include "app/browse.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/main_menu.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/twbrowse.h"
#include "app/ui.h"
#include "app/voskdbu.h"
#include "expr/date_text.h"
#include "expr/expression.h"
#include "expr/functions.h"
#include "expr/number_text.h"
#include "expr/settings.h"
#include "expr/transform.h"
#include "rdd/codepage.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr uint32_t kDeletedPane = 0xFFA0A0;        // RGB (255, 160, 160)
constexpr uint32_t kDeletedFocus = 0x800000;       // RGB (128, 0, 0)
constexpr uint32_t kEditorBack = 0xB8ED70;         // RGB (184, 237, 112)
constexpr uint32_t kEditorBackDeleted = 0xF4EE79;  // RGB (244, 238, 121)
constexpr char kRecordLocked[] =
    "Il record risulta attualmente bloccato da un altro programma. Impossibile modificarne il "
    "contenuto.";

char FieldType(int n) {
  const Value t = FIELDTYPE(n);
  return t.is_string() && !t.str().empty() ? t.str()[0] : ' ';
}

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Values compared exactly: same type and same content.
bool SameValue(const Value& a, const Value& b) {
  if (a.is_numeric() && b.is_numeric()) return a.number() == b.number();
  if (a.type() != b.type()) return false;
  if (a.is_string()) return a.str() == b.str();
  if (a.is_date()) return a.julian() == b.julian();
  if (a.is_logical()) return a.logical() == b.logical();
  if (a.is_timestamp()) return ValueToText(a) == ValueToText(b);
  return a.is_nil() && b.is_nil();
}

// The cell texts of the current record from the compiled row expression.
class RowDefinition {
 public:
  explicit RowDefinition(Value block) : block_(std::move(block)) {}
  std::vector<std::string> operator()() const {
    std::vector<std::string> cells;
    const Value row = CallBlock(block_);
    if (!row.is_array()) return cells;
    for (const Value& v : row.array()) cells.push_back(v.is_string() ? v.str() : ValueToText(v));
    return cells;
  }

 private:
  Value block_;
};

Dialog::ToolButton Tool(int id, const char* bitmap, const char* tooltip, bool group) {
  return Dialog::ToolButton{id, bitmap, tooltip, group};
}

void SetColumn(Browse* oBrw, int column) {
  oBrw->set_nColAct(column);
  oBrw->set_nColPos(column);
  oBrw->SetHScrollPos(column);
}

// Lock, write, commit, re-read, unlock, refresh. False when the record lock was refused.
bool WriteField(Browse* oBrw, int n, const Value& value) {
  if (!RLOCK()) {
    POPMSG(kRecordLocked, 1);
    return false;
  }
  FIELDPUT(n, value);
  DBCOMMIT();
  DBSKIP(0);
  DBUNLOCK();
  oBrw->Refresh();
  return true;
}

}  // namespace

std::string OemToAnsi(const std::string& oem) {
  std::string out = oem;
  TranslateBytes(&out, Codepage::kCp850, Codepage::kCp1252);
  return out;
}

bool AnsiToOem(const std::string& ansi, std::string* oem) {
  size_t bad = 0;
  if (FromUtf8(ToUtf8(ansi, Codepage::kCp1252), Codepage::kCp850, oem, &bad)) return true;
  POPMSG(Ansi("Il testo contiene caratteri non rappresentabili con la codifica OEM."), 1);
  return false;
}

std::string DTOCHR(const Value& dDate) {
  if (!dDate.is_date() || dDate.julian() == 0) return "";
  return DateToText(dDate.julian());
}

std::string TTOCHR(const Value& tTime) {
  if (!tTime.is_timestamp()) return "";
  const std::string text = ValueToText(tTime);
  return Trim(text).find_first_not_of(" /:.") == std::string::npos ? "" : text;
}

void RegisterBrowseFunctions() {
  RegisterFunction("DTOCHR", [](const ValueArray& a) {
    return Value::String(DTOCHR(a.empty() ? Value() : a[0]));
  });
  RegisterFunction("TTOCHR", [](const ValueArray& a) {
    return Value::String(TTOCHR(a.empty() ? Value() : a[0]));
  });
  RegisterFunction("OEMTOANSI", [](const ValueArray& a) {
    if (a.empty() || !a[0].is_string()) return a.empty() ? Value::String("") : a[0];
    return Value::String(OemToAnsi(a[0].str()), a[0].is_memo());
  });
}

std::optional<std::string> MKPICTURE(int nField) {
  const int len = FIELDLEN(nField), dec = FIELDDEC(nField);
  switch (FieldType(nField)) {
    case 'N':
      if (dec == 0) return std::string(static_cast<size_t>(std::max(len, 1)), '9');
      return std::string(static_cast<size_t>(std::max(len - dec - 1, 0)), '9') + "." +
             std::string(static_cast<size_t>(dec), '9');
    case 'L':
      return std::string("@! L");
    case 'T':
      return std::string("99/99/9999 99:99:99.999");
    default:
      return std::nullopt;
  }
}

std::string RowExpressionText() {
  const bool oem = IniString("Codifica", "ANSI") == "OEM";
  const CurrentTableState& state = CurTable();
  std::string text = "{ || { ";
  for (int n = 1; n <= FCOUNT(); ++n) {
    if (n > static_cast<int>(state.aFieldVis.size()) || !state.aFieldVis[n - 1]) continue;
    const std::string f = "FIELDGET( " + std::to_string(n) + " )";
    switch (FieldType(n)) {
      case 'C':
        text += oem ? "OEMTOANSI( " + f + " )" : f;
        break;
      case 'M':
        text += "IF( " + f + " == '', ' [    ] ', ' [Memo] ' )";
        break;
      case 'D':
        text += "DTOCHR( " + f + " )";
        break;
      case 'N':
      case '+':
        text += "STR( " + f + " )";
        break;
      case 'L':
        text += "IF( " + f + ", '.T.', '.F.' )";
        break;
      case 'T':
      case '@':
        text += "TTOCHR( " + f + " )";
        break;
      default:
        // A type without a cell text of its own shows its value as plain text.
        text += "''";
        break;
    }
    text += ", ";
  }
  if (text.size() > 7) text.resize(text.size() - 2);
  return text + " } }";
}

void MKFLD(Browse* oBrw) {
  BrowseColumns& cols = oBrw->columns();
  const CurrentTableState& state = CurTable();
  const bool oem = IniString("Codifica", "ANSI") == "OEM";
  if (cols.aHeaders.empty()) {
    for (int n = 1; n <= FCOUNT(); ++n) {
      cols.aHeaders.push_back(FIELDNAME(n));
      cols.aJustify.push_back(FieldType(n) == 'N');
      cols.aColSizes.push_back(0);
    }
  }
  cols.aActions.clear();
  int c = 0;
  for (int n = 1; n <= FCOUNT(); ++n) {
    if (n > static_cast<int>(state.aFieldVis.size()) || !state.aFieldVis[n - 1]) continue;
    ++c;
    std::string measure;
    int less = 0;
    switch (FieldType(n)) {
      case 'C': {
        const Value v = FIELDGET(n);
        measure = v.is_string() ? (oem ? OemToAnsi(v.str()) : v.str()) : "";
        break;
      }
      case 'M':
        measure = " [Memo] ";
        break;
      case 'D':
        measure = "00/00/0000";
        break;
      case 'N':
        measure = MKPICTURE(n).value_or("");
        less = 2;
        break;
      case 'L':
        measure = ".T.";
        break;
      case 'T':
      case '@':
        measure = "00/00/0000 00:00:00:000";
        break;
      case '+':
        measure = "0000000000";
        break;
      default:
        break;
    }
    if (c <= static_cast<int>(cols.aColSizes.size())) {
      const int header = oBrw->TextWidth(FIELDNAME(n));
      cols.aColSizes[c - 1] = std::max(header, oBrw->TextWidth(measure) - less) + 7;
    }
    // Header click: sort by that column (ORDINA with a column needs the order interface).
    cols.aActions.push_back(nullptr);
  }
  CompileError error;
  std::unique_ptr<Expression> row = Compile(RowExpressionText(), &error);
  if (!row) {
    cols.bLine = nullptr;
    return;
  }
  cols.bLine = RowDefinition(row->Eval());
}

void REBUILDBRW(Browse* oBrw, bool lReset, bool lInitOnly) {
  CurrentTableState& state = CurTable();
  if (lReset) ShowAllFields(FCOUNT());
  if (lInitOnly) return;
  BrowseColumns& cols = oBrw->columns();
  cols.cAlias = ALIAS();
  const size_t count = state.aViewCols.size();
  cols.aHeaders.assign(count, "");
  cols.aJustify.assign(count, false);
  cols.aColSizes.assign(count, 0);
  for (size_t i = 0; i < count; ++i) {
    const int n = state.aViewCols[i];
    cols.aJustify[i] = FieldType(n) == 'N';
    cols.aHeaders[i] = FIELDNAME(n);
  }
  MKFLD(oBrw);
}

void InstallBrowseHandlers(TWBrowse* oBrw) {
  oBrw->lHScroll = true;
  oBrw->lCellStyle = true;
  auto deleted = [oBrw] { return InAreaDeleted(oBrw->columns().cAlias); };
  oBrw->nClrPane = [deleted]() -> std::optional<uint32_t> {
    if (deleted()) return kDeletedPane;
    return std::nullopt;
  };
  oBrw->nClrBackFocus = [deleted]() -> std::optional<uint32_t> {
    if (deleted()) return kDeletedFocus;
    return std::nullopt;
  };
  oBrw->bChange = [oBrw] { GetUi().SetStatusText(STATMSG(oBrw).value_or("")); };
  oBrw->bColChange = oBrw->bChange;
}

bool InAreaDeleted(const std::string& alias) {
  if (alias.empty() || ALIAS() == alias) return DELETED();
  const int previous = SELECT();
  DBSELECTAREA(alias);
  const bool deleted = DELETED();
  DBSELECTAREA(previous);
  return deleted;
}

bool TASTI(Browse* oBrw, int nKey, bool ctrl) {
  Ui& ui = GetUi();
  const int columns = oBrw ? oBrw->ColumnCount() : 0;
  switch (nKey) {
    case kVkEscape:
      if (!(VOSK() || IniLogical("Esc", "No"))) return false;
      ui.CloseMainWindow();
      return true;
    case kVkReturn:
      if (!EOF_() && oBrw) EDCOL(oBrw, oBrw->nColAct());
      return true;
    case kVkF2:
      APRITAB(oBrw);
      ui.SetWindowTitle(MainWindowTitle());
      return true;
    case kVkF4:
      VISTACOL(oBrw);
      return true;
    case kVkF5:
      if (oBrw) oBrw->Refresh();
      return true;
    case kVkF7:
      CERCACOL(oBrw, false);
      return true;
    case kVkF9:
      CERCACOL(oBrw);
      return true;
    case kVkF11:
      if (oBrw) {
        SetColumn(oBrw, 1);
        oBrw->Refresh();
        oBrw->Change();
      }
      return true;
    case kVkF12:
      if (oBrw && columns > 0) {
        SetColumn(oBrw, columns);
        oBrw->Refresh();
        oBrw->Change();
      }
      return true;
    case 'R':
      if (!ctrl) return false;
      VAIALREC(oBrw);
      return true;
    case 'I':
      if (!ctrl) return false;
      APRIIND(oBrw);
      return true;
    case 'T':
      if (!ctrl) return false;
      SELEZTAG(oBrw);
      return true;
    case kVkOemPlus:
      if (!ctrl) return false;
      ui.StartInstance(CurTable().cCurTable);
      return true;
    // Keys of commands that later work adds (append, delete, structure, replace, filter,
    // duplicate, index, tag) are taken but do nothing yet.
    case kVkInsert:
    case kVkDelete:
    case kVkF3:
    case kVkF6:
    case kVkF8:
      return true;
    case 'D':
      return ctrl;
    default:
      return false;
  }
}

std::vector<MenuItem> ContextMenuItems() {
  auto from = [](size_t menu, const char* prompt) {
    for (const MenuItem& item : MainMenus()[menu].items) {
      if (item.prompt == Ansi(prompt)) return item;
    }
    return MenuItem{MenuItem::Kind::kSeparator};
  };
  const MenuItem sep{MenuItem::Kind::kSeparator};
  MenuItem ordina_colonna{MenuItem::Kind::kCommand, "Ordina colonna", "",
                          "Per ordinare la lista secondo la colonna corrente",
                          Action::kOrdinaColonna};
  MenuItem new_table = from(0, "Nuova tabella...");
  new_table.action = Action::kNuovaTabellaNoTitle;
  MenuItem nuovo{MenuItem::Kind::kSubmenu, "Nuovo"};
  nuovo.submenu = {new_table, from(0, "Nuovo indice..."), from(0, "Nuovo TAG..."), sep,
                   from(0, "Nuovo VOSK Software DBU")};
  MenuItem apri{MenuItem::Kind::kSubmenu, "Apri"};
  apri.submenu = {from(0, "Apri tabella..."), from(0, "Apri indice..."), from(0, "Seleziona TAG"),
                  sep, from(0, "Apri indice automaticamente")};
  MenuItem driver{MenuItem::Kind::kSubmenu, "Driver di database"};
  driver.submenu = {from(1, "DBFNTX"),        from(1, "DBFCDX"),      sep,
                    from(1, "Memo DBT"),      from(1, "Memo FPT"),    sep,
                    from(1, "Codifica ANSI"), from(1, "Codifica OEM")};
  return {
      from(1, "Nuovo record"),
      from(1, "Cancella/ripristina record corrente"),
      from(1, "Duplica record corrente"),
      sep,
      from(1, "Modifica campo"),
      from(1, "Sostituisci valori..."),
      from(1, "Cancella record..."),
      from(1, "Modifica struttura tabella..."),
      from(1, "Modifica proprietà campo..."),
      from(1, "Modifica TAG attivo..."),
      from(1, "Elimina TAG..."),
      sep,
      from(1, "Ricostruisci indice attivo..."),
      sep,
      from(2, "Vai al record..."),
      from(2, "Vai alla prima colonna"),
      from(2, "Vai all'ultima colonna"),
      from(2, "Cerca colonna..."),
      from(2, "Continua ricerca colonna..."),
      from(2, "Imposta vista..."),
      from(2, "Imposta filtro..."),
      from(2, "Imposta password..."),
      sep,
      ordina_colonna,
      from(2, "Nessun ordinamento né filtro"),
      sep,
      from(2, "Aggiorna"),
      sep,
      from(1, "Svuota tabella"),
      from(1, "Compatta tabella"),
      sep,
      nuovo,
      sep,
      apri,
      sep,
      from(0, "Copia tabella..."),
      from(0, "Importa record..."),
      sep,
      driver,
      sep,
      from(3, "Informazioni"),
  };
}

void RMENU(Browse* oBrw, int nRow, int nCol) {
  const Action chosen = GetUi().PopupMenu(ContextMenuItems(), nCol, nRow);
  if (chosen != Action::kNone) RunAction(chosen, oBrw);
}

std::string TableStamp() {
  std::string stamp;
  const CurrentTableState& state = CurTable();
  for (const std::string* path :
       {&state.cCurTable, state.cCurIndex ? &*state.cCurIndex : nullptr}) {
    struct stat st;
    if (path == nullptr || ::stat(path->c_str(), &st) != 0) continue;
    stamp += std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
             std::to_string(st.st_mtim.tv_nsec) + ";";
  }
  return stamp;
}

bool ISPROTECTED(const std::string& dir_in) {
  const std::string dir = dir_in.empty() ? "." : dir_in;
  if (::access(dir.c_str(), F_OK) != 0) {
    POPMSG("Disco non pronto.", 1);
    return false;
  }
  const std::string probe =
      (dir.back() == '/' ? dir : dir + "/") + std::string(8, '\x7F') + "." + std::string(3, '\x7F');
  const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0600);
  if (fd < 0 && errno != EEXIST) {
    POPMSG("Disco protetto da scrittura.", 1);
    return false;
  }
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
  }
  return true;
}

void EDCOL(Browse* oBrw, int nCol) {
  RoutineFrame frame("EDCOL", __LINE__);
  const std::string cod = IniString("Codifica", "ANSI");
  const CurrentTableState& state = CurTable();
  if (nCol < 1 || nCol > static_cast<int>(state.aViewCols.size())) {
    GetUi().Beep();
    return;
  }
  const int n = state.aViewCols[nCol - 1];
  const char type = FieldType(n);
  if (type == '+' || type == '@') return;
  if (type == 'M') {
    EDMEMO(oBrw, n, cod);
    return;
  }
  const bool plain = cod == "ANSI" || type != 'C';
  const Value current = FIELDGET(n);
  Value shown = current;
  if (type == 'T') {
    shown = Value::String(ValueToText(current));
  } else if (!plain && current.is_string()) {
    shown = Value::String(OemToAnsi(current.str()));
  }

  Dialog dlg;
  dlg.fixed_font = true;
  dlg.background = DELETED() ? kEditorBackDeleted : kEditorBack;
  Control get = Control::Get(101, "uValue", shown, MKPICTURE(n).value_or(""), 0, 1, 0, 15);
  DLGADJUST(dlg, oBrw, get, nCol, n);
  dlg.Add(std::move(get));
  dlg.focus = 0;
  if (GetUi().RunDialog(dlg) != 1) return;

  Value edited = dlg.controls[0].Val();
  Value stored = edited;
  if (type == 'T') {
    stored = TextToTimestamp(edited.is_string() ? edited.str() : "");
    if (SameValue(stored, current)) return;
  } else if (!plain) {
    if (SameValue(edited, shown)) return;
    std::string oem;
    if (!AnsiToOem(edited.str(), &oem)) return;
    stored = Value::String(oem);
  } else if (SameValue(edited, current)) {
    return;  // unchanged: nothing written, no lock taken
  }
  frame.set_line(__LINE__);
  if (!ISPROTECTED(CFILEPATH(state.cCurTable))) return;
  WriteField(oBrw, n, stored);
}

void DLGADJUST(Dialog& oDlg, Browse* oBrw, Control& oGet, int nCol, int nField) {
  const CellRect cell = oBrw->CellRectOf(oBrw->nRowPos(), nCol);
  const auto& sizes = oBrw->columns().aColSizes;
  const int col_width = nCol >= 1 && nCol <= static_cast<int>(sizes.size()) ? sizes[nCol - 1] : 0;
  const int w = std::min(col_width, oBrw->Width() - oBrw->VScrollBarWidth() - 1) - 1;
  const int h = cell.bottom - cell.top - 1;
  oDlg.popup = CellRect{cell.top + 2, cell.left + 1, cell.top + 2 + h, cell.left + 1 + w};
  oDlg.width = w, oDlg.height = h;
  oGet.row = 0, oGet.col = 1, oGet.height = 15;
  switch (FieldType(nField)) {
    case 'C':
    case 'T':
    case 'D':  // a date keeps its size: the cell's
      oGet.width = w - 1;
      break;
    case 'N':
      oGet.width = w - 2;
      break;
    default:
      oGet.col = 8, oGet.width = 10;
      break;
  }
}

void EDMEMO(Browse* oBrw, int nField, const std::string& cCod) {
  RoutineFrame frame("EDMEMO", __LINE__);
  const Value current = FIELDGET(nField);
  std::string text = current.is_string() ? current.str() : "";
  if (cCod != "ANSI") text = OemToAnsi(text);
  for (;;) {
    Dialog dlg{"EDMEMO", "Modifica campo memo", 300, 200};
    dlg.fixed_font = true;
    Control memo;
    memo.id = 101;
    memo.kind = ControlKind::kMemo;
    memo.name = "cMemo";
    memo.value = Value::String(text, true);
    memo.multi_line = true;
    memo.row = 4, memo.col = 4, memo.width = 292, memo.height = 172;
    dlg.Add(std::move(memo));
    dlg.Add(Control::Button(kIdConferma, "&Conferma", 182, 190, 50, 14));
    dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 182, 244, 50, 14));
    dlg.focus = 0;
    if (GetUi().RunDialog(dlg) != 1) return;
    text = dlg.controls[0].Val().is_string() ? dlg.controls[0].Val().str() : "";
    std::string stored = text;
    if (cCod != "ANSI" && !AnsiToOem(text, &stored)) continue;
    if (!ISPROTECTED(CFILEPATH(CurTable().cCurTable))) continue;
    if (WriteField(oBrw, nField, Value::String(stored, true))) return;
  }
}

void VAIALREC(Browse* oBrw) {
  RoutineFrame frame("VAIALREC", __LINE__);
  const uint32_t saved = RECNO();
  Dialog dlg{"VAIALREC", "Vai al record", 160, 56};
  dlg.Add(Control::Label("RecNo:", 12, 8, 40, 10));
  Control& get = dlg.Add(Control::Get(101, "nRec", Value::Integer(EOF_() ? 0 : saved),
                                      "@Z 9999999999", 10, 50, 60, 12));
  get.valid = [](const Value& v) { return v.is_numeric() && v.number() != 0; };
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 36, 50, 50, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 36, 104, 50, 14));
  dlg.focus = 1;
  if (GetUi().RunDialog(dlg) != 1) return;
  const double wanted = dlg.controls[1].Val().number();
  const uint32_t nRec = wanted < 1 || wanted > 4294967295.0 ? 0 : static_cast<uint32_t>(wanted);
  bool found = false;
  if (nRec > 0) {
    if (OrderCount() == 0) {
      DBGOTO(Value::Integer(nRec));
      found = !EOF_() && RECNO() == nRec;
    } else {
      found = OrderFindRec(nRec) && RECNO() == nRec;
    }
    // A record that navigation would not show (deleted and hidden) is not reachable.
    if (found && SET(kSetDeleted).logical() && DELETED()) found = false;
  }
  if (found) {
    oBrw->Refresh();
    oBrw->Change();
    return;
  }
  DBGOTO(Value::Integer(saved));
  POPMSG("Record " + std::to_string(static_cast<int64_t>(wanted)) + " non trovato.", 1);
}

void CERCACOL(Browse* oBrw, bool lNew) {
  CurrentTableState& state = CurTable();
  if (state.cColSearch.empty()) lNew = true;
  if (lNew) {
    Dialog dlg{"CERCACOL", "Cerca colonna", 170, 56};
    dlg.Add(Control::Label("Nome colonna:", 12, 8, 56, 10));
    std::string initial = state.cColSearch;
    if (initial.size() < 10) initial.resize(10, ' ');
    Control& get = dlg.Add(Control::Get(101, "cCam", Value::String(initial), "@!", 10, 66, 60, 12));
    get.valid = [](const Value& v) { return v.is_string() && !Trim(v.str()).empty(); };
    dlg.Add(Control::Button(kIdConferma, "&Conferma", 36, 60, 50, 14));
    dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 36, 114, 50, 14));
    dlg.focus = 1;
    if (GetUi().RunDialog(dlg) != 1) return;
    state.cColSearch = Trim(dlg.controls[1].Val().str());
  }
  const int count = static_cast<int>(state.aViewCols.size());
  for (int c = lNew ? 1 : oBrw->nColAct() + 1; c <= count; ++c) {
    if (FIELDNAME(state.aViewCols[c - 1]).find(state.cColSearch) != std::string::npos) {
      SetColumn(oBrw, c);
      oBrw->Refresh();
      oBrw->Change();
      return;
    }
  }
  // The scan does not wrap around.
  const bool all_shown = count == FCOUNT();
  POPMSG("Campo " + state.cColSearch +
             (all_shown ? " non trovato." : " non trovato nella vista corrente."),
         1);
}

void CAMBIAVIS(Dialog& dlg, int n) {
  Control& list = dlg.controls[0];
  if (n < 1 || n > static_cast<int>(list.marks.size())) return;
  list.marks[n - 1] = !list.marks[n - 1];
  list.changed = true;
  if (dlg.on_control_changed) dlg.on_control_changed(0);
}

bool VISVUOTA(const std::vector<bool>& aVis) {
  return std::none_of(aVis.begin(), aVis.end(), [](bool b) { return b; });
}

std::string STATMSG2(int nAt, int nLen) {
  return "Campo: " + std::to_string(nLen == 0 ? 0 : nAt) + "/" + std::to_string(nLen);
}

std::string TIPO(const std::string& cType) {
  static const std::pair<char, const char*> kNames[] = {
      {'C', "Carattere"}, {'M', "Memo"},      {'D', "Data"},      {'N', "Numerico"},
      {'L', "Logico"},    {'T', "T DataOra"}, {'+', "+ Autoinc"}, {'@', "@ Timestamp"},
  };
  for (auto [letter, name] : kNames) {
    if (!cType.empty() && cType[0] == letter) return name;
  }
  return "";
}

void VISTACOL(Browse* oBrw) {
  CurrentTableState& state = CurTable();
  const int fields = FCOUNT();
  std::vector<bool> aVis(static_cast<size_t>(fields), false);
  // With every field shown the chooser starts with nothing selected.
  if (!std::all_of(state.aFieldVis.begin(), state.aFieldVis.end(), [](bool b) { return b; })) {
    aVis = state.aFieldVis;
    aVis.resize(static_cast<size_t>(fields), false);
  }
  Dialog dlg{"VISTACOL", "Imposta vista", 340, 220};
  dlg.fixed_font = true;
  Control list;
  list.id = 101;
  list.kind = ControlKind::kFieldList;
  list.name = "aVis";
  list.label = "NOME CAMPO\tTIPO\tDIM\tDEC";
  for (int n = 1; n <= fields; ++n) {
    list.items.push_back(FIELDNAME(n) + "\t" + TIPO(std::string(1, FieldType(n))) + "\t" +
                         std::to_string(FIELDLEN(n)) + "\t" + std::to_string(FIELDDEC(n)));
  }
  list.marks = aVis;
  dlg.Add(std::move(list));
  dlg.focus = 0;
  dlg.toolbar = {Tool(1, "OK", "Conferma", false), Tool(2, "CANCEL", "Annulla", false),
                 Tool(3, "ALL", "Tutti", true)};
  dlg.on_tool = [](Dialog& d, int id) {
    Control& l = d.controls[0];
    switch (id) {
      case 1:  // closes with OK only when at least one field is selected
        return !VISVUOTA(l.marks) && DialogTryClose(d, 1);
      case 2:
        return DialogTryClose(d, std::nullopt);
      case 3:
        std::fill(l.marks.begin(), l.marks.end(), true);
        l.changed = true;
        if (d.on_control_changed) d.on_control_changed(0);
        return false;
      default:
        return false;
    }
  };
  dlg.status_text = [](Dialog& d) {
    return STATMSG2(d.focus_row + 1, static_cast<int>(d.controls[0].items.size()));
  };
  if (GetUi().RunDialog(dlg) != 1) return;
  state.aFieldVis = dlg.controls[0].marks;
  state.aViewCols.clear();
  for (int n = 1; n <= fields; ++n) {
    if (state.aFieldVis[n - 1]) state.aViewCols.push_back(n);
  }
  REBUILDBRW(oBrw, false);
  SetColumn(oBrw, 1);
  oBrw->Refresh();
  oBrw->Change();
}

}  // namespace vosk
