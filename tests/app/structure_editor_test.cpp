// The structure editor without a window: the field list's keys, the field dialog's rules, a new
// table created from the editor, and the free-space test.

#include "app/structure_editor.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/ansi.h"
#include "app/browse_view.h"
#include "app/dialog.h"
#include "app/open_table.h"
#include "app/other_program.h"
#include "app/twbrowse.h"
#include "app_fixture.h"
#include "platform/file.h"
#include "rdd/db_commands.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

constexpr char kConfirm[] = "Confermi la modifica della struttura della tabella?";

// One field as the field dialog is filled in: name typed, type chosen, length and decimals
// typed (when not empty).
struct Field {
  std::string name, type, len, dec;
};

class StructureEditorTest : public AppTest {
 protected:
  // Fills in the dialog "CAMPO".
  static void Enter(Dialog& d, const Field& f) {
    ScriptedUi::Type(d, "cNom", f.name);
    if (!f.type.empty()) ScriptedUi::Choose(d, "cTip", f.type);
    if (!f.len.empty()) ScriptedUi::Type(d, "nLen", f.len);
    if (!f.dec.empty()) ScriptedUi::Type(d, "nDec", f.dec);
  }
  // A script for the dialog "CAMPO" that fills it in and presses Conferma.
  std::function<void(Dialog&)> Fill(const Field& f) {
    return [this, f](Dialog& d) {
      Enter(d, f);
      ui_.Press(d, kIdConferma);
    };
  }
  // The editor's script: `steps` run on the open editor (each may queue the dialogs it opens),
  // then "OK" on the button bar when `confirm`.
  void Editor(std::function<void(Dialog&)> steps, bool confirm = true) {
    ui_.dialog_scripts.push_back([this, steps, confirm](Dialog& d) {
      editor_rows_ = -1;
      steps(d);
      editor_rows_ = static_cast<int>(d.controls[0].items.size());
      editor_status_ = d.status_text(d);
      if (confirm) ui_.Tool(d, 1);
    });
  }
  // Appends a field with Ctrl+A, the field dialog filled in as `f`.
  void Append(Dialog& d, const Field& f) {
    ui_.dialog_scripts.push_front(Fill(f));
    ScriptedUi::ListKey(d, 'A', true);
  }
  static std::vector<std::string> Names(const Dialog& d) {
    std::vector<std::string> names;
    for (const std::string& row : d.controls[0].items) names.push_back(row.substr(0, row.find('\t')));
    return names;
  }

  int editor_rows_ = -1;
  std::string editor_status_;
};

