// The database command interface: area designators, aliases, field lookup, DBCREATE and
// RDDSETDEFAULT argument checks, closing related areas, and the answers with no table.

#include <string>

#include "rdd/work_area.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

class DbCommandsTest : public RddTest {
 protected:
  std::string Clienti() {
    return Create("Clienti.dbf", {{"NOME", "C", 10, 0}, {"CITTA", "C", 10, 0}});
  }
};

TEST_F(DbCommandsTest, SelectAnswersTheAreaADesignatorNames) {
  ASSERT_TRUE(Use(Clienti()));  // area 1, alias CLIENTI
  struct Case {
    Value designator;
    int area;
  } cases[] = {
      {Value::String("B"), 2},        {Value::String("b"), 2},
      {Value::String("K"), 11},       {Value::String("M"), 65535},
      {Value::String("12"), 0},       {Value::String("CLIENTI"), 1},
      {Value::String("clienti"), 1},  {Value::String("NOTUSED"), 0},
      {Value::String(""), 0},         {Value::Integer(2), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.designator.is_string() ? c.designator.str() : "a number");
    EXPECT_EQ(SELECT(c.designator), c.area);
  }
  EXPECT_EQ(SELECT(), 1);
}

TEST_F(DbCommandsTest, SelectAreaByDesignatorText) {
  DBSELECTAREA("12");
  EXPECT_EQ(SELECT(), 12);
  DBSELECTAREA("  C");
  EXPECT_EQ(SELECT(), 3);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
  DBSELECTAREA("NOSUCHALIAS");
  EXPECT_LAST_ERROR(kEgNoAlias, 1002);
  EXPECT_EQ(LastError()->subsystem, "BASE");
  EXPECT_TRUE(LastError()->can_retry);
  EXPECT_EQ(SELECT(), 3);
  // M and out-of-range numbers select the first free area instead.
  ASSERT_TRUE(Use(Clienti()));
  DBSELECTAREA("M");
  EXPECT_EQ(SELECT(), 2);
  DBSELECTAREA(70000);
  EXPECT_EQ(SELECT(), 2);
}

TEST_F(DbCommandsTest, AliasComesFromTheFileName) {
  ASSERT_TRUE(Use(Clienti()));
  EXPECT_EQ(ALIAS(), "CLIENTI");
  EXPECT_EQ(ALIAS(1), "CLIENTI");
  EXPECT_EQ(ALIAS(2), "");
}

TEST_F(DbCommandsTest, SecondOpenWithoutAliasRaisesAliasAlreadyInUse) {
  std::string path = Clienti();
  std::string before = Bytes(path);
  ASSERT_TRUE(Use(path, true));
  EXPECT_FALSE(Use(path, true));
  EXPECT_LAST_ERROR(kEgDupAlias, 1011);
  EXPECT_EQ(LastError()->subsystem, "DBCMD");
  EXPECT_EQ(SELECT(), 2);
  EXPECT_FALSE(USED());
  EXPECT_EQ(ALIAS(1), "CLIENTI");
  // A designator letter is in use as well.
  EXPECT_FALSE(Use(path, true, false, "A"));
  EXPECT_LAST_ERROR(kEgDupAlias, 1011);
  EXPECT_FALSE(USED());
  // With an alias of its own the second open works.
  EXPECT_TRUE(Use(path, true, false, "OTHER")) << ErrorText();
  DBCLOSEALL();
  EXPECT_EQ(Bytes(path), before);
}

TEST_F(DbCommandsTest, IllegalAliasCharactersFailTheOpen) {
  std::string path = Clienti();
  for (const char* alias : {"1ABC", "A-B", "A B"}) {
    SCOPED_TRACE(alias);
    errors_.clear();
    EXPECT_FALSE(Use(path, false, false, alias));
    EXPECT_LAST_ERROR(kEgBadAlias, 1010);
    EXPECT_FALSE(USED());
  }
  EXPECT_TRUE(Use(path, false, false, "_OK1  ")) << ErrorText();
  EXPECT_EQ(ALIAS(), "_OK1");
}

