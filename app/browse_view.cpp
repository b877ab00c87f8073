#include "app/browse_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/browse.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/filename.h"
#include "app/group_commands.h"
#include "app/key_search.h"
#include "app/main_menu.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/record_change.h"
#include "app/record_commands.h"
#include "app/sort_filter.h"
#include "app/structure_editor.h"
#include "app/table_files.h"
#include "app/twbrowse.h"
#include "app/table_presence.h"
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
#include "rdd/dbf1/dbf_area.h"
#include "rdd/work_area_table.h"

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

// How the text of a cell is shown.
enum class CellForm {
  kAsIs,    // as the expression gives it
  kText,    // character data: line breaks as visible marks
  kBinary,  // binary character data: hexadecimal unless it is plain text
};

// What a shown field contributes to the grid.
struct CellSpec {
  std::string expr;     // its element of the row expression
  std::string measure;  // the text whose width the column needs
  int less = 0;         // pixels taken off the measure
  bool right = false;   // right-aligned
  CellForm form = CellForm::kAsIs;
  bool memo = false;    // a memo cell (its own mark when it cannot be read)
};

constexpr char kLineMark = '\xB6';            // a pilcrow in Windows-1252
constexpr int kMaxMeasureChars = 40;           // initial widths stop at about 40 characters
constexpr char kUnreadableMemo[] = " [????] ";  // a memo that cannot be read
constexpr char kUnreadable[] = "????";          // any other value that cannot be read
constexpr char kNull[] = ".NULL.";              // a null value

int FieldFlags(int n) {
  const Value st = DBSTRUCT();
  if (!st.is_array() || n < 1 || n > static_cast<int>(st.array().size())) return 0;
  const Value& row = st.array()[static_cast<size_t>(n - 1)];
  if (!row.is_array() || row.array().size() < 5 || !row.array()[4].is_numeric()) return 0;
  return static_cast<int>(row.array()[4].number());
}

constexpr int kFieldBinary = 0x04;   // descriptor flag: the bytes are not text
constexpr int kFieldAutoInc = 0x08;  // descriptor flag: the table's own counter fills it
constexpr int kCurrencyDigits = 15;   // digits before the point of a currency value
constexpr int kCurrencyDecimals = 4;

bool IsMemoField(char type, int len) {
  return type == 'M' || type == 'P' || type == 'W' || type == 'G' || (type == 'B' && len == 10);
}

bool IsNumberField(char type, int len) {
  switch (type) {
    case 'N': case 'F': case 'I': case 'Y': case 'Z': case '+': case '^':
      return true;
    case 'B':
      return len != 10;  // a double (a dBase IV binary memo is 10 bytes wide)
    default:
      return false;
  }
}

