// Opening tables: the test-open and its messages, the waiting open, APRITAB, the recently-used
// list and the switches of driver, memo format and encoding.

#include "app/open_table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/command_state.h"
#include "app/current_table.h"
#include "app/messages.h"
#include "app/record_change.h"
#include "app/sort_filter.h"
#include "app/twbrowse.h"
#include "app/voskdbu.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/dbffpt/fpt_area.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/driver_registry.h"
#include "support/read_only_mount.h"

namespace vosk {

// Runs MAIN on `table`; `body` runs with the window's browse over the open table.
inline void RunWithTable(ScriptedUi& ui, const std::string& table,
                         const std::function<void(TWBrowse&)>& body) {
  ui.on_main_window = [&] {
    TWBrowse brw("DBF");
    InstallBrowseHandlers(&brw);
    REBUILDBRW(&brw);
    brw.set_row_count(10);
    brw.Stabilize(false);
    body(brw);
  };
  MAIN(table);
  ASSERT_EQ(ui.main_windows, 1);
}

namespace {

// Another program holding a file exclusively: a share lock on its own open file.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::string& path) : fd_(::open(path.c_str(), O_RDWR)) {
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  }
  ~ExclusiveHolder() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class OpenTableTest : public AppTest {
 protected:
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui_.messages) t.push_back(m.text);
    return t;
  }
};

TEST_F(OpenTableTest, TestOpenExplainsWhyATableCannotBeOpened) {
  const std::string good = MakeClienti();
  std::ofstream(Path("ROTTA.DBF"), std::ios::binary) << std::string("\x03garbage", 8);
  MakeClienti("TENUTA.DBF");
  ExclusiveHolder holder(Path("TENUTA.DBF"));

  EXPECT_TRUE(OKOPEN(good));
  EXPECT_FALSE(OKOPEN(Path("ROTTA.DBF")));
  EXPECT_FALSE(OKOPEN(Path("TENUTA.DBF")));
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "Il file " + Path("ROTTA.DBF") + " risulta corrotto.",
                         "Il file " + Path("TENUTA.DBF") +
                             Ansi(" è già aperto in modo esclusivo oppure è in sola lettura."),
                     }));
  EXPECT_FALSE(USED()) << "the spare work area is closed again";
  // A table held exclusively elsewhere fails quietly for the real open: NETERR, no message.
  ui_.messages.clear();
  EXPECT_FALSE(DBUSEAREA(true, "", Path("TENUTA.DBF"), "X", true, false));
  EXPECT_TRUE(NETERR());
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(OpenTableTest, OpenWaitsWhileAnotherProgramHoldsTheTable) {
  const std::string table = MakeClienti();
  ExclusiveHolder holder(table);
  POPMSG("Copia in corso...");  // a progress note of the running command
  int rounds = 0;
  ui_.on_process_events = [&] {
    if (++rounds == 3) holder.Release();
  };
  ui_.progress.clear();
  DBOPEN(false, "", table, "DBF", true, false);
  EXPECT_TRUE(USED());
  EXPECT_EQ(ALIAS(), "DBF");
  EXPECT_EQ(ui_.progress,
            (std::vector<std::string>{
                "close", Ansi("open:E' in corso un'operazione di sistema...|Attenzione"), "close",
                "open:Copia in corso...|Attenzione"}));
}

TEST_F(OpenTableTest, OpenTableReplacesTheCurrentOneAndResetsTheView) {
  const std::string first = MakeClienti();
  const std::string second = MakeClienti("ALTRA.DBF");
  RunWithTable(ui_, first, [&](TWBrowse& brw) {
    CurTable().aFieldVis = {true, false, true, false, false};
    CurTable().aViewCols = {1, 3};
    CurTable().cCurFilter = "X";
    brw.set_nColAct(2);
    ui_.file_results = {Path("ALTRA")};  // without extension
    APRITAB(&brw);
    EXPECT_EQ(ui_.file_dialogs.back().initial_dir, dir_ + "/");
    EXPECT_EQ(CurTable().cCurTable, second);
    EXPECT_EQ(CurTable().aViewCols, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_FALSE(CurTable().cCurFilter.has_value());
    EXPECT_EQ(brw.nColAct(), 1);
    EXPECT_EQ(brw.columns().aHeaders.size(), 5u);
    EXPECT_EQ(ALIAS(), "DBF");

    // A missing file and a corrupt one leave the current table open.
    APRITAB(&brw, Path("NESSUNA.DBF"));
    std::ofstream(Path("ROTTA.DBF"), std::ios::binary) << std::string("\x03garbage", 8);
    APRITAB(&brw, Path("ROTTA.DBF"));
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "Impossibile trovare il file " + Path("NESSUNA.DBF") + ".",
                           "Il file " + Path("ROTTA.DBF") + " risulta corrotto."}));
    EXPECT_EQ(CurTable().cCurTable, second);
    EXPECT_TRUE(USED());
  });
}

