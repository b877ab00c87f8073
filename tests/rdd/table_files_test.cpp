// Dropping, testing and renaming the files of tables and order bags.

#include "rdd_fixture.h"

namespace vosk {
namespace {

class TableFilesTest : public RddTest {
 protected:
  // t.dbf with an FPT memo and a .cpg file, and an order bag t.ntx beside it.
  void SetUp() override {
    RddTest::SetUp();
    FindDriver("DBFFPT")->settings().memo_type = 2;
    Create("t.dbf", {{"NAME", "C", 4, 0}, {"NOTE", "M", 10, 0}}, "DBFFPT");
    test::WriteFileBytes(Path("t.cpg"), "UTF-8");
    test::WriteFileBytes(Path("t.ntx"), "bag");
  }
  bool Exists(const std::string& name) { return FileExists(Path(name)); }
};

TEST_F(TableFilesTest, ExistsLooksForTheTableOrTheBag) {
  EXPECT_TRUE(DBEXISTS(Path("t")));
  EXPECT_TRUE(DBEXISTS(Path("T.DBF")));  // any letter case
  EXPECT_FALSE(DBEXISTS(Path("nosuch")));
  EXPECT_TRUE(DBEXISTS("", Path("t"), "DBFNTX"));
  EXPECT_FALSE(DBEXISTS("", Path("u"), "DBFNTX"));
}

TEST_F(TableFilesTest, RenameTakesTheMemoAndCpgAlongButNeverReplacesAFile) {
  ASSERT_TRUE(DBRENAME(Path("t"), "", "u"));  // the new name stays in the table's folder
  for (const char* gone : {"t.dbf", "t.fpt", "t.cpg"}) EXPECT_FALSE(Exists(gone)) << gone;
  for (const char* there : {"u.dbf", "u.fpt", "u.cpg", "t.ntx"}) EXPECT_TRUE(Exists(there)) << there;
  ASSERT_TRUE(Use(Path("u"), false, false, "", "DBFFPT")) << ErrorText();
  DBCLOSEAREA();

  test::WriteFileBytes(Path("v.dbf"), "someone else's");
  EXPECT_FALSE(DBRENAME(Path("u"), "", "v.dbf"));
  EXPECT_EQ(Bytes(Path("v.dbf")), "someone else's");
  EXPECT_TRUE(Exists("u.dbf"));
  EXPECT_FALSE(DBRENAME(Path("nosuch"), "", "w"));
  // A bag is renamed alone.
  ASSERT_TRUE(DBRENAME("", Path("t"), "w", "DBFNTX"));
  EXPECT_TRUE(Exists("w.ntx"));
  EXPECT_FALSE(Exists("t.ntx"));
}

TEST_F(TableFilesTest, DropDeletesTheTableAndItsCompanionsButNotAnOpenTable) {
  ASSERT_TRUE(Use(Path("t"), true, false, "", "DBFFPT"));
  EXPECT_FALSE(DBDROP(Path("t")));
  EXPECT_FALSE(DBRENAME(Path("t"), "", "u"));
  EXPECT_TRUE(Exists("t.dbf"));
  DBCLOSEAREA();
  ASSERT_TRUE(DBDROP(Path("t")));
  for (const char* gone : {"t.dbf", "t.fpt", "t.cpg"}) EXPECT_FALSE(Exists(gone)) << gone;
  EXPECT_TRUE(Exists("t.ntx")) << "a bag that is not structural stays";
  EXPECT_FALSE(DBDROP(Path("t")));
  ASSERT_TRUE(DBDROP("", Path("t"), "DBFNTX"));
  EXPECT_FALSE(Exists("t.ntx"));
}

}  // namespace
}  // namespace vosk
