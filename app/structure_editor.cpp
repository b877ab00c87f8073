#include "app/structure_editor.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <optional>
#include <string>
#include <vector>

#include "app/ansi.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/file_naming.h"
#include "app/filename.h"
#include "app/key_search.h"
#include "app/main_menu.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/password.h"
#include "app/restructure.h"
#include "app/sort_filter.h"
#include "app/table_files.h"
#include "app/table_maintenance.h"
#include "app/ui.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "platform/file.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

constexpr int kRddMemoExt = 6, kRddMemoType = 14;
constexpr char kConfirmChange[] = "Confermi la modifica della struttura della tabella?";
constexpr char kDuplicateName[] = "Nome campo già presente.";
// A record of a DBF table is at most this long, deletion flag included.
constexpr int64_t kMaxRecordLength = 65535;

// The field types the editor offers, in the order of its type list: letter, and the length and
// decimals a field gets when the type is chosen.
struct FieldKind {
  char letter;
  int len, dec;
};
constexpr FieldKind kKinds[] = {{'C', 10, 0}, {'M', 10, 0}, {'D', 8, 0}, {'N', 0, 0},
                                {'L', 1, 0},  {'T', 8, 0},  {'+', 4, 0}, {'@', 8, 0}};
// How the field-property dialog names the automatic increment.
constexpr char kAutoIncProp[] = "+ AutoInc";

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

const ValueArray& Row(const ValueArray& aStruct, int n) {
  return aStruct[static_cast<size_t>(n - 1)].array();
}
std::string RowName(const ValueArray& aStruct, int n) { return Row(aStruct, n)[0].str(); }
std::string RowType(const ValueArray& aStruct, int n) { return Row(aStruct, n)[1].str(); }
int RowNumber(const ValueArray& aStruct, int n, size_t at) {
  return static_cast<int>(Row(aStruct, n)[at].number());
}

// The open table's structure, as the editor works on it.
ValueArray TableStructure() {
  const Value s = DBSTRUCT();
  return s.is_array() ? s.array() : ValueArray{};
}

// Shows the structure in the editor's list with row nAt current; `changed` marks the editor.
void ShowList(Dialog& oList, const ValueArray& aStruct, int nAt, bool changed) {
  Control& list = oList.controls[0];
  list.items = FieldListRows(aStruct);
  if (changed) list.changed = true;
  oList.focus_row = std::max(nAt, 1) - 1;
  if (oList.on_control_changed) oList.on_control_changed(0);
}

// What the field dialog shows and gives back.
struct FieldValues {
  std::string name;  // padded to 10
  std::string type;  // the type's name
  int len = 0, dec = 0;
};

std::string PadName(const std::string& name) {
  return name.size() >= 10 ? name : name + std::string(10 - name.size(), ' ');
}

char LetterOf(const std::string& type_name) { return type_name.empty() ? ' ' : type_name[0]; }

std::optional<FieldKind> KindOf(char letter) {
  for (const FieldKind& k : kKinds) {
    if (k.letter == letter) return k;
  }
  return std::nullopt;
}