TEST_F(StructureEditorTest, ANewTableGetsTheFieldsOfTheListAndBecomesTheCurrentTable) {
  SetMemoFormat(1, ".FPT");  // the memo type decides the memo file's extension
  Editor([&](Dialog& d) {
    EXPECT_EQ(d.title, "Nuova tabella");
    EXPECT_EQ(d.status_text(d), "Campo: 0/0");
    Append(d, {"codice", "Numerico", "6", "2"});
    Append(d, {"NOME", "", "20", ""});
    Append(d, {"NOTE", "Memo", "", ""});
    Append(d, {"NATO", "Data", "", ""});
    Append(d, {"ATTIVO", "Logico", "", ""});
  });
  ui_.file_results.push_back(Path("nuova"));
  ASSERT_TRUE(CREATAB());

  EXPECT_EQ(editor_status_, "Campo: 5/5");
  ASSERT_EQ(ui_.file_dialogs.size(), 1u);
  EXPECT_EQ(ui_.file_dialogs[0].title, "Nuova tabella...");
  EXPECT_EQ(ui_.file_dialogs[0].filter, "File DBF (*.DBF)|*.DBF");
  EXPECT_TRUE(ui_.file_dialogs[0].save);
  // Named as the engine names the files it creates (upper case).
  EXPECT_EQ(CurTable().cCurTable, Path("NUOVA.DBF"));
  EXPECT_TRUE(FileExists(Path("NUOVA.DBT")));
  EXPECT_EQ(ALIAS(), kCurrentAlias);
  EXPECT_EQ(LASTREC(), 0u);
  const std::vector<std::tuple<std::string, std::string, int, int>> expected = {
      {"CODICE", "N", 6, 2}, {"NOME", "C", 20, 0}, {"NOTE", "M", 10, 0},
      {"NATO", "D", 8, 0},   {"ATTIVO", "L", 1, 0}};
  ASSERT_EQ(FCOUNT(), 5);
  for (int n = 1; n <= 5; ++n) {
    const auto& [name, type, len, dec] = expected[static_cast<size_t>(n - 1)];
    EXPECT_EQ(FIELDNAME(n), name);
    EXPECT_EQ(FIELDTYPE(n).str(), type) << name;
    EXPECT_EQ(FIELDLEN(n), len) << name;
    EXPECT_EQ(FIELDDEC(n), dec) << name;
  }
  EXPECT_EQ(ReadMru().front(), Path("NUOVA.DBF"));

  // With the other memo type: an FPT file; and a name typed in lower case finds the file that
  // the engine would write over.
  SetMemoFormat(2, ".DBT");
  Editor([&](Dialog& d) { Append(d, {"TESTO", "Memo", "", ""}); });
  ui_.file_results.push_back(Path("altra.dbf"));
  ASSERT_TRUE(CREATAB());
  EXPECT_TRUE(FileExists(Path("ALTRA.FPT")));
  Editor([&](Dialog& d) { Append(d, {"TESTO", "Memo", "", ""}); });
  ui_.file_results.push_back(Path("nuova"));
  EXPECT_FALSE(CREATAB());  // not confirmed
  EXPECT_EQ(MessageTexts().back(), "Sostituire il file esistente?");
}

TEST_F(StructureEditorTest, TheFieldDialogsRules) {
  struct Case {
    const char* what;
    Field field;
    std::vector<std::string> messages;  // shown after Conferma
  };
  const std::vector<Case> cases = {
      {"a blank inside the name", {"AB CD", "", "", ""}, {"Campo non valido: Nome campo."}},
      {"no name", {"", "", "", ""}, {"Campo non valido: Nome campo."}},
      {"a numeric field of no length", {"N1", "Numerico", "", ""}, {"Campo non valido: Dim."}},
      {"decimals taking the whole width", {"N1", "Numerico", "3", "3"},
       {"Campo non valido: Dec."}},
      {"a numeric field wider than a table holds", {"N1", "Numerico", "256", ""},
       {"Campo non valido: Dim."}},
      {"a name already in the list", {"CODICE", "", "", ""}, {Ansi("Nome campo già presente.")}},
      {"a good field", {"DESCR", "", "", ""}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ui_.messages.clear();
    ValueArray aStruct = {Value::Array({Value::String("CODICE"), Value::String("N"),
                                        Value::Integer(4), Value::Integer(0)})};
    Dialog list;
    list.Add(Control{});
    int nAt = 1;
    ui_.answers = {kButtonYes, kButtonYes};  // "Annullo le modifiche?"
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      Enter(d, c.field);
      if (!ui_.Press(d, kIdConferma)) ui_.Press(d, kIdAnnulla);
    });
    // A refused duplicate shows the dialog again with what was typed.
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(CTL(d, "cNom")->Val().str(), "CODICE    ");
      ui_.Press(d, kIdAnnulla);
    });
    const bool changed = MODCAMPO(list, aStruct, nAt, true, true);
    std::vector<std::string> shown = MessageTexts();
    std::erase(shown, "Annullo le modifiche?");
    EXPECT_EQ(shown, c.messages);
    EXPECT_EQ(changed, c.messages.empty());
    EXPECT_EQ(aStruct.size(), c.messages.empty() ? 2u : 1u);
    ui_.dialog_scripts.clear();
  }
}

