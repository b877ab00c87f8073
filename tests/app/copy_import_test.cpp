// Copy table, import records, password and program information through the scripted Ui: the
// copy dialog's rules, a copy in key order with condition and unique, structure only, every
// target format read back by a second reader (python3-dbfread, Python's csv and zipfile, the
// sqlite3 shell), imports from SDF, DBF and SQLite sources, the refusals, and an enciphered
// table read without and with its password.

#include "app/copy_import.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/main_menu.h"
#include "app/open_table.h"
#include "app/order_info.h"
#include "app/password.h"
#include "app/program_info.h"
#include "app/restructure.h"
#include "app/sort_filter.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/rdd_fixture.h"
#include "support/dbf_image.h"
#include "transfer/register.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

using Script = std::function<void(Dialog&)>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The standard output of a shell command (a second reader of a written file).
std::string Output(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

std::string Memo(Dialog& dlg, const char* name) {
  const Value& v = CTL(dlg, name)->value;
  return v.is_string() ? v.str() : "";
}

// NOME C 8, ETA N 3, ATTIVO L 1: names that differ only in letter case.
const std::vector<std::vector<std::string>> kRows = {
    {"rosa    ", " 40", "T"}, {"Marco   ", " 31", "F"}, {"ROSA    ", " 25", "T"},
    {"anna    ", " 52", "T"}, {"marco   ", " 18", "F"},
};

class CopyImportTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    RegisterTransferDrivers();
    Ini("RDD", "DBFNTX");
    table_ = Path("PERSONE.DBF");
    WriteDbf(table_, {{"NOME", 'C', 8, 0}, {"ETA", 'N', 3, 0}, {"ATTIVO", 'L', 1, 0}}, kRows);
  }
  // Runs COPIATAB on the open table with the target `file` and the dialog `script`.
  void Copy(const std::string& file, Script script) {
    ui_.file_results = {file};
    ui_.dialog_scripts = {std::move(script)};
    COPIATAB();
  }
  // The NOME of every record of a DBF file.
  static std::vector<std::string> Names(const std::string& path) {
    const std::string bytes = ReadFile(path);
    const test::ParsedDbf dbf = test::ParseDbf(bytes);
    std::vector<std::string> out;
    for (uint32_t r = 1; r <= dbf.header_count; ++r) {
      out.push_back(test::FieldBytes(bytes, r, "NOME"));
    }
    return out;
  }
  // The NOME of every record of the open table, in record order.
  static std::vector<std::string> TableNames() {
    std::vector<std::string> out;
    for (uint32_t r = 1; r <= LASTREC(); ++r) {
      DBGOTO(Value::Integer(r));
      out.push_back(FIELDGET(1).str());
    }
    return out;
  }

  std::string table_;
};

TEST_F(CopyImportTest, SdfTargetTakesTheTxtExtensionAndFixedWidthLines) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    Copy(Path("COPIA"), [&](Dialog& dlg) {
      EXPECT_EQ(Memo(dlg, "cDbf"), Path("COPIA.DBF"));
      ScriptedUi::Choose(dlg, "cFmt", "SDF");
      EXPECT_EQ(Memo(dlg, "cDbf"), Path("COPIA.TXT"));
      ScriptedUi::Choose(dlg, "cFmt", "DBF");
      EXPECT_EQ(Memo(dlg, "cDbf"), Path("COPIA.DBF"));
      ScriptedUi::Choose(dlg, "cFmt", "SDF");
      ui_.Press(dlg, kIdConferma);
    });
  });
  EXPECT_EQ(ReadFile(Path("COPIA.TXT")),
            "rosa     40T\r\nMarco    31F\r\nROSA     25T\r\nanna     52T\r\nmarco    18F\r\n\x1A");
  EXPECT_FALSE(std::filesystem::exists(Path("COPIA.DBF")));
  EXPECT_EQ(ui_.progress.front(), "open:Copia tabella in corso...|Attenzione");
  EXPECT_EQ(ui_.progress.back(), "close");
}

