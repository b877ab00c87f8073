// Restructuring a table: the conversion map, the value conversion table and RestructureTable,
// with its backup, its cipher, a full disk and the files it leaves.

#include "rdd/restructure.h"

#include <filesystem>
#include <string>
#include <vector>

#include "expr/date_text.h"
#include "expr/number_text.h"
#include "memo_test_support.h"
#include "platform/system.h"
#include "rdd/ord_commands.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

FieldSpec Def(const char* type, int len, int dec = 0, const char* name = "F") {
  return FieldSpec{name, type[0], len, dec, 0};
}

// A value as "type letter:text": numbers as STR() gives them trimmed, dates as YYYYMMDD,
// timestamps as YYYYMMDDhhmmss.
std::string Show(const Value& v) {
  switch (v.type()) {
    case Value::Type::kLogical: return v.logical() ? "L:T" : "L:F";
    case Value::Type::kInteger:
    case Value::Type::kDouble: {
      std::string s = StrOf(v);
      return "N:" + s.substr(std::min(s.size(), s.find_first_not_of(' ')));
    }
    case Value::Type::kDate: return "D:" + DateToDigits(v.julian());
    case Value::Type::kTimestamp:
      return "T:" + TimestampToDigits(v.julian(), v.millis()).substr(0, 14);
    case Value::Type::kString: return (v.is_memo() ? "M:" : "C:") + v.str();
    default: return "U";
  }
}

Value Day(int y, int m, int d) { return Value::Date(JulianFromYmd(y, m, d)); }
Value Stamp() { return Value::Timestamp(JulianFromYmd(2024, 1, 31), (12 * 3600 + 30 * 60 + 45) * 1000); }

class RestructureTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    SET(kSetDateFormat, Value::String("dd/mm/yyyy"));
    SETCENTURY(Value::Logical(true));
  }

  // The files of the test directory whose names hold an owned-name mark.
  std::vector<std::string> LeftOver() {
    std::vector<std::string> out;
    for (const std::string& name : ListDirectory(dir_.path())) {
      if (name.find("vosk-") != std::string::npos) out.push_back(name);
    }
    return out;
  }
};

