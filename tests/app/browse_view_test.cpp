// The browse view's commands through the scripted Ui: columns and cell texts, editing a cell,
// go to record, column search, the column chooser, the keyboard map and the context menu.

#include "app/browse_view.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/dialog.h"
#include "app/twbrowse.h"
#include "support/dbf_image.h"
#include "expr/expression.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "rdd/driver_registry.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class BrowseViewTest : public AppTest {
 protected:
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui_.messages) t.push_back(m.text);
    return t;
  }
  // A script that types `keys` into `name` and confirms.
  std::function<void(Dialog&)> TypeAndConfirm(std::string name, std::string keys) {
    return [this, name, keys](Dialog& d) {
      ScriptedUi::Type(d, name, keys);
      ui_.Press(d, kIdConferma);
    };
  }
  // Types into the cell editor and presses Enter.
  std::function<void(Dialog&)> EditCell(std::string keys) { return TypeAndConfirm("uValue", keys); }
};

TEST_F(BrowseViewTest, ColumnsPicturesAndCellTexts) {
  WriteDbf(Path("TIPI.DBF"),
           {{"IMPORTO", 'N', 8, 2},
            {"PEZZI", 'N', 5, 0},
            {"NOTE", 'M', 10, 0},
            {"ATTIVO", 'L', 1, 0},
            {"NASCITA", 'D', 8, 0},
            {"NOME", 'C', 6, 0}},
           {{"   12.50", "    7", "          ", "T", "        ", "Anna  "}});
  {
    std::fstream f(Path("TIPI.DBF"), std::ios::in | std::ios::out | std::ios::binary);
    f.put(static_cast<char>(0x83));  // a table with a DBT memo file
  }
  std::string dbt(512, '\0');
  dbt[0] = 1;  // next free block
  std::ofstream(Path("TIPI.DBT"), std::ios::binary) << dbt;
  RunWithTable(ui_, Path("TIPI.DBF"), [&](TWBrowse& brw) {
    EXPECT_EQ(MKPICTURE(1), "99999.99");
    EXPECT_EQ(MKPICTURE(2), "99999");
    EXPECT_EQ(MKPICTURE(4), "@! L");
    EXPECT_EQ(MKPICTURE(6), std::nullopt);
    EXPECT_EQ(RowExpressionText(),
              "{ || { IF( STARRED( 1 ), '', STR( FIELDGET( 1 ) ) ), "
              "IF( STARRED( 2 ), '', STR( FIELDGET( 2 ) ) ), "
              "IF( FIELDGET( 3 ) == '', ' [    ] ', ' [Memo] ' ), "
              "IF( FIELDGET( 4 ), '.T.', '.F.' ), DTOCHR( FIELDGET( 5 ) ), FIELDGET( 6 ) } }");
    EXPECT_EQ(brw.columns().aHeaders,
              (std::vector<std::string>{"IMPORTO", "PEZZI", "NOTE", "ATTIVO", "NASCITA", "NOME"}));
    EXPECT_EQ(brw.columns().aJustify, (std::vector<bool>{true, true, false, false, false, false}));
    const std::vector<std::string> cells = brw.columns().bLine();
    ASSERT_EQ(cells.size(), 6u);
    EXPECT_EQ(cells[0], "   12.50");
    EXPECT_EQ(cells[3], ".T.");
    EXPECT_EQ(cells[2], " [    ] ");
    EXPECT_EQ(cells[4], "") << "an empty date shows nothing";
    EXPECT_EQ(cells[5], "Anna  ");
    // Width: the larger of header and measure (numbers 2 less) plus 7.
    EXPECT_EQ(brw.columns().aColSizes[0], 7 * 8 - 2 + 7);
    EXPECT_EQ(brw.columns().aColSizes[5], 7 * 6 + 7);
    EXPECT_EQ(brw.columns().aColSizes[4], 7 * 10 + 7);
  });
}