TEST_F(CopyImportTest, DialogRulesFollowConditionKeyAndFormat) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    Copy(Path("X.DBF"), [&](Dialog& dlg) {
      EXPECT_TRUE(CTL(dlg, "cDbf")->disabled);
      EXPECT_FALSE(CTL(dlg, "lUni")->Enabled()) << "no key";
      EXPECT_TRUE(CTL(dlg, "lStr")->Enabled());
      ScriptedUi::SetMemo(dlg, "cKey", "UPPER(NOME)");
      EXPECT_TRUE(ScriptedUi::SetCheck(dlg, "lUni", true));
      EXPECT_FALSE(CTL(dlg, "lStr")->Enabled()) << "a key";
      ScriptedUi::SetMemo(dlg, "cKey", "");
      EXPECT_FALSE(CTL(dlg, "lUni")->value.logical()) << "an empty key clears Unique";
      ScriptedUi::SetMemo(dlg, "cFor", "ETA > 20");
      EXPECT_FALSE(CTL(dlg, "lStr")->Enabled()) << "a condition";
      ScriptedUi::SetMemo(dlg, "cFor", "");
      ScriptedUi::Choose(dlg, "cFmt", "CSV");
      EXPECT_FALSE(CTL(dlg, "lStr")->Enabled()) << "structure only is for DBF";
      ScriptedUi::Choose(dlg, "cFmt", "DBF");
      EXPECT_TRUE(ScriptedUi::SetCheck(dlg, "lStr", true));
      EXPECT_FALSE(CTL(dlg, "cFmt")->Enabled()) << "the format stays DBF";
      // A condition or a key that cannot serve keeps the dialog open.
      ScriptedUi::SetCheck(dlg, "lStr", false);
      ScriptedUi::SetMemo(dlg, "cFor", "NOME");
      EXPECT_FALSE(ui_.Press(dlg, kIdConferma)) << "not a logical condition";
      ScriptedUi::SetMemo(dlg, "cFor", "");
      ScriptedUi::SetMemo(dlg, "cKey", "NOSUCH");
      EXPECT_FALSE(ui_.Press(dlg, kIdConferma));
      ui_.answers = {kButtonYes};
      ui_.Press(dlg, kIdAnnulla);
    });
  });
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{
                "La condizione deve dare un valore logico (.T. o .F.), non di tipo carattere.",
                "Campo inesistente: NOSUCH.", "Annullo le modifiche?"}));
  EXPECT_FALSE(std::filesystem::exists(Path("X.DBF")));
}

TEST_F(CopyImportTest, StructureOnlyWritesAnEmptyTableOfTheSameFields) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    Copy(Path("VUOTA.DBF"), [&](Dialog& dlg) {
      ScriptedUi::SetCheck(dlg, "lStr", true);
      ui_.Press(dlg, kIdConferma);
    });
  });
  const std::string copy = ReadFile(Path("VUOTA.DBF"));
  const test::ParsedDbf dbf = test::ParseDbf(copy);
  const test::ParsedDbf source = test::ParseDbf(ReadFile(table_));
  EXPECT_EQ(dbf.header_count, 0u);
  ASSERT_EQ(dbf.fields.size(), source.fields.size());
  for (size_t i = 0; i < dbf.fields.size(); ++i) {
    EXPECT_EQ(dbf.fields[i].name, source.fields[i].name);
    EXPECT_EQ(dbf.fields[i].type, source.fields[i].type);
    EXPECT_EQ(dbf.fields[i].length, source.fields[i].length);
  }
  EXPECT_EQ(Output("/usr/bin/python3 -c \"import dbfread; t = dbfread.DBF('" + Path("VUOTA.DBF") +
                   "'); print(len(list(t)), t.field_names)\""),
            "0 ['NOME', 'ETA', 'ATTIVO']\n");
}

