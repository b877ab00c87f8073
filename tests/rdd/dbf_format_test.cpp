// The on-disk layout of a table: header, descriptors, terminator, version bytes on writing and
// on reading, and the record count taken from the file size.

#include <string>
#include <vector>

#include "platform/system.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

using test::DbfDescriptor;
using test::DbfImage;
using test::Le16;
using test::Le32;
using test::ParseDbf;
using test::Record;

class DbfFormatTest : public RddTest {
 protected:
  // A table of one character field holding the given rows.
  DbfImage TextTable(uint8_t version, std::vector<std::string> values) {
    DbfImage img;
    img.version = version;
    img.fields = {{"NAME", 'C', 5}};
    for (const std::string& v : values) img.records.push_back(Record({v}));
    return img;
  }
};

TEST_F(DbfFormatTest, CreatedStandardTableHeaderIsByteExact) {
  std::string path =
      Create("three.dbf", {{"name", "C", 10, 0}, {"AMOUNT", "N", 5, 1}, {"OK", "L", 1, 0}});
  std::string b = Bytes(path);
  ASSERT_EQ(b.size(), 131u);  // header 130 + the end-of-file byte
  LocalTime now = Now();
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x03);
  EXPECT_EQ(static_cast<uint8_t>(b[1]), (now.year - 1900) & 0xFF);
  EXPECT_EQ(b[2], now.month);
  EXPECT_EQ(b[3], now.day);
  EXPECT_EQ(b.substr(4, 4), Le32(0));
  EXPECT_EQ(b.substr(8, 2), Le16(130));
  EXPECT_EQ(b.substr(10, 2), Le16(1 + 10 + 5 + 1));
  EXPECT_EQ(b.substr(12, 17), std::string(17, '\0'));
  EXPECT_EQ(static_cast<uint8_t>(b[29]), 0x03);  // the code-page mark of cp1252
  EXPECT_EQ(b.substr(30, 2), std::string(2, '\0'));
  // Descriptors: name NUL-padded and upper-cased, letter, length, decimals, the rest zero.
  EXPECT_EQ(b.substr(32, 32), std::string("NAME\0\0\0\0\0\0\0C\0\0\0\0\x0A\0", 18) +
                                  std::string(14, '\0'));
  EXPECT_EQ(b.substr(64, 32), std::string("AMOUNT\0\0\0\0\0N\0\0\0\0\x05\x01", 18) +
                                  std::string(14, '\0'));
  EXPECT_EQ(b.substr(96, 32), std::string("OK\0\0\0\0\0\0\0\0\0L\0\0\0\0\x01\0", 18) +
                                  std::string(14, '\0'));
  EXPECT_EQ(b.substr(128), std::string("\x0D\0\x1A", 3));
}

TEST_F(DbfFormatTest, CreatedVisualFoxProTableHasTheBacklinkAreaAndFieldOffsets) {
  FindDriver("DBF")->settings().table_kind = 2;
  std::string path = Create("vfp.dbf", {{"A", "C", 10, 0}, {"B", "N", 5, 1}, {"C", "L", 1, 0}});
  std::string b = Bytes(path);
  ASSERT_EQ(b.size(), 32u + 3 * 32 + 1 + 263 + 1);
  EXPECT_EQ(static_cast<uint8_t>(b[0]), 0x30);
  EXPECT_EQ(b.substr(8, 2), Le16(32 + 3 * 32 + 1 + 263));
  EXPECT_EQ(static_cast<uint8_t>(b[29]), 0x03);  // the program's code page, cp1252
  EXPECT_EQ(b.substr(32 + 12, 2), Le16(1));
  EXPECT_EQ(b.substr(64 + 12, 2), Le16(11));
  EXPECT_EQ(b.substr(96 + 12, 2), Le16(16));
  EXPECT_EQ(b.substr(128), std::string("\x0D", 1) + std::string(263, '\0') + "\x1A");
}