TEST_F(BrowseViewTest, EditingACellWritesItUnlessUnchangedOrLockedElsewhere) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    brw.set_nColAct(2);  // NOME
    DBGOTO(Value::Integer(3));
    brw.Refresh();

    // Unchanged: nothing written, no lock taken (a lock elsewhere does not matter).
    ASSERT_TRUE(DBUSEAREA(true, "", table, "ALTRO", true, false));
    DBGOTO(Value::Integer(3));
    ASSERT_TRUE(RLOCK());
    DBSELECTAREA("DBF");
    ui_.dialog_scripts.push_back([this](Dialog& d) { ui_.Press(d, kIdConferma); });
    EDCOL(&brw, 2);
    EXPECT_TRUE(ui_.messages.empty());

    // Changed while another holds the record lock: refused with the message.
    ui_.dialog_scripts.push_back(EditCell("Mario"));
    EDCOL(&brw, 2);
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "Il record risulta attualmente bloccato da un altro programma. "
                           "Impossibile modificarne il contenuto."}));
    EXPECT_EQ(FIELDGET(2).str(), "Cliente 3   ");

    // Lock released: written, committed, the lock dropped again.
    DBSELECTAREA("ALTRO");
    DBUNLOCK();
    DBCLOSEAREA();
    DBSELECTAREA("DBF");
    ui_.dialog_scripts.push_back(EditCell("Mario"));
    EDCOL(&brw, 2);
    EXPECT_EQ(FIELDGET(2).str(), "Mario       ");
    EXPECT_NE(ReadFile(table).find("Mario       Roma"), std::string::npos);
    EXPECT_FALSE(DBRECORDINFO(2).logical()) << "the record lock is released";

    // Numbers, logicals and dates through their pictures.
    ui_.dialog_scripts.push_back(EditCell("42"));
    EDCOL(&brw, 1);
    EXPECT_EQ(FIELDGET(1).number(), 42);
    ui_.dialog_scripts.push_back(EditCell("f"));
    EDCOL(&brw, 5);
    EXPECT_FALSE(FIELDGET(5).logical());
    ui_.messages.clear();
    ui_.dialog_scripts.push_back(EditCell("31022024"));  // no such day: the editor stays
    EDCOL(&brw, 4);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Data non valida.", "Annullo le modifiche?"}));
    EXPECT_EQ(ValueToText(FIELDGET(4)), "15/01/2024");

    // Past the last column: a beep.
    const int beeps = ui_.beeps;
    EDCOL(&brw, 6);
    EXPECT_EQ(ui_.beeps, beeps + 1);
  });
}

std::string Trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s.substr(std::min(s.find_first_not_of(' '), s.size()));
}

// Currency, Visual FoxPro variable-length text and nulls go through the cell editor: currency
// with its 4 decimals, a shorter text stored with its length (read back without padding), a
// null number edited from zero.
TEST_F(BrowseViewTest, CurrencyVariableLengthTextAndNullsAreEdited) {
  test::DbfImage img;
  img.version = 0x30;
  // Bits in field order: NOME's length bit 0, SCONTO's null bit 1.
  img.fields = {{"PREZZO", 'Y', 8, 4}, {"NOME", 'V', 10}, {"SCONTO", 'N', 3, 0, 0x02},
                {"_NullFlags", '0', 1, 0, 0x05}};
  img.records = {test::Record({test::Le64(123456), std::string("abc\0\0\0\0\0\0\3", 10),
                               "   ", std::string(1, '\x03')})};
  const std::string table = Path("PREZZI.DBF");
  std::ofstream(table, std::ios::binary) << img.Bytes();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    const std::vector<std::string> cells = brw.columns().bLine();
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(Trimmed(cells[0]), "12.3456");
    EXPECT_EQ(cells[1], "abc");
    EXPECT_EQ(Trimmed(cells[2]), ".NULL.");
    ui_.dialog_scripts.push_back(EditCell("42.5"));
    EDCOL(&brw, 1);
    ui_.dialog_scripts.push_back(EditCell("Luisa"));
    EDCOL(&brw, 2);
    ui_.dialog_scripts.push_back(EditCell("7"));
    EDCOL(&brw, 3);
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    EXPECT_EQ(FIELDGET(3).number(), 7);
    EXPECT_EQ(FIELDGET(1).number(), 42.5);
    EXPECT_EQ(FIELDGET(2).str(), "Luisa");
  });
  const std::string bytes = ReadFile(table);
  EXPECT_EQ(test::FieldBytes(bytes, 1, "PREZZO"), test::Le64(425000));
  EXPECT_EQ(test::FieldBytes(bytes, 1, "NOME"), std::string("Luisa\0\0\0\0\5", 10));
  EXPECT_EQ(test::FieldBytes(bytes, 1, "_NullFlags"), std::string(1, '\x01'));
}