// A table without fields is refused by "Apri tabella..." as at start-up: the open table stays
// (a record added to a table without fields would break its record count).
TEST_F(OpenTableTest, ATableWithoutFieldsIsNotOpened) {
  const std::string table = MakeClienti();
  WriteDbf(Path("VUOTA.DBF"), {}, {});
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    APRITAB(&brw, Path("VUOTA.DBF"));
    EXPECT_EQ(Texts(), std::vector<std::string>{"Impossibile aprire il file\n" + Path("VUOTA.DBF") +
                                                Ansi("\nperché privo di campi.")});
    EXPECT_EQ(CurTable().cCurTable, table);
    EXPECT_EQ(FCOUNT(), 5);
  });
}

TEST_F(OpenTableTest, RecentListMovesToFirstDropsTheSixteenthAndIgnoresCase) {
  std::vector<std::string> tables;
  for (int i = 1; i <= 16; ++i) tables.push_back(MakeClienti("T" + std::to_string(i) + ".DBF"));
  for (int i = 0; i < 15; ++i) ADDMRU(tables[i]);
  EXPECT_EQ(ReadMru().front(), tables[14]);
  EXPECT_EQ(ReadMru().size(), 15u);

  ADDMRU(tables[3]);  // reopened: moves to the first place, nothing drops
  std::vector<std::string> mru = ReadMru();
  EXPECT_EQ(mru.size(), 15u);
  EXPECT_EQ(mru[0], tables[3]);
  EXPECT_EQ(mru[1], tables[14]);

  ADDMRU(tables[15]);  // a sixteenth table: the oldest (T1) drops
  mru = ReadMru();
  EXPECT_EQ(mru.size(), 15u);
  EXPECT_EQ(mru[0], tables[15]);
  EXPECT_EQ(std::count(mru.begin(), mru.end(), tables[0]), 0);

  // The same path in other letters is the same entry, kept as the directory spells it.
  ADDMRU(dir_ + "/t5.dbf");
  mru = ReadMru();
  EXPECT_EQ(mru.size(), 15u);
  EXPECT_EQ(mru[0], tables[4]);
  EXPECT_EQ(ui_.recent, mru);
}

TEST_F(OpenTableTest, RecentEntryOpensItsTableAndSetsTheTitle) {
  const std::string first = MakeClienti();
  const std::string other = MakeClienti("ALTRA.DBF");
  RunWithTable(ui_, first, [&](TWBrowse& brw) {
    EXPECT_EQ(ui_.recent, (std::vector<std::string>{first}));
    BLOCKMRU(&brw, other);
    EXPECT_EQ(ui_.recent, (std::vector<std::string>{other, first}));
    EXPECT_EQ(ui_.title, "VOSK Software DBU - " + other);
  });
}