TEST_F(CopyImportTest, UniqueUpperKeyCopiesOneRecordPerNameInNameOrder) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    DBGOTO(Value::Integer(3));
    Copy(Path("UNICI.DBF"), [&](Dialog& dlg) {
      ScriptedUi::SetMemo(dlg, "cKey", "UPPER(NOME)");
      ScriptedUi::SetCheck(dlg, "lUni", true);
      ui_.Press(dlg, kIdConferma);
    });
    // The browse's own area, order and record are as they were.
    EXPECT_EQ(ALIAS(), "DBF");
    EXPECT_EQ(RECNO(), 3u);
    EXPECT_FALSE(OrderControls());
  });
  EXPECT_EQ(Names(Path("UNICI.DBF")),
            (std::vector<std::string>{"anna    ", "Marco   ", "rosa    "}));
}

TEST_F(CopyImportTest, TheViewsOrderIsOfferedAndAnEmptyKeyCopiesInRecordOrder) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      ScriptedUi::SetMemo(dlg, "cFor", "ETA > 20");
      ScriptedUi::SetMemo(dlg, "cKey", "UPPER(NOME)");
      ui_.Press(dlg, kIdConferma);
    }};
    FILTRA(&brw);
    Copy(Path("ORDINE.DBF"), [&](Dialog& dlg) {
      EXPECT_EQ(UpperCase(Memo(dlg, "cFor")), "ETA > 20");
      EXPECT_EQ(UpperCase(Memo(dlg, "cKey")), "UPPER(NOME)");
      ui_.Press(dlg, kIdConferma);
    });
    Copy(Path("FISICO.DBF"), [&](Dialog& dlg) {
      ScriptedUi::SetMemo(dlg, "cKey", "");
      ui_.Press(dlg, kIdConferma);
    });
    EXPECT_TRUE(OrderControls()) << "the filter's order stays the browse's";
  });
  EXPECT_EQ(Names(Path("ORDINE.DBF")),
            (std::vector<std::string>{"anna    ", "Marco   ", "rosa    ", "ROSA    "}));
  EXPECT_EQ(Names(Path("FISICO.DBF")),
            (std::vector<std::string>{"rosa    ", "Marco   ", "ROSA    ", "anna    "}));
}

TEST_F(CopyImportTest, RefusesTheOpenTableAndAsksBeforeReplacing) {
  WriteDbf(Path("ALTRA.DBF"), {{"X", 'C', 1, 0}}, {{"x"}});
  const std::string altra = ReadFile(Path("ALTRA.DBF"));
  std::ofstream(Path("NUOVA.TXT")) << "keep";
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    ui_.file_results = {Path("persone.dbf")};
    COPIATAB();
    ui_.answers = {kButtonCancel};
    ui_.file_results = {Path("ALTRA.DBF")};
    COPIATAB();
    // The format's extension leads to an existing file: asked again, the dialog comes back
    // with what was entered.
    ui_.answers = {kButtonCancel, kButtonYes};
    ui_.file_results = {Path("NUOVA")};
    ui_.dialog_scripts = {[&](Dialog& dlg) {
                            ScriptedUi::Choose(dlg, "cFmt", "SDF");
                            ui_.Press(dlg, kIdConferma);
                          },
                          [&](Dialog& dlg) {
                            EXPECT_EQ(Memo(dlg, "cFmt"), "SDF");
                            ui_.Press(dlg, kIdAnnulla);
                          }};
    COPIATAB();
  });
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{Ansi("Impossibile copiare una tabella su sé stessa."),
                                      "Sostituire il file esistente?",
                                      "Sostituire il file esistente?",
                                      "Annullo le modifiche?"}));
  EXPECT_EQ(ui_.dialogs, (std::vector<std::string>{"COPIATAB|Copia tabella",
                                                   "COPIATAB|Copia tabella"}));
  EXPECT_EQ(ReadFile(Path("ALTRA.DBF")), altra);
  EXPECT_EQ(ReadFile(Path("NUOVA.TXT")), "keep");
}