// A Visual FoxPro autoincrement field is the table's own counter: Enter on it says so and opens
// no editor. A cell the grid cannot edit (binary bytes) says why instead of doing nothing.
TEST_F(BrowseViewTest, CellsThatCannotBeEditedSayWhy) {
  test::DbfImage img;
  img.version = 0x30;
  img.fields = {{"ID", 'I', 4, 0, 0x08, 2, 1}, {"NOME", 'C', 10}};
  img.records = {test::Record({test::Le32(1), "Mario     "})};
  const std::string table = Path("CONTATORE.DBF");
  std::ofstream(table, std::ios::binary) << img.Bytes();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    EDCOL(&brw, 1);
    EXPECT_TRUE(ui_.dialogs.empty()) << "no editor opened";
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text,
              Ansi("Il campo ID è il contatore automatico della tabella: non può essere "
                   "modificato."));
    EXPECT_EQ(FIELDGET(1).number(), 1);
  });
  ui_.messages.clear();
  ui_.main_windows = 0;
  const std::string real = VOSK_SOURCE_DIR "/../shared/fixtures/real/dbase_32.dbf";
  if (!std::filesystem::exists(real)) GTEST_SKIP() << "no shared fixtures";
  std::filesystem::copy_file(real, Path("DBASE_32.DBF"));
  RunWithTable(ui_, Path("DBASE_32.DBF"), [&](TWBrowse& brw) {
    // Its varchar field is flagged binary (the bytes are not text of a code page).
    EDCOL(&brw, 1);
    EXPECT_TRUE(ui_.dialogs.empty());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{Ansi(
                                  "Il campo NAME contiene dati binari: non può essere modificato "
                                  "nella griglia.")});
  });
}

TEST_F(BrowseViewTest, OemLetterShownAndEditedAsAnsiAndWrittenBackAsOem) {
  Ini("Codifica", "OEM");
  WriteDbf(Path("OEM.DBF"), {{"CITTA", 'C', 6, 0}}, {{"Cant\x85 "}});
  RunWithTable(ui_, Path("OEM.DBF"), [&](TWBrowse& brw) {
    EXPECT_EQ(brw.columns().bLine()[0], "Cant\xE0 ");  // à in ANSI
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      EXPECT_EQ(CTL(d, "uValue")->get->text(), "Cant\xE0");
      ScriptedUi::Type(d, "uValue", "Forl\xEC");  // ì typed
      ui_.Press(d, kIdConferma);
    });
    EDCOL(&brw, 1);
    EXPECT_EQ(FIELDGET(1).str(), "Forl\x8D ");  // ì in OEM
    // A character CP850 cannot store is refused, never stored as something else.
    ui_.dialog_scripts.push_back(EditCell("\x80uro"));  // the euro sign
    EDCOL(&brw, 1);
    EXPECT_EQ(FIELDGET(1).str(), "Forl\x8D ");
    EXPECT_EQ(ui_.messages.size(), 1u);
  });
  EXPECT_NE(ReadFile(Path("OEM.DBF")).find("Forl\x8D "), std::string::npos);
}