TEST_F(DbfFormatTest, VisualFoxProCodepageByteFollowsTheTableCodepage) {
  FindDriver("DBF")->settings().table_kind = 2;
  ASSERT_TRUE(DBCREATE(Path("oem.dbf"), Structure({{"A", "C", 1, 0}}), "DBF", std::nullopt, "",
                       "cp850"));
  EXPECT_EQ(static_cast<uint8_t>(Bytes(Path("oem.dbf"))[29]), 0x02);
}

TEST_F(DbfFormatTest, CharacterFieldLongerThan255KeepsItsHighLengthByte) {
  std::string path = Create("long.dbf", {{"TEXT", "C", 300, 0}});
  std::string b = Bytes(path);
  EXPECT_EQ(static_cast<uint8_t>(b[32 + 16]), 300 & 0xFF);
  EXPECT_EQ(static_cast<uint8_t>(b[32 + 17]), 1);
  EXPECT_EQ(b.substr(10, 2), Le16(301));
  ASSERT_TRUE(Use(path));
  EXPECT_EQ(FIELDLEN(1), 300);
  EXPECT_EQ(FIELDDEC(1), 0);
}

// Version and flags bytes written for each kind of table.
struct WriteCase {
  const char* label;
  const char* driver;
  int table_kind;  // 1 standard, 2 Visual FoxPro, 3 dBase IV
  int memo_type;   // driver default memo kind: 1 DBT, 2 FPT, 3 SMT
  std::vector<FieldRow> fields;
  uint8_t version;
  uint8_t flags;
};

TEST_F(DbfFormatTest, VersionByteOnWriteFollowsTableKindAndMemoKind) {
  const std::vector<FieldRow> plain = {{"A", "C", 5, 0}};
  const std::vector<FieldRow> memo = {{"A", "C", 5, 0}, {"NOTE", "M", 10, 0}};
  const std::vector<FieldRow> counter = {{"ID", "+", 4, 0}, {"A", "C", 5, 0}};
  const WriteCase cases[] = {
      {"standard", "DBF", 1, 1, plain, 0x03, 0x00},
      {"standard DBT", "DBFFPT", 1, 1, memo, 0x83, 0x00},
      {"standard FPT", "DBFFPT", 1, 2, memo, 0xF5, 0x00},
      {"standard SMT", "DBFFPT", 1, 3, memo, 0xE5, 0x00},
      {"standard autoincrement", "DBF", 1, 1, counter, 0x03, 0x00},
      {"standard variants 3 and 4", "DBF", 1, 1, {{"D", "V", 3, 0}, {"I", "V", 4, 0}}, 0x03, 0x00},
      {"dBase IV", "DBF", 3, 1, plain, 0x03, 0x00},
      {"dBase IV memo", "DBFFPT", 3, 1, memo, 0x8B, 0x00},
      {"Visual FoxPro", "DBF", 2, 1, plain, 0x30, 0x00},
      {"Visual FoxPro memo", "DBFFPT", 2, 1, memo, 0x30, 0x02},
      {"Visual FoxPro autoincrement", "DBF", 2, 1, counter, 0x31, 0x00},
  };
  int n = 0;
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.label);
    DbfDriverSettings& s = FindDriver(c.driver)->settings();
    s.table_kind = c.table_kind;
    s.memo_type = c.memo_type;
    std::string path = Create("w" + std::to_string(++n) + ".dbf", c.fields, c.driver);
    std::string b = Bytes(path);
    ASSERT_GE(b.size(), 32u);
    EXPECT_EQ(static_cast<uint8_t>(b[0]), c.version);
    EXPECT_EQ(static_cast<uint8_t>(b[28]), c.flags);
    s = saved_[c.driver];
  }
}

// What a version byte read from the file means, and what the next header write makes of it.
struct ReadCase {
  uint8_t version;
  uint8_t flags;
  int table_kind;
  int memo_kind;  // 0 none, 1 DBT, 2 FPT, 3 SMT
  bool enciphered;
  uint8_t rewritten;
};