// Each format's file, read by a reader that is not this program.
TEST_F(CopyImportTest, EveryFormatWritesAFileThatASecondReaderAccepts) {
  struct Case {
    const char* format;
    const char* file;
    std::string reader;  // prints the names of the rows, one a line
  };
  const std::string py = "/usr/bin/python3 -c ";
  const std::vector<Case> cases = {
      {"DBF", "A.DBF",
       py + "\"import dbfread\nfor r in dbfread.DBF('A.DBF'): print(r['NOME'].strip())\""},
      {"CSV", "B.CSV",
       py + "\"import csv\nfor r in csv.DictReader(open('B.CSV', newline='', encoding='utf-8-sig')): "
            "print(r['NOME'].strip())\""},
      {"SQLite", "C.SQLITE", "sqlite3 C.SQLITE 'SELECT trim(NOME) FROM PERSONE ORDER BY rowid'"},
      {"XLSX", "D.XLSX",
       py + "\"import zipfile, re\nz = zipfile.ZipFile('D.XLSX')\n"
            "assert z.testzip() is None\n"
            "t = z.read('xl/worksheets/sheet1.xml').decode()\n"
            "for r in range(2, 9):\n"
            "  c = re.search('<c r=.A%d.[^>]*>(.*?)</c>' % r, t)\n"
            "  c and print(re.sub('<[^>]+>', '', c.group(1)).strip())\""},
  };
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    for (const Case& c : cases) {
      Copy(Path(std::string(c.file, 1)), [&](Dialog& dlg) {
        ScriptedUi::Choose(dlg, "cFmt", c.format);
        ScriptedUi::SetMemo(dlg, "cFor", "ETA > 20");
        ui_.Press(dlg, kIdConferma);
      });
    }
  });
  for (const Case& c : cases) {
    EXPECT_TRUE(std::filesystem::exists(Path(c.file))) << c.format;
    EXPECT_EQ(Output("cd " + dir_ + " && " + c.reader), "rosa\nMarco\nROSA\nanna\n") << c.format;
  }
  EXPECT_TRUE(MessageTexts().empty());
}

// Deleted records are left out of a CSV, SQLite or XLSX copy unless the dialog asks for them;
// then a _DELETED column marks them.
TEST_F(CopyImportTest, DeletedRecordsGoToATextCopyOnlyWhenAskedFor) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    DBGOTO(Value::Integer(2));
    ASSERT_TRUE(RLOCK());
    DBDELETE();
    DBCOMMIT();
    DBUNLOCK();
    for (const bool every : {false, true}) {
      Copy(Path(every ? "OGNI" : "VIVI"), [&](Dialog& dlg) {
        EXPECT_FALSE(CTL(dlg, "lDel")->Enabled()) << "a DBF copy keeps them, deleted";
        ScriptedUi::Choose(dlg, "cFmt", "CSV");
        EXPECT_TRUE(ScriptedUi::SetCheck(dlg, "lDel", every));
        ui_.Press(dlg, kIdConferma);
      });
    }
  });
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(ReadFile(Path("VIVI.CSV")),
            bom + "NOME,ETA,ATTIVO\r\nrosa,40,T\r\nROSA,25,T\r\nanna,52,T\r\nmarco,18,F\r\n");
  EXPECT_EQ(ReadFile(Path("OGNI.CSV")),
            bom + "_DELETED,NOME,ETA,ATTIVO\r\n,rosa,40,T\r\n*,Marco,31,F\r\n,ROSA,25,T\r\n"
                  ",anna,52,T\r\n,marco,18,F\r\n");
}

TEST_F(CopyImportTest, ImportOfShortSdfLinesFillsTheMissingFieldsWithBlanks) {
  std::ofstream(Path("IN.TXT"), std::ios::binary) << "gino     33T\r\nlia\r\n\x1A";
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.file_results = {Path("IN")};
    ui_.file_filter = 2;  // "File SDF (*.TXT)"
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      EXPECT_EQ(Memo(dlg, "cDbf"), Path("IN.TXT"));
      ui_.Press(dlg, kIdConferma);
    }};
    IMPORTAREC(&brw);
    ASSERT_EQ(LASTREC(), 7u);
    DBGOTO(Value::Integer(6));
    EXPECT_EQ(FIELDGET(1).str(), "gino    ");
    EXPECT_EQ(FIELDGET(2).number(), 33);
    EXPECT_TRUE(FIELDGET(3).logical());
    DBGOTO(Value::Integer(7));
    EXPECT_EQ(FIELDGET(1).str(), "lia     ");
    EXPECT_EQ(FIELDGET(2).number(), 0);
    EXPECT_FALSE(FIELDGET(3).logical());
  });
  EXPECT_EQ(ui_.file_dialogs.at(0).title, "Importa record da...");
  EXPECT_EQ(ui_.progress.front(), "open:Importazione record in corso...|Attenzione");
}