// A table that names its code page is shown and edited in it, whatever the ANSI/OEM switch
// says; the status bar names the code page. Letters the window cannot edit, and typed letters
// the table cannot store, are refused with a message and nothing written.
TEST_F(BrowseViewTest, MarkedTableIsShownAndEditedInItsOwnCodePage) {
  Ini("Codifica", "OEM");  // applies to tables without a mark only
  WriteDbf(Path("MOSCA.DBF"), {{"CITTA", 'C', 6, 0}, {"NOTE", 'C', 6, 0}},
           {{"\xCC\xEE\xF1\xEA\xE2\xE0", "Roma  "}});  // Москва in Windows-1251
  {
    std::string bytes = ReadFile(Path("MOSCA.DBF"));
    bytes[29] = static_cast<char>(CodepageMark(Codepage::kCp1251));
    std::ofstream(Path("MOSCA.DBF"), std::ios::binary) << bytes;
  }
  RunWithTable(ui_, Path("MOSCA.DBF"), [&](TWBrowse& brw) {
    EXPECT_EQ(brw.columns().bLine()[0], "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0");
    EXPECT_EQ(CodepageItemText(), "CP1251");
    // The Cyrillic cell cannot be edited as Windows-1252 text: told, nothing opened.
    EDCOL(&brw, 1);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].text.find("CP1251"), std::string::npos);
    // A letter typed that Windows-1251 lacks is refused; plain text is stored.
    ui_.dialog_scripts.push_back(EditCell("Forl\xEC"));
    EDCOL(&brw, 2);
    EXPECT_EQ(ui_.messages.size(), 2u);
    EXPECT_EQ(FIELDGET(2).str(), "Roma  ");
    ui_.dialog_scripts.push_back(EditCell("Kiev"));
    EDCOL(&brw, 2);
    EXPECT_EQ(FIELDGET(2).str(), "Kiev  ");
  });
  EXPECT_NE(ReadFile(Path("MOSCA.DBF")).find("\xCC\xEE\xF1\xEA\xE2\xE0Kiev  "), std::string::npos);
}

// A number field filled with asterisks (an overflow, or a null as some programs write it) shows
// empty in the grid; a blank one shows its value 0, as before.
TEST_F(BrowseViewTest, NumberFilledWithAsterisksShowsEmpty) {
  WriteDbf(Path("STELLE.DBF"), {{"QTA", 'N', 5, 0}, {"PREZZO", 'N', 6, 2}},
           {{"*****", "******"}, {"     ", "  1.50"}});
  RunWithTable(ui_, Path("STELLE.DBF"), [&](TWBrowse& brw) {
    std::vector<std::string> line = brw.columns().bLine();
    EXPECT_EQ(line[0], "");
    EXPECT_EQ(line[1], "");
    EXPECT_EQ(FIELDGET(1).number(), 0) << "its value is still 0";
    DBSKIP(1);
    line = brw.columns().bLine();
    EXPECT_EQ(Trimmed(line[0]), "0");
    EXPECT_EQ(Trimmed(line[1]), "1.50");
  });
}

TEST_F(BrowseViewTest, GoToRecordFindsVisibleRecordsOnly) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ui_.dialog_scripts.push_back(TypeAndConfirm("nRec", "7"));
    VAIALREC(&brw);
    EXPECT_EQ(RECNO(), 7u);
    EXPECT_EQ(brw.VScrollPos(), 7u);

    DBGOTO(Value::Integer(4));
    ASSERT_TRUE(RLOCK());
    DBDELETE();
    DBCOMMIT();
    DBUNLOCK();
    // Deleted records are shown (DELETED is off in the program) in their own colours.
    DBGOTO(Value::Integer(4));
    brw.Refresh();
    const std::vector<TWBrowse::Row> rows = brw.VisibleRows();
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(rows[3].pane, 0xFFA0A0u);
    EXPECT_EQ(rows[3].back_focus, 0x800000u);
    EXPECT_TRUE(rows[3].cursor);
    EXPECT_EQ(rows[2].pane, std::nullopt);
    SET(kSetDeleted, Value::Logical(true));
    DBGOTO(Value::Integer(7));
    for (const char* wanted : {"4", "99"}) {  // hidden, and beyond the end
      ui_.dialog_scripts.push_back(TypeAndConfirm("nRec", wanted));
      VAIALREC(&brw);
      EXPECT_EQ(RECNO(), 7u);
    }
    ui_.dialog_scripts.push_back(TypeAndConfirm("nRec", "0"));  // zero is not valid
    VAIALREC(&brw);
    // The dialog closes without asking, even after typing (a script that leaves it open closes
    // it as Esc does).
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Record 4 non trovato.", "Record 99 non trovato.",
                                                 "Campo non valido: RecNo."}));
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Type(d, "nRec", "5");
      EXPECT_TRUE(ui_.Press(d, 0)) << "Esc closes at once";
    });
    VAIALREC(&brw);
    EXPECT_EQ(RECNO(), 7u);
    EXPECT_EQ(ui_.messages.size(), 3u);
  });
}

