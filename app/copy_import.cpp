#include "app/copy_import.h"

#include <cctype>
#include <functional>
#include <optional>

#include "app/ansi.h"
#include "app/area_selection.h"
#include "app/browse.h"
#include "app/browse_view.h"
#include "app/current_table.h"
#include "app/dialog.h"
#include "app/error_handler.h"
#include "app/expression_check.h"
#include "app/filename.h"
#include "app/messages.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/progress.h"
#include "app/sort_filter.h"
#include "app/table_files.h"
#include "app/ui.h"
#include "expr/runtime_error.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/transfer.h"

namespace vosk {
namespace {

constexpr char kCopyAlias[] = "COPIATAB";
constexpr char kReplace[] = "Sostituire il file esistente?";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string TextOf(const Value& v) { return v.is_string() ? v.str() : ""; }

// The file dialog's filter listing `formats`, one entry each.
std::string FilterOf(bool import) {
  std::string filter;
  for (const CopyFormat& f : CopyFormats()) {
    if (import && !f.can_import) continue;
    const std::string pattern = std::string("*") + f.extension;
    if (!filter.empty()) filter += "|";
    filter += std::string("File ") + f.name + " (" + pattern + ")|" + pattern;
  }
  return filter;
}

// The format of the n-th entry (1-based) of FilterOf(import).
const CopyFormat& FormatOfFilter(bool import, int n) {
  int k = 0;
  for (const CopyFormat& f : CopyFormats()) {
    if (import && !f.can_import) continue;
    if (++k == n) return f;
  }
  return CopyFormats().front();
}

const CopyFormat& FormatNamed(const std::string& name) {
  for (const CopyFormat& f : CopyFormats()) {
    if (name == f.name) return f;
  }
  return CopyFormats().front();
}

bool IsDbf(const CopyFormat& f) { return &f == &CopyFormats().front(); }

// Formats whose copies leave deleted records out unless asked for a _DELETED column.
bool KeepsDeletedAside(const CopyFormat& f) {
  const std::string d = f.driver;
  return d == "CSV" || d == "SQLITE" || d == "XLSX";
}

// The code page of the open table's text: its own, or for a table that names none the one
// the window reads it in (the "Codifica OEM" setting).
std::string TableCodepageName() { return CodepageName(ViewCodepage()); }

// Tells what a transfer met (characters written as '?', values left blank, records marked
// deleted), when it met anything.
void ShowReport(const TransferReport& report) {
  const std::string text = TransferReportText(report);
  if (!text.empty()) POPMSG(Ansi(text), 1);
}

// The name with another extension, folder and base name kept.
std::string WithExtension(const std::string& name, const char* extension) {
  return CFILEPATH(name) + CFILENOEXT(name) + extension;
}

// True when `name` is the open table: the same full name whatever the letter case, or the same
// file reached by another name.
bool IsCurrentTable(const std::string& name) {
  const std::string& table = CurTable().cCurTable;
  return Upper(FULLNAME(name)) == Upper(FULLNAME(table)) || SameFile(name, table);
}

Control Memo(int id, const char* name, const std::string& text, int row, int col, int width,
             int height) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kMemo;
  c.name = name;
  c.multi_line = true;
  c.value = Value::String(text, true);
  c.row = row, c.col = col, c.width = width, c.height = height;
  return c;
}

Control FileNameBox(const std::string& name) {
  Control c = Memo(101, "cDbf", name, 20, 10, 235, 20);
  c.multi_line = false;
  c.read_only = true;
  c.disabled = true;  // never enabled: the name comes from the file dialog
  return c;
}

Control Check(int id, const char* name, const char* label, bool on, int row, int col) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kCheck;
  c.name = name;
  c.label = label;
  c.value = Value::Logical(on);
  c.row = row, c.col = col, c.width = 50, c.height = 12;
  return c;
}

Control Choice(int id, const char* name, std::vector<std::string> items, const std::string& value,
               int row, int col, int width) {
  Control c;
  c.id = id;
  c.kind = ControlKind::kCombo;
  c.name = name;
  c.items = std::move(items);
  c.value = Value::String(value);
  c.row = row, c.col = col, c.width = width, c.height = 12;
  return c;
}