TEST_F(RestructureTest, EveryOldTypeConvertsToEveryNewType) {
  struct Case {
    FieldSpec from;
    Value value;
    FieldSpec to;
    std::string expected;
  };
  const Case cases[] = {
      // Character and memo.
      {Def("C", 10), Value::String("abc       "), Def("C", 20), "C:abc       "},
      {Def("C", 10), Value::String("abc       "), Def("M", 10), "M:abc"},
      {Def("C", 10), Value::String("31/01/2024"), Def("D", 8), "D:20240131"},
      {Def("C", 10), Value::String("  20240131"), Def("D", 8), "D:20240131"},
      {Def("C", 10), Value::String("          "), Def("D", 8), "D:        "},
      {Def("C", 10), Value::String("1.234,56  "), Def("N", 10, 2), "N:1234.56"},
      {Def("C", 10), Value::String("12        "), Def("N", 1), "N:0"},
      {Def("C", 10), Value::String("  7.25    "), Def("N", 5, 1), "N:7.3"},
      {Def("C", 10), Value::String("          "), Def("L", 1), "L:F"},
      {Def("C", 10), Value::String(".f.       "), Def("L", 1), "L:F"},
      {Def("C", 10), Value::String("si        "), Def("L", 1), "L:T"},
      {Def("C", 20), Value::String("31/01/2024 12:30:45 "), Def("T", 8), "T:20240131123045"},
      {Def("C", 20), Value::String("20240131123045      "), Def("T", 8), "T:20240131123045"},
      {Def("C", 10), Value::String("31/01/2024"), Def("T", 8), "T:20240131000000"},
      {Def("M", 10), Value::String("a\r\nb\r\nc", true), Def("C", 10), "C:a b c"},
      {Def("M", 10), Value::String("x", true), Def("M", 10), "M:x"},
      {Def("M", 10), Value::String("1.234,5", true), Def("N", 8, 1), "N:1234.5"},
      {Def("M", 10), Value::String("31/01/2024", true), Def("D", 8), "D:20240131"},
      {Def("M", 10), Value::String(".F.", true), Def("L", 1), "L:F"},
      {Def("M", 10), Value::String("31/01/2024 12:30:45", true), Def("T", 8), "T:20240131123045"},
      // Dates.
      {Def("D", 8), Day(2024, 1, 31), Def("C", 10), "C:31/01/2024"},
      {Def("D", 8), Value::Date(0), Def("C", 10), "C:        "},
      {Def("D", 8), Day(2024, 1, 31), Def("M", 10), "M:31/01/2024"},
      {Def("D", 8), Value::Date(0), Def("M", 10), "M:"},  // no memo of 8 blanks
      {Def("D", 8), Day(2024, 1, 31), Def("D", 8), "D:20240131"},
      {Def("D", 8), Day(2024, 1, 31), Def("N", 8), "N:20240131"},
      {Def("D", 8), Day(2024, 1, 31), Def("N", 4), "N:0"},
      {Def("D", 8), Day(2024, 1, 31), Def("L", 1), "L:T"},
      {Def("D", 8), Value::Date(0), Def("L", 1), "L:F"},
      {Def("D", 8), Day(2024, 1, 31), Def("T", 8), "T:20240131000000"},
      // Numbers.
      {Def("N", 6, 2), Value::Double(12.5, 6, 2), Def("C", 10), "C:12.50"},
      {Def("N", 6, 2), Value::Double(0, 6, 2), Def("C", 10), "C:"},
      {Def("N", 3), Value::Integer(7, 3), Def("M", 10), "M:7"},
      {Def("N", 8), Value::Integer(20240131, 8), Def("D", 8), "D:20240131"},
      {Def("N", 8, 3), Value::Double(123.456, 8, 3), Def("N", 5, 1), "N:123.5"},
      {Def("N", 5), Value::Integer(12345, 5), Def("N", 3), "N:0"},
      {Def("N", 5), Value::Integer(-12, 5), Def("N", 3), "N:-12"},
      {Def("N", 3), Value::Integer(0, 3), Def("L", 1), "L:F"},
      {Def("N", 3), Value::Integer(5, 3), Def("L", 1), "L:T"},
      {Def("N", 14), Value::Integer(20240131123045, 14), Def("T", 8), "T:20240131123045"},
      // Logicals.
      {Def("L", 1), Value::Logical(true), Def("C", 5), "C:.T."},
      {Def("L", 1), Value::Logical(false), Def("C", 5), "C:"},
      {Def("L", 1), Value::Logical(true), Def("M", 10), "M:.T."},
      {Def("L", 1), Value::Logical(true), Def("D", 8), "D:        "},
      {Def("L", 1), Value::Logical(true), Def("N", 1), "N:1"},
      {Def("L", 1), Value::Logical(false), Def("N", 1), "N:0"},
      {Def("L", 1), Value::Logical(true), Def("L", 1), "L:T"},
      {Def("L", 1), Value::Logical(true), Def("T", 8), "T:              "},
      // Timestamps of both kinds.
      {Def("T", 8), Stamp(), Def("C", 30), "C:31/01/2024 12:30:45.000"},
      {Def("T", 8), Value::Timestamp(0, 0), Def("C", 30), "C:"},
      {Def("T", 8), Stamp(), Def("M", 10), "M:31/01/2024 12:30:45.000"},
      {Def("T", 8), Stamp(), Def("D", 8), "D:20240131"},
      {Def("T", 8), Stamp(), Def("N", 14), "N:20240131123045"},
      {Def("T", 8), Stamp(), Def("N", 8), "N:0"},
      {Def("T", 8), Stamp(), Def("L", 1), "L:T"},
      {Def("T", 8), Value::Timestamp(0, 0), Def("L", 1), "L:F"},
      {Def("T", 8), Stamp(), Def("T", 8), "T:20240131123045"},
      {Def("@", 8), Stamp(), Def("C", 30), "C:31/01/2024 12:30:45.000"},
      {Def("@", 8), Stamp(), Def("M", 10), "M:31/01/2024 12:30:45.000"},
      {Def("@", 8), Stamp(), Def("D", 8), "D:20240131"},
      {Def("@", 8), Stamp(), Def("N", 14), "N:20240131123045"},
      {Def("@", 8), Value::Timestamp(0, 0), Def("L", 1), "L:T"},
      {Def("@", 8), Stamp(), Def("T", 8), "T:20240131123045"},
      // Autoincrement numbers.
      {Def("+", 4), Value::Integer(42), Def("C", 10), "C:42"},
      {Def("+", 4), Value::Integer(42), Def("M", 10), "M:42"},
      {Def("+", 4), Value::Integer(20240131), Def("D", 8), "D:20240131"},
      {Def("+", 4), Value::Integer(42), Def("N", 5), "N:42"},
      {Def("+", 4), Value::Integer(42), Def("N", 1), "N:0"},
      {Def("+", 4), Value::Integer(42), Def("L", 1), "L:T"},
      {Def("+", 4), Value::Integer(42), Def("T", 8), "N:42"},  // left to the driver
      // Numbers of the binary kinds convert as numbers.
      {Def("I", 4), Value::Integer(1234), Def("C", 10), "C:1234"},
      {Def("B", 8, 2), Value::Double(3.25, 20, 2), Def("N", 4, 1), "N:3.3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.from.type) + " " + Show(c.value) + " -> " + c.to.type +
                 std::to_string(c.to.length) + "." + std::to_string(c.to.decimals));
    EXPECT_EQ(Show(ConvertFieldValue(c.value, c.from, c.to)), c.expected);
  }
}

