// Record transfer: copying to and appending from SDF text and other tables through DBCOPYTO,
// DBAPPFROM and DBSDF, the record walk's scopes, layout matching by name and whole-record
// copies.

#include <string>
#include <vector>

#include "rdd/transfer.h"
#include "rdd/trigger.h"
#include "rdd_fixture.h"
#include "support/file_size_limit.h"

namespace vosk {
namespace {

class TransferTest : public RddTest {
 protected:
  // A table NAME C10, AMOUNT N5.2, OK L1 holding the rows given, opened in a new area.
  void OpenSample(const std::vector<std::tuple<std::string, double, bool>>& rows,
                  const std::string& name = "src.dbf") {
    std::string path = Create(name, {{"NAME", "C", 10, 0}, {"AMOUNT", "N", 5, 2},
                                     {"OK", "L", 1, 0}});
    ASSERT_TRUE(Use(path));
    for (const auto& [text, amount, ok] : rows) {
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String(text));
      FIELDPUT(2, Value::Double(amount, 5, 2));
      FIELDPUT(3, Value::Logical(ok));
    }
    DBCOMMIT();
  }
  // The NAME values of every record of the current area (trailing blanks removed), "*" before
  // deleted ones.
  std::vector<std::string> Names(const std::string& field = "NAME") {
    std::vector<std::string> out;
    for (DBGOTOP(); !EOF_(); DBSKIP()) {
      std::string s = FIELDGET(FIELDPOS(field)).str();
      while (!s.empty() && s.back() == ' ') s.pop_back();
      out.push_back((DELETED() ? "*" : "") + s);
    }
    return out;
  }
  TransferArgs Sdf(const std::string& file) {
    TransferArgs a;
    a.file = Path(file);
    return a;
  }
};

TEST_F(TransferTest, CopyWritesFixedWidthLinesWithEndByte) {
  OpenSample({{"Rossi", 12.5, true}, {"Verdi", -3, false}});
  ASSERT_TRUE(DBSDF(true, Sdf("out.txt"))) << ErrorText();
  EXPECT_EQ(Bytes(Path("out.txt")),
            "Rossi     12.50T\r\n"
            "Verdi     -3.00F\r\n\x1a");
  SET(kSetEof, Value::Logical(false));
  ASSERT_TRUE(DBSDF(true, Sdf("noend")));  // the driver's extension is added
  EXPECT_EQ(Bytes(Path("noend.txt")), "Rossi     12.50T\r\nVerdi     -3.00F\r\n");
  EXPECT_EQ(ALIAS(), "SRC");  // the caller's area is selected again
}

TEST_F(TransferTest, MemoFieldsTakeNoRoomAndComeBackEmpty) {
  std::string path = Create("memo.dbf", {{"NAME", "C", 4, 0}, {"NOTE", "M", 10, 0},
                                         {"QTY", "N", 3, 0}}, "DBFFPT");
  ASSERT_TRUE(Use(path, false, false, "", "DBFFPT"));
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("ab"));
  FIELDPUT(2, Value::String("a long memo text", true));
  FIELDPUT(3, Value::Integer(7));
  ASSERT_TRUE(DBSDF(true, Sdf("memo.txt")));
  EXPECT_EQ(Bytes(Path("memo.txt")), "ab    7\r\n\x1a");
  ASSERT_TRUE(DBSDF(false, Sdf("memo.txt"))) << ErrorText();
  DBGOTO(Value::Integer(2));
  EXPECT_EQ(FIELDGET(1).str(), "ab  ");
  EXPECT_EQ(FIELDGET(2).str(), "");
  EXPECT_EQ(FIELDGET(3).number(), 7);
}

