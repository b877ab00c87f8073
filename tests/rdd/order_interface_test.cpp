// The order interface over NTX bags: resolving orders and bags, focus, the order list, the
// condition record, custom orders, destroy, rebuild, and the answers without a table.

#include "ntx_test_support.h"

namespace vosk {
namespace {

class OrderInterfaceTest : public NtxTest {
 protected:
  void SetUp() override {
    NtxTest::SetUp();
    ASSERT_TRUE(MakeTable("t", {{"NAME", "C", 8, 0}, {"N", "N", 4, 0}}));
    const char* names[] = {"DELTA", "ALFA", "CHARLIE", "BRAVO"};
    int n = 4;
    for (const char* s : names) Add({Value::String(s), Value::Integer(n--)});
    ORDCONDSET({.additive = true});
    ASSERT_TRUE(ORDCREATE(Path("a.ntx"), "X", "NAME")) << ErrorText();
    ORDCONDSET({.additive = true});
    ASSERT_TRUE(ORDCREATE(Path("b.ntx"), "x", "N")) << ErrorText();
  }
};

TEST_F(OrderInterfaceTest, ResolvingOrdersAndBags) {
  EXPECT_EQ(ORDCOUNT(), 2);
  EXPECT_EQ(ORDNUMBER(Value::String("x")), 1) << "the first of two tags named X, in list order";
  EXPECT_EQ(ORDNUMBER(Value::String("X"), Value::String("b.ntx")), 2);
  EXPECT_EQ(ORDNAME(Value::Integer(2)), "X");
  EXPECT_EQ(ORDKEY(Value::Integer(2)), "N");
  EXPECT_EQ(ORDNAME(Value::Integer(3)), "");
  EXPECT_EQ(ORDNUMBER(Value::String("NONE")), 0);
  EXPECT_EQ(ORDCOUNT(Value::Integer(2)), 1);
  EXPECT_EQ(INDEXORD(), 2) << "the last created order controls";
  EXPECT_EQ(DBORDERINFO(Value::Integer(kOiBagName), Value(), Value::Integer(1)).str(), "a.ntx");
  EXPECT_EQ(ORDBAGEXT(), ".ntx");
  DBORDERINFO(Value());
  EXPECT_LAST_ERROR(kEgArg, 1014);
}

TEST_F(OrderInterfaceTest, FocusByNameThatMatchesNothingLeavesNaturalOrder) {
  EXPECT_EQ(ORDSETFOCUS(Value::String("NOPE")), "X");
  EXPECT_EQ(INDEXORD(), 0);
  EXPECT_EQ(ORDSETFOCUS(Value::Integer(1)), "");
  EXPECT_EQ(INDEXORD(), 1);
  EXPECT_EQ(ORDSETFOCUS(), "X") << "no argument: only reads";
  EXPECT_EQ(INDEXORD(), 1);
  DBGOTO(Value::Integer(3));
  ORDSETFOCUS(Value::Integer(2));
  EXPECT_EQ(RECNO(), 3u) << "the record does not move";
}

TEST_F(OrderInterfaceTest, NonAdditiveCreateClosesOtherBagsButTheStructuralOne) {
  ORDCONDSET({.additive = true});
  ASSERT_TRUE(ORDCREATE(Path("t.ntx"), "", "NAME"));  // named like the table
  ASSERT_TRUE(ORDCREATE(Path("c.ntx"), "", "N"));
  EXPECT_EQ(ORDCOUNT(), 2);
  EXPECT_EQ(ORDNAME(Value::Integer(1)), "T");
  EXPECT_EQ(ORDNAME(Value::Integer(2)), "C");
  ORDLISTCLEAR();
  EXPECT_EQ(ORDCOUNT(), 1) << "the structural bag stays";
  EXPECT_EQ(INDEXORD(), 0);
}

TEST_F(OrderInterfaceTest, ListAddSetsFocusOnlyWhenNoneControls) {
  ORDLISTCLEAR();
  EXPECT_FALSE(ORDLISTADD(Value::String("")));
  EXPECT_TRUE(errors_.empty()) << "an empty name fails quietly";
  ORDLISTADD(Value::Integer(3));
  EXPECT_LAST_ERROR(kEgArg, 1008);
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("b.ntx"))));
  EXPECT_EQ(INDEXORD(), 1);
  EXPECT_EQ(RECNO(), 4u) << "top of N: BRAVO has N = 1";
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("a.ntx"))));
  EXPECT_EQ(INDEXORD(), 1);
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("a.ntx"))));
  EXPECT_EQ(ORDCOUNT(), 2) << "a bag already open is not opened again";
}