TEST_F(StructureEditorTest, ChoosingATypeSetsLengthDecimalsAndWhatCanBeEdited) {
  struct Case {
    const char* type;
    int len, dec;
    bool len_enabled, dec_enabled;
  };
  const std::vector<Case> cases = {
      {"Carattere", 10, 0, true, false}, {"Memo", 10, 0, false, false},
      {"Data", 8, 0, false, false},      {"Numerico", 0, 0, true, true},
      {"Logico", 1, 0, false, false},    {"T DataOra", 8, 0, false, false},
      {"+ Autoinc", 4, 0, false, false}, {"@ Timestamp", 8, 0, false, false},
  };
  std::vector<std::string> items;
  ui_.dialog_scripts.push_back([&](Dialog& d) {
    EXPECT_EQ(d.resource + "|" + d.title, "CAMPO|Appendi campo");
    EXPECT_EQ(CTL(d, "cNom")->get->cPicture(), "@! AXXXXXXXXX");
    items = CTL(d, "cTip")->items;
    ScriptedUi::Type(d, "nLen", "33");
    ScriptedUi::Type(d, "nDec", "3");
    for (const Case& c : cases) {
      ScriptedUi::Choose(d, "cTip", c.type);
      EXPECT_EQ(CTL(d, "nLen")->Val().number(), c.len) << c.type;
      EXPECT_EQ(CTL(d, "nDec")->Val().number(), c.dec) << c.type;
      EXPECT_EQ(CTL(d, "nLen")->Enabled(), c.len_enabled) << c.type;
      EXPECT_EQ(CTL(d, "nDec")->Enabled(), c.dec_enabled) << c.type;
    }
    ScriptedUi::Type(d, "cNom", "1data");  // a name begins with a letter
    ScriptedUi::Choose(d, "cTip", "Data");
    ui_.Press(d, kIdConferma);
  });
  ValueArray aStruct;
  Dialog list;
  list.Add(Control{});
  int nAt = 1;
  ASSERT_TRUE(MODCAMPO(list, aStruct, nAt, true, true));
  std::vector<std::string> names;
  for (const Case& c : cases) names.push_back(c.type);
  EXPECT_EQ(items, names);
  ASSERT_EQ(aStruct.size(), 1u);
  EXPECT_EQ(aStruct[0].array()[0].str(), "DATA");
  EXPECT_EQ(aStruct[0].array()[1].str(), "D");
  EXPECT_EQ(aStruct[0].array()[2].number(), 8);
  for (const auto& [letter, name] : std::vector<std::pair<std::string, std::string>>{
           {"C", "Carattere"}, {"@", "@ Timestamp"}, {"I", ""}, {"", ""}}) {
    EXPECT_EQ(TIPO(letter), name) << letter;
  }
}