// An unmarked table read in the DOS code page ("Codifica OEM"): its letters cross every copy,
// import and restructure as letters, read back by readers that are not this program.
TEST_F(CopyImportTest, AnOemTableCrossesEveryTransferAsItsLetters) {
  Ini("Codifica", "OEM");
  const std::string table = Path("CITTA.DBF");
  // Città, Perché, Forlì in CP850 bytes.
  WriteDbf(table, {{"NOME", 'C', 8, 0}},
           {{"Citt\x85   "}, {"Perch\x82  "}, {"Forl\x8d   "}});
  std::ofstream(Path("IN.CSV"), std::ios::binary) << "NOME\r\nGi\xc3\xb9\r\n";  // Giù
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    for (const char* format : {"DBF", "CSV", "SQLite"}) {
      Copy(Path(std::string("COPIA_") + format), [&](Dialog& dlg) {
        ScriptedUi::Choose(dlg, "cFmt", format);
        ui_.Press(dlg, kIdConferma);
      });
    }
    ui_.file_results = {Path("IN.CSV")};
    ui_.dialog_scripts = {[&](Dialog& dlg) { ui_.Press(dlg, kIdConferma); }};
    IMPORTAREC(&brw);
    ASSERT_EQ(LASTREC(), 4u);
    DBGOTO(Value::Integer(4));
    EXPECT_EQ(FIELDGET(1).str(), "Gi\x97     ");
    // The restructured table is marked with the code page of its bytes.
    MODITAB(Structure({{"NOME", "C", 10, 0}}));
  });
  const std::string letters = "Citt\xc3\xa0\nPerch\xc3\xa9\nForl\xc3\xac\n";
  const std::string py = "cd " + dir_ + " && /usr/bin/python3 -c ";
  EXPECT_EQ(Output(py + "\"import dbfread\nfor r in dbfread.DBF('COPIA_DBF.DBF'): "
                        "print(r['NOME'].strip())\""),
            letters);
  EXPECT_EQ(Output(py + "\"import csv\nfor r in csv.DictReader(open('COPIA_CSV.CSV', "
                        "newline='', encoding='utf-8-sig')): print(r['NOME'].strip())\""),
            letters);
  EXPECT_EQ(ReadFile(Path("COPIA_CSV.CSV")).substr(0, 3), "\xEF\xBB\xBF") << "the byte-order mark";
  EXPECT_EQ(Output("sqlite3 " + Path("COPIA_SQLite.SQLITE") + " 'SELECT trim(NOME) FROM CITTA'"),
            letters);
  EXPECT_EQ(Output(py + "\"import dbfread\nfor r in dbfread.DBF('CITTA.DBF'): "
                        "print(r['NOME'].strip())\""),
            letters + "Gi\xc3\xb9\n");
  EXPECT_TRUE(MessageTexts().empty()) << MessageTexts().front();
}