TEST_F(RestructureTest, ItalianNumberPunctuationAndFit) {
  const std::pair<const char*, const char*> texts[] = {
      {"1.234,56", "1234.56"}, {"1.234.567,8", "1234567.8"}, {"12,5", "12.5"},
      {"1234.56", "1234.56"},  {"1.234", "1.234"},           {"", ""},
  };
  for (const auto& [in, out] : texts) EXPECT_EQ(AdjustNumberText(in), out) << in;
  EXPECT_EQ(Show(FitNumber(99.995, 5, 2)), "N:0.00");  // rounds to 100.00: too wide
  EXPECT_EQ(Show(FitNumber(-9.5, 2, 0)), "N:0");    // -10 needs three places
  EXPECT_EQ(Show(FitNumber(-9.4, 2, 0)), "N:-9");
  EXPECT_EQ(FitNumber(2.675, 6, 2).decimals(), 2);
}

TEST_F(RestructureTest, ConversionMapBySameNameElseRenamedInPlace) {
  const std::vector<FieldSpec> old_fields = {Def("C", 10, 0, "NAME"), Def("N", 5, 0, "QTY"),
                                             Def("D", 8, 0, "DAY")};
  struct Case {
    const char* label;
    std::vector<const char*> names;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"unchanged", {"NAME", "QTY", "DAY"}, {1, 2, 3}},
      {"renamed in place", {"CUSTNAME", "QTY", "DAY"}, {1, 2, 3}},
      {"letter case", {"name", "Qty", "DAY"}, {1, 2, 3}},
      {"reordered", {"DAY", "NAME", "QTY"}, {3, 1, 2}},
      {"added at the end", {"NAME", "QTY", "DAY", "NEW"}, {1, 2, 3, 0}},
      {"inserted first", {"NEW", "NAME", "QTY", "DAY"}, {0, 1, 2, 3}},
      // A new name in the place of a field that moved elsewhere is a new field.
      {"moved away", {"NEW", "NAME"}, {0, 1}},
      {"removed", {"NAME", "DAY"}, {1, 3}},
  };
  for (const Case& c : cases) {
    std::vector<FieldSpec> new_fields;
    for (const char* n : c.names) new_fields.push_back(Def("C", 10, 0, n));
    EXPECT_EQ(ConversionMap(old_fields, new_fields), c.expected) << c.label;
  }
}

// A table of four records (the third deleted) with a memo field.
class RestructureTableTest : public RestructureTest {
 protected:
  void Build(const MemoSetup& setup = MemoSetup()) {
    CreateOpen("t.dbf", {{"NAME", "C", 10, 0}, {"PRICE", "C", 10, 0}, {"DAY", "D", 8, 0},
                         {"OK", "L", 1, 0}, {"NOTE", "M", 10, 0}, {"QTY", "N", 5, 0}},
               setup);
    const char* prices[] = {"1.234,56", "12", "7,5", ""};
    for (int i = 0; i < 4; ++i) {
      Append();
      Put(1, Value::String("name" + std::to_string(i + 1)));
      Put(2, Value::String(prices[i]));
      Put(3, i == 1 ? Value::Date(0) : Day(2024, 1, 31 - i));
      Put(4, Value::Logical(i % 2 == 0));
      Put(5, Value::String(i == 3 ? "" : "memo " + std::string(300 * i, 'x') + "\r\nend", true));
      Put(6, Value::Integer(100 * i));
      if (i == 2) DBDELETE();
    }
    DBCLOSEAREA();
    before_ = test::ReadFileBytes(Path("t.dbf"));
  }