TEST_F(TransferTest, AppendReadsEveryLineEnd) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> names;
  } cases[] = {
      {"last line without separator", "a\r\nb", {"a", "b"}},
      {"end byte after the final CR LF", "a\r\nb\r\n\x1a", {"a", "b"}},
      {"empty line in the middle", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"long line cut, short one padded", "abcdefghijKLMNO99.99T\r\nx\r\n",
       {"abcdefghij", "x"}},
      {"LF only", "a\nb\nc\n", {"a", "b", "c"}},
      {"LF CR ends one line", "a\n\rb\n\r", {"a", "b"}},
      {"CR CR ends two", "a\r\rb\r", {"a", "", "b"}},
      {"empty file", "", {}},
  };
  for (const Case& c : cases) {
    DBCLOSEALL();
    OpenSample({}, std::string("dst") + std::to_string(&c - cases) + ".dbf");
    test::WriteFileBytes(Path("in.txt"), c.text);
    EXPECT_TRUE(DBSDF(false, Sdf("in.txt"))) << c.name << ErrorText();
    EXPECT_EQ(Names(), c.names) << c.name;
  }
  // The cut line's other fields: the number and the logical past the name are dropped with it.
  DBCLOSEALL();
  OpenSample({}, "short.dbf");
  test::WriteFileBytes(Path("in.txt"), "abc        1.50T\r\nabc\r\n");
  ASSERT_TRUE(DBSDF(false, Sdf("in.txt")));
  DBGOTOP();
  EXPECT_EQ(FIELDGET(2).number(), 1.5);
  EXPECT_TRUE(FIELDGET(3).logical());
  DBSKIP();
  EXPECT_EQ(FIELDGET(2).number(), 0);
  EXPECT_FALSE(FIELDGET(3).logical());
}

// A number that does not fit its text field fills it with "*" and raises the width error.
TEST_F(TransferTest, NumberTooWideBecomesAsterisksWithWidthError) {
  AreaOptions o;
  o.file = Path("five.txt");
  o.driver = "SDF";
  ASSERT_TRUE(DBCREATE(o, Structure({{"N", "N", 5, 0}, {"C", "C", 2, 0}}), true))
      << ErrorText();
  ASSERT_TRUE(DBAPPEND());
  errors_.clear();
  FIELDPUT(1, Value::Integer(123456));
  EXPECT_LAST_ERROR(kEgDataWidth, kEdfDataWidth);
  EXPECT_EQ(LastError()->operation, "N");
  FIELDPUT(2, Value::String("ok"));
  ASSERT_TRUE(DBAPPEND());
  errors_.clear();
  FIELDPUT(2, Value::Integer(1));  // a number into text: data type error, nothing stored
  EXPECT_LAST_ERROR(kEgDataType, kEdfDataType);
  FIELDPUT(1, Value::Integer(-1234));
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(Path("five.txt")), "*****ok\r\n-1234  \r\n\x1a");
}

TEST_F(TransferTest, ScopesOfTheWalk) {
  struct Case {
    const char* name;
    std::optional<int64_t> next;
    std::optional<uint32_t> record;
    const char* for_text;
    const char* while_text;
    bool rest;
    uint32_t start;  // record the source stands on before the copy
    std::vector<std::string> names;
  } cases[] = {
      {"all", {}, {}, "", "", false, 3, {"a", "b", "c", "d"}},
      {"NEXT 0 copies nothing", 0, {}, "", "", false, 2, {}},
      {"NEXT 2 from the current record", 2, {}, "", "", false, 2, {"b", "c"}},
      {"record identifier", {}, 3, "", "", false, 1, {"c"}},
      {"record identifier failing FOR", {}, 3, "!OK", "", false, 1, {}},
      {"record identifier failing WHILE", {}, 2, "", "AMOUNT > 5", false, 1, {}},
      {"REST", {}, {}, "", "", true, 3, {"c", "d"}},
      {"WHILE starts here", {}, {}, "", "AMOUNT < 4", false, 2, {"b", "c"}},
      {"FOR", {}, {}, "OK", "", false, 4, {"a", "c"}},
  };
  for (const Case& c : cases) {
    DBCLOSEALL();
    OpenSample({{"a", 1, true}, {"b", 2, false}, {"c", 3, true}, {"d", 4, false}});
    DBGOTO(Value::Integer(c.start));
    TransferArgs a;
    a.file = Path("scope.dbf");
    a.driver = "DBF";
    a.next = c.next;
    a.record = c.record;
    if (c.rest) a.rest = true;
    a.for_text = c.for_text;
    a.while_text = c.while_text;
    ASSERT_TRUE(DBCOPYTO(a)) << c.name << ErrorText();
    ASSERT_TRUE(Use(Path("scope.dbf"), false, false, "COPY"));
    EXPECT_EQ(Names(), c.names) << c.name;
  }
}

