// The browse over an NTX order: the automatic index, an index of another table, the grid's key
// positions and thumb drag, go to a record the order hides, choosing the tag.

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/open_table.h"
#include "app/key_search.h"
#include "app/order_info.h"
#include "app/sort_filter.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class OrderViewTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", "DBFNTX");
    RDDSETDEFAULT("DBFNTX");
  }
  // An index of `table` on `key`, optionally only of the records where `for_text` holds.
  void MakeIndex(const std::string& table, const std::string& bag, const std::string& key,
                 const std::string& for_text = "") {
    ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", table, "MK", false, false));
    if (!for_text.empty()) {
      OrdCondArgs cond;
      cond.for_text = for_text;
      ASSERT_TRUE(ORDCONDSET(cond));
    }
    ASSERT_TRUE(ORDCREATE(bag, "", key));
    DBCLOSEAREA();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& m : ui_.messages) t.push_back(m.text);
    return t;
  }
};

TEST_F(OrderViewTest, AutomaticIndexOpensWithTheTableAndShowsInTheStatusText) {
  const std::string table = MakeClienti();
  MakeIndex(table, Path("CLIENTI.NTX"), "DESCEND(CODICE)");
  Ini("AutoOpen", Ansi("Sì"));
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    EXPECT_EQ(CurTable().cCurIndex, Path("CLIENTI.NTX"));
    EXPECT_EQ(OrderKey(), "DESCEND(CODICE)");
    brw.Stabilize(false);
    DBGOTOP();
    brw.Refresh();
    EXPECT_EQ(RECNO(), 10u) << "the order drives the grid";
    EXPECT_NE(ui_.status_text.find("Indice: CLIENTI     Chiave: DESCEND(CODICE)     "),
              std::string::npos)
        << ui_.status_text;
    // Key positions: the thumb drag goes to the third key, record 8.
    brw.VThumb(3);
    EXPECT_EQ(RECNO(), 8u);
    EXPECT_EQ(brw.VScrollPos(), 3u);
    EXPECT_NE(ui_.status_text.find("RecNo: 8/10     KeyNo: 3/10     "), std::string::npos)
        << ui_.status_text;
    brw.PageDown();
    EXPECT_EQ(RECNO(), 1u) << "ten keys, ten rows: the last key";
    EXPECT_EQ(brw.VScrollPos(), 10u);
  });
}

TEST_F(OrderViewTest, IndexOfAnotherTableIsRefused) {
  const std::string table = MakeClienti();
  WriteDbf(Path("ALTRA.DBF"), {{"ALTRO", 'C', 5, 0}}, {{"abcde"}});
  MakeIndex(Path("ALTRA.DBF"), Path("ALTRA.NTX"), "ALTRO");
  EXPECT_FALSE(OKOPEN(table, Path("ALTRA.NTX")));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Il file indice " + Path("ALTRA.NTX") +
                                               Ansi(" non è compatibile con la tabella "
                                                    "specificata.")}));
  // The same with the index opened automatically: the previous table stays open.
  std::filesystem::copy_file(Path("ALTRA.NTX"), Path("NUOVA.NTX"));
  MakeClienti("NUOVA.DBF");
  Ini("AutoOpen", Ansi("Sì"));
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    APRITAB(&brw, Path("NUOVA.DBF"));
    EXPECT_EQ(CurTable().cCurTable, table);
    EXPECT_EQ(ui_.messages.back().text, "Il file indice " + Path("NUOVA.NTX") +
                                            Ansi(" non è compatibile con la tabella "
                                                 "specificata."));
  });
}