  bool Restructure(const std::vector<FieldRow>& rows, const std::string& password = "",
                   RestructureReport* report = nullptr, const std::string& driver = "DBFFPT",
                   const std::string& bag = "") {
    EXPECT_TRUE(Use(Path("t.dbf"), false, false, "", driver)) << ErrorText();
    if (!bag.empty()) EXPECT_TRUE(ORDLISTADD(Value::String(Path(bag)))) << ErrorText();
    if (!password.empty()) DBINFO(131, Value::String(password));
    RestructureOptions options;
    options.password = password;
    options.progress = [this](double f) { progress_.push_back(f); };
    const bool ok = RestructureTable(Structure(rows), options, report);
    EXPECT_FALSE(USED()) << "the table is closed afterwards";
    return ok;
  }

  // Every record as "*|field|field..." with the values shown.
  std::vector<std::string> Records(const std::string& file, const std::string& password = "") {
    std::vector<std::string> out;
    EXPECT_TRUE(Use(Path(file), false, false, "", "DBFFPT")) << ErrorText();
    if (!password.empty()) DBINFO(131, Value::String(password));
    for (uint32_t r = 1; r <= LASTREC(); ++r) {
      DBGOTO(Value::Integer(r));
      std::string row = DELETED() ? "*" : " ";
      for (int f = 1; f <= FCOUNT(); ++f) row += "|" + Show(FIELDGET(f));
      out.push_back(row);
    }
    DBCLOSEAREA();
    return out;
  }

  std::string before_;
  std::vector<double> progress_;
};

TEST_F(RestructureTableTest, ConvertsEveryRecordAndKeepsTheOldTableAsBackup) {
  Build();
  const std::vector<std::string> old_records = Records("t.dbf");
  RestructureReport report;
  ASSERT_TRUE(Restructure({{"CUSTNAME", "C", 12, 0},  // NAME renamed in place
                           {"PRICE", "N", 10, 2},
                           {"DAY", "C", 10, 0},
                           {"OK", "N", 1, 0},
                           {"NOTE", "M", 10, 0},
                           {"QTY", "N", 2, 0},  // 100 and up no longer fit
                           {"ADDED", "N", 5, 0}},
                          "", &report))
      << ErrorText();
  EXPECT_EQ(report.records, 4u);
  const std::string long_memo = "M:memo " + std::string(300, 'x') + "\r\nend";
  EXPECT_EQ(Records("t.dbf"),
            (std::vector<std::string>{
                " |C:name1       |N:1234.56|C:31/01/2024|N:1|M:memo \r\nend|N:0|N:0",
                " |C:name2       |N:12.00|C:          |N:0|" + long_memo + "|N:0|N:0",
                "*|C:name3       |N:7.50|C:29/01/2024|N:1|M:memo " + std::string(600, 'x') +
                    "\r\nend|N:0|N:0",
                " |C:name4       |N:0.00|C:28/01/2024|N:0|M:|N:0|N:0",
            }));
  // The old table and memo file under the backup names, byte for byte the old table.
  EXPECT_EQ(report.backup, Path("t_ORIGINALE.dbf"));
  EXPECT_EQ(test::ReadFileBytes(Path("t_ORIGINALE.dbf")), before_);
  EXPECT_TRUE(fs::exists(Path("t_ORIGINALE.fpt")));
  EXPECT_EQ(Records("t_ORIGINALE.dbf"), old_records);
  EXPECT_TRUE(LeftOver().empty());
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back(), 1.0);
}

TEST_F(RestructureTableTest, KeepsTableKindMemoKindAndReplacesAnOlderBackup) {
  Build({.memo_kind = 1, .table_kind = 3});
  ASSERT_TRUE(Restructure({{"NAME", "C", 10, 0}, {"NOTE", "M", 10, 0}})) << ErrorText();
  ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFFPT"));
  EXPECT_EQ(Dbf()->table_kind(), TableKind::kDbase4);
  EXPECT_EQ(Dbf()->memo_kind(), MemoKind::kDbt);
  DBCLOSEAREA();
  EXPECT_TRUE(fs::exists(Path("t.dbt")));
  // Again, without memo fields: the memo file joins the backup, which replaces the older one.
  const std::string second = test::ReadFileBytes(Path("t.dbf"));
  ASSERT_TRUE(Restructure({{"NAME", "C", 4, 0}})) << ErrorText();
  EXPECT_EQ(test::ReadFileBytes(Path("t_ORIGINALE.dbf")), second);
  EXPECT_FALSE(fs::exists(Path("t.dbt")));
  EXPECT_TRUE(fs::exists(Path("t_ORIGINALE.dbt")));
  EXPECT_EQ(Records("t.dbf"), (std::vector<std::string>{" |C:name", " |C:name", "*|C:name",
                                                       " |C:name"}));
  EXPECT_TRUE(LeftOver().empty());
}