void Show(Dialog& dlg, const char* name) {
  Control* c = CTL(dlg, name);
  if (c && dlg.on_control_changed) {
    dlg.on_control_changed(static_cast<int>(c - dlg.controls.data()));
  }
}

std::string MemoText(Dialog& dlg, const char* name) {
  return ExpressionLine(TextOf(CTL(dlg, name)->value));
}

// The dialog "COPIATAB" over a target name and the start values.
// REQUIRES: dlg outlives its run (the hooks refer to it).
void BuildCopyDialog(Dialog& dlg, const std::string& cDbf, const std::string& cFor,
                     const std::string& cKey, bool lUni, const CopyFormat& format) {
  dlg = Dialog{"COPIATAB", "Copia tabella", 320, 170};
  dlg.Add(Control::Label("Nome file:", 10, 10, 60, 10));
  dlg.Add(FileNameBox(cDbf));
  dlg.Add(Control::Label("Condizione:", 50, 10, 60, 10));
  dlg.Add(Memo(102, "cFor", cFor, 60, 10, 235, 40));
  CTL(dlg, "cFor")->valid = ExpressionField(&ValidCondition);
  dlg.Add(Control::Label("Ordinamento:", 110, 10, 60, 10));
  dlg.Add(Memo(103, "cKey", cKey, 120, 10, 235, 40));
  CTL(dlg, "cKey")->valid = ExpressionField(&ValidKey);
  dlg.Add(Control::Label("Formato:", 66, 255, 45, 10));
  std::vector<std::string> names;
  for (const CopyFormat& f : CopyFormats()) names.push_back(f.name);
  dlg.Add(Choice(104, "cFmt", names, format.name, 77, 255, 45));
  dlg.Add(Check(105, "lUni", "Unique:", lUni, 120, 253));
  dlg.Add(Check(106, "lStr", "Solo struttura:", false, 150, 253));
  CTL(dlg, "lStr")->width = 64;  // "Solo struttura:" whole
  dlg.Add(Check(107, "lDel", "Cancellati:", false, 95, 253));
  CTL(dlg, "lDel")->width = 64;
  CTL(dlg, "lDel")->tooltip = "Copia anche i record cancellati, con la colonna _DELETED";
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 20, 255, 45, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 40, 255, 45, 14));

  const auto dbf = [&dlg] { return IsDbf(FormatNamed(TextOf(CTL(dlg, "cFmt")->value))); };
  CTL(dlg, "lUni")->when = [&dlg] { return !MemoText(dlg, "cKey").empty(); };
  CTL(dlg, "lStr")->when = [&dlg, dbf] {
    return dbf() && MemoText(dlg, "cFor").empty() && MemoText(dlg, "cKey").empty();
  };
  CTL(dlg, "cFmt")->when = [&dlg] { return !CTL(dlg, "lStr")->value.logical(); };
  // Deleted records are left out of a CSV, SQLite or XLSX copy unless asked for.
  CTL(dlg, "lDel")->when = [&dlg] {
    return KeepsDeletedAside(FormatNamed(TextOf(CTL(dlg, "cFmt")->value)));
  };
  // An empty key clears "Unique:" (which it also disables).
  CTL(dlg, "cKey")->on_change = [&dlg] {
    Control* uni = CTL(dlg, "lUni");
    if (!MemoText(dlg, "cKey").empty() || !uni->value.logical()) return;
    uni->value = Value::Logical(false);
    Show(dlg, "lUni");
  };
  // The target takes the extension of the chosen format.
  CTL(dlg, "cFmt")->on_change = [&dlg] {
    Control* name = CTL(dlg, "cDbf");
    const CopyFormat& f = FormatNamed(TextOf(CTL(dlg, "cFmt")->value));
    name->value = Value::String(WithExtension(TextOf(name->value), f.extension), true);
    Show(dlg, "cDbf");
  };
  dlg.focus = 3;  // the condition
}