TEST_F(OrderInterfaceTest, EmptyTableAnswers) {
  ASSERT_TRUE(MakeTable("empty", {{"NAME", "C", 8, 0}}));
  ASSERT_TRUE(ORDCREATE(Path("empty.ntx"), "", "NAME"));
  EXPECT_EQ(ORDKEYCOUNT(), 0);
  EXPECT_EQ(ORDKEYNO(), 0);
  EXPECT_TRUE(EOF_());
  EXPECT_TRUE(BOF());
}

TEST_F(OrderInterfaceTest, NoTableInTheArea) {
  DBCLOSEALL();
  DBSELECTAREA(5);
  errors_.clear();
  EXPECT_FALSE(ORDCONDSET());
  EXPECT_FALSE(ORDDESTROY(Value::Integer(1)));
  EXPECT_EQ(INDEXORD(), 0);
  EXPECT_TRUE(errors_.empty());
  ORDKEYCOUNT();
  EXPECT_LAST_ERROR(kEgNoTable, 2001);
  EXPECT_EQ(ORDBAGEXT(), ".ntx") << "the default driver answers";
}

TEST_F(OrderInterfaceTest, ConditionRecordFlagRules) {
  ORDCONDSET({.next = 2, .use_current = false});
  const OrderCondition* c = CurrentArea()->pending_order_condition();
  ASSERT_NE(c, nullptr);
  EXPECT_FALSE(c->all);
  EXPECT_TRUE(c->scoped);
  EXPECT_TRUE(c->active);
  ORDCONDSET({.while_block = [] { return Value::Logical(true); }});
  c = CurrentArea()->pending_order_condition();
  EXPECT_TRUE(c->rest) << "a WHILE block forces REST";
  EXPECT_FALSE(c->all);
  ORDCONDSET();
  c = CurrentArea()->pending_order_condition();
  EXPECT_TRUE(c->all);
  EXPECT_FALSE(c->active);
  // NEXT 2 from record 2 builds a partial order over records 2 and 3 (physical order).
  DBGOTO(Value::Integer(2));
  ORDCONDSET({.next = 2});
  ASSERT_TRUE(ORDCREATE(Path("p.ntx"), "", "NAME")) << ErrorText();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 3}));
  EXPECT_TRUE(CurrentArea()->pending_order_condition() == nullptr) << "the create consumed it";
}

TEST_F(OrderInterfaceTest, CustomOrderTakesOnlyGivenKeys) {
  ORDCONDSET({.additive = true, .custom = true});
  ASSERT_TRUE(ORDCREATE(Path("u.ntx"), "", "NAME")) << ErrorText();
  EXPECT_EQ(ORDKEYCOUNT(), 0);
  DBGOTO(Value::Integer(3));
  EXPECT_TRUE(ORDKEYADD());
  DBGOTO(Value::Integer(1));
  EXPECT_TRUE(ORDKEYADD());
  FIELDPUT(1, Value::String("ZULU"));  // not maintained
  DBCOMMIT();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{3, 1}));
  DBGOTO(Value::Integer(3));
  EXPECT_TRUE(ORDKEYDEL());
  EXPECT_EQ(ORDKEYCOUNT(), 1);
  ORDSETFOCUS(Value::String("X"));
  ORDKEYADD();
  EXPECT_LAST_ERROR(kEgUnknown, 1052);
}

// A custom order whose header carries the template flag takes key values the caller gives;
// without the flag a given value is ignored and the record's own key is added.
TEST_F(OrderInterfaceTest, TemplateOrderTakesGivenKeyValues) {
  ORDCONDSET({.additive = true, .custom = true});
  ASSERT_TRUE(ORDCREATE(Path("tp.ntx"), "", "NAME")) << ErrorText();
  DBGOTO(Value::Integer(1));
  ASSERT_TRUE(ORDKEYADD(Value(), Value(), Value::String("ZZ")));
  EXPECT_EQ(ORDKEYVAL().str(), "DELTA   ");
  ASSERT_TRUE(DBSEEK(Value::String("DELTA"))) << "no template flag: the record's own key";
  ORDLISTCLEAR();
  {
    std::fstream f(Path("tp.ntx"), std::ios::in | std::ios::out | std::ios::binary);
    char flags[2];
    f.read(flags, 2);
    flags[0] = static_cast<char>(static_cast<uint8_t>(flags[0]) | 0x80);
    f.seekp(0);
    f.write(flags, 2);
  }
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("tp.ntx")))) << ErrorText();
  ORDSETFOCUS(Value::Integer(1));
  DBGOTO(Value::Integer(2));
  ASSERT_TRUE(ORDKEYADD(Value(), Value(), Value::String("AAA")));
  DBGOTO(Value::Integer(3));
  ASSERT_TRUE(ORDKEYADD(Value(), Value(), Value::String("ZZZ")));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 1, 3}));
  ASSERT_TRUE(DBSEEK(Value::String("ZZZ")));
  EXPECT_EQ(RECNO(), 3u);
  EXPECT_FALSE(ORDKEYDEL(Value(), Value(), Value::String("AAA"))) << "record 3 has no key AAA";
  EXPECT_EQ(ORDKEYCOUNT(), 3);
  DBGOTO(Value::Integer(2));
  ASSERT_TRUE(ORDKEYDEL(Value(), Value(), Value::String("AAA")));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 3}));
  DBGOTO(Value::Integer(2));
  ORDKEYADD(Value(), Value(), Value::Integer(7));
  EXPECT_LAST_ERROR(kEgDataType, 1026);
}