TEST_F(RestructureTableTest, AnEncipheredTableStaysEnciphered) {
  CreateOpen("t.dbf", {{"NAME", "C", 10, 0}, {"QTY", "N", 5, 0}});
  for (int i = 1; i <= 3; ++i) {
    Append();
    Put(1, Value::String("secret" + std::to_string(i)));
    Put(2, Value::Integer(i));
  }
  ASSERT_TRUE(DBINFO(140, Value::String("pw")).logical()) << ErrorText();
  DBCLOSEAREA();
  // Without the password nothing is done.
  EXPECT_FALSE(Restructure({{"NAME", "C", 12, 0}}));
  EXPECT_TRUE(LeftOver().empty());
  errors_.clear();
  // With a memo field the new table could not be enciphered: refused.
  EXPECT_FALSE(Restructure({{"NAME", "C", 12, 0}, {"NOTE", "M", 10, 0}}, "pw"));
  EXPECT_TRUE(LeftOver().empty());
  errors_.clear();
  ASSERT_TRUE(Restructure({{"NAME", "C", 12, 0}, {"QTY", "N", 5, 0}, {"NEW", "L", 1, 0}}, "pw"))
      << ErrorText();
  EXPECT_EQ(Bytes(Path("t.dbf")).find("secret"), std::string::npos);
  ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFFPT"));
  EXPECT_TRUE(DBINFO(132).logical());
  DBCLOSEAREA();
  EXPECT_EQ(Records("t.dbf", "pw"),
            (std::vector<std::string>{" |C:secret1     |N:1|L:F", " |C:secret2     |N:2|L:F",
                                      " |C:secret3     |N:3|L:F"}));
}