// The errors of a key or a condition, and those of the values written, during a copy: a key or
// condition error abandons the copy (bad_key set); a number too wide for a text column is
// written as asterisks (too_wide set) and the copy goes on; the other errors are the program's.
class CopyGuard {
 public:
  CopyGuard()
      : program_(GetErrorHandler()),
        guard_([this](const RuntimeError& e) -> ErrorAnswer {
          if (e.gen_code == kEgDataWidth && e.can_default) {
            too_wide = true;
            return ErrorAnswer::Default();
          }
          if (KeyOrConditionError(e) && e.gen_code != kEgZeroDiv) {
            bad_key = true;
            throw Abandon(e);
          }
          if (program_) return program_(e);
          throw Abandon(e);
        }) {}

  bool bad_key = false;
  bool too_wide = false;

 private:
  ErrorHandler program_;
  ScopedErrorHandler guard_;
};

// The second work area of the open table that a copy walks: open for its lifetime.
class CopyArea {
 public:
  CopyArea() = default;
  ~CopyArea() {
    ScopedErrorHandler quiet([](const RuntimeError& e) -> ErrorAnswer { throw Abandon(e); });
    try {
      if (AreaInUse(kCopyAlias)) DBCLOSE(kCopyAlias);
    } catch (const Abandon&) {
    }
  }
  CopyArea(const CopyArea&) = delete;
  CopyArea& operator=(const CopyArea&) = delete;
};

// Steps 9 to 11 of the copy: the records of the open table into `cDbf`.
void RunCopy(const std::string& cDbf, const CopyFormat& format, const std::string& cFor,
             const std::string& cKey, bool lUni, bool lDel) {
  CurrentTableState& state = CurTable();
  const uint64_t records = LASTREC();
  const std::string table_codepage = TableCodepageName();
  TransferReport report;
  Progress progress("Copia tabella in corso...", 2 * records);
  std::optional<CopyGuard> guard;
  {
    AreaSelection back("");
    CopyArea area;
    guard.emplace();
    try {
      DBOPEN(true, "", state.cCurTable, kCopyAlias, true, state.lReadOnly);
      DBINFO(kDbiPassword, Value::String(state.cPassword.value_or("")));
      OrdCondArgs cond;
      cond.for_text = cFor;
      cond.temporary = true;
      cond.eval_block = progress.EvalBlock();
      cond.eval_step = progress.EvalStep();
      ORDCONDSET(cond);
      if (!ORDBUILD(GETNEWFNAME(), "", cKey, nullptr,
                    lUni ? Value::Logical(true) : Value())) {
        guard->bad_key = true;
      } else {
        // A database replaced as the user confirmed, not merged into.
        if (std::string(format.driver) == "SQLITE" && FileExists(cDbf)) DeleteFile(cDbf);
        TransferArgs args;
        args.file = cDbf;
        args.for_text = cFor;
        args.driver = format.driver;
        args.table = CFILENOEXT(state.cCurTable);  // the database table or the worksheet
        args.table_codepage = table_codepage;
        args.include_deleted = lDel;
        args.bom = true;  // spreadsheets show the accents of a CSV file that starts with it
        args.report = &report;
        args.progress = [&progress, records](uint64_t copied) {
          progress.Advance(records + copied);
        };
        DBCOPYTO(args);
      }
    } catch (const Abandon&) {
      if (!guard->bad_key) throw;
    }
  }
  const bool bad_key = guard->bad_key, too_wide = guard->too_wide;
  guard.reset();
  if (bad_key) {
    POPMSG("Chiave non valida.", 1);
  } else if (too_wide) {
    POPMSG("Alcuni numeri non entrano nella loro colonna: sono stati scritti come asterischi.",
           1);
  }
  if (!bad_key) ShowReport(report);
}

}  // namespace

const std::vector<CopyFormat>& CopyFormats() {
  static const std::vector<CopyFormat> formats = {
      {"DBF", ".DBF", "", true},          {"SDF", ".TXT", "SDF", true},
      {"CSV", ".CSV", "CSV", true},       {"SQLite", ".SQLITE", "SQLITE", true},
      {"XLSX", ".XLSX", "XLSX", false},
  };
  return formats;
}