TEST_F(DbCommandsTest, FieldPosAcceptsCaseBlanksAndAliasPrefixes) {
  ASSERT_TRUE(Use(Clienti()));
  struct Case {
    const char* name;
    int pos;
  } cases[] = {
      {"CITTA", 2},           {"  citta  ", 2},           {"\t\r\nCitta", 2},
      {"FIELD->citta", 2},    {"field -> CITTA", 2},      {"FIEL->CITTA", 2},
      {"_FIELD->CITTA", 2},   {"_FIE->CITTA", 2},         {"clienti->citta", 2},
      {"CLIENTI -> NOME", 1}, {"FIELD->CLIENTI->NOME", 1}, {"OTHER->CITTA", 0},
      {"CITT", 0},            {"", 0},                    {"CITTA X", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FIELDPOS(c.name), c.pos) << "'" << c.name << "'";
}

TEST_F(DbCommandsTest, CreateRefusesANumericFieldOf256OrMoreAndWritesNoFile) {
  for (int width : {256, 300}) {
    errors_.clear();
    std::string path = Path("n" + std::to_string(width) + ".dbf");
    EXPECT_FALSE(DBCREATE(path, Structure({{"A", "C", 5, 0}, {"N", "N", width, 0}}), "DBF"));
    EXPECT_LAST_ERROR(kEgArg, 1014);
    EXPECT_EQ(LastError()->subsystem, "DBCMD");
    EXPECT_FALSE(FileExists(path));
  }
  EXPECT_TRUE(DBCREATE(Path("n255.dbf"), Structure({{"N", "N", 255, 0}}), "DBF"));
}

TEST_F(DbCommandsTest, CreateChecksTheStructureArray) {
  const ValueArray bad[] = {
      {Value::Array({Value::String("A"), Value::String("C"), Value::Integer(5)})},
      {Value::Array({Value::String("A"), Value::Integer(1), Value::Integer(5), Value::Integer(0)})},
      {Value::Array({Value::String("A"), Value::String("C"), Value::String("5"), Value::Integer(0)})},
      {Value::String("A")},
      {Value::Array({Value::String("A"), Value::String("X"), Value::Integer(5), Value::Integer(0)})},
  };
  int n = 0;
  for (const ValueArray& s : bad) {
    SCOPED_TRACE(n);
    errors_.clear();
    std::string path = Path("bad" + std::to_string(++n) + ".dbf");
    EXPECT_FALSE(DBCREATE(path, s, "DBF"));
    EXPECT_LAST_ERROR(kEgArg, 1014);
    EXPECT_FALSE(FileExists(path));
  }
  errors_.clear();
  EXPECT_FALSE(DBCREATE("", Structure({{"A", "C", 1, 0}}), "DBF"));
  EXPECT_LAST_ERROR(kEgArg, 1014);
}

TEST_F(DbCommandsTest, CreateKeepOpenChoosesTheArea) {
  ASSERT_TRUE(Use(Clienti()));
  ASSERT_TRUE(DBCREATE(Path("kept.dbf"), Structure({{"A", "C", 1, 0}}), "DBF", true));
  EXPECT_EQ(SELECT(), 2);
  EXPECT_EQ(ALIAS(), "KEPT");
  ASSERT_TRUE(DBCREATE(Path("here.dbf"), Structure({{"A", "C", 1, 0}}), "DBF", false));
  EXPECT_EQ(SELECT(), 2);
  EXPECT_EQ(ALIAS(), "HERE");
  ASSERT_TRUE(DBCREATE(Path("closed.dbf"), Structure({{"A", "C", 1, 0}}), "DBF"));
  EXPECT_EQ(SELECT(), 2);
  EXPECT_EQ(ALIAS(), "HERE");
  EXPECT_EQ(ALIAS(1), "CLIENTI");
}

TEST_F(DbCommandsTest, UnknownDriverIsAnArgumentError) {
  std::string previous = RDDSETDEFAULT("DBF");
  EXPECT_EQ(RDDSETDEFAULT("NOSUCHDRIVER"), "DBF");
  EXPECT_LAST_ERROR(kEgArg, 1015);
  EXPECT_EQ(RDDSETDEFAULT(), "DBF");
  EXPECT_EQ(RDDSETDEFAULT("dbffpt"), "DBF");
  EXPECT_EQ(RDDSETDEFAULT(previous), "DBFFPT");
  errors_.clear();
  EXPECT_FALSE(DBUSEAREA(true, "NOSUCHDRIVER", Clienti()));
  EXPECT_LAST_ERROR(kEgArg, 1015);
  EXPECT_FALSE(USED());
  errors_.clear();
  EXPECT_FALSE(DBCREATE(Path("x.dbf"), Structure({{"A", "C", 1, 0}}), "NOSUCHDRIVER"));
  EXPECT_LAST_ERROR(kEgArg, 1015);
  EXPECT_FALSE(FileExists(Path("x.dbf")));
}

TEST_F(DbCommandsTest, CloseAllClosesRelatedAreasAndSelectsAreaOne) {
  std::string path = Clienti();
  ASSERT_TRUE(Use(path, true, false, "PARENT"));
  ASSERT_TRUE(Use(path, true, false, "CHILD"));
  Relation rel;
  rel.key.eval = [] { return Value::Integer(1); };
  rel.key.text = "1";
  rel.child_area = 2;
  ASSERT_TRUE(Ok(AreaAt(1)->set_relation(rel)));
  EXPECT_EQ(AreaAt(2)->parent_count(), 1);
  DBSELECTAREA(2);
  DBCLOSEALL();
  EXPECT_EQ(AreaAt(1), nullptr);
  EXPECT_EQ(AreaAt(2), nullptr);
  EXPECT_EQ(SELECT(), 1);
  EXPECT_FALSE(USED());
  // The file is free again: an exclusive open works.
  EXPECT_TRUE(Use(path)) << ErrorText();
}

TEST_F(DbCommandsTest, WithNoTableTheInquiriesAnswerNeutralValues) {
  EXPECT_FALSE(USED());
  EXPECT_TRUE(BOF());
  EXPECT_TRUE(EOF_());
  EXPECT_FALSE(FOUND());
  EXPECT_FALSE(DELETED());
  EXPECT_EQ(RECNO(), 0u);
  EXPECT_EQ(LASTREC(), 0u);
  EXPECT_EQ(FCOUNT(), 0);
  EXPECT_EQ(FIELDPOS("A"), 0);
  EXPECT_TRUE(FIELDGET(1).is_nil());
  EXPECT_TRUE(errors_.empty()) << ErrorText();
  EXPECT_FALSE(DBAPPEND());
  EXPECT_LAST_ERROR(kEgNoTable, 2001);
  EXPECT_EQ(LastError()->subsystem, "DBCMD");
  errors_.clear();
  DBGOTOP();
  EXPECT_LAST_ERROR(kEgNoTable, 2001);
}

TEST_F(DbCommandsTest, GotoWithoutARecordNumber) {
  ASSERT_TRUE(Use(Clienti()));
  DBGOTO(Value());
  EXPECT_LAST_ERROR(kEgArg, 1003);
  errors_.clear();
  DBGOTO(Value::String("1"));
  EXPECT_LAST_ERROR(kEgDataType, 1020);
}

TEST_F(DbCommandsTest, FieldNamesAndStructure) {
  ASSERT_TRUE(Use(Create("s.dbf", {{"name", "C", 10, 0}, {"PRICE", "N", 8, 2}})));
  EXPECT_EQ(FIELDNAME(1), "NAME");
  EXPECT_EQ(FIELDNAME(0), "");
  EXPECT_EQ(FIELDNAME(3), "");
  Value s = DBSTRUCT();
  ASSERT_EQ(s.array().size(), 2u);
  const ValueArray& row = s.array()[1].array();
  EXPECT_EQ(row[0].str(), "PRICE");
  EXPECT_EQ(row[1].str(), "N");
  EXPECT_EQ(row[2].number(), 8);
  EXPECT_EQ(row[3].number(), 2);
}

}  // namespace
}  // namespace vosk