TEST_F(RestructureTableTest, AFullDiskLeavesTheTableAsItWas) {
  CreateOpen("t.dbf", {{"NAME", "C", 20, 0}, {"NOTE", "M", 10, 0}});
  for (int i = 1; i <= 2000; ++i) {
    Append();
    Put(1, Value::String("name" + std::to_string(i)));
    Put(2, Value::String(std::string(100, 'n'), true));
  }
  DBCLOSEAREA();
  const std::string table = Bytes(Path("t.dbf")), memo = Bytes(Path("t.fpt"));
  for (rlim_t limit : {rlim_t{30000}, rlim_t{table.size() + 1000}}) {
    SCOPED_TRACE(limit);
    bool ok = true;
    {
      FileSizeLimit full(limit);
      ASSERT_TRUE(full.ok());
      ok = Restructure({{"NAME", "C", 40, 0}, {"NOTE", "M", 10, 0}});
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(errors_.empty());
    errors_.clear();
    EXPECT_EQ(Bytes(Path("t.dbf")), table);
    EXPECT_EQ(Bytes(Path("t.fpt")), memo);
    EXPECT_FALSE(fs::exists(Path("t_ORIGINALE.dbf")));
    EXPECT_TRUE(LeftOver().empty()) << LeftOver().front();
  }
}

// The names of the orders of the current area, and the records of an order in its key order.
std::vector<std::string> OrderNames() {
  std::vector<std::string> out;
  for (int i = 1; i <= ORDCOUNT(); ++i) out.push_back(ORDNAME(Value::Integer(i)));
  return out;
}
std::vector<uint32_t> RecordsInOrder(const std::string& order) {
  ORDSETFOCUS(Value::String(order));
  std::vector<uint32_t> out;
  for (DBGOTOP(); !EOF_(); DBSKIP()) out.push_back(RECNO());
  return out;
}

TEST_F(RestructureTableTest, TheStructuralBagIsRebuiltWithItsTagsAndFlag) {
  // Restructured from an area of the index driver (the bag open, as in the window) and from one
  // without indexes (as dbutool opens it): the bag is found either way.
  for (const char* driver : {"DBFCDX", "DBFFPT"}) {
    SCOPED_TRACE(driver);
    for (const auto& e : fs::directory_iterator(dir_.path())) fs::remove(e.path());
    Build();
    ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFCDX"));
    ASSERT_TRUE(ORDCREATE(Path("t.cdx"), "BYNAME", "UPPER(NAME)", nullptr, Value::Logical(false)));
    OrdCondArgs cond;
    cond.for_text = "QTY > 0";
    cond.descending = true;
    ASSERT_TRUE(ORDCONDSET(cond));
    ASSERT_TRUE(ORDCREATE(Path("t.cdx"), "BYQTY", "QTY", nullptr, Value::Logical(true)));
    ASSERT_TRUE(ORDCREATE(Path("t.cdx"), "BYDAY", "DTOS(DAY)", nullptr, Value::Logical(false)));
    DBCLOSEAREA();
    RestructureReport report;
    ASSERT_TRUE(Restructure({{"NAME", "C", 12, 0}, {"QTY", "N", 8, 0}}, "", &report, driver))
        << ErrorText();
    // The tag on the removed field is dropped and said so; the others are built again.
    ASSERT_EQ(report.index_problems.size(), 1u);
    EXPECT_NE(report.index_problems[0].find("BYDAY"), std::string::npos)
        << report.index_problems[0];
    errors_.clear();
    ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFCDX")) << ErrorText();
    EXPECT_TRUE(Dbf()->structural_bag());
    EXPECT_EQ(OrderNames(), (std::vector<std::string>{"BYNAME", "BYQTY"}));
    EXPECT_EQ(ORDFOR(Value::String("BYQTY")), "QTY > 0");
    EXPECT_TRUE(ORDISUNIQUE(Value::String("BYQTY")));
    EXPECT_TRUE(ORDDESCEND(Value::String("BYQTY")));
    EXPECT_EQ(RecordsInOrder("BYNAME"), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(RecordsInOrder("BYQTY"), (std::vector<uint32_t>{4, 3, 2}));
    DBCLOSEAREA();
    // The backup opens with the old bag, all three tags.
    ASSERT_TRUE(Use(Path("t_ORIGINALE.dbf"), false, false, "", "DBFCDX")) << ErrorText();
    EXPECT_EQ(OrderNames(), (std::vector<std::string>{"BYNAME", "BYQTY", "BYDAY"}));
    DBCLOSEAREA();
    EXPECT_TRUE(LeftOver().empty());
    EXPECT_TRUE(errors_.empty()) << ErrorText();
  }
}

TEST_F(RestructureTableTest, OtherOpenIndexFilesAreRebuiltOrReported) {
  Build();
  ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFNTX"));
  ASSERT_TRUE(ORDCREATE(Path("byname.ntx"), "", "NAME"));
  ASSERT_TRUE(ORDCREATE(Path("byday.ntx"), "", "DAY"));
  DBCLOSEAREA();
  const std::string old_day = Bytes(Path("byday.ntx"));
  ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFNTX"));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("byname.ntx"))));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("byday.ntx"))));
  RestructureOptions options;
  RestructureReport report;
  // NAME widened and filled from the right: the order changes; DAY becomes text, which its key
  // (a date key now of text) still builds on.
  ASSERT_TRUE(RestructureTable(Structure({{"NAME", "C", 14, 0}, {"QTY", "N", 5, 0}}), options,
                               &report))
      << ErrorText();
  EXPECT_EQ(report.tags_rebuilt.size(), 1u);
  ASSERT_EQ(report.index_problems.size(), 2u);  // the tag, then the file left as it was
  EXPECT_NE(report.index_problems[1].find("byday.ntx"), std::string::npos);
  EXPECT_EQ(Bytes(Path("byday.ntx")), old_day);
  errors_.clear();
  ASSERT_TRUE(Use(Path("t.dbf"), false, false, "", "DBFNTX"));
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("byname.ntx")))) << ErrorText();
  EXPECT_EQ(ORDKEYCOUNT(), 4);
  EXPECT_EQ(RecordsInOrder(ORDNAME(Value::Integer(1))), (std::vector<uint32_t>{1, 2, 3, 4}));
  DBCLOSEAREA();
  EXPECT_TRUE(LeftOver().empty());
}

TEST_F(RestructureTableTest, RefusesATableOpenShared) {
  Build();
  ASSERT_TRUE(Use(Path("t.dbf"), true, false, "", "DBFFPT"));
  EXPECT_FALSE(RestructureTable(Structure({{"NAME", "C", 4, 0}}), RestructureOptions(), nullptr));
  EXPECT_LAST_ERROR(kEgShared, kEdfShared);
  EXPECT_EQ(Bytes(Path("t.dbf")), before_);
  EXPECT_TRUE(LeftOver().empty());
}

}  // namespace
}  // namespace vosk