TEST_F(OpenTableTest, StorageSwitchesWriteTheSettingsChecksAndStatusItems) {
  const std::string table = MakeClienti();
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    DBGOTO(Value::Integer(4));
    CAMBIAANSI(&brw, "OEM");
    EXPECT_EQ(IniValue("Codifica"), "OEM");
    EXPECT_EQ(RECNO(), 4u) << "the record stays across the reopen";
    EXPECT_TRUE(ui_.checks["Codifica OEM"]);
    EXPECT_FALSE(ui_.checks["Codifica ANSI"]);
    EXPECT_EQ(ui_.status_items[4], "OEM");

    CAMBIAMEMO(&brw, 2);
    EXPECT_EQ(IniValue("Memo"), "2");
    EXPECT_EQ(RDDINFO(6).str(), ".FPT");
    EXPECT_EQ(ui_.status_items[3], "FPT");
    EXPECT_TRUE(ui_.checks["Memo FPT"]);
    Ini("Vosk", "Si");  // the maker switch keeps ".DBT"
    CAMBIAMEMO(nullptr, 2);
    EXPECT_EQ(RDDINFO(6).str(), ".DBT");

    CAMBIARDD(&brw, "DBFNTX");
    EXPECT_EQ(IniValue("RDD"), "DBFNTX");
    EXPECT_TRUE(ui_.checks["DBFNTX"]);
    EXPECT_FALSE(ui_.checks["DBFCDX"]);
    EXPECT_EQ(ui_.status_items[2], RDDSETDEFAULT());
    EXPECT_TRUE(USED());

    AUTOOPEN(&brw);
    EXPECT_EQ(IniValue("AutoOpen"), Ansi("Sì"));
    EXPECT_TRUE(ui_.checks["Apri indice automaticamente"]);
    AUTOOPEN(&brw);
    EXPECT_EQ(IniValue("AutoOpen"), "No");
  });
}

// A driver whose tables refuse to open.
class RefusingArea : public FptArea {
 public:
  using FptArea::FptArea;
  Status open(const OpenInfo& info) override {
    DriverError(kEdfOpen, info.file, 0, "open");
    return kFailure;
  }
};

TEST_F(OpenTableTest, ADriverThatCannotReopenTheTableLeavesItAsItWas) {
  // The memo layer's class opens the table but has no orders (as DBFCDX had before its own
  // driver); the other refuses the table outright.
  RegisterDriver("SENZAORDINI", 1, "DBFFPT",
                 [](Driver* d) -> std::unique_ptr<WorkArea> { return std::make_unique<FptArea>(d); });
  RegisterDriver("RIFIUTA", 1, "DBFFPT", [](Driver* d) -> std::unique_ptr<WorkArea> {
    return std::make_unique<RefusingArea>(d);
  });
  RegisterDriver("NTXBIS", 1, "DBFFPT", [](Driver* d) { return NewNtxArea(d); });
  const std::string table = MakeClienti();
  Ini("RDD", "DBFNTX");
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    for (const char* driver : {"SENZAORDINI", "RIFIUTA"}) {
      SCOPED_TRACE(driver);
      ui_.messages.clear();
      DBGOTO(Value::Integer(4));
      ui_.checks[driver] = true;  // the menu item checks itself when chosen
      CAMBIARDD(&brw, driver);
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_EQ(ui_.messages[0].text.rfind("Impossibile aprire la tabella " + table +
                                                " con il driver " + driver + ":",
                                            0),
                0u)
          << ui_.messages[0].text;
      EXPECT_NE(ui_.messages[0].text.find("La tabella resta aperta con il driver DBFNTX."),
                std::string::npos);
      EXPECT_EQ(RDDSETDEFAULT(), "DBFNTX");
      EXPECT_EQ(IniValue("RDD"), "DBFNTX") << "the next start must find a driver that works";
      EXPECT_EQ(ui_.status_items[2], "DBFNTX");
      EXPECT_TRUE(ui_.checks["DBFNTX"]);
      ASSERT_TRUE(USED());
      EXPECT_EQ(ALIAS(), "DBF");
      EXPECT_EQ(LASTREC(), 10u);
      EXPECT_EQ(brw.columns().bLine().size(), 5u) << "the grid still shows the table";
    }
    // A driver that works is switched to and remembered.
    ui_.messages.clear();
    CAMBIARDD(&brw, "NTXBIS");
    EXPECT_TRUE(ui_.messages.empty());
    EXPECT_EQ(RDDSETDEFAULT(), "NTXBIS");
    EXPECT_EQ(IniValue("RDD"), "NTXBIS");
    EXPECT_TRUE(USED());
  });
}