const CopyFormat* FormatOfFile(const std::string& file) {
  const std::string ext = Upper(CFILEEXT(file));
  const char* name = ext == "DBF"                                        ? "DBF"
                     : ext == "TXT" || ext == "SDF"                      ? "SDF"
                     : ext == "CSV"                                      ? "CSV"
                     : ext == "SQLITE" || ext == "SQLITE3" || ext == "DB" ? "SQLite"
                     : ext == "XLSX"                                     ? "XLSX"
                                                                         : nullptr;
  return name ? &FormatNamed(name) : nullptr;
}

void COPIATAB() {
  RoutineFrame frame("COPIATAB", __LINE__);
  CurrentTableState& state = CurTable();
  std::string cDbf = CGETFILE(FilterOf(false), "Copia tabella in...", 1,
                              CFILEPATH(state.cCurTable), true);
  if (cDbf.empty()) return;
  // The format follows the name's extension, else the filter chosen, whose extension the name
  // then takes. A name with another extension is a DBF table of that name.
  const CopyFormat* format = FormatOfFile(cDbf);
  if (CFILEEXT(cDbf).empty()) {
    format = &FormatOfFilter(false, GetUi().LastFileFilter());
    cDbf += format->extension;
  }
  if (!format) format = &CopyFormats().front();
  cDbf = FULLNAME(cDbf);
  if (IsCurrentTable(cDbf)) {
    POPMSG(Ansi("Impossibile copiare una tabella su sé stessa."), 1);
    return;
  }
  if (FileExists(cDbf) && !POPMSG(kReplace, 2).logical()) return;

  std::string cFor, cKey;
  bool lUni = false;
  if (!state.xCurOrder.is_numeric() && OrderControls()) {
    cFor = ORDFOR();
    cKey = ORDKEY();
    lUni = ORDISUNIQUE();
  }
  Dialog dlg;
  BuildCopyDialog(dlg, cDbf, cFor, cKey, lUni, *format);
  std::string confirmed = cDbf;  // the target whose replacement the user accepted
  for (;;) {
    if (GetUi().RunDialog(dlg) != 1) return;
    cDbf = TextOf(CTL(dlg, "cDbf")->value);
    if (cDbf == confirmed) break;
    if (IsCurrentTable(cDbf)) {
      POPMSG(Ansi("Impossibile copiare una tabella su sé stessa."), 1);
      continue;
    }
    if (!FileExists(cDbf) || POPMSG(kReplace, 2).logical()) break;
  }
  format = &FormatNamed(TextOf(CTL(dlg, "cFmt")->value));
  cFor = MemoText(dlg, "cFor");
  cKey = MemoText(dlg, "cKey");
  lUni = !cKey.empty() && CTL(dlg, "lUni")->value.logical();
  const bool lStr = IsDbf(*format) && CTL(dlg, "lStr")->value.logical();
  const bool lDel = KeepsDeletedAside(*format) && CTL(dlg, "lDel")->value.logical();
  if (cKey.empty()) cKey = "RECNO()";
  if (lStr) cFor = ".F.";
  frame.set_line(__LINE__);
  RunCopy(cDbf, *format, cFor, cKey, lUni, lDel);
}