CellSpec CellSpecOf(int n, Codepage cp) {
  CellSpec c;
  const char type = FieldType(n);
  const int len = FIELDLEN(n);
  const std::string f = "FIELDGET( " + std::to_string(n) + " )";
  const bool binary = (FieldFlags(n) & kFieldBinary) != 0;
  if (IsMemoField(type, len)) {
    c.expr = "IF( " + f + " == '', ' [    ] ', ' [Memo] ' )";
    c.measure = " [Memo] ";
    c.memo = true;
    return c;
  }
  if (IsNumberField(type, len)) {
    // A number field filled with asterisks (an overflow, or how some programs store a null)
    // shows empty; its value is 0.
    c.expr = type == 'N' || type == 'F'
                 ? "IF( STARRED( " + std::to_string(n) + " ), '', STR( " + f + " ) )"
                 : "STR( " + f + " )";
    c.right = true;
    switch (type) {
      case 'N':
      case 'F':
        c.measure = MKPICTURE(n).value_or("");
        c.less = 2;
        break;
      case '+':
        c.measure = "0000000000";
        break;
      case 'Y':
        c.measure = "-9999999999.9999";
        break;
      case 'I':
        c.measure = std::string(static_cast<size_t>(len == 8 ? 20 : 11), '0');
        break;
      default:  // doubles and row versions: the width of their text
        c.measure = "0000000000.0000";
        break;
    }
    return c;
  }
  switch (type) {
    case 'C':
    case 'Q': {
      const bool plain = binary || cp == Codepage::kCp1252;
      c.expr = plain ? f
               : cp == Codepage::kCp850 ? "OEMTOANSI( " + f + " )"
                                        : "TABLETEXT( " + f + " )";
      c.form = binary || type == 'Q' ? CellForm::kBinary : CellForm::kText;
      Value v;
      ReadForDisplay([&] { v = FIELDGET(n); });
      c.measure = v.is_string() ? (plain ? v.str() : ShownText(v.str())) : "";
      if (c.form == CellForm::kBinary) c.measure = std::string(c.measure.size() * 2, '0');
      break;
    }
    case 'D':
      c.expr = "DTOCHR( " + f + " )";
      c.measure = "00/00/0000";
      break;
    case 'L':
      c.expr = "IF( " + f + ", '.T.', '.F.' )";
      c.measure = ".T.";
      break;
    case 'T':
    case '@':
    case '=':
      c.expr = "TTOCHR( " + f + " )";
      c.measure = "00/00/0000 00:00:00:000";
      break;
    default:
      // Any other value shows its plain text.
      c.expr = f;
      c.form = CellForm::kText;
      c.measure = "0000000000";
      break;
  }
  return c;
}

// True for the fields the cell editor (or the memo editor) can change: not the ones the table
// keeps itself (autoincrement, modification stamps, row versions) and not binary data.
bool Editable(int n) {
  const char type = FieldType(n);
  const int len = FIELDLEN(n);
  // An autoincrement field (Visual FoxPro) is the table's own counter.
  if (FieldFlags(n) & kFieldAutoInc) return false;
  switch (type) {
    case 'V':  // varchar: text, whatever its flags say
      return true;
    case 'C':
    case 'Q':
      return (FieldFlags(n) & kFieldBinary) == 0;
    case 'M':
    case 'N':
    case 'F':
    case 'I':
    case 'Y':
    case 'D':
    case 'L':
      return true;
    case 'B':
    case 'T':
      return len == 8;  // a double; a date and time
    default:
      return false;
  }
}