// A table whose header flags a structural CDX bag opens with DBFCDX and the bag whatever the
// default driver says, and the status bar names the driver it got; its changes keep the tags
// current, also after the view was sorted and reset. A flagged bag that is missing or damaged
// is told, naming it, and the table opens without it (nothing written to the bag or the flag).
TEST_F(OpenTableTest, ATableFlaggingAStructuralBagOpensWithItAndKeepsItCurrent) {
  Ini("RDD", "DBFNTX");
  const std::string table = MakeClienti("STRUTT.DBF");
  const std::string bag = Path("STRUTT.cdx");
  {
    const Value autopen = SET(kSetAutOpen, Value::Logical(true));
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "MAKE", false, false));
    ASSERT_TRUE(ORDCREATE(bag, "NOME", "NOME"));
    DBCLOSEAREA();
    SET(kSetAutOpen, autopen);
  }
  ASSERT_TRUE(StructuralBagOf(table).present);
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    APRITAB(&brw, table);
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    EXPECT_EQ(RDDSETDEFAULT(), "DBFNTX") << "the default of other tables stays";
    EXPECT_EQ(ui_.status_items[2], "DBFCDX");
    ASSERT_EQ(ORDCOUNT(), 1);
    EXPECT_EQ(INDEXORD(), 0) << "natural order";
    ORDINA(&brw, 2);  // a sort of the view, then back to no order
    ORDINA(&brw);
    ASSERT_TRUE(DBAPP());
    FIELDPUT(2, Value::String("Aldo"));
    DBCOMMIT();
    DBUNLOCK();
    EXPECT_EQ(ORDKEYCOUNT(Value::Integer(1)), 11) << "the bag follows the table";
    // Damaged: told, opened without it, the bag and the flag untouched.
    const std::string other = MakeClienti("ALTRA.DBF");
    APRITAB(&brw, other);
    std::ofstream(bag, std::ios::binary) << std::string(600, '\xFF');
    ui_.messages.clear();
    APRITAB(&brw, table);
    ASSERT_EQ(ui_.messages.size(), 1u) << ui_.messages[0].text;
    EXPECT_NE(ui_.messages[0].text.find(bag), std::string::npos) << ui_.messages[0].text;
    EXPECT_EQ(CurTable().cCurTable, table);
    EXPECT_EQ(LASTREC(), 11u);
    // Missing: told the same way.
    APRITAB(&brw, other);
    std::remove(bag.c_str());
    ui_.messages.clear();
    APRITAB(&brw, table);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].text.find("non \xE8 stato trovato"), std::string::npos)
        << ui_.messages[0].text;
    EXPECT_EQ(CurTable().cCurTable, table);
  });
  EXPECT_TRUE(StructuralBagOf(table).flagged);
}

// A table with one memo field and an empty FPT file of 64-byte blocks.
void MakeFptTable(const std::string& dbf) {
  WriteDbf(dbf, {{"NOME", 'C', 8, 0}, {"NOTE", 'M', 10, 0}}, {{"Anna    ", "          "}});
  {
    std::fstream f(dbf, std::ios::in | std::ios::out | std::ios::binary);
    f.put(static_cast<char>(0xF5));  // FoxPro with an FPT memo file
  }
  std::string fpt(512, '\0');
  fpt[3] = 8;   // next free block, big-endian
  fpt[7] = 64;  // block size, big-endian
  std::ofstream(dbf.substr(0, dbf.size() - 4) + ".FPT", std::ios::binary) << fpt;
}

TEST_F(OpenTableTest, EachTableOpensWithTheMemoKindItsFilesShow) {
  MakeFptTable(Path("VOLPE.DBF"));
  const std::string dbt_table = Path("ORDINI.DBF");
  std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/ORDINI.DBF", dbt_table);
  std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/ORDINI.DBT", Path("ORDINI.DBT"));
  RunWithTable(ui_, Path("VOLPE.DBF"), [&](TWBrowse& brw) {
    APRITAB(&brw, dbt_table);
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    EXPECT_EQ(CurTable().cCurTable, dbt_table);
    EXPECT_EQ(ui_.status_items[3], "DBT") << "the memo kind of this table";
    EXPECT_EQ(brw.columns().bLine()[4], " [Memo] ");
    APRITAB(&brw, Path("VOLPE.DBF"));
    EXPECT_TRUE(ui_.messages.empty()) << ui_.messages[0].text;
    EXPECT_EQ(ui_.status_items[3], "FPT");
  });
  EXPECT_EQ(IniValue("Memo"), "<none>") << "the user's choice stays as it was";
}