// An order on a timestamp field sorts by date and time; a date seeks the first key of its day.
TEST_F(OrderInterfaceTest, TimestampOrder) {
  ASSERT_TRUE(MakeTable("ts", {{"AT", "T", 8, 0}}));
  const int32_t day = JulianFromYmd(2024, 1, 15);
  const Value stamps[] = {Value::Timestamp(day + 1, 5), Value::Timestamp(day, 43200000),
                          Value::Timestamp(day, 1000), Value::Timestamp(day - 1, 86399999)};
  for (const Value& v : stamps) Add({v});
  ASSERT_TRUE(ORDCREATE(Path("ts.ntx"), "", "AT")) << ErrorText();
  EXPECT_EQ(DBORDERINFO(Value::Integer(kOiKeyType)).str(), "T");
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 3, 2, 1}));
  ASSERT_TRUE(DBSEEK(Value::Date(day)));
  EXPECT_EQ(RECNO(), 3u);
  ASSERT_TRUE(DBSEEK(Value::Timestamp(day, 43200000)));
  EXPECT_EQ(RECNO(), 2u);
  DBGOTO(Value::Integer(1));
  FIELDPUT(1, Value::Timestamp(day - 2, 0));
  DBCOMMIT();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 4, 3, 2}));
}

TEST_F(OrderInterfaceTest, DestroyAndRebuild) {
  EXPECT_TRUE(ORDDESTROY(Value::String("X"), Value::String("b.ntx")));
  EXPECT_FALSE(FileExists(Path("b.ntx")));
  EXPECT_EQ(ORDCOUNT(), 1);
  EXPECT_EQ(INDEXORD(), 0) << "the destroyed order controlled";
  ORDSETFOCUS(Value::Integer(1));
  std::string before = ReadAll(Path("a.ntx"));
  ORDLISTREBUILD();
  EXPECT_TRUE(errors_.empty()) << ErrorText();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 4, 3, 1}));
  EXPECT_EQ(ReadAll(Path("a.ntx")).substr(1024), before.substr(1024));
}

TEST_F(OrderInterfaceTest, RebuildOfASharedTableIsRefused) {
  DBCLOSEALL();
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", Path("t.dbf"), "", true, false));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("a.ntx"))));
  ORDLISTREBUILD();
  EXPECT_LAST_ERROR(kEgShared, kEdfShared);
}

TEST_F(OrderInterfaceTest, CompoundFileWithMultiTag) {
  NtxArea::SetMultiTag(true);
  ASSERT_TRUE(ORDCREATE(Path("m.ntx"), "BYNAME", "NAME")) << ErrorText();
  ORDCONDSET({.additive = true, .custom = false});
  ASSERT_TRUE(ORDCREATE(Path("m.ntx"), "BYN", "N")) << ErrorText();
  EXPECT_EQ(ORDCOUNT(Value::String("m.ntx")), 2);
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 3, 2, 1}));
  ORDSETFOCUS(Value::String("BYNAME"));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 4, 3, 1}));
  DBGOTO(Value::Integer(2));
  FIELDPUT(1, Value::String("ECHO"));
  DBCOMMIT();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 3, 1, 2}));
  // Reopened, the compound directory gives both orders; one can be destroyed.
  ORDLISTCLEAR();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("m.ntx"))));
  EXPECT_EQ(ORDCOUNT(), 2);
  EXPECT_EQ(ORDNAME(Value::Integer(2)), "BYN");
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 3, 1, 2}));
  EXPECT_TRUE(ORDDESTROY(Value::String("BYN")));
  EXPECT_EQ(ORDCOUNT(), 1);
  ORDLISTCLEAR();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("m.ntx"))));
  EXPECT_EQ(ORDNAME(Value::Integer(1)), "BYNAME");
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 3, 1, 2}));
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