TEST_F(StructureEditorTest, InsertEditDeleteAndSearchMoveTheCurrentRow) {
  Editor(
      [&](Dialog& d) {
        for (const char* name : {"ALFA", "BETA", "GAMMA"}) Append(d, {name, "", "", ""});
        EXPECT_EQ(d.focus_row, 2);  // on the field appended
        // Insert before row 2.
        d.focus_row = 1;
        ui_.dialog_scripts.push_front([&](Dialog& f) {
          EXPECT_EQ(f.title, "Inserisci campo");
          Fill({"DELTA", "", "", ""})(f);
        });
        ScriptedUi::ListKey(d, kVkInsert);
        EXPECT_EQ(Names(d), (std::vector<std::string>{"ALFA", "DELTA", "BETA", "GAMMA"}));
        EXPECT_EQ(d.focus_row, 1);
        // Enter edits the current row: keeping its own name is no duplicate.
        ui_.dialog_scripts.push_front([&](Dialog& f) {
          EXPECT_EQ(f.title, "Modifica campo");
          EXPECT_EQ(CTL(f, "cNom")->Val().str(), "DELTA     ");
          EXPECT_EQ(CTL(f, "cTip")->value.str(), "Carattere");
          Fill({"DELTA", "Numerico", "8", "3"})(f);
        });
        ScriptedUi::ListKey(d, kVkReturn);
        EXPECT_EQ(d.controls[0].items[1], "DELTA\tNumerico\t8\t3");
        // Deleting the last row moves back one; typing searches the names.
        ScriptedUi::ListKey(d, kVkDelete, false, 4);
        EXPECT_EQ(Names(d), (std::vector<std::string>{"ALFA", "DELTA", "BETA"}));
        EXPECT_EQ(d.focus_row, 2);
        EXPECT_TRUE(d.on_key_char(d, 'd'));
        EXPECT_EQ(d.focus_row, 1);
        EXPECT_FALSE(ScriptedUi::ListKey(d, 'A', false));  // A alone is a typed letter
        for (int i = 0; i < 3; ++i) ScriptedUi::ListKey(d, kVkDelete, false, 1);
        EXPECT_EQ(d.focus_row, 0);
        EXPECT_EQ(d.status_text(d), "Campo: 0/0");
        ScriptedUi::ListKey(d, kVkDelete);  // nothing left to delete
        ScriptedUi::ListKey(d, kVkReturn);  // nor to edit: no dialog
        // "OK" on an empty list does nothing; "Annulla" asks first after a change.
        EXPECT_FALSE(ui_.Tool(d, 1));
        ui_.answers = {kButtonNo};
        EXPECT_FALSE(ui_.Tool(d, 2));
        ui_.answers = {kButtonYes};
        EXPECT_TRUE(ui_.Tool(d, 2));
      },
      false);
  EXPECT_FALSE(CREATAB());
  const std::vector<std::string> asked = {"Annullo le modifiche?", "Annullo le modifiche?"};
  EXPECT_EQ(MessageTexts(), asked);
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kYesNoDefaultNo);
  EXPECT_TRUE(ui_.file_dialogs.empty());
  EXPECT_TRUE(CurTable().cCurTable.empty());
}

TEST_F(StructureEditorTest, ThePopUpMenuAndTheButtonBarRunTheSameEdits) {
  Editor([&](Dialog& d) {
    ASSERT_EQ(d.toolbar.size(), 6u);
    std::vector<std::string> bar;
    for (const auto& t : d.toolbar) bar.push_back(t.bitmap + "|" + t.tooltip);
    EXPECT_EQ(bar, (std::vector<std::string>{"OK|Conferma", "CANCEL|Annulla",
                                             "INSERT|Inserisci campo", "APPEND|Appendi campo",
                                             "EDIT|Modifica campo", "DELETE|Elimina campo"}));
    ui_.popup_choice = Action::kAppendiCampo;
    ui_.dialog_scripts.push_front(Fill({"UNO", "", "", ""}));
    d.on_list_menu(d, 5, 5);
    ASSERT_EQ(ui_.popups.size(), 1u);
    std::vector<std::string> prompts;
    for (const MenuItem& m : ui_.popups[0]) {
      prompts.push_back(m.FullPrompt() + (m.enabled.value_or(true) ? "" : " (off)"));
    }
    EXPECT_EQ(prompts, (std::vector<std::string>{"Inserisci campo\tINS", "Appendi campo\tCTRL-A",
                                                 "Modifica campo...\tInvio (off)",
                                                 "Elimina campo\tCANC (off)"}));
    ui_.dialog_scripts.push_front(Fill({"DUE", "", "", ""}));
    ui_.Tool(d, 3);  // INSERT before row 1
    ui_.dialog_scripts.push_front(Fill({"TRE", "", "", ""}));
    ui_.Tool(d, 4);  // APPEND
    ui_.dialog_scripts.push_front(Fill({"QUATTRO", "", "", ""}));
    d.focus_row = 0;
    ui_.Tool(d, 5);  // EDIT row 1
    ui_.popup_choice = Action::kEliminaCampo;
    d.focus_row = 1;
    d.on_list_menu(d, 5, 5);
    EXPECT_TRUE(ui_.popups[1][3].enabled.value());
    EXPECT_EQ(Names(d), (std::vector<std::string>{"QUATTRO", "TRE"}));
    ui_.Tool(d, 6);  // DELETE row 2
  });
  ui_.file_results.push_back(Path("T.DBF"));
  ASSERT_TRUE(CREATAB());
  EXPECT_EQ(editor_rows_, 1);
  ASSERT_EQ(FCOUNT(), 1);
  EXPECT_EQ(FIELDNAME(1), "QUATTRO");
}