TEST_F(OpenTableTest, AnIndexWhoseKeyNamesAnAliasIsNamedInTheMessage) {
  const std::string real = VOSK_SOURCE_DIR "/../shared/fixtures/real/";
  if (!std::filesystem::exists(real + "ntx-char.ntx")) GTEST_SKIP() << "no real-world tables";
  for (const char* f : {"ntx-char.dbf", "ntx-char.ntx"}) {
    std::filesystem::copy_file(real + f, Path(f));
  }
  Ini("RDD", "DBFNTX");
  RunWithTable(ui_, Path("ntx-char.dbf"), [&](TWBrowse& brw) {
    ui_.file_results = {Path("ntx-char.ntx")};
    APRIIND(&brw);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text, "Impossibile aprire il file " + Path("ntx-char.ntx") + ".");
  });
}

TEST_F(OpenTableTest, ATableOnReadOnlyMediaOpensReadOnlyAfterSayingSo) {
  ReadOnlyMount media(Path("cd"));
  if (!media.mounted()) GTEST_SKIP() << "no read-only mount on this system";
  const std::string table = Path("cd/CLIENTI.DBF");
  MakeClienti("cd/CLIENTI.DBF");
  if (!media.MakeReadOnly()) GTEST_SKIP() << "no read-only mount on this system";
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text,
              "Il file " + table +
                  Ansi(" è in sola lettura:\nla tabella viene aperta in sola lettura e non potrà "
                       "essere modificata."));
    EXPECT_TRUE(DBINFO(129).logical());
    EXPECT_NE(MainWindowTitle().find("(sola lettura)"), std::string::npos);
    EXPECT_NE(STATMSG(&brw)->find("Sola lettura     "), std::string::npos);
    EXPECT_EQ(brw.columns().bLine()[1], "Cliente 1   ");
    EDCOL(&brw, 2);
    EXPECT_TRUE(ui_.dialogs.empty());
    EXPECT_EQ(ui_.messages.back().text,
              "La tabella " + table +
                  Ansi(" è aperta in sola lettura: impossibile modificarla."));
    CAMBIAANSI(&brw, "OEM");  // reopened read-only again
    EXPECT_TRUE(DBINFO(129).logical());
  });
}

TEST_F(OpenTableTest, ATableWithoutItsMemoFileOpensReadOnlyWithItsMemosMarked) {
  const std::string table = Path("ORDINI.DBF");
  std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/ORDINI.DBF", table);
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].text,
              "Il file memo " + Path("ORDINI.DBT") +
                  Ansi(" non è presente:\nla tabella ") + table +
                  Ansi(" viene aperta in sola lettura e i campi memo non sono disponibili."));
    EXPECT_TRUE(DBINFO(129).logical());
    const std::vector<TWBrowse::Row> rows = brw.VisibleRows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0].cells[0], "  1001");
    EXPECT_EQ(rows[0].cells[4], " [????] ");
    EXPECT_FALSE(DisplayErrorPending()) << "the missing file was told once, at the opening";
    EDCOL(&brw, 5);
    EXPECT_TRUE(ui_.dialogs.empty());
    EXPECT_EQ(ui_.messages.size(), 2u);
  });
}

TEST_F(OpenTableTest, ATruncatedMemoFileMarksItsCellsAndIsReportedOnce) {
  const std::string table = Path("ORDINI.DBF");
  std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/ORDINI.DBF", table);
  std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/ORDINI.DBT", Path("ORDINI.DBT"));
  std::filesystem::resize_file(Path("ORDINI.DBT"), 600);
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    for (int paint = 0; paint < 3; ++paint) {
      const std::vector<TWBrowse::Row> rows = brw.VisibleRows();
      ASSERT_EQ(rows.size(), 5u);
      EXPECT_EQ(rows[0].cells[0], "  1001");
      EXPECT_EQ(rows[4].cells[4], " [????] ");
      EXPECT_EQ(RECNO(), 1u);
      try {
        ReportDisplayError();
      } catch (const Abandon&) {
      }
    }
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Il file " + Path("ORDINI.DBT") +
                                                 " risulta corrotto."}));
  });
}

}  // namespace
}  // namespace vosk