// The dialog "CAMPO". prop: the field-property variant (name mask "@!" alone, "+ AutoInc").
// True on "Conferma", with the entered values in `v`.
bool FieldDialog(const std::string& title, FieldValues& v, bool prop) {
  Dialog dlg{"CAMPO", title, 190, 65};
  dlg.Add(Control::Label("Nome campo:", 10, 10, 50, 8));
  dlg.Add(Control::Label("Tipo:", 10, 65, 60, 8));
  dlg.Add(Control::Label("Dim.:", 10, 130, 25, 8));
  dlg.Add(Control::Label("Dec.:", 10, 160, 20, 8));
  dlg.Add(Control::Get(101, "cNom", Value::String(v.name), prop ? "@!" : "@! AXXXXXXXXX", 20,
                       10, 50, 14));
  Control type;
  type.id = 102;
  type.kind = ControlKind::kCombo;
  type.name = "cTip";
  for (const FieldKind& k : kKinds) {
    type.items.push_back(prop && k.letter == '+' ? kAutoIncProp : TIPO(std::string(1, k.letter)));
  }
  type.value = Value::String(prop && LetterOf(v.type) == '+' ? kAutoIncProp : v.type);
  type.row = 20, type.col = 65, type.width = 60, type.height = 12;
  dlg.Add(std::move(type));
  dlg.Add(Control::Get(103, "nLen", Value::Integer(v.len), "9999", 20, 130, 25, 14));
  dlg.Add(Control::Get(104, "nDec", Value::Integer(v.dec), "999", 20, 160, 20, 14));
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 45, 10, 40, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 45, 55, 40, 14));
  dlg.focus = 4;

  const auto letter = [&dlg] { return LetterOf(CTL(dlg, "cTip")->value.str()); };
  const auto number = [](const Value& x) { return x.is_numeric() ? x.number() : 0.0; };
  // A name without blanks inside, and not empty: a field needs a name.
  CTL(dlg, "cNom")->valid = [](const Value& x) {
    const std::string name = Trim(x.is_string() ? x.str() : "");
    return !name.empty() && name.find(' ') == std::string::npos;
  };
  CTL(dlg, "cTip")->valid = [](const Value& x) {
    return x.is_string() && KindOf(LetterOf(x.str())).has_value();
  };
  CTL(dlg, "cTip")->on_change = [&dlg, letter] {
    if (std::optional<FieldKind> k = KindOf(letter())) {
      CTL(dlg, "nLen")->get->set_value(Value::Integer(k->len));
      CTL(dlg, "nDec")->get->set_value(Value::Integer(k->dec));
    }
    REFRESHALL(dlg);
  };
  Control& len = *CTL(dlg, "nLen");
  len.when = [letter] { return letter() == 'C' || letter() == 'N'; };
  // A numeric field holds at most 255 digits, the table's limit.
  len.valid = [letter, number](const Value& x) {
    return number(x) > 0 && (letter() != 'N' || number(x) <= 255);
  };
  Control& dec = *CTL(dlg, "nDec");
  dec.when = [letter] { return letter() == 'N'; };
  // At least one position is left for the integer part.
  dec.valid = [&dlg, number](const Value& x) {
    return number(x) == 0 || number(x) < number(CTL(dlg, "nLen")->Val());
  };

  if (GetUi().RunDialog(dlg) != 1) return false;
  v.name = CTL(dlg, "cNom")->Val().str();
  v.type = CTL(dlg, "cTip")->value.str();
  v.len = static_cast<int>(number(CTL(dlg, "nLen")->Val()));
  v.dec = static_cast<int>(number(CTL(dlg, "nDec")->Val()));
  return true;
}

Value StructRow(const FieldValues& v) {
  return Value::Array({Value::String(Trim(v.name)), Value::String(std::string(1, LetterOf(v.type))),
                       Value::Integer(v.len), Value::Integer(v.dec)});
}

FieldValues ValuesOfRow(const ValueArray& aStruct, int n) {
  return {PadName(RowName(aStruct, n)), TIPO(RowType(aStruct, n)), RowNumber(aStruct, n, 2),
          RowNumber(aStruct, n, 3)};
}

int64_t RecordLength(const ValueArray& aStruct) {
  int64_t length = 1;
  for (int n = 1; n <= static_cast<int>(aStruct.size()); ++n) length += RowNumber(aStruct, n, 2);
  return length;
}

// False, after saying so, when a record of the structure would be longer than a table allows.
bool RecordFits(const ValueArray& aStruct) {
  if (RecordLength(aStruct) <= kMaxRecordLength) return true;
  POPMSG("La lunghezza del record supera il massimo consentito (65535 caratteri).", 1);
  return false;
}

// False, after saying so, when the disk of the open table has no room for the table
// restructured to aStruct: header, every record and the memo file copied.
bool RoomForRestructure(const ValueArray& aStruct) {
  const std::string table = CurTable().cCurTable;
  int64_t bytes = 32 + 32 * static_cast<int64_t>(aStruct.size()) + 2 + 8192;
  bytes += RecordLength(aStruct) * static_cast<int64_t>(LASTREC());
  const Value ext = RDDINFO(kRddMemoExt);
  if (ext.is_string()) {
    const std::string memo = CFILEPATH(table) + CFILENOEXT(table) + ext.str();
    File f;
    if (FileExists(memo) && f.Open(memo, Access::kRead, Share::kDenyNone) == 0) {
      bytes += static_cast<int64_t>(f.Size());
    }
  }
  return !ISFULL(CFILEPATH(table), bytes);
}


// The refresh timer is stopped while the table is rebuilt.
void RestructureCurrent(const ValueArray& aStruct, const std::vector<FieldLoss>& losses) {
  struct TimerPause {
    TimerPause() { GetUi().SetRefreshTimer(false); }
    ~TimerPause() { GetUi().SetRefreshTimer(true); }
  } pause;
  MODITAB(aStruct, losses);  // tells its own failures; the table is reopened as it stands on disk
}