TEST_F(TransferTest, DeletedRecordsAreCopiedDeletedUnlessHidden) {
  OpenSample({{"a", 1, true}, {"b", 2, false}, {"c", 3, true}});
  DBGOTO(Value::Integer(2));
  DBDELETE();
  DBCOMMIT();
  TransferArgs a;
  a.file = Path("all.dbf");
  a.driver = "DBF";
  ASSERT_TRUE(DBCOPYTO(a));
  ASSERT_TRUE(DBSDF(true, Sdf("all.txt")));  // text has no deletion mark
  SET(kSetDeleted, Value::Logical(true));
  a.file = Path("live.dbf");
  ASSERT_TRUE(DBCOPYTO(a));
  SET(kSetDeleted, Value::Logical(false));
  ASSERT_TRUE(Use(Path("all.dbf"), false, false, "ALLREC"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "*b", "c"}));
  ASSERT_TRUE(Use(Path("live.dbf"), false, false, "LIVE"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(Bytes(Path("all.txt")).substr(18, 5), "b    ");
}

TEST_F(TransferTest, AppendMatchesFieldsByName) {
  // The source lacks QTY and has EXTRA; NAME and AMOUNT sit at other positions.
  std::string src = Create("other.dbf", {{"EXTRA", "C", 3, 0}, {"AMOUNT", "N", 5, 2},
                                         {"NAME", "C", 10, 0}});
  ASSERT_TRUE(Use(src));
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("zzz"));
  FIELDPUT(2, Value::Double(4.25, 5, 2));
  FIELDPUT(3, Value::String("named"));
  DBCLOSEAREA();
  std::string dst = Create("dst.dbf", {{"NAME", "C", 10, 0}, {"QTY", "N", 3, 0},
                                       {"AMOUNT", "N", 5, 2}});
  ASSERT_TRUE(Use(dst));
  TransferArgs a;
  a.file = src;
  a.driver = "DBF";
  ASSERT_TRUE(DBAPPFROM(a)) << ErrorText();
  DBGOTOP();
  EXPECT_EQ(FIELDGET(1).str(), "named     ");
  EXPECT_EQ(FIELDGET(3).number(), 4.25);
  EXPECT_EQ(Dbf()->RawRecord()[11], ' ');  // QTY stays blank
  EXPECT_EQ(FCOUNT(), 3);
}

TEST_F(TransferTest, TypeMismatchStopsTheWalkWithThatRecordDeleted) {
  OpenSample({{"a", 1, true}, {"b", 2, true}});
  DBCLOSEAREA();
  std::string dst = Create("dst.dbf", {{"NAME", "C", 10, 0}, {"AMOUNT", "C", 5, 0}});
  ASSERT_TRUE(Use(dst));
  TransferArgs a;
  a.file = Path("src.dbf");
  a.driver = "DBF";
  errors_.clear();
  EXPECT_FALSE(DBAPPFROM(a));
  EXPECT_TRUE(HasError(kEgDataType, kEdfDataType)) << ErrorText();
  EXPECT_EQ(LASTREC(), 1u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"*a"}));
  EXPECT_EQ(ALIAS(), "DST");
  EXPECT_EQ(SELECT(Value::String("SRC")), 0);  // the source was closed
}

TEST_F(TransferTest, SameBaseNameInAnotherFolderGetsAFreeAlias) {
  OpenSample({{"a", 1, true}});
  std::string sub = Path("sub");
  ASSERT_EQ(system(("mkdir -p '" + sub + "'").c_str()), 0);
  TransferArgs a;
  a.file = sub + "/src.dbf";
  a.driver = "DBF";
  ASSERT_TRUE(DBCOPYTO(a)) << ErrorText();
  ASSERT_TRUE(DBAPPFROM(a)) << ErrorText();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "a"}));
}

TEST_F(TransferTest, NoTableRaisesWorkareaNotInUse) {
  DBSELECTAREA(5);
  EXPECT_FALSE(DBCOPYTO(Sdf("x.txt")));
  EXPECT_LAST_ERROR(kEgNoTable, 2001);
  EXPECT_EQ(LastError()->operation, "COPY TO");
  EXPECT_FALSE(DBAPPFROM(Sdf("x.txt")));
  EXPECT_EQ(LastError()->operation, "APPEND FROM");
  OpenSample({});
  TransferArgs a = Sdf("x.txt");
  a.driver = "NOSUCH";
  EXPECT_FALSE(DBAPPFROM(a));
  EXPECT_LAST_ERROR(kEgArg, 1005);
}