TEST_F(OrderViewTest, OpenIndexAddsTheExtensionAndGoToRecordMissesHiddenRecords) {
  const std::string table = MakeClienti();
  MakeIndex(table, Path("PARI.NTX"), "CODICE", "CODICE % 2 = 0");
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    ui_.file_results = {Path("PARI")};  // without extension: .NTX is added
    APRIIND(&brw);
    EXPECT_EQ(ui_.file_dialogs.back().filter, "File NTX (*.NTX)|*.NTX");
    ASSERT_EQ(CurTable().cCurIndex, Path("PARI.NTX")) << (Texts().empty() ? "" : Texts()[0]);
    EXPECT_EQ(brw.VScrollMax(), 5u);
    EXPECT_EQ(ATAG(), (std::vector<std::string>{"PARI"}));

    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Type(d, "nRec", "4");
      ui_.Press(d, kIdConferma);
    });
    VAIALREC(&brw);
    EXPECT_EQ(RECNO(), 4u);
    EXPECT_EQ(brw.VScrollPos(), 2u);
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Type(d, "nRec", "3");  // odd: not in the order
      ui_.Press(d, kIdConferma);
    });
    VAIALREC(&brw);
    EXPECT_EQ(RECNO(), 4u);
    EXPECT_EQ(ui_.messages.back().text, "Record 3 non trovato.");

    // The tag chooser lists the bag's order and confirms it.
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      EXPECT_EQ(CTL(d, "cTag")->items, (std::vector<std::string>{"PARI"}));
      EXPECT_EQ(CTL(d, "cTag")->value.str(), "PARI") << "it starts on the current order";
      EXPECT_EQ(CTL(d, "cKey")->value.str(), "CODICE");
      EXPECT_EQ(CTL(d, "cFor")->value.str(), "CODICE % 2 = 0");
      ui_.Press(d, kIdConferma);
    });
    SELEZTAG(&brw);
    EXPECT_EQ(RECNO(), 2u) << "the first key";

    ORDINA(&brw);  // back to physical order
    EXPECT_FALSE(CurTable().cCurIndex.has_value());
    EXPECT_EQ(brw.VScrollMax(), 10u);
    // The status bar follows at once: no index, no key, the key position of physical order.
    EXPECT_EQ(ui_.status_text.find("Indice:"), std::string::npos) << ui_.status_text;
    EXPECT_EQ(ui_.status_text.find("Chiave:"), std::string::npos) << ui_.status_text;
    EXPECT_NE(ui_.status_text.find("RecNo: 2/10     KeyNo: 2/10     "), std::string::npos)
        << ui_.status_text;
  });
}

// The first jump after an index of more keys than a screen is opened with "Apri indice..."
// (go to a record, a letter typed, the thumb dragged, the last row) walks the index as it is:
// no false alarm of a corrupted file.
TEST_F(OrderViewTest, FirstJumpAfterOpeningALargeIndexFindsItSound) {
  std::vector<std::vector<std::string>> rows;
  for (int i = 1; i <= 400; ++i) {
    const std::string n = std::to_string(i);
    // Names in another order than the records: "N0399", "N0398", ...
    const std::string name = std::to_string(10000 + 401 - i).substr(1);
    rows.push_back({std::string(4 - n.size(), ' ') + n, "N" + name + "       "});
  }
  const std::string table = Path("GRANDE.DBF");
  WriteDbf(table, {{"CODICE", 'N', 4, 0}, {"NOME", 'C', 12, 0}}, rows);
  MakeIndex(table, Path("NOME.NTX"), "NOME");
  const struct {
    const char* jump;
    std::function<void(TWBrowse&)> go;
    uint32_t record;
  } cases[] = {
      {"go to record",
       [this](TWBrowse& brw) {
         ui_.dialog_scripts.push_back([this](Dialog& d) {
           ScriptedUi::Type(d, "nRec", "350");
           ui_.Press(d, kIdConferma);
         });
         VAIALREC(&brw);
       },
       350},
      {"letters typed",
       [](TWBrowse& brw) {
         for (char c : std::string("N02")) KEYSEARCH(&brw, c);
       },
       201},
      {"thumb dragged", [](TWBrowse& brw) { brw.VThumb(300); }, 101},
      {"last row", [](TWBrowse& brw) { brw.GoBottom(); }, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.jump);
    ui_.messages.clear();
    RunWithTable(ui_, table, [&](TWBrowse& brw) {
      brw.set_row_count(25);
      ui_.file_results = {Path("NOME.NTX")};
      APRIIND(&brw);
      ASSERT_EQ(CurTable().cCurIndex, Path("NOME.NTX"));
      c.go(brw);
      EXPECT_EQ(RECNO(), c.record);
      brw.Stabilize(false);
    });
    EXPECT_EQ(Texts(), std::vector<std::string>{});
    ui_.main_windows = 0;
  }
}

}  // namespace
}  // namespace vosk
