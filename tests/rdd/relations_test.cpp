// Relations between a parent and a child table, and the work-area functions that expressions
// call by name.

#include <memory>

#include "expr/expression.h"
#include "rdd/ord_commands.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

class RelationsTest : public RddTest {
 protected:
  // PARENT(CODE C3, CHILDNO N3) and CHILD(CODE C3, NAME C8), both open (DBFNTX driver);
  // the parent is current.
  void SetUp() override {
    RddTest::SetUp();
    Fill(Create("child.dbf", {{"CODE", "C", 3, 0}, {"NAME", "C", 8, 0}}), "CHILD",
         {{"A", Value::String("alpha")}, {"B", Value::String("beta")},
          {"A", Value::String("alpha2")}});
    Fill(Create("parent.dbf", {{"CODE", "C", 3, 0}, {"CHILDNO", "N", 3, 0}}), "PARENT",
         {{"B", Value::Integer(2)}, {"A", Value::Integer(1)}, {"X", Value::Integer(9)}});
    ASSERT_EQ(ALIAS(), "PARENT");
  }

  void Fill(const std::string& path, const std::string& alias,
            const std::vector<std::pair<std::string, Value>>& rows) {
    ASSERT_TRUE(Use(path, false, false, alias, "DBFNTX")) << ErrorText();
    for (const auto& [code, second] : rows) {
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String(code));
      FIELDPUT(2, second);
    }
    DBCOMMIT();
  }
  Value Eval(const std::string& text) {
    CompileError err;
    std::unique_ptr<Expression> e = Compile(text, &err);
    EXPECT_TRUE(e) << text;
    return e ? e->Eval() : Value();
  }
  // Record number and EOF of the child after the parent moves to record r.
  std::pair<int, bool> ChildAfter(uint32_t parent_recno) {
    DBSELECTAREA("PARENT");
    DBGOTO(Value::Integer(parent_recno));
    DBSELECTAREA("CHILD");
    std::pair<int, bool> out{RECNO(), EOF_()};
    DBSELECTAREA("PARENT");
    return out;
  }
  void IndexChildOnCode() {
    DBSELECTAREA("CHILD");
    ASSERT_TRUE(DBCREATEINDEX(Path("child_code"), "CODE")) << ErrorText();
    DBSELECTAREA("PARENT");
  }
};

TEST_F(RelationsTest, ChildWithoutOrderFollowsTheKeyAsRecordNumber) {
  ASSERT_TRUE(DBSETRELATION(Value::String("CHILD"), "CHILDNO"));
  struct Case { uint32_t parent; int child; bool eof; };
  for (const Case& c : {Case{1, 2, false}, Case{2, 1, false}, Case{3, 4, true}}) {
    auto [recno, eof] = ChildAfter(c.parent);
    EXPECT_EQ(recno, c.child) << "parent record " << c.parent;
    EXPECT_EQ(eof, c.eof) << "parent record " << c.parent;
  }
  // The parent at its end of file puts the child on its phantom record.
  DBGOBOTTOM();
  DBSKIP(1);
  EXPECT_TRUE(Eval("CHILD->(EOF())").logical());
}

TEST_F(RelationsTest, ChildWithOrderIsPositionedByKey) {
  IndexChildOnCode();
  ASSERT_TRUE(DBSETRELATION(Value::String("CHILD"), "CODE"));
  struct Case { uint32_t parent; int child; bool eof; const char* name; };
  for (const Case& c : {Case{1, 2, false, "beta    "}, Case{2, 1, false, "alpha   "},
                        Case{3, 4, true, "        "}}) {
    DBGOTO(Value::Integer(c.parent));
    EXPECT_EQ(Eval("CHILD->NAME").str(), c.name) << "parent record " << c.parent;
    auto [recno, eof] = ChildAfter(c.parent);
    EXPECT_EQ(recno, c.child) << "parent record " << c.parent;
    EXPECT_EQ(eof, c.eof) << "parent record " << c.parent;
  }
  EXPECT_EQ(DBRELATION(1), "CODE");
  EXPECT_EQ(DBRSELECT(1), 1);  // the child was opened first
  EXPECT_EQ(Eval("DBRELATION(1)").str(), "CODE");
}

TEST_F(RelationsTest, ScopedRelationShowsOnlyTheChildRecordsOfTheKey) {
  IndexChildOnCode();
  ASSERT_TRUE(ORDSETRELATION(Value::String("CHILD"), "CODE"));
  DBGOTO(Value::Integer(2));  // CODE "A": child records 1 and 3
  DBSELECTAREA("CHILD");
  std::vector<int> seen;
  for (DBGOTOP(); !EOF_(); DBSKIP(1)) seen.push_back(RECNO());
  EXPECT_EQ(seen, (std::vector<int>{1, 3}));
  // Dropping the relation gives the child its whole order back.
  DBSELECTAREA("PARENT");
  DBCLEARRELATION();
  DBSELECTAREA("CHILD");
  seen.clear();
  for (DBGOTOP(); !EOF_(); DBSKIP(1)) seen.push_back(RECNO());
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 2}));
}