TEST_F(BrowseViewTest, ColumnSearchDoesNotWrap) {
  const std::string table = MakeClienti();  // CODICE NOME CITTA DATA ATTIVO
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ui_.dialog_scripts.push_back(TypeAndConfirm("cCam", "a"));  // upper-cased: "A"
    CERCACOL(&brw);
    EXPECT_EQ(CurTable().cColSearch, "A");
    EXPECT_EQ(brw.nColAct(), 3);  // CITTA
    CERCACOL(&brw, false);
    EXPECT_EQ(brw.nColAct(), 4);  // DATA
    CERCACOL(&brw, false);
    EXPECT_EQ(brw.nColAct(), 5);  // ATTIVO
    CERCACOL(&brw, false);        // after the last match: not found, no wrap
    EXPECT_EQ(brw.nColAct(), 5);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Campo A non trovato."}));

    CurTable().aFieldVis = {true, true, false, false, false};
    CurTable().aViewCols = {1, 2};
    REBUILDBRW(&brw, false);
    ui_.dialog_scripts.push_back(TypeAndConfirm("cCam", "citta"));
    CERCACOL(&brw);
    EXPECT_EQ(ui_.messages.back().text, "Campo CITTA non trovato nella vista corrente.");
    ui_.dialog_scripts.push_back(TypeAndConfirm("cCam", "  "));  // empty is not valid
    CERCACOL(&brw);
    EXPECT_EQ(ui_.messages.back().text, "Campo non valido: Nome colonna.")
        << "and no question on closing";
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Type(d, "cCam", "NOME");
      EXPECT_TRUE(ui_.Press(d, 0)) << "Esc closes at once";
    });
    const size_t shown = ui_.messages.size();
    CERCACOL(&brw);
    EXPECT_EQ(ui_.messages.size(), shown);
    EXPECT_EQ(CurTable().cColSearch, "CITTA");
  });
}

TEST_F(BrowseViewTest, ColumnChooserStartsEmptyWithAllShownAndNeedsOneField) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      EXPECT_EQ(d.controls[0].marks, std::vector<bool>(5, false));
      EXPECT_EQ(d.controls[0].items[1], "NOME\tCarattere\t12\t0");
      EXPECT_FALSE(ui_.Tool(d, 1)) << "OK with nothing selected does nothing";
      CAMBIAVIS(d, 2);
      CAMBIAVIS(d, 4);
      EXPECT_TRUE(ui_.Tool(d, 1));
    });
    VISTACOL(&brw);
    EXPECT_EQ(CurTable().aViewCols, (std::vector<int>{2, 4}));
    EXPECT_EQ(brw.columns().aHeaders, (std::vector<std::string>{"NOME", "DATA"}));
    EXPECT_EQ(brw.columns().bLine().size(), 2u);

    // Some hidden: the chooser starts from the selection. Cancel after a toggle asks; No
    // keeps it open. "Tutti" selects every field, then OK.
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      EXPECT_EQ(d.controls[0].marks, (std::vector<bool>{false, true, false, true, false}));
      CAMBIAVIS(d, 1);
      ui_.answers = {kButtonNo};
      EXPECT_FALSE(ui_.Tool(d, 2));
      EXPECT_EQ(ui_.messages.back().text, "Annullo le modifiche?");
      EXPECT_FALSE(ui_.Tool(d, 3));
      EXPECT_TRUE(ui_.Tool(d, 1));
    });
    VISTACOL(&brw);
    EXPECT_EQ(CurTable().aViewCols, (std::vector<int>{1, 2, 3, 4, 5}));
  });
}