// Whole-record copies convert no value: the put and get triggers of both tables stay silent
// exactly when the layouts match, the table has no memo and the areas share a code page.
TEST_F(TransferTest, WholeRecordsExactlyWhenLayoutsMatch) {
  int puts = 0, gets = 0;
  RegisterTriggerFunction("COUNTVALUES", [&](int event, int, Value*, Value*) {
    if (event == kTrgPut) ++puts;
    if (event == kTrgGet) ++gets;
    return true;
  });
  struct Case {
    const char* name;
    std::vector<FieldRow> source;
    std::vector<std::string> fields;
    const char* driver;  // of the copy
    bool whole;
  } cases[] = {
      {"same layout", {{"A", "C", 3, 0}, {"B", "N", 4, 1}}, {}, "DBF", true},
      {"same layout, fields listed in order", {{"A", "C", 3, 0}, {"B", "N", 4, 1}},
       {"A", "B"}, "DBF", true},
      {"fields listed in another order", {{"A", "C", 3, 0}, {"B", "N", 4, 1}}, {"B", "A"},
       "DBF", false},
      {"a subset", {{"A", "C", 3, 0}, {"B", "N", 4, 1}}, {"A"}, "DBF", false},
      {"memo field", {{"A", "C", 3, 0}, {"M", "M", 10, 0}}, {}, "DBFFPT", false},
      {"to text keeping every width", {{"A", "C", 3, 0}, {"B", "N", 4, 1}}, {}, "SDF", true},
      {"to text with a binary integer", {{"A", "C", 3, 0}, {"I", "I", 4, 0}}, {}, "SDF", false},
      {"to CSV", {{"A", "C", 3, 0}, {"B", "N", 4, 1}, {"D", "D", 8, 0}}, {}, "CSV", true},
      {"to CSV with a memo", {{"A", "C", 3, 0}, {"B", "N", 4, 1}, {"M", "M", 10, 0}}, {}, "CSV",
       false},
  };
  for (const Case& c : cases) {
    DBCLOSEALL();
    std::string src = Create(std::string("w") + std::to_string(&c - cases) + ".dbf", c.source,
                             "DBFFPT");
    ASSERT_TRUE(Use(src, false, false, "", "DBFFPT"));
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String("x" + std::to_string(i)));
    }
    DBCOMMIT();
    for (const char* d : {"DBF", "DBFFPT"}) FindDriver(d)->settings().trigger = "COUNTVALUES";
    DBINFO(138, Value::String("COUNTVALUES"));
    DBINFO(138, Value::Logical(true));
    puts = gets = 0;
    TransferArgs a;
    a.file = Path("whole.out");
    a.driver = c.driver;
    a.fields = c.fields;
    ASSERT_TRUE(DBCOPYTO(a)) << c.name << ErrorText();
    for (const char* d : {"DBF", "DBFFPT"}) FindDriver(d)->settings().trigger.clear();
    EXPECT_EQ(puts == 0 && gets == 0, c.whole) << c.name << ": puts " << puts << " gets " << gets;
    if (std::string(c.driver) == "CSV") {
      // Both ways give the same text: blanks stay empty.
      EXPECT_EQ(Bytes(Path("whole.out")),
                c.source.size() == 3 ? "A,B," + c.source[2].name + "\r\nx0,,\r\nx1,,\r\nx2,,\r\n"
                                     : "A,B\r\nx0,\r\nx1,\r\nx2,\r\n") << c.name;
    } else if (std::string(c.driver) != "SDF") {
      ASSERT_TRUE(Use(Path("whole.out"), false, false, "OUT", c.driver));
      EXPECT_EQ(Names("A"), (std::vector<std::string>{"x0", "x1", "x2"})) << c.name;
    }
  }
}