TEST_F(RelationsTest, ClosingEitherSideEndsTheRelation) {
  ASSERT_TRUE(DBSETRELATION(Value::String("CHILD"), "CHILDNO"));
  DBSELECTAREA("CHILD");
  DBCLOSEAREA();
  DBSELECTAREA("PARENT");
  EXPECT_EQ(DBRELATION(1), "");
  DBGOTO(Value::Integer(1));  // the parent moves with no child to reposition
  EXPECT_EQ(RECNO(), 1);

  // DBCLOSEALL with a relation in place closes both and selects area 1.
  ASSERT_TRUE(Use(Path("child.dbf"), false, false, "CHILD"));
  DBSELECTAREA("PARENT");
  ASSERT_TRUE(DBSETRELATION(Value::String("CHILD"), "CHILDNO"));
  DBCLOSEALL();
  EXPECT_EQ(SELECT(), 1);
  EXPECT_FALSE(USED());
  EXPECT_EQ(AreaOfDesignator("CHILD"), 0);
  EXPECT_EQ(AreaOfDesignator("PARENT"), 0);
}

// A parent with two children: closing one child drops only the relation into it.
TEST_F(RelationsTest, ClosingOneChildKeepsTheRelationIntoTheOther) {
  Fill(Create("other.dbf", {{"CODE", "C", 3, 0}, {"NAME", "C", 8, 0}}), "OTHER",
       {{"Z", Value::String("zeta")}, {"Y", Value::String("ypsilon")}});
  const int other = SELECT();
  DBSELECTAREA("PARENT");
  ASSERT_TRUE(DBSETRELATION(Value::String("CHILD"), "CHILDNO"));
  ASSERT_TRUE(DBSETRELATION(Value::String("OTHER"), "CHILDNO", true));
  DBSELECTAREA("CHILD");
  DBCLOSEAREA();
  DBSELECTAREA("PARENT");
  EXPECT_EQ(DBRELATION(1), "CHILDNO");
  EXPECT_EQ(DBRSELECT(1), other);
  EXPECT_EQ(DBRELATION(2), "");
  DBGOTO(Value::Integer(1));  // CHILDNO 2
  EXPECT_EQ(Eval("OTHER->NAME").str(), "ypsilon ");
  DBGOTO(Value::Integer(2));  // CHILDNO 1
  EXPECT_EQ(Eval("OTHER->NAME").str(), "zeta    ");
}

TEST_F(RelationsTest, BadRelationsAreRefused) {
  EXPECT_FALSE(DBSETRELATION(Value::String("NOSUCH"), "CHILDNO"));
  EXPECT_LAST_ERROR(kEgNoAlias, 1002);
  EXPECT_FALSE(DBSETRELATION(Value::String("CHILD"), "  "));
  EXPECT_LAST_ERROR(kEgArg, 1006);
  EXPECT_FALSE(DBSETRELATION(Value(), "CHILDNO"));
  EXPECT_LAST_ERROR(kEgArg, 1006);
  EXPECT_EQ(DBRELATION(1), "");
}

// The work-area functions of the expression language, called by name.
TEST_F(RelationsTest, OrderFunctionsAreCallableInExpressions) {
  DBSELECTAREA("CHILD");
  EXPECT_EQ(Eval("INDEXORD()").number(), 0);
  EXPECT_EQ(Eval("ORDKEY()").str(), "");
  IndexChildOnCode();
  DBSELECTAREA("CHILD");
  DBGOTO(Value::Integer(2));  // "B", last in key order
  struct Case { const char* text; Value want; };
  for (const Case& c : {Case{"INDEXORD()", Value::Integer(1)},
                        Case{"ORDKEY()", Value::String("CODE")},
                        Case{"ORDKEYNO()", Value::Integer(3)},
                        Case{"ORDKEYCOUNT()", Value::Integer(3)},
                        Case{"RECNO()", Value::Integer(2)}}) {
    Value v = Eval(c.text);
    if (c.want.is_string()) {
      EXPECT_EQ(v.is_string() ? v.str() : "?", c.want.str()) << c.text;
    } else {
      EXPECT_EQ(v.is_numeric() ? v.number() : -1, c.want.number()) << c.text;
    }
  }
  // Through an alias, from another area.
  DBSELECTAREA("PARENT");
  EXPECT_EQ(Eval("CHILD->(ORDKEYNO())").number(), 3);
}

}  // namespace
}  // namespace vosk