TEST_F(BrowseViewTest, KeyboardMapAndContextMenu) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    CurTable().aFieldVis = {true, false, true, false, true};
    CurTable().aViewCols = {1, 3, 5};
    REBUILDBRW(&brw, false);
    EXPECT_TRUE(TASTI(&brw, kVkF12, false));
    EXPECT_EQ(brw.nColAct(), 3);
    EXPECT_EQ(brw.HScrollPos(), 3);
    EXPECT_EQ(ui_.status_text.substr(0, 10), "Campo: 5/5");
    EXPECT_TRUE(TASTI(&brw, kVkF11, false));
    EXPECT_EQ(brw.nColAct(), 1);

    EXPECT_FALSE(TASTI(&brw, kVkEscape, false)) << "Esc closes only with the switch";
    Ini("Esc", "Si");
    EXPECT_TRUE(TASTI(&brw, kVkEscape, false));
    EXPECT_EQ(ui_.closes, 1);
    EXPECT_FALSE(TASTI(&brw, 'R', false));
    EXPECT_FALSE(TASTI(&brw, kVkDown, false)) << "navigation is the grid's";
    EXPECT_TRUE(TASTI(&brw, kVkOemPlus, true));
    EXPECT_EQ(ui_.instances, (std::vector<std::string>{table}));

    ui_.popup_choice = Action::kUltimaColonna;
    RMENU(&brw, 40, 30);
    EXPECT_EQ(brw.nColAct(), 3);
    ASSERT_EQ(ui_.popups.size(), 1u);
    const std::vector<MenuItem>& items = ui_.popups[0];
    EXPECT_EQ(items.front().prompt, "Nuovo record");
    EXPECT_EQ(items.back().prompt, "Informazioni");
    const auto driver = std::find_if(items.begin(), items.end(), [](const MenuItem& m) {
      return m.prompt == "Driver di database";
    });
    ASSERT_NE(driver, items.end());
    EXPECT_EQ(driver->submenu.size(), 8u);
  });
}

// Tables written by other programs, copied beside the test (skipped when they are absent).
class RealTablesTest : public BrowseViewTest {
 protected:
  // Copies the table and its memo file.
  bool CopyReal(const std::string& name) {
    const std::string dir = VOSK_SOURCE_DIR "/../shared/fixtures/real/";
    if (!std::filesystem::exists(dir + name)) return false;
    const std::string base = name.substr(0, name.rfind('.'));
    for (const char* ext : {".dbf", ".dbt", ".fpt", ".FPT", ".DBT"}) {
      if (std::filesystem::exists(dir + base + ext)) {
        std::filesystem::copy_file(dir + base + ext, Path(base + ext));
      }
    }
    return true;
  }
};

TEST_F(RealTablesTest, EveryFieldTypeTheEngineReadsShowsItsValue) {
  struct Case {
    const char* table;
    int column;           // 1-based, among all fields
    const char* text;     // the cell of the first record, blanks trimmed
    bool right;           // right-aligned
  } cases[] = {
      {"dbase_31.dbf", 1, "1", true},            // I
      {"dbase_31.dbf", 6, "18.0000", true},      // Y: currency with 4 decimals
      {"dbase_31.dbf", 7, "39", true},           // I
      {"dbase_31.dbf", 2, "Chai", false},        // C
      {"dbase_8b.dbf", 5, "1.234567890123460000", true},  // F 20.18
      {"contacts.dbf", 21, "2", true},           // I
      {"dbase_32.dbf", 1, "Bad Meets Evil", false},  // V: variable-length text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " column " + std::to_string(c.column));
    if (!std::filesystem::exists(Path(c.table)) && !CopyReal(c.table)) {
      GTEST_SKIP() << "no real-world tables beside the source tree";
    }
    ui_.main_windows = 0;
    ui_.messages.clear();
    RunWithTable(ui_, Path(c.table), [&](TWBrowse& brw) {
      DBGOTOP();
      const std::vector<std::string> cells = brw.columns().bLine();
      ASSERT_GE(cells.size(), static_cast<size_t>(c.column));
      EXPECT_EQ(Trimmed(cells[c.column - 1]), c.text);
      EXPECT_EQ(brw.columns().aJustify[c.column - 1], c.right);
      EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    });
  }
}

