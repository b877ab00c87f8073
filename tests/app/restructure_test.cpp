// MODITAB through the scripted Ui: the progress pop-up with its bar, the records converted,
// the backup beside the table, the indexes built again, and a full disk told with the table
// left as it was.

#include "app/restructure.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/app_fixture.h"
#include "app/open_table.h"
#include "app/progress.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "rdd/rdd_fixture.h"
#include "support/dbf_image.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class RestructureCommandTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", "DBFNTX");
    table_ = MakeClienti();
  }
  // As CREATAB and MODPROP do after MODITAB.
  void Reopen() { DBOPEN(false, "", table_, "DBF", true, false); }

  std::string table_;
};

TEST_F(RestructureCommandTest, ConvertsTheRecordsWithABarAndKeepsTheOldTable) {
  const int saved_tick = Progress::SetTickMs(0);
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    ASSERT_TRUE(ORDCREATE(Path("NOME.NTX"), "", "NOME"));
    CurTable().cCurIndex = Path("NOME.NTX");
    const ValueArray fields = Structure({{"CODICE", "C", 6, 0},   // numbers to text
                                         {"CLIENTE", "C", 20, 0},  // NOME renamed, wider
                                         {"CITTA", "C", 10, 0},
                                         {"DATA", "C", 10, 0},
                                         {"ATTIVO", "N", 1, 0}});
    EXPECT_EQ(ACONVDATI(fields).size(), 5u);
    EXPECT_EQ(ACONVDATI(fields)[1].integer(), 2);
    MODITAB(fields);
    EXPECT_EQ(ui_.progress.front().rfind("open:Modifica della struttura in corso...", 0), 0u);
    EXPECT_EQ(ui_.progress.back(), "close");
    EXPECT_NE(std::find(ui_.progress.begin(), ui_.progress.end(), "pos:100"),
              ui_.progress.end());
    Reopen();
    ASSERT_EQ(LASTREC(), 10u);
    DBGOTO(Value::Integer(3));
    EXPECT_EQ(FIELDGET(1).str(), "3     ");
    EXPECT_EQ(FIELDGET(2).str(), "Cliente 3           ");
    EXPECT_EQ(FIELDGET(4).str(), "15/01/2024");
    EXPECT_EQ(FIELDGET(5).number(), 1);
    // NOME.NTX's key names a field that is gone: said so, the file left alone.
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("NOME.NTX"), std::string::npos) << MessageTexts()[0];
    EXPECT_TRUE(std::filesystem::exists(Path("CLIENTI_ORIGINALE.DBF")));
  });
  Progress::SetTickMs(saved_tick);
  EXPECT_EQ(CONVDATO(Value::String("1.234,56"), Structure({{"A", "C", 10, 0}})[0],
                     Structure({{"A", "N", 10, 2}})[0])
                .number(),
            1234.56);
  EXPECT_EQ(ADJNUM("1.234,56"), "1234.56");
}

TEST_F(RestructureCommandTest, AFullDiskIsToldAndTheTableStaysAsItWas) {
  RunWithTable(ui_, table_, [&](TWBrowse&) {
    const std::string before = test::ReadFileBytes(table_);
    {
      FileSizeLimit limit(300);  // the new table does not fit
      ASSERT_TRUE(limit.ok());
      MODITAB(Structure({{"CODICE", "N", 8, 0}, {"NOME", "C", 40, 0}}));
    }
    ASSERT_FALSE(MessageTexts().empty());
    EXPECT_EQ(ui_.progress.back(), "close");
    EXPECT_EQ(test::ReadFileBytes(table_), before);
    EXPECT_FALSE(std::filesystem::exists(Path("CLIENTI_ORIGINALE.DBF")));
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(table_).parent_path())) {
      EXPECT_EQ(e.path().filename().string().find("vosk-"), std::string::npos) << e.path();
    }
    Reopen();
    EXPECT_EQ(FCOUNT(), 5);
  });
}

}  // namespace
}  // namespace vosk