TEST_F(StructureEditorTest, AnExistingFileIsReplacedOnlyWhenConfirmedAndNeverTheOpenTable) {
  const std::string clienti = MakeClienti();
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = bytes(clienti);
  auto one_field = [&](Dialog& d) { Append(d, {"X", "", "", ""}); };

  // Not confirmed: the file is as it was.
  Editor(one_field);
  ui_.file_results.push_back(clienti);
  ui_.answers = {kButtonCancel};
  EXPECT_FALSE(CREATAB());
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Sostituire il file esistente?"});
  EXPECT_EQ(bytes(clienti), before);

  // The table open in the window is not replaced, even when confirmed.
  APRITAB(nullptr, clienti);
  ui_.messages.clear();
  Editor(one_field);
  ui_.file_results.push_back(clienti);
  ui_.answers = {kButtonOk};
  EXPECT_FALSE(CREATAB());
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[1].text, Ansi("La tabella è quella aperta: impossibile sostituirla."));
  EXPECT_EQ(bytes(clienti), before);
  EXPECT_EQ(FCOUNT(), 5);

  // Another file, confirmed: replaced, and the new table starts in the open table's folder.
  std::filesystem::copy_file(clienti, Path("COPIA.DBF"));
  Editor(one_field);
  ui_.file_results.push_back(Path("COPIA.DBF"));
  ui_.answers = {kButtonOk};
  ASSERT_TRUE(CREATAB());
  EXPECT_EQ(ui_.file_dialogs.back().initial_dir, dir_ + "/");
  EXPECT_EQ(CurTable().cCurTable, Path("COPIA.DBF"));
  EXPECT_EQ(FCOUNT(), 1);
  EXPECT_EQ(LASTREC(), 0u);
  EXPECT_EQ(bytes(clienti), before);
}

TEST_F(StructureEditorTest, AnsweringYesAtStartUpCreatesATableAndOpensTheWindowOnIt) {
  ui_.file_results = {"", Path("PRIMA")};  // no table chosen, then the new table's name
  ui_.answers = {kButtonOk};               // "Vuoi creare una nuova tabella?"
  Editor([&](Dialog& d) { Append(d, {"NOME", "", "", ""}); });
  std::string open_in_window;
  ui_.on_main_window = [&] { open_in_window = CurTable().cCurTable + "|" + FIELDNAME(1); };
  MAIN("");
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Vuoi creare una nuova tabella?"});
  EXPECT_EQ(ui_.main_windows, 1);
  EXPECT_EQ(open_in_window, Path("PRIMA.DBF") + "|NOME");
}

TEST_F(StructureEditorTest, GivingUpTheNewTableAtStartUpEndsTheProgram) {
  ui_.file_results = {""};
  ui_.answers = {kButtonOk};
  MAIN("");
  EXPECT_EQ(ui_.dialogs, std::vector<std::string>{"CREATAB|Nuova tabella"});
  EXPECT_EQ(ui_.main_windows, 0);
}

TEST_F(StructureEditorTest, IsFullAsksTheFileSystem) {
  EXPECT_FALSE(ISFULL(""));
  EXPECT_FALSE(ISFULL(dir_));
  EXPECT_TRUE(MessageTexts().empty());
  EXPECT_TRUE(ISFULL(Path("no/such/folder")));
  EXPECT_TRUE(ISFULL(dir_, FreeDiskSpace(dir_) + (int64_t{1} << 30)));
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{"Disco non pronto.", "Spazio su disco insufficiente."}));
}