// The question before a restructure: the values that would not fit said first, field by field.
bool ConfirmChange(const std::vector<FieldLoss>& losses) {
  if (losses.empty()) return POPMSG(kConfirmChange, 2).logical();
  return POPMSG(Ansi("Non tutti i valori entrano nei nuovi campi:;") + LossLines(losses) + ";;" +
                    kConfirmChange,
                6)
      .logical();
}

// After a new table or a restructure: the table open shared in the current work area with its
// password, and the browse over its fields in natural order.
void OpenAgain(Browse* oBrw, bool lNew) {
  CurrentTableState& state = CurTable();
  DBOPEN(false, "", state.cCurTable, kCurrentAlias, true, false);
  TableOpened(state.cCurTable);
  if (lNew) {
    state.lReadOnly = false;
    state.cPassword.reset();
  }
  if (!oBrw) {
    ShowAllFields(FCOUNT());
    return;
  }
  DBINFO(kDbiPassword, Value::String(state.cPassword.value_or("")));
  REFRESHPSW();
  REBUILDBRW(oBrw);
  if (lNew || oBrw->nColAct() > FCOUNT()) {
    oBrw->set_nColAct(1);
    oBrw->set_nColPos(1);
    oBrw->SetHScrollPos(1);
  }
  ORDINA(oBrw);
}

// The structure editor's dialog over aStruct.
// REQUIRES: aStruct outlives the dialog (its hooks refer to it).
Dialog EditorDialog(bool lNew, ValueArray& aStruct) {
  Dialog dlg{"CREATAB", lNew ? "Nuova tabella" : "Modifica tabella", 200, 372};
  dlg.fixed_font = true;
  dlg.Add(FieldListControl("aStruct", aStruct));
  dlg.focus = 0;
  TOOLBAR2(dlg, aStruct);
  dlg.status_text = [&aStruct](Dialog& d) {
    return STATMSG2(d.focus_row + 1, static_cast<int>(aStruct.size()));
  };
  dlg.on_list_key = [&aStruct](Dialog& d, int key, bool ctrl) {
    int nAt = d.focus_row + 1;
    const bool taken = TASTI2(d, key, ctrl, aStruct, nAt);
    d.focus_row = nAt - 1;
    return taken;
  };
  dlg.on_list_menu = [&aStruct](Dialog& d, int x, int y) {
    int nAt = d.focus_row + 1;
    RMENU2(d, aStruct, nAt, y, x);
    d.focus_row = nAt - 1;
  };
  KEYSEARCHARRAY();
  dlg.on_key_char = [&aStruct](Dialog& d, int ch) {
    std::vector<std::string> names;
    for (int n = 1; n <= static_cast<int>(aStruct.size()); ++n) {
      names.push_back(RowName(aStruct, n));
    }
    int nAt = d.focus_row + 1;
    if (!KEYSEARCHARRAY(names, nAt, ch)) return false;
    d.focus_row = nAt - 1;
    return true;
  };
  return dlg;
}

// The name of a file the engine creates: the file part in the case FILECASE asks for.
std::string CreatedName(const std::string& path) {
  const int mode = GlobalSettings().filecase();
  if (mode == kCaseMixed) return path;
  std::string out = path;
  for (size_t i = path.find_last_of('/') + 1; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    out[i] = static_cast<char>(mode == kCaseUpper ? std::toupper(c) : std::tolower(c));
  }
  return out;
}

// Steps 4 of CREATAB for a new table: the file asked for and created. The file name, or ""
// when nothing was created.
std::string CreateNewTable(const ValueArray& aStruct) {
  const CurrentTableState& state = CurTable();
  const std::string dir = state.cCurTable.empty() ? FULLNAME(".") : CFILEPATH(state.cCurTable);
  std::string cFile = CGETFILE("File DBF (*.DBF)|*.DBF", "Nuova tabella...", 1, dir, true);
  if (cFile.empty()) return "";
  if (CFILEEXT(cFile).empty()) cFile = WithExtension(cFile, "DBF");
  cFile = CreatedName(FULLNAME(cFile));
  if (FileExists(cFile)) {
    if (!POPMSG("Sostituire il file esistente?", 2).logical()) return "";
    // The table in this window, or one another program has open, is not written over.
    std::error_code ec;
    if (!state.cCurTable.empty() && std::filesystem::equivalent(cFile, state.cCurTable, ec)) {
      POPMSG(Ansi("La tabella è quella aperta: impossibile sostituirla."), 1);
      return "";
    }
    if (NETUSED(cFile)) {
      POPMSG(std::string(kOpenElsewhere) + "sostituirla.", 1);
      return "";
    }
  }
  const Value memo_type = RDDINFO(kRddMemoType);
  RDDINFO(kRddMemoExt,
          Value::String(memo_type.is_numeric() && memo_type.number() == 1 ? ".DBT" : ".FPT"));
  return DBGEN(cFile, aStruct) ? cFile : "";
}

}  // namespace