// A record whose store failed stays, deleted; a value an SDF field cannot hold is left blank
// and told with its line.
TEST_F(CopyImportTest, ImportMarksAFailedRecordDeletedAndBlanksBadSdfValues) {
  WriteDbf(Path("LARGHI.DBF"), {{"NOME", 'C', 8, 0}, {"ETA", 'N', 5, 0}},
           {{"ugo     ", "   70"}, {"eva     ", "12345"}, {"ivo     ", "   90"}});
  std::ofstream(Path("IN.TXT"), std::ios::binary) << "gino    abcT\r\nlia       7F\r\n\x1A";
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.file_results = {Path("LARGHI.DBF")};
    ui_.dialog_scripts = {[&](Dialog& dlg) { ui_.Press(dlg, kIdConferma); }};
    IMPORTAREC(&brw);
    ASSERT_EQ(LASTREC(), 7u) << "ugo, then eva, whose age does not fit";
    DBGOTO(Value::Integer(7));
    EXPECT_EQ(FIELDGET(1).str(), "eva     ");
    EXPECT_TRUE(DELETED());
    DBGOTO(Value::Integer(6));
    EXPECT_FALSE(DELETED());

    ui_.file_results = {Path("IN.TXT")};
    ui_.dialog_scripts = {[&](Dialog& dlg) { ui_.Press(dlg, kIdConferma); }};
    IMPORTAREC(&brw);
    ASSERT_EQ(LASTREC(), 9u);
    DBGOTO(Value::Integer(8));
    EXPECT_EQ(FIELDGET(1).str(), "gino    ");
    EXPECT_EQ(FIELDGET(2).number(), 0);
    EXPECT_TRUE(FIELDGET(3).logical());
    DBGOTO(Value::Integer(9));
    EXPECT_EQ(FIELDGET(2).number(), 7);
  });
  const std::vector<std::string> texts = MessageTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_NE(texts[0].find("campo ETA"), std::string::npos) << texts[0];
  EXPECT_NE(texts[1].find("segnato come cancellato"), std::string::npos) << texts[1];
  EXPECT_NE(texts[2].find("riga 1, campo ETA: abc"), std::string::npos) << texts[2];
}

TEST_F(CopyImportTest, ImportConditionIsCheckedAgainstTheSourcesFields) {
  // The source has PESO, which the open table lacks, and no ETA.
  WriteDbf(Path("ALTRI.DBF"), {{"NOME", 'C', 8, 0}, {"PESO", 'N', 3, 0}},
           {{"ugo     ", " 70"}, {"eva     ", " 55"}, {"ivo     ", " 90"}});
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.file_results = {Path("ALTRI.DBF")};
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      ScriptedUi::SetMemo(dlg, "cFor", "ETA > 1");
      EXPECT_FALSE(ui_.Press(dlg, kIdConferma));
      ScriptedUi::SetMemo(dlg, "cFor", "PESO > 60");
      EXPECT_TRUE(ui_.Press(dlg, kIdConferma));
    }};
    IMPORTAREC(&brw);
    EXPECT_EQ(TableNames(), (std::vector<std::string>{"rosa    ", "Marco   ", "ROSA    ",
                                                      "anna    ", "marco   ", "ugo     ",
                                                      "ivo     "}));
    EXPECT_EQ(ALIAS(), "DBF");
  });
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Campo non valido: Condizione."}));
}

TEST_F(CopyImportTest, ImportFromSqliteAsksWhichTable) {
  const std::string db = Path("ARCHIVIO.DB");
  ASSERT_EQ(std::system(("sqlite3 " + db +
                         " \"CREATE TABLE persone(NOME TEXT, ETA INTEGER);"
                         " INSERT INTO persone VALUES('bice', 61), ('dino', 12);"
                         " CREATE TABLE altro(NOME TEXT); INSERT INTO altro VALUES('no');\"")
                            .c_str()),
            0);
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.file_results = {db};
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      ASSERT_NE(CTL(dlg, "cTab"), nullptr);
      EXPECT_EQ(CTL(dlg, "cTab")->items, (std::vector<std::string>{"altro", "persone"}));
      EXPECT_EQ(Memo(dlg, "cTab"), "persone") << "the table named like the open one";
      ScriptedUi::Choose(dlg, "cTab", "persone");
      ScriptedUi::SetMemo(dlg, "cFor", "ETA > 20");
      ui_.Press(dlg, kIdConferma);
    }};
    IMPORTAREC(&brw);
    ASSERT_EQ(LASTREC(), 6u);
    DBGOTO(Value::Integer(6));
    EXPECT_EQ(FIELDGET(1).str(), "bice    ");
    EXPECT_EQ(FIELDGET(2).number(), 61);
  });
}