// A real full disk: a small memory file system filled up. Nothing is created there.
TEST_F(StructureEditorTest, NoTableIsCreatedOnAFullDisk) {
  const std::string mnt = Path("small");
  std::filesystem::create_directory(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  {
    std::ofstream fill(mnt + "/FILL", std::ios::binary);
    const std::string block(4096, 'x');
    while (FreeDiskSpace(mnt) >= 4096 && fill.write(block.data(), block.size())) fill.flush();
  }
  Editor([&](Dialog& d) { Append(d, {"NOME", "", "", ""}); });
  ui_.file_results.push_back(mnt + "/PIENA.DBF");
  EXPECT_FALSE(CREATAB());
  const bool created = FileExists(mnt + "/PIENA.DBF");
  ::umount(mnt.c_str());
  EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Spazio su disco insufficiente."});
  EXPECT_FALSE(created);
}

// The table open in the window: its structure changed through the editor (F3) and through the
// field-property dialog, the table restructured and open again in the browse.
class ChangeStructureTest : public StructureEditorTest {
 protected:
  void SetUp() override {
    StructureEditorTest::SetUp();
    table_ = MakeClienti();
  }
  std::string table_;
};

TEST_F(ChangeStructureTest, F3ChangesTheOpenTableAfterTheQuestionKeepingEveryRecord) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    brw.set_nColAct(5);
    bool timer_stopped = false;
    ui_.on_process_events = [&] { timer_stopped |= !ui_.timer_active; };
    // The first "OK": the question is cancelled and the editor comes back with the edited list.
    Editor([&](Dialog& d) {
      EXPECT_EQ(d.title, "Modifica tabella");
      EXPECT_EQ(Names(d),
                (std::vector<std::string>{"CODICE", "NOME", "CITTA", "DATA", "ATTIVO"}));
      ScriptedUi::ListKey(d, kVkDelete, false, 5);
      Append(d, {"NOTE", "", "", ""});
    });
    Editor([&](Dialog& d) { EXPECT_EQ(Names(d).back(), "NOTE"); });
    ui_.answers = {kButtonCancel, kButtonOk};
    TASTI(&brw, kVkF3, false);
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{kConfirm, kConfirm}));
    EXPECT_TRUE(timer_stopped);
    EXPECT_TRUE(ui_.timer_active);
    EXPECT_EQ(brw.columns().aHeaders,
              (std::vector<std::string>{"CODICE", "NOME", "CITTA", "DATA", "NOTE"}));
    EXPECT_EQ(brw.nColAct(), 5);  // still a column of the table
    EXPECT_EQ(ALIAS(), "DBF");
    EXPECT_EQ(LASTREC(), 10u);
    DBGOTO(Value::Integer(7));
    EXPECT_EQ(FIELDGET(2).str(), "Cliente 7   ");
    EXPECT_TRUE(FileExists(Path("CLIENTI_ORIGINALE.DBF")));
    // Another program can open it again: it is open shared.
    OtherProgram other(table_, OtherProgram::kShared);
    EXPECT_TRUE(other.holding());
  });
}

TEST_F(ChangeStructureTest, ATableOpenElsewhereIsNotChangedAndTheEditorComesBack) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    OtherProgram other(table_, OtherProgram::kShared);
    ASSERT_TRUE(other.holding());
    Editor([&](Dialog& d) { Append(d, {"NOTE", "", "", ""}); });
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(Names(d).back(), "NOTE");  // as it was edited
      ui_.Tool(d, 2);
    });
    ui_.answers = {kButtonOk, kButtonOk, kButtonYes};
    EXPECT_FALSE(CREATAB(&brw, false));
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{
                  kConfirm,
                  "La tabella risulta attualmente aperta da un altro programma. Impossibile "
                  "modificarne la struttura.",
                  "Annullo le modifiche?"}));
    EXPECT_EQ(FCOUNT(), 5);
    EXPECT_FALSE(FileExists(Path("CLIENTI_ORIGINALE.DBF")));
  });
}

