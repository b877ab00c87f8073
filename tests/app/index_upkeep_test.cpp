// The index the user opened in the window (an NTX file, or a CDX bag that is not the table's
// structural one) in control while the table is packed, zapped or restructured: afterwards it
// passes the check and independent readers walk it in the order of the records as they are.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "support/bag_check.h"
#include "app/current_table.h"
#include "app/record_commands.h"
#include "app/restructure.h"
#include "app/table_maintenance.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_area.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/rdd_fixture.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

namespace fs = std::filesystem;

const std::string kTools = std::string(VOSK_SOURCE_DIR) + "/../shared/tools/";

// An independent reader's walk of a bag's order (record numbers in key order): the perl
// reader, or for an NTX file it refuses the reader written from the file format alone; false
// when neither runs here.
bool ReaderWalk(const std::string& table, const std::string& bag, const std::string& tag,
                std::vector<uint32_t>* out) {
  const bool cdx = bag.size() > 4 && bag.substr(bag.size() - 4) == ".CDX";
  std::vector<std::string> commands;
  if (fs::exists(kTools + "xbase-index-walk.pl")) {
    commands.push_back("perl '" + kTools + "xbase-index-walk.pl' '" + table + "' '" + bag + "' " +
                       tag);
  }
  if (!cdx && fs::exists(kTools + "ntx-page-walk.py") && fs::exists("/usr/bin/python3")) {
    commands.push_back("/usr/bin/python3 '" + kTools + "ntx-page-walk.py' '" + bag + "'");
  }
  for (const std::string& cmd : commands) {
    out->clear();
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p) continue;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
      std::string s(line);
      const size_t tab = s.rfind('\t');
      if (tab != std::string::npos) out->push_back(static_cast<uint32_t>(std::stoul(s.substr(tab + 1))));
    }
    if (pclose(p) == 0) return true;
  }
  return false;
}

class IndexUpkeepTest : public AppTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", GetParam());
    table_ = MakeClienti();
    bag_ = Path(Cdx() ? "NOMI.CDX" : "NOME.NTX");
  }
  bool Cdx() const { return std::string(GetParam()) == "DBFCDX"; }

  // In the window: the user's index on NOME opened and in control, records 2, 5 and 6 deleted.
  void OpenUserIndex(TWBrowse& brw) {
    ASSERT_TRUE(ORDCREATE(bag_, "NOME", "NOME")) << bag_;
    CurTable().cCurIndex = bag_;
    for (uint32_t r : {2u, 5u, 6u}) {
      DBGOTO(Value::Integer(r));
      ELIMREC(&brw);
    }
  }

  // Opened afresh: the user's index passes the check, and the engine and an independent
  // reader walk it in the order of NOME over the records there are (deleted ones included).
  void ExpectIndexRight(uint32_t records) {
    ASSERT_TRUE(DBUSEAREA(true, GetParam(), table_, "CHECK", true, true));
    ASSERT_TRUE(ORDLISTADD(Value::String(bag_)));
    ASSERT_EQ(LASTREC(), records);
    ExpectOpenBagsPassCheck();
    std::vector<std::pair<std::string, uint32_t>> model;
    for (uint32_t r = 1; r <= records; ++r) {
      DBGOTO(Value::Integer(r));
      model.push_back({FIELDGET(FIELDPOS("NOME")).str(), r});
    }
    std::sort(model.begin(), model.end());
    std::vector<uint32_t> expected;
    for (const auto& m : model) expected.push_back(m.second);
    ORDSETFOCUS(Value::String("NOME"));
    std::vector<uint32_t> ours;
    for (DBGOTOP(); !EOF_(); DBSKIP(1)) ours.push_back(RECNO());
    EXPECT_EQ(ours, expected);
    DBCLOSEAREA();
    std::vector<uint32_t> theirs;
    if (ReaderWalk(table_, bag_, "NOME", &theirs)) EXPECT_EQ(theirs, expected);
  }

  std::string table_, bag_;
};

TEST_P(IndexUpkeepTest, PackKeepsTheUsersIndexRight) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    OpenUserIndex(brw);
    ui_.answers = {kButtonOk};
    COMPATTA(&brw);
  });
  ExpectIndexRight(7);
}

TEST_P(IndexUpkeepTest, ZapKeepsTheUsersIndexRight) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    OpenUserIndex(brw);
    ui_.answers = {kButtonOk};
    SVUOTA(&brw);
  });
  ExpectIndexRight(0);
}

TEST_P(IndexUpkeepTest, RestructureKeepsTheUsersIndexRight) {
  RunWithTable(ui_, table_, [&](TWBrowse& brw) {
    OpenUserIndex(brw);
    MODITAB(Structure({{"CODICE", "N", 4, 0}, {"NOME", "C", 16, 0}, {"CITTA", "C", 10, 0}}));
  });
  ExpectIndexRight(10);
}

INSTANTIATE_TEST_SUITE_P(Drivers, IndexUpkeepTest, ::testing::Values("DBFNTX", "DBFCDX"));

}  // namespace
}  // namespace vosk