// A CSV target can carry the record number and the deletion mark before the fields; the mark
// comes back on import. A condition that does not compile leaves no target behind.
TEST_F(TransferTest, CsvColumnsOfRecordNumberAndDeletionMark) {
  OpenSample({{"a", 1, true}, {"b", 2, false}, {"c", 3, true}});
  DBGOTO(Value::Integer(2));
  DBDELETE();
  DBCOMMIT();
  TransferArgs a;
  a.driver = "CSV";
  a.file = Path("marks.csv");
  a.text_columns = kTextColumnRecno | kTextColumnDeleted;
  a.for_text = "RECNO() > 1";
  ASSERT_TRUE(DBCOPYTO(a)) << ErrorText();
  EXPECT_EQ(Bytes(Path("marks.csv")),
            "_RECNO,_DELETED,NAME,AMOUNT,OK\r\n2,*,b,2.00,F\r\n3,,c,3.00,T\r\n");
  a.for_text.clear();
  a.fields = {"NAME"};
  a.text_columns = kTextColumnDeleted;
  a.file = Path("names.csv");
  ASSERT_TRUE(DBCOPYTO(a)) << ErrorText();
  EXPECT_EQ(Bytes(Path("names.csv")), "_DELETED,NAME\r\n,a\r\n*,b\r\n,c\r\n");

  a.for_text = "NOSUCH(";
  a.file = Path("bad.csv");
  EXPECT_FALSE(DBCOPYTO(a));
  EXPECT_FALSE(FileExists(Path("bad.csv")));

  std::string empty = Create("back.dbf", {{"NAME", "C", 10, 0}});
  ASSERT_TRUE(Use(empty, false, false, "BACK"));
  TransferArgs in;
  in.driver = "CSV";
  in.file = Path("names.csv");
  ASSERT_TRUE(DBAPPFROM(in)) << ErrorText();
  EXPECT_EQ(Names(), (std::vector<std::string>{"a", "*b", "c"}));
}

// A whole table copied into a new one moves in blocks as the file holds it: the new body is the
// old one byte for byte (deleted records keep their mark). On a full disk the copy fails and the
// new table holds exactly the records its file took, each whole.
TEST_F(TransferTest, WholeTableCopiesAsStoredAndStopsCleanOnAFullDisk) {
  const int kRecords = 3000;  // about 3 MB: several blocks
  std::string src = Create("big.dbf", {{"A", "C", 254, 0}, {"B", "C", 254, 0},
                                       {"C", "C", 254, 0}, {"D", "C", 254, 0}, {"N", "N", 8, 0}});
  ASSERT_TRUE(Use(src));
  for (int i = 1; i <= kRecords; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("row " + std::to_string(i)));
    FIELDPUT(5, Value::Integer(i));
    if (i % 7 == 0) DBDELETE();
  }
  DBCOMMIT();
  const std::string before = Bytes(src);
  auto le16 = [](const std::string& b, size_t at) {
    return static_cast<size_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
  };
  const size_t header = le16(before, 8), reclen = le16(before, 10);
  ASSERT_EQ(reclen, 1u + 4 * 254 + 8);
  TransferArgs a;
  a.driver = "DBF";
  a.file = Path("copy.dbf");
  ASSERT_TRUE(DBCOPYTO(a)) << ErrorText();
  std::string copy = Bytes(Path("copy.dbf"));
  ASSERT_EQ(copy.size(), before.size());
  EXPECT_EQ(copy.substr(header), before.substr(header));
  EXPECT_EQ(copy.substr(4, 4), before.substr(4, 4));  // the record count

  const size_t limit = header + 1500 * reclen + 100;
  {
    FileSizeLimit full(limit);
    if (!full.ok()) GTEST_SKIP() << "no file-size limit";
    a.file = Path("part.dbf");
    EXPECT_FALSE(DBCOPYTO(a));
  }
  EXPECT_TRUE(HasError(kEgWrite, kEdfWrite)) << ErrorText();
  std::string part = Bytes(Path("part.dbf"));
  const size_t count = le16(part, 4);
  ASSERT_GT(count, 0u);
  ASSERT_LT(count, static_cast<size_t>(kRecords));
  EXPECT_EQ(part.size(), header + count * reclen + 1);
  EXPECT_EQ(part.back(), '\x1a');
  EXPECT_EQ(part.substr(header, count * reclen), before.substr(header, count * reclen));
  ASSERT_TRUE(Use(Path("part.dbf"), false, false, "PART"));
  DBGOBOTTOM();
  EXPECT_EQ(FIELDGET(5).number(), static_cast<double>(count));
}

}  // namespace
}  // namespace vosk