TEST_F(CopyImportTest, ImportRefusesTheOpenTableAMissingFileAndAFileThatIsNoDatabase) {
  std::ofstream(Path("FALSO.SQLITE")) << "not a database, just text long enough to be read";
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    for (const char* name : {"PERSONE.DBF", "MANCA.DBF", "FALSO.SQLITE"}) {
      ui_.file_results = {Path(name)};
      IMPORTAREC(&brw);
    }
    EXPECT_EQ(LASTREC(), 5u);
  });
  EXPECT_EQ(MessageTexts(),
            (std::vector<std::string>{
                "Impossibile importare dalla tabella corrente.",
                "Impossibile aprire il file " + Path("MANCA.DBF") + ".",
                "Il file " + Path("FALSO.SQLITE") + " non risulta un database SQLite."}));
  EXPECT_TRUE(ui_.dialogs.empty());
}

TEST_F(CopyImportTest, AnEncipheredTableShowsClearValuesOnlyWithItsPassword) {
  ASSERT_TRUE(DBUSEAREA(true, "DBF", table_, "CIPH", false, false));
  ASSERT_TRUE(DBINFO(140, Value::String("segreto")).logical());
  DBCLOSEAREA();
  const auto type_password = [&](const std::string& text) {
    return [this, text](Dialog& dlg) {
      ScriptedUi::Type(dlg, "cPsw", text);
      ui_.Press(dlg, kIdConferma);
    };
  };
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(1));
    EXPECT_NE(FIELDGET(1).str(), "rosa    ") << "enciphered bytes without the password";
    ui_.dialog_scripts = {type_password("segreto")};
    PASSWORD(&brw);
    EXPECT_EQ(FIELDGET(1).str(), "rosa    ");
    EXPECT_EQ(CurTable().cPassword, "segreto");
    EXPECT_TRUE(ui_.item_states.at(1).active);
    EXPECT_EQ(ui_.item_states.at(1).tooltip, "Password impostata");
    // Kept for a reopening of the table, and for the copy's own work area.
    CAMBIARDD(&brw, "DBFCDX");
    DBGOTO(Value::Integer(1));
    EXPECT_EQ(FIELDGET(1).str(), "rosa    ");
    Copy(Path("CHIARA.DBF"), [&](Dialog& dlg) { ui_.Press(dlg, kIdConferma); });
    // Annulla changes nothing; "ELIMINA" clears the password at once.
    PASSWORD(&brw);
    EXPECT_EQ(CurTable().cPassword, "segreto");
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      ScriptedUi::Type(dlg, "cPsw", "altra");
      EXPECT_TRUE(ui_.Tool(dlg, 102));
    }};
    PASSWORD(&brw);
    EXPECT_EQ(CurTable().cPassword, "");
    EXPECT_FALSE(ui_.item_states.at(1).active);
    EXPECT_EQ(ui_.item_states.at(1).tooltip, "Password non impostata");
    DBGOTO(Value::Integer(1));
    EXPECT_NE(FIELDGET(1).str(), "rosa    ");
  });
  EXPECT_EQ(Names(Path("CHIARA.DBF")),
            (std::vector<std::string>{"rosa    ", "Marco   ", "ROSA    ", "anna    ",
                                      "marco   "}));
}

TEST_F(CopyImportTest, InformationBoxShowsProductAndVersionAndClosesWithoutAsking) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    ui_.dialog_scripts = {[&](Dialog& dlg) {
      std::vector<std::string> lines;
      for (const Control& c : dlg.controls) {
        if (c.kind == ControlKind::kLabel && c.id >= 102 && c.id <= 108) lines.push_back(c.label);
      }
      ASSERT_GE(lines.size(), 3u);
      EXPECT_EQ(lines[0], "VOSK Software DBU");
      EXPECT_EQ(lines[1], std::string("Versione: ") + ProgramVersion());
      EXPECT_NE(lines[2].find(ProgramYear()), std::string::npos);
      EXPECT_EQ(CTL(dlg, 1)->bitmap, "VOSK");
      EXPECT_TRUE(ui_.Press(dlg, 0)) << "Esc closes without a question";
    }};
    RunAction(Action::kInformazioni, &brw);
  });
  EXPECT_EQ(ui_.dialogs, (std::vector<std::string>{"INFOS|"}));
  EXPECT_TRUE(MessageTexts().empty());
}

}  // namespace
}  // namespace vosk