TEST_F(BrowseViewTest, LineBreaksShowAsMarksAndWideColumnsStartNarrow) {
  WriteDbf(Path("NOTE.DBF"), {{"RIGHE", 'C', 254, 0}, {"N", 'N', 3, 0}},
           {{std::string("uno\r\ndue\rtre\nquattro") + std::string(254 - 19, ' '), "  1"}});
  RunWithTable(ui_, Path("NOTE.DBF"), [&](TWBrowse& brw) {
    const std::vector<std::string> cells = brw.columns().bLine();
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(Trimmed(cells[0]), "uno\xB6" "due\xB6tre\xB6quattro");
    // About 40 characters at first (7 pixels each in the headless grid), not 254.
    EXPECT_EQ(brw.columns().aColSizes[0], 7 * 40 + 7);
  });
}

TEST_F(BrowseViewTest, AReadOnlyTableRefusesEveryChange) {
  const std::string table = MakeClienti();
  ui_.on_main_window = [&] {
    TWBrowse brw("DBF");
    InstallBrowseHandlers(&brw);
    REBUILDBRW(&brw);
    brw.set_row_count(10);
    brw.Stabilize(false);
    CurTable().lReadOnly = true;
    DBUSEAREA(false, "", table, "DBF", true, true);  // as a read-only open leaves it
    REBUILDBRW(&brw);
    ui_.messages.clear();
    for (int column : {1, 2}) EDCOL(&brw, column);
    EXPECT_TRUE(ui_.dialogs.empty()) << "no editor opens";
    ASSERT_EQ(ui_.messages.size(), 2u);
    EXPECT_EQ(ui_.messages[0].text, "La tabella " + table +
                                        Ansi(" è aperta in sola lettura: impossibile modificarla."));
  };
  MAIN(table);
  EXPECT_EQ(ui_.main_windows, 1);
}

TEST_F(BrowseViewTest, BinaryCharacterDataShowsInHexadecimalUnlessItIsText) {
  // A Visual FoxPro table with two binary character fields (flag 0x04, set in the file) and a
  // plain one.
  DbfDriverSettings& settings = FindDriver(RDDSETDEFAULT())->settings();
  settings.table_kind = 2;
  auto field = [](const char* name, int flags) {
    return Value::Array({Value::String(name), Value::String("C"), Value::Integer(4),
                         Value::Integer(0), Value::Integer(flags)});
  };
  const bool created =
      DBCREATE(Path("BIN.DBF"), {field("DATI", 4), field("SIGLA", 4), field("NOME", 0)}, "",
               true, "MK");
  settings.table_kind = 1;
  ASSERT_TRUE(created);
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String(std::string("\x01\x00" "AB", 4)));
  FIELDPUT(2, Value::String("ROMA"));
  FIELDPUT(3, Value::String(std::string("\x01\x00" "AB", 4)));
  DBCOMMIT();
  DBCLOSEAREA();
  {
    std::fstream f(Path("BIN.DBF"), std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_EQ(f.get(), 0x30) << "a Visual FoxPro table";
    for (int descriptor : {0, 1}) {  // the field flags byte: binary
      f.seekp(32 + 32 * descriptor + 18);
      f.put('\x04');
    }
  }
  RunWithTable(ui_, Path("BIN.DBF"), [&](TWBrowse& brw) {
    const std::vector<std::string> cells = brw.columns().bLine();
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0], "01004142");
    EXPECT_EQ(cells[1], "ROMA") << "binary data that is plain text shows as text";
    EXPECT_EQ(cells[2], std::string("\x01\x00" "AB", 4)) << "not binary: as it is";
  });
}

}  // namespace
}  // namespace vosk