void IMPORTAREC(Browse* oBrw) {
  RoutineFrame frame("IMPORTAREC", __LINE__);
  CurrentTableState& state = CurTable();
  if (!TableWritable()) return;
  std::string cDbf =
      CGETFILE(FilterOf(true), "Importa record da...", 1, CFILEPATH(state.cCurTable));
  if (cDbf.empty()) return;
  if (CFILEEXT(cDbf).empty()) cDbf += FormatOfFilter(true, GetUi().LastFileFilter()).extension;
  cDbf = FULLNAME(cDbf);
  if (IsCurrentTable(cDbf)) {
    POPMSG("Impossibile importare dalla tabella corrente.", 1);
    return;
  }
  if (!FileExists(cDbf)) {
    POPMSG("Impossibile aprire il file " + cDbf + ".", 1);
    return;
  }
  const CopyFormat* format = FormatOfFile(cDbf);
  if (!format) format = &CopyFormats().front();
  if (!format->can_import) {
    POPMSG(std::string("Impossibile importare record da un file ") + format->name + ".", 1);
    return;
  }
  std::vector<std::string> tables;
  const bool database = std::string(format->driver) == "SQLITE";
  if (database) {
    if (!TransferTables(format->driver, cDbf, &tables)) {
      POPMSG("Il file " + cDbf + " non risulta un database SQLite.", 1);
      return;
    }
    if (tables.empty()) {
      POPMSG("Il database " + cDbf + " non contiene tabelle.", 1);
      return;
    }
  }

  std::string cFor;
  if (!state.xCurOrder.is_numeric() && OrderControls()) cFor = ORDFOR();
  Dialog dlg{"IMPORTAREC", "Importa record", 305, database ? 135 : 110};
  dlg.Add(Control::Label("Nome file:", 10, 10, 60, 10));
  dlg.Add(FileNameBox(cDbf));
  dlg.Add(Control::Label("Condizione:", 50, 10, 60, 10));
  dlg.Add(Memo(102, "cFor", cFor, 60, 10, 235, 40));
  // A DBF source has fields of its own; the other sources are read with the open table's.
  CTL(dlg, "cFor")->valid = [&cDbf, format](const Value& v) {
    const std::string text = ExpressionLine(TextOf(v));
    if (!IsDbf(*format)) return ValidCondition(text);
    return text.empty() || TESTEXP2(cDbf, text);
  };
  if (database) {
    dlg.Add(Control::Label("Tabella:", 112, 10, 60, 10));
    const std::string base = Upper(CFILENOEXT(state.cCurTable));
    std::string start = tables.front();
    for (const std::string& t : tables) {
      if (Upper(t) == base) start = t;  // the one named like the open table, if any
    }
    dlg.Add(Choice(103, "cTab", tables, start, 110, 50, 195));
  }
  dlg.Add(Control::Button(kIdConferma, "&Conferma", 20, 255, 45, 14));
  dlg.Add(Control::Button(kIdAnnulla, "&Annulla", 40, 255, 45, 14));
  dlg.focus = 3;
  if (GetUi().RunDialog(dlg) != 1) return;

  TransferArgs args;
  args.file = cDbf;
  args.for_text = MemoText(dlg, "cFor");
  args.driver = format->driver;
  if (database) args.table = TextOf(CTL(dlg, "cTab")->value);
  args.table_codepage = TableCodepageName();
  // Another table that names no code page is read as the window reads tables.
  args.unmarked_codepage = IniString("Codifica", "ANSI") == "OEM" ? "cp850" : "";
  TransferReport report;
  args.report = &report;
  frame.set_line(__LINE__);
  {
    Progress progress("Importazione record in corso...", 0);
    args.progress = [&progress](uint64_t copied) { progress.Advance(copied); };
    // A value the table cannot take stops the import with a message; the records appended
    // before it stay. Other errors are the program's.
    const ErrorHandler program = GetErrorHandler();
    std::optional<RuntimeError> bad_value;
    ScopedErrorHandler guard([&](const RuntimeError& e) -> ErrorAnswer {
      if (KeyOrConditionError(e) && e.gen_code != kEgZeroDiv) {
        bad_value = e;
        throw Abandon(e);
      }
      if (program) return program(e);
      throw Abandon(e);
    });
    try {
      DBAPPFROM(args);
    } catch (const Abandon&) {
      if (!bad_value) throw;
    }
    if (bad_value) {
      const std::string field = bad_value->operation.empty() ? "" : " " + bad_value->operation;
      POPMSG("Importazione interrotta: un valore del file " + cDbf +
                 " non si adatta al campo" + field + ".",
             1);
    }
  }
  ShowReport(report);
  if (oBrw) oBrw->Stabilize();
}

}  // namespace vosk