TEST_F(DbfFormatTest, VersionByteOnReadSetsTableKindMemoKindAndCipher) {
  const ReadCase cases[] = {
      {0x02, 0, 1, 0, false, 0x03}, {0x03, 0, 1, 0, false, 0x03},
      {0x04, 0, 3, 1, false, 0x8B}, {0x7B, 0, 3, 1, false, 0x8B},
      {0x8B, 0, 3, 1, false, 0x8B}, {0x06, 0, 1, 0, true, 0x06},
      {0x30, 0, 2, 0, false, 0x30}, {0x30, 2, 2, 2, false, 0x30},
      {0x31, 2, 2, 2, false, 0x31}, {0x32, 0, 2, 0, false, 0x31},
      {0x83, 0, 1, 1, false, 0x83}, {0x86, 0, 1, 1, true, 0x86},
      {0xE5, 0, 1, 3, false, 0xE5}, {0xE6, 0, 1, 3, true, 0xE6},
      {0xF5, 0, 1, 2, false, 0xF5}, {0xF6, 0, 1, 2, true, 0xF6},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << int(c.version) << " flags "
                                    << int(c.flags));
    DbfImage img = TextTable(c.version, {"abc  "});
    img.table_flags = c.flags;
    std::string path = Write("v.dbf", img);
    ASSERT_TRUE(Use(path)) << ErrorText();
    EXPECT_EQ(DBINFO(136).number(), c.table_kind);
    EXPECT_EQ(DBINFO(133).number(), c.memo_kind);
    EXPECT_EQ(DBINFO(132).logical(), c.enciphered);
    EXPECT_EQ(FIELDGET(1).str(), "abc  ");
    // Setting the header flag byte rewrites the header at once.
    EXPECT_FALSE(DBINFO(147, Value::Logical(true)).logical());
    DBCLOSEAREA();
    std::string b = Bytes(path);
    EXPECT_EQ(static_cast<uint8_t>(b[0]), c.rewritten);
    EXPECT_EQ(static_cast<uint8_t>(b[28]), c.flags);
    EXPECT_EQ(b[14], 1);
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFormatTest, RecordCountComesFromTheFileSize) {
  struct Case {
    const char* label;
    int records;        // whole records in the file
    int header_count;   // what the header says
    int extra_bytes;    // a partial record after the last one
    bool eof_byte;
  } cases[] = {
      {"header says fewer", 7, 5, 0, true},
      {"header says more", 2, 9, 0, true},
      {"partial last record", 3, 3, 4, false},
      {"no end-of-file byte", 4, 4, 0, false},
      {"empty", 0, 3, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    DbfImage img = TextTable(0x03, {});
    for (int i = 1; i <= c.records; ++i) img.records.push_back(Record({"rec" + std::to_string(i) + " "}));
    img.header_count = c.header_count;
    img.eof_byte = c.eof_byte;
    if (c.extra_bytes) img.records.push_back(std::string(static_cast<size_t>(c.extra_bytes), 'x'));
    std::string path = Write("count.dbf", img);
    std::string before = Bytes(path);
    ASSERT_TRUE(Use(path)) << ErrorText();
    EXPECT_EQ(LASTREC(), static_cast<uint32_t>(c.records));
    DBGOBOTTOM();
    EXPECT_EQ(RECNO(), static_cast<uint32_t>(c.records > 0 ? c.records : 1));
    if (c.records > 0) EXPECT_EQ(FIELDGET(1).str(), "rec" + std::to_string(c.records) + " ");
    DBGOTO(Value::Integer(c.records + 1));
    EXPECT_TRUE(EOF_());
    EXPECT_EQ(FIELDGET(1).str(), "     ");
    DBCLOSEAREA();
    EXPECT_EQ(Bytes(path), before) << "reading changed the file";
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFormatTest, DescriptorListEndsAtTheTerminatorAndRecordsStartAtHeaderLength) {
  DbfImage img;
  img.fields = {{"FIRST", 'C', 3}, {"SECOND", 'N', 2}};
  img.header_length = 32 + 32 * 5 + 7;  // room for five descriptors and some filler
  img.records = {Record({"abc", "12"}), Record({"def", "34"})};
  std::string bytes = img.Bytes();
  // Filler after the terminator that looks like another descriptor.
  bytes.replace(32 + 2 * 32 + 2, 11, std::string("JUNK\0\0\0\0\0\0\0", 11));
  bytes[32 + 3 * 32 + 11] = 'C';
  std::string path = Path("filler.dbf");
  test::WriteFileBytes(path, bytes);
  ASSERT_TRUE(Use(path)) << ErrorText();
  EXPECT_EQ(FCOUNT(), 2);
  EXPECT_EQ(DBINFO(3).number(), img.header_length);
  EXPECT_EQ(DBINFO(7).number(), 6);
  EXPECT_EQ(LASTREC(), 2u);
  DBGOTO(Value::Integer(2));
  EXPECT_EQ(FIELDGET(1).str(), "def");
  EXPECT_EQ(FIELDGET(2).number(), 34);
}

TEST_F(DbfFormatTest, RecordLengthIsComputedFromDescriptorsNotTakenFromHeader) {
  DbfImage img;
  img.fields = {{"A", 'C', 2}, {"B", 'C', 3}};
  img.records = {Record({"ab", "cde"}), Record({"fg", "hij"})};
  std::string bytes = img.Bytes();
  bytes.replace(10, 2, Le16(99));  // a wrong stored record length
  std::string path = Path("reclen.dbf");
  test::WriteFileBytes(path, bytes);
  ASSERT_TRUE(Use(path)) << ErrorText();
  EXPECT_EQ(DBINFO(7).number(), 6);
  EXPECT_EQ(LASTREC(), 2u);
  DBGOTO(Value::Integer(2));
  EXPECT_EQ(FIELDGET(2).str(), "hij");
}

TEST_F(DbfFormatTest, FieldNamesAreUpperCasedAndCutAtTenCharacters) {
  DbfImage img;
  img.fields = {{"lower", 'C', 1}, {"ELEVENCHARS", 'C', 1}};  // byte 10 is not NUL
  img.records = {Record({"x", "y"})};
  ASSERT_TRUE(Use(Write("names.dbf", img))) << ErrorText();
  EXPECT_EQ(FIELDNAME(1), "LOWER");
  EXPECT_EQ(FIELDNAME(2), "ELEVENCHAR");
  EXPECT_EQ(FIELDPOS("elevenchar"), 2);
}

TEST_F(DbfFormatTest, HeaderWrittenAfterAppendsCarriesCountLengthsAndOneEofByte) {
  std::string path = Create("app.dbf", {{"A", "C", 3, 0}, {"N", "N", 4, 0}});
  ASSERT_TRUE(Use(path));
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("r" + std::to_string(i)));
    FIELDPUT(2, Value::Integer(i * 10));
  }
  DBCLOSEAREA();
  std::string b = Bytes(path);
  int header = 32 + 2 * 32 + 2;
  ASSERT_EQ(b.size(), static_cast<size_t>(header + 3 * 8 + 1));
  EXPECT_EQ(b.substr(4, 4), Le32(3));
  EXPECT_EQ(b.substr(8, 2), Le16(header));
  EXPECT_EQ(b.substr(10, 2), Le16(8));
  EXPECT_EQ(b.substr(header), std::string(" r1   10 r2   20 r3   30\x1A"));
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfFormatTest, CreateRefusesAHeaderOver65535Bytes) {
  std::vector<FieldRow> rows;
  for (int i = 0; i < 2047; ++i) rows.push_back({"F" + std::to_string(i), "C", 1, 0});
  EXPECT_FALSE(DBCREATE(Path("wide.dbf"), Structure(rows), "DBF"));
  EXPECT_LAST_ERROR(kEgCreate, 1021);
  EXPECT_TRUE(Bytes(Path("wide.dbf")).empty()) << "no file is created";
  // 2046 descriptors give 32 + 2046 x 32 + 2 = 65506 bytes, which fits.
  rows.pop_back();
  EXPECT_TRUE(DBCREATE(Path("wide2.dbf"), Structure(rows), "DBF")) << ErrorText();
}

}  // namespace
}  // namespace vosk