bool DUP(const ValueArray& aStruct, const std::string& cName) {
  for (int n = 1; n <= static_cast<int>(aStruct.size()); ++n) {
    if (RowName(aStruct, n) == cName) return true;
  }
  return false;
}

bool MODCAMPO(Dialog& oList, ValueArray& aStruct, int& nAt, bool lNew, bool lAppend) {
  const int count = static_cast<int>(aStruct.size());
  if (!lNew && (nAt < 1 || nAt > count)) return false;
  FieldValues v = lNew ? FieldValues{PadName(""), TIPO("C"), 10, 0} : ValuesOfRow(aStruct, nAt);
  const char* title = !lNew ? "Modifica campo" : lAppend ? "Appendi campo" : "Inserisci campo";
  for (;;) {
    if (!FieldDialog(title, v, false)) return false;
    const std::string name = Trim(v.name);
    if ((lNew || name != RowName(aStruct, nAt)) && DUP(aStruct, name)) {
      POPMSG(Ansi(kDuplicateName), 1);
      continue;
    }
    break;
  }
  if (lNew) {
    const int target = lAppend ? count + 1 : std::clamp(nAt, 1, count + 1);
    aStruct.insert(aStruct.begin() + (target - 1), StructRow(v));
    nAt = target;
  } else {
    aStruct[static_cast<size_t>(nAt - 1)] = StructRow(v);
  }
  ShowList(oList, aStruct, nAt, true);
  return true;
}

void ELICAMPO(Dialog& oList, ValueArray& aStruct, int& nAt) {
  if (aStruct.empty() || nAt < 1 || nAt > static_cast<int>(aStruct.size())) return;
  aStruct.erase(aStruct.begin() + (nAt - 1));
  if (nAt > static_cast<int>(aStruct.size())) --nAt;
  if (nAt == 0) nAt = 1;
  ShowList(oList, aStruct, nAt, true);
}

bool TASTI2(Dialog& oList, int nKey, bool ctrl, ValueArray& aStruct, int& nAt) {
  switch (nKey) {
    case kVkReturn:
      if (!aStruct.empty()) MODCAMPO(oList, aStruct, nAt, false, false);
      return true;
    case kVkInsert:
      MODCAMPO(oList, aStruct, nAt, true, false);
      return true;
    case kVkDelete:
      ELICAMPO(oList, aStruct, nAt);
      return true;
    case 'A':
      if (!ctrl) return false;
      MODCAMPO(oList, aStruct, nAt, true, true);
      return true;
    default:
      return false;
  }
}

void RMENU2(Dialog& oList, ValueArray& aStruct, int& nAt, int nRow, int nCol) {
  const bool any = !aStruct.empty();
  auto item = [](const char* prompt, const char* shortcut, const char* message, Action action,
                 bool enabled) {
    MenuItem m{MenuItem::Kind::kCommand, Ansi(prompt), shortcut, Ansi(message), action};
    m.enabled = enabled;
    return m;
  };
  const std::vector<MenuItem> items = {
      item("Inserisci campo", "INS", "Per inserire un nuovo campo", Action::kInserisciCampo,
           true),
      item("Appendi campo", "CTRL-A", "Per aggiungere un nuovo campo in fondo alla lista",
           Action::kAppendiCampo, true),
      item("Modifica campo...", "Invio", "Per modificare il campo selezionato",
           Action::kModificaCampoStruttura, any),
      item("Elimina campo", "CANC", "Per eliminare il campo selezionato", Action::kEliminaCampo,
           any),
  };
  switch (GetUi().PopupMenu(items, nCol, nRow)) {
    case Action::kInserisciCampo:
      MODCAMPO(oList, aStruct, nAt, true, false);
      break;
    case Action::kAppendiCampo:
      MODCAMPO(oList, aStruct, nAt, true, true);
      break;
    case Action::kModificaCampoStruttura:
      if (any) MODCAMPO(oList, aStruct, nAt, false, false);
      break;
    case Action::kEliminaCampo:
      ELICAMPO(oList, aStruct, nAt);
      break;
    default:
      break;
  }
}