TEST_F(ChangeStructureTest, FieldPropertiesRenameAndWidenTheFieldOfTheCurrentColumn) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    brw.set_nColAct(2);
    ui_.dialog_scripts.push_back([&](Dialog& d) {
      EXPECT_EQ(d.resource + "|" + d.title, Ansi("CAMPO|Modifica proprietà campo"));
      EXPECT_EQ(CTL(d, "cNom")->get->cPicture(), "@!");
      EXPECT_EQ(CTL(d, "cTip")->items[6], "+ AutoInc");
      EXPECT_EQ(CTL(d, "cTip")->value.str(), "Carattere");
      Fill({"CITTA", "", "", ""})(d);  // another field's name
    });
    ui_.dialog_scripts.push_back(Fill({"RAGSOC", "", "20", ""}));
    ui_.answers = {kButtonOk, kButtonOk};
    RunAction(Action::kModificaProprieta, &brw);
    EXPECT_EQ(MessageTexts(),
              (std::vector<std::string>{Ansi("Nome campo già presente."), kConfirm}));
    EXPECT_EQ(brw.columns().aHeaders[1], "RAGSOC");
    EXPECT_EQ(FIELDLEN(2), 20);
    EXPECT_EQ(LASTREC(), 10u);
    DBGOTO(Value::Integer(3));
    EXPECT_EQ(FIELDGET(2).str(), "Cliente 3" + std::string(11, ' '));
  });
}

// A field made shorter or narrower than some of its values: the question says, field by field,
// how many values would not fit (and the answer Annulla changes nothing); afterwards the
// window says how many were cut or set to 0, and where the old table is.
TEST_F(ChangeStructureTest, ValuesThatWouldNotFitAreCountedBeforeAndAfter) {
  const struct {
    int column;
    Field field;                     // name, type, length, decimals typed
    const char* loss;                // the line of the question and of the closing message
    int changed_field;
    const char* record_10;           // the value of record 10 afterwards
  } cases[] = {
      {1, {"CODICE", "", "1", ""}, "CODICE: 1 valore messo a 0", 1, "0"},
      {2, {"NOME", "", "9", ""}, "NOME: 1 valore troncato", 2, "Cliente 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loss);
    std::filesystem::remove(Path("CLIENTI_ORIGINALE.DBF"));
    MakeClienti();
    ui_.messages.clear();
    ui_.main_windows = 0;
    RunWithTable(ui_, table_, [&](TWBrowse& brw) {
      brw.set_nColAct(c.column);
      // Annulla first: the table stays as it was; then OK.
      ui_.dialog_scripts.push_back(Fill(c.field));
      ui_.dialog_scripts.push_back(Fill(c.field));
      ui_.answers = {kButtonCancel, kButtonOk};
      RunAction(Action::kModificaProprieta, &brw);
      const std::string question = Ansi("Non tutti i valori entrano nei nuovi campi:\n") +
                                   c.loss + "\n\n" + kConfirm;
      ASSERT_EQ(MessageTexts().size(), 3u);
      EXPECT_EQ(MessageTexts()[0], question);
      EXPECT_EQ(MessageTexts()[1], question);
      EXPECT_EQ(MessageTexts()[2],
                Ansi("La struttura è stata modificata, ma non tutti i valori sono entrati "
                     "nei nuovi campi:\n") +
                    c.loss + "\n\nLa tabella originale resta nel file " +
                    Path("CLIENTI_ORIGINALE.DBF") + ".");
      DBGOTO(Value::Integer(10));
      const Value v = FIELDGET(c.changed_field);
      const std::string shown = v.is_string() ? v.str().substr(0, v.str().find_last_not_of(' ') + 1)
                                              : std::to_string(static_cast<int64_t>(v.number()));
      EXPECT_EQ(shown, c.record_10);
    });
    CLOSEALL();
  }
}

}  // namespace
}  // namespace vosk