// The empty value of field n's type.
Value EmptyValueOf(int n) {
  const int len = FIELDLEN(n), dec = FIELDDEC(n);
  switch (FieldType(n)) {
    case 'Y':
      return Value::Double(0, kCurrencyDigits, kCurrencyDecimals);
    case 'N':
    case 'F':
    case 'I':
    case 'B':
      return dec > 0 ? Value::Double(0, len - dec - 1, dec) : Value::Integer(0, len);
    case 'D':
      return Value::Date(0);
    case 'L':
      return Value::Logical(false);
    case 'T':
      return Value::Timestamp(0, 0);
    case 'M':
      return Value::String("", true);
    default:
      return Value::String(std::string(static_cast<size_t>(std::max(len, 0)), ' '));
  }
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

// Line breaks (CR LF, a lone CR or LF) as one visible mark each: a cell shows one line.
std::string MarkLineBreaks(const std::string& text) {
  if (text.find_first_of("\r\n") == std::string::npos) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += kLineMark;
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool PlainText(const std::string& bytes) {
  return std::none_of(bytes.begin(), bytes.end(), [](char ch) {
    const auto b = static_cast<unsigned char>(ch);
    return b < 0x20 && b != '\r' && b != '\n' && b != '\t';
  });
}

std::string CellText(const Value& v, CellForm form) {
  if (v.is_nil()) return kNull;
  std::string text = v.is_string() ? v.str() : ValueToText(v);
  switch (form) {
    case CellForm::kAsIs:
      return text;
    case CellForm::kText:
      return MarkLineBreaks(text);
    case CellForm::kBinary:
      return PlainText(text) ? MarkLineBreaks(text) : Hex(text);
  }
  return text;
}

// The cell texts of the current record from the compiled row expression. A value that cannot be
// read (a damaged memo file, a null where a number is expected) spoils only its own cell, which
// shows a mark; the error is kept for one report outside the paint (app/command_state.h).
class RowDefinition {
 public:
  struct Column {
    int field = 0;
    std::string expr;
    CellForm form = CellForm::kAsIs;
    bool memo = false;
  };
  RowDefinition(Value block, std::vector<Column> columns)
      : block_(std::move(block)),
        columns_(std::make_shared<const std::vector<Column>>(std::move(columns))),
        cell_blocks_(std::make_shared<std::vector<Value>>()) {}

  std::vector<std::string> operator()() const {
    std::vector<std::string> cells;
    Value row;
    bool whole = false;
    {
      // The whole row at once, failing quietly: the cells are then read one by one.
      ScopedErrorHandler silent([](const RuntimeError& e) -> ErrorAnswer {
        if (e.gen_code == kEgZeroDiv) return ErrorAnswer::Substitute(Value::Integer(0));
        throw Abandon(e);
      });
      try {
        row = CallBlock(block_);
        whole = row.is_array() && row.array().size() == columns_->size();
      } catch (const Abandon&) {
      }
    }
    if (whole) {
      for (size_t i = 0; i < columns_->size(); ++i) {
        cells.push_back(CellText(row.array()[i], (*columns_)[i].form));
      }
      return cells;
    }
    for (size_t i = 0; i < columns_->size(); ++i) cells.push_back(Cell(i));
    return cells;
  }

 private:
  std::string Cell(size_t i) const {
    const Column& c = (*columns_)[i];
    std::string text = c.memo ? kUnreadableMemo : kUnreadable;
    ReadForDisplay([&] {
      if (FIELDGET(c.field).is_nil()) {
        text = kNull;
        return;
      }
      if (cell_blocks_->size() != columns_->size()) {
        cell_blocks_->assign(columns_->size(), Value());
      }
      Value& block = (*cell_blocks_)[i];
      if (!block.is_block()) block = EvalText("{ || " + c.expr + " }");
      text = CellText(CallBlock(block), c.form);
    });
    return text;
  }

  Value block_;
  std::shared_ptr<const std::vector<Column>> columns_;
  std::shared_ptr<std::vector<Value>> cell_blocks_;  // compiled on the first failure
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
  RecordChange change(RecordChange::kRecord);
  if (!change.held()) {
    POPMSG(kRecordLocked, 1);
    return false;
  }
  FIELDPUT(n, value);
  change.Finish();
  oBrw->Refresh();
  return true;
}

}  // namespace

std::string OemToAnsi(const std::string& oem) {
  std::string out = oem;
  TranslateBytes(&out, Codepage::kCp850, Codepage::kCp1252);
  return out;
}

Codepage ViewCodepage() {
  const WorkArea* area = CurrentArea();
  if (area && area->codepage_source() != CodepageSource::kDefault) return area->codepage();
  return IniString("Codifica", "ANSI") == "OEM" ? Codepage::kCp850 : Codepage::kCp1252;
}

std::string CodepageItemText() {
  const WorkArea* area = CurrentArea();
  if (!area || area->codepage_source() == CodepageSource::kDefault) {
    return IniString("Codifica", "ANSI") == "OEM" ? "OEM" : "ANSI";
  }
  std::string name = CodepageName(area->codepage());
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

std::string ShownText(const std::string& table_text) {
  const Codepage cp = ViewCodepage();
  if (cp == Codepage::kCp1252 || AsciiRun(table_text) == table_text.size()) return table_text;
  if (cp == Codepage::kCp850) return OemToAnsi(table_text);
  const std::string utf8 = ToUtf8(table_text, cp);
  std::string ansi;
  return FromUtf8(utf8, Codepage::kCp1252, &ansi) ? ansi : utf8;
}

bool EditableText(const std::string& table_text, std::string* ansi) {
  const Codepage cp = ViewCodepage();
  if (cp == Codepage::kCp1252 || AsciiRun(table_text) == table_text.size()) {
    *ansi = table_text;
    return true;
  }
  if (cp == Codepage::kCp850) {
    *ansi = OemToAnsi(table_text);
    return true;
  }
  if (FromUtf8(ToUtf8(table_text, cp), Codepage::kCp1252, ansi)) return true;
  POPMSG(Ansi("Il testo contiene caratteri che la finestra non può modificare (codifica ") +
             CodepageItemText() + ").",
         1);
  return false;
}

bool StoredText(const std::string& ansi, std::string* stored) {
  const Codepage cp = ViewCodepage();
  if (cp == Codepage::kCp1252 || AsciiRun(ansi) == ansi.size()) {
    *stored = ansi;
    return true;
  }
  if (FromUtf8(ToUtf8(ansi, Codepage::kCp1252), cp, stored)) return true;
  POPMSG(Ansi("Il testo contiene caratteri non rappresentabili con la codifica ") +
             CodepageItemText() + ".",
         1);
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
  RegisterFunction("TABLETEXT", [](const ValueArray& a) {
    if (a.empty() || !a[0].is_string()) return a.empty() ? Value::String("") : a[0];
    return Value::String(ShownText(a[0].str()), a[0].is_memo());
  });
  // STARRED(n): field n of the current record is a number filled with asterisks.
  RegisterFunction("STARRED", [](const ValueArray& a) {
    auto* area = dynamic_cast<DbfArea*>(CurrentArea());
    if (a.empty() || !a[0].is_numeric() || !area) return Value::Logical(false);
    const int n = static_cast<int>(a[0].number());
    const std::vector<Field>& fields = area->fields();
    if (n < 1 || n > static_cast<int>(fields.size())) return Value::Logical(false);
    const uint8_t* rec = area->RawRecord();
    if (!rec) return Value::Logical(false);
    const Field& f = fields[static_cast<size_t>(n - 1)];
    const std::string_view text(reinterpret_cast<const char*>(rec) + f.offset, f.length);
    return Value::Logical(!text.empty() && text.find_first_not_of('*') == std::string_view::npos);
  });
}

std::optional<std::string> MKPICTURE(int nField) {
  int len = FIELDLEN(nField), dec = FIELDDEC(nField);
  switch (FieldType(nField)) {
    case 'I':  // binary integers and doubles: as many digits as their values can have
      len = len == 8 ? 20 : 11;
      [[fallthrough]];
    case 'B':
      if (FieldType(nField) == 'B') len = 20;
      [[fallthrough]];
    case 'Y':  // currency: 15 digits and its 4 decimals, whatever the descriptor says
      if (FieldType(nField) == 'Y') len = kCurrencyDigits + 1 + kCurrencyDecimals, dec = kCurrencyDecimals;
      [[fallthrough]];
    case 'N':
    case 'F':
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
  const Codepage cp = ViewCodepage();
  const CurrentTableState& state = CurTable();
  std::string text = "{ || { ";
  for (int n = 1; n <= FCOUNT(); ++n) {
    if (n > static_cast<int>(state.aFieldVis.size()) || !state.aFieldVis[n - 1]) continue;
    text += CellSpecOf(n, cp).expr + ", ";
  }
  if (text.size() > 7) text.resize(text.size() - 2);
  return text + " } }";
}

void MKFLD(Browse* oBrw) {
  BrowseColumns& cols = oBrw->columns();
  const CurrentTableState& state = CurTable();
  const Codepage cp = ViewCodepage();
  if (cols.aHeaders.empty()) {
    for (int n = 1; n <= FCOUNT(); ++n) {
      cols.aHeaders.push_back(FIELDNAME(n));
      cols.aJustify.push_back(CellSpecOf(n, cp).right);
      cols.aColSizes.push_back(0);
    }
  }
  cols.aActions.clear();
  std::vector<RowDefinition::Column> row_columns;
  std::string text = "{ || { ";
  // A wide character field starts at about 40 characters; the user widens it at will.
  const int widest = oBrw->TextWidth(std::string(kMaxMeasureChars, '0'));
  int c = 0;
  for (int n = 1; n <= FCOUNT(); ++n) {
    if (n > static_cast<int>(state.aFieldVis.size()) || !state.aFieldVis[n - 1]) continue;
    ++c;
    const CellSpec cell = CellSpecOf(n, cp);
    if (c <= static_cast<int>(cols.aColSizes.size())) {
      const int header = oBrw->TextWidth(FIELDNAME(n));
      const int measure = std::min(oBrw->TextWidth(cell.measure), widest) - cell.less;
      cols.aColSizes[c - 1] = std::max(header, measure) + 7;
    }
    text += cell.expr + ", ";
    row_columns.push_back({n, cell.expr, cell.form, cell.memo});
    cols.aActions.push_back([oBrw, c] { ORDINA(oBrw, c); });  // MKACT: a header click sorts
  }
  if (text.size() > 7) text.resize(text.size() - 2);
  text += " } }";
  CompileError error;
  std::unique_ptr<Expression> row = Compile(text, &error);
  if (!row) {
    cols.bLine = nullptr;
    return;
  }
  cols.bLine = RowDefinition(row->Eval(), std::move(row_columns));
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
    cols.aJustify[i] = IsNumberField(FieldType(n), FIELDLEN(n));
    cols.aHeaders[i] = FIELDNAME(n);
  }
  MKFLD(oBrw);
}

namespace {
TWBrowse*& MainGrid() {
  static TWBrowse* grid = nullptr;
  return grid;
}
}  // namespace

Browse* MainBrowse() { return MainGrid(); }

void ForgetMainBrowse(TWBrowse* oBrw) {
  if (MainGrid() == oBrw) MainGrid() = nullptr;
}

void InstallBrowseHandlers(TWBrowse* oBrw) {
  MainGrid() = oBrw;
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
  AreaSelection selection(alias);
  return DELETED();
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
      if (!TABLEPRESENT(oBrw)) return true;
      if (oBrw) {
        oBrw->Refresh();
        oBrw->Change();
      }
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
    case kVkF8:
      FILTRA(oBrw);
      return true;
    case kVkInsert:
      NUOVOREC(oBrw);
      return true;
    case kVkDelete:
      ELIMREC(oBrw);
      return true;
    case 'D':
      if (!ctrl) return false;
      NUOVOREC(oBrw, true);
      return true;
    case kVkF6:
      SOSTVAL(oBrw);
      return true;
    case kVkF3:
      CREATAB(oBrw, false);
      return true;
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
      from(1, "Ripristina record..."),
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
  const CurrentTableState& state = CurTable();
  if (nCol < 1 || nCol > static_cast<int>(state.aViewCols.size())) {
    GetUi().Beep();
    return;
  }
  const int n = state.aViewCols[nCol - 1];
  const char type = FieldType(n);
  if (FieldFlags(n) & kFieldAutoInc) {
    POPMSG("Il campo " + FIELDNAME(n) +
               Ansi(" è il contatore automatico della tabella: non può essere modificato."),
           1);
    return;
  }
  if (!Editable(n)) {
    // Said, not silently ignored.
    POPMSG("Il campo " + FIELDNAME(n) +
               ((FieldFlags(n) & kFieldBinary) != 0 || type == 'Q'
                    ? Ansi(" contiene dati binari: non può essere modificato nella griglia.")
                    : " (tipo " + std::string(1, type) +
                          Ansi(") non può essere modificato nella griglia.")),
           1);
    return;
  }
  if (!TableWritable()) return;
  if (type == 'M') {
    EDMEMO(oBrw, n);
    return;
  }
  const bool plain = ViewCodepage() == Codepage::kCp1252 || (type != 'C' && type != 'V') ||
                     (FieldFlags(n) & kFieldBinary) != 0;
  // A null (Visual FoxPro) is edited from the empty value of the field's type: the input field
  // would otherwise take it for text.
  const Value current = FIELDGET(n).is_nil() ? EmptyValueOf(n) : FIELDGET(n);
  Value shown = current;
  if (type == 'T') {
    shown = Value::String(ValueToText(current));
  } else if (type == 'Q' || type == 'V') {
    // A variable-length value is edited in the field's whole width and stored without the
    // blanks after it.
    std::string text = current.is_string() ? current.str() : "";
    text.resize(static_cast<size_t>(std::max(FIELDLEN(n), 0)), ' ');
    shown = Value::String(text);
  } else if (!plain && current.is_string()) {
    std::string ansi;
    if (!EditableText(current.str(), &ansi)) return;
    shown = Value::String(ansi);
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
  } else if (type == 'Q' || type == 'V') {
    std::string text = edited.is_string() ? edited.str() : "";
    text.erase(text.find_last_not_of(' ') + 1);
    stored = Value::String(text);
    if (SameValue(stored, current)) return;
  } else if (!plain) {
    if (SameValue(edited, shown)) return;
    std::string text;
    if (!StoredText(edited.str(), &text)) return;
    stored = Value::String(text);
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
    case 'Q':
    case 'T':
    case 'D':  // a date keeps its size: the cell's
      oGet.width = w - 1;
      break;
    case 'N':
    case 'F':
    case 'I':
    case 'Y':
    case 'B':
      oGet.width = w - 2;
      break;
    default:
      oGet.col = 8, oGet.width = 10;
      break;
  }
}

void EDMEMO(Browse* oBrw, int nField) {
  RoutineFrame frame("EDMEMO", __LINE__);
  if (!TableWritable()) return;
  const Value current = FIELDGET(nField);
  std::string text;
  if (!EditableText(current.is_string() ? current.str() : "", &text)) return;
  for (;;) {
    Dialog dlg{"EDMEMO", "Modifica campo memo", 300, 200};
    dlg.fixed_font = true;
    Control memo;
    memo.id = 101;
    memo.kind = ControlKind::kMemo;
    memo.name = "cMemo";
    memo.value = Value::String(text, true);
    memo.multi_line = true;
    memo.takes_tab = true;
    memo.row = 4, memo.col = 4, memo.width = 292, memo.height = 172;
    dlg.Add(std::move(memo));
    dlg.Add(Control::Button(kIdConferma, "&Conferma", 182, 190, 50, 14));
    dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 182, 244, 50, 14));
    dlg.focus = 0;
    if (GetUi().RunDialog(dlg) != 1) return;
    text = dlg.controls[0].Val().is_string() ? dlg.controls[0].Val().str() : "";
    std::string stored = text;
    if (!StoredText(text, &stored)) continue;
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
  dlg.lAsk = false;  // the dialog closes without asking
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
    dlg.lAsk = false;  // the dialog closes without asking
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

std::vector<std::string> FieldListRows(const ValueArray& aStruct) {
  std::vector<std::string> rows;
  for (const Value& row : aStruct) {
    const ValueArray& f = row.array();
    rows.push_back(f[0].str() + "\t" + TIPO(f[1].str()) + "\t" +
                   std::to_string(static_cast<int>(f[2].number())) + "\t" +
                   std::to_string(static_cast<int>(f[3].number())));
  }
  return rows;
}

Control FieldListControl(const std::string& name, const ValueArray& aStruct) {
  Control list;
  list.id = 101;
  list.kind = ControlKind::kFieldList;
  list.name = name;
  list.label = "NOME CAMPO\tTIPO\tDIM\tDEC";
  list.items = FieldListRows(aStruct);
  return list;
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
  Control list = FieldListControl("aVis", DBSTRUCT().array());
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
  // Typing letters moves to the first field whose name begins with them.
  std::vector<std::string> names;
  for (int n = 1; n <= fields; ++n) names.push_back(FIELDNAME(n));
  KEYSEARCHARRAY();
  dlg.on_key_char = [names](Dialog& d, int ch) {
    int nAt = d.focus_row + 1;
    if (!KEYSEARCHARRAY(names, nAt, ch)) return false;
    d.focus_row = nAt - 1;
    return true;
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