void TOOLBAR2(Dialog& oDlg, ValueArray& aStruct) {
  oDlg.toolbar = {{1, "OK", "Conferma", false},          {2, "CANCEL", "Annulla", false},
                  {3, "INSERT", "Inserisci campo", true}, {4, "APPEND", "Appendi campo", false},
                  {5, "EDIT", "Modifica campo", true},    {6, "DELETE", "Elimina campo", false}};
  oDlg.on_tool = [&aStruct](Dialog& d, int id) {
    int nAt = d.focus_row + 1;
    switch (id) {
      case 1:  // an empty structure is no table
        return !aStruct.empty() && DialogTryClose(d, 1);
      case 2:
        return DialogTryClose(d, std::nullopt);
      case 3:
      case 4:
        MODCAMPO(d, aStruct, nAt, true, id == 4);
        break;
      case 5:
        if (!aStruct.empty()) MODCAMPO(d, aStruct, nAt, false, false);
        break;
      case 6:
        ELICAMPO(d, aStruct, nAt);
        break;
      default:
        break;
    }
    d.focus_row = nAt - 1;
    return false;
  };
}

bool ISFULL(const std::string& cDrive, int64_t nBytes) {
  if (cDrive.empty()) return false;
  const int64_t free = FreeDiskSpace(cDrive);
  if (free < 0) {
    POPMSG("Disco non pronto.", 1);
    return true;
  }
  if (free >= nBytes) return false;
  POPMSG("Spazio su disco insufficiente.", 1);
  return true;
}

bool DBGEN(const std::string& cFile, const ValueArray& aStruct) {
  if (ISFULL(CFILEPATH(FULLNAME(cFile)))) return false;
  return DBCREATE(cFile, aStruct);
}

bool CREATAB(Browse* oBrw, bool lNew) {
  RoutineFrame frame("CREATAB", __LINE__);
  CurrentTableState& state = CurTable();
  if (!lNew && !TableWritable()) return false;
  ValueArray aStruct = lNew ? ValueArray{} : TableStructure();
  Dialog dlg = EditorDialog(lNew, aStruct);
  std::string cFile;
  std::vector<FieldLoss> losses;
  for (;;) {
    dlg.result = 0;
    dlg.cargo.reset();
    if (GetUi().RunDialog(dlg) != 1) return false;
    if (!RecordFits(aStruct)) continue;
    frame.set_line(__LINE__);
    if (lNew) {
      try {
        cFile = CreateNewTable(aStruct);
      } catch (const Abandon&) {
        return false;  // told by the error handler; the old table is still open
      }
      if (cFile.empty()) return false;
      break;
    }
    cFile = state.cCurTable;
    losses = ValuesThatWouldNotFit(aStruct);
    if (!ConfirmChange(losses)) continue;
    if (!OKEXCL(oBrw, cFile)) {
      POPMSG(std::string(kOpenElsewhere) + "modificarne la struttura.", 1);
      continue;
    }
    if (!RoomForRestructure(aStruct)) continue;
    frame.set_line(__LINE__);
    RestructureCurrent(aStruct, losses);
    break;
  }
  state.cCurTable = cFile;
  OpenAgain(oBrw, lNew);
  if (lNew) ADDMRU(cFile);
  return true;
}

void MODPROP(Browse* oBrw) {
  RoutineFrame frame("MODPROP", __LINE__);
  CurrentTableState& state = CurTable();
  if (!oBrw || !TableWritable()) return;
  const int column = oBrw->nColAct();
  if (column < 1 || column > static_cast<int>(state.aViewCols.size())) return;
  const int nField = state.aViewCols[static_cast<size_t>(column - 1)];
  ValueArray aStruct = TableStructure();
  if (nField > static_cast<int>(aStruct.size())) return;
  const std::string old_name = RowName(aStruct, nField);
  FieldValues v = ValuesOfRow(aStruct, nField);
  std::vector<FieldLoss> losses;
  for (;;) {
    if (!FieldDialog(Ansi("Modifica proprietà campo"), v, true)) return;
    const std::string name = Trim(v.name);
    if (name != old_name && DUP(aStruct, name)) {
      POPMSG(Ansi(kDuplicateName), 1);
      continue;
    }
    aStruct[static_cast<size_t>(nField - 1)] = StructRow(v);
    losses = ValuesThatWouldNotFit(aStruct);
    if (!ConfirmChange(losses)) continue;
    if (!OKEXCL(oBrw, state.cCurTable)) {
      POPMSG(std::string(kOpenElsewhere) + "modificarne la struttura.", 1);
      continue;
    }
    if (!RecordFits(aStruct) || !RoomForRestructure(aStruct)) continue;
    break;
  }
  frame.set_line(__LINE__);
  RestructureCurrent(aStruct, losses);
  OpenAgain(oBrw, false);
}

}  // namespace vosk
