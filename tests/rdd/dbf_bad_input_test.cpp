// Files that are not sound tables: each open fails with the named error, leaves the area empty
// and the file untouched.

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/os_error.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

using test::DbfDescriptor;
using test::DbfImage;
using test::Record;

DbfImage Sound() {
  DbfImage img;
  img.fields = {{"NAME", 'C', 4}, {"NUM", 'N', 3}};
  img.records = {Record({"abcd", " 12"}), Record({"efgh", " 34"})};
  return img;
}

// A sound table with one descriptor replaced.
std::string WithField(const DbfDescriptor& d) {
  DbfImage img = Sound();
  img.fields[1] = d;
  img.records.clear();
  return img.Bytes();
}

struct BadCase {
  const char* label;
  std::string bytes;
  int gen_code;
  int sub_code;
};

class DbfBadInputTest : public RddTest {
 protected:
  // Opens bytes as a table (read-write exclusive and read-only shared) and expects the error.
  void ExpectOpenFails(const BadCase& c) {
    SCOPED_TRACE(c.label);
    std::string path = Path("bad.dbf");
    test::WriteFileBytes(path, c.bytes);
    for (bool read_only : {false, true}) {
      errors_.clear();
      EXPECT_FALSE(Use(path, read_only, read_only));
      ASSERT_NE(LastError(), nullptr);
      EXPECT_EQ(LastError()->gen_code, c.gen_code) << LastError()->ToString();
      EXPECT_EQ(LastError()->sub_code, c.sub_code) << LastError()->ToString();
      EXPECT_EQ(LastError()->subsystem, "DBF");
      EXPECT_NE(LastError()->file_name.find("bad.dbf"), std::string::npos);
      EXPECT_FALSE(USED());
      EXPECT_EQ(Bytes(path), c.bytes) << "a failed open wrote to the file";
      // The file is not left open: an exclusive open elsewhere succeeds.
      File f;
      EXPECT_EQ(f.Open(path, Access::kRead, Share::kExclusive), 0);
    }
  }
};

TEST_F(DbfBadInputTest, BrokenHeadersAndDescriptors) {
  const std::string sound = Sound().Bytes();
  DbfImage short_header = Sound();
  short_header.header_length = 20;
  DbfImage cut = Sound();
  cut.records.clear();
  const BadCase cases[] = {
      {"empty file", "", kEgRead, 1010},
      {"header cut at 20 bytes", sound.substr(0, 20), kEgRead, 1010},
      {"header of 31 bytes", sound.substr(0, 31), kEgRead, 1010},
      {"unknown version byte", "\x99" + sound.substr(1), kEgCorruption, 1012},
      {"version byte zero", std::string(1, '\0') + sound.substr(1), kEgCorruption, 1012},
      {"header length below 32", short_header.Bytes(), kEgCorruption, 1012},
      {"descriptor area cut short", cut.Bytes().substr(0, 32 + 40), kEgCorruption, 1012},
      {"not a table", std::string("This is a plain text file, not a table of any kind.\n") +
                          std::string(200, 'x'),
       kEgCorruption, 1012},
      {"unknown type letter", WithField({"NUM", 'X', 3}), kEgCorruption, 1012},
      {"type letter NUL", WithField({"NUM", '\0', 3}), kEgCorruption, 1012},
      {"double of width 9", WithField({"NUM", 'B', 9}), kEgCorruption, 1012},
      {"8 of width 4", WithField({"NUM", '8', 4}), kEgCorruption, 1012},
      {"timestamp of width 5", WithField({"NUM", 'T', 5}), kEgCorruption, 1012},
      {"@ of width 4", WithField({"NUM", '@', 4}), kEgCorruption, 1012},
      {"^ of width 4", WithField({"NUM", '^', 4}), kEgCorruption, 1012},
      {"+ of width 8", WithField({"NUM", '+', 8}), kEgCorruption, 1012},
      {"memo of width 8", WithField({"NUM", 'M', 8}), kEgCorruption, 1012},
      {"unknown system field", WithField({"OTHER", '0', 1}), kEgCorruption, 1012},
      {"character of width 0", WithField({"NUM", 'C', 0}), kEgCorruption, 1012},
      {"numeric of width 0", WithField({"NUM", 'N', 0}), kEgCorruption, 1012},
  };
  for (const BadCase& c : cases) ExpectOpenFails(c);
}

TEST_F(DbfBadInputTest, RecordLongerThan65535BytesIsCorrupt) {
  DbfImage img;
  for (int i = 0; i < 2; ++i) img.fields.push_back({"C" + std::to_string(i), 'C', 0xFF, 0x80});
  ExpectOpenFails({"record too long", img.Bytes(), kEgCorruption, 1012});
}

TEST_F(DbfBadInputTest, MissingFileAndDirectory) {
  EXPECT_FALSE(Use(Path("missing.dbf")));
  EXPECT_LAST_ERROR(kEgOpen, 1001);
  EXPECT_EQ(LastError()->os_code, kOsFileNotFound);
  EXPECT_FALSE(FileExists(Path("missing.dbf")));
  errors_.clear();
  ASSERT_EQ(::mkdir(Path("folder.dbf").c_str(), 0755), 0);
  EXPECT_FALSE(Use(Path("folder.dbf")));
  EXPECT_LAST_ERROR(kEgOpen, 1001);
  EXPECT_EQ(LastError()->os_code, kOsAccessDenied);
  EXPECT_FALSE(USED());
}

TEST_F(DbfBadInputTest, PartialLastRecordIsIgnoredNotAnError) {
  DbfImage img = Sound();
  img.eof_byte = false;
  img.records.push_back(" ab");
  std::string path = Write("partial.dbf", img);
  std::string before = Bytes(path);
  ASSERT_TRUE(Use(path)) << ErrorText();
  EXPECT_EQ(LASTREC(), 2u);
  DBGOBOTTOM();
  EXPECT_EQ(FIELDGET(1).str(), "efgh");
  DBSKIP();
  EXPECT_TRUE(EOF_());
  EXPECT_EQ(FIELDGET(1).str(), "    ");
  DBCLOSEAREA();
  EXPECT_EQ(Bytes(path), before);
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

TEST_F(DbfBadInputTest, RetryRereadsTheHeader) {
  DbfImage img = Sound();
  std::string good = img.Bytes();
  std::string path = Path("retry.dbf");
  test::WriteFileBytes(path, "\x99" + good.substr(1));
  int calls = 0;
  ScopedErrorHandler retry([&](const RuntimeError& e) {
    ++calls;
    EXPECT_EQ(e.gen_code, kEgCorruption);
    EXPECT_TRUE(e.can_retry);
    // Another program repairs the file meanwhile.
    test::WriteFileBytes(path, good);
    return ErrorAnswer::Retry();
  });
  ASSERT_TRUE(Use(path));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(LASTREC(), 2u);
  EXPECT_EQ(FIELDGET(1).str(), "abcd");
}

TEST_F(DbfBadInputTest, WithoutAHandlerTheCommandIsAbandoned) {
  std::string path = Path("abandon.dbf");
  test::WriteFileBytes(path, "\x99" + Sound().Bytes().substr(1));
  ScopedErrorHandler none(nullptr);
  try {
    Use(path);
    FAIL() << "the open was not abandoned";
  } catch (const Abandon& a) {
    EXPECT_EQ(a.error().gen_code, kEgCorruption);
    EXPECT_EQ(a.error().sub_code, 1012);
  }
  EXPECT_FALSE(USED());
  File f;
  EXPECT_EQ(f.Open(path, Access::kRead, Share::kExclusive), 0) << "the file was left open";
}

}  // namespace
}  // namespace vosk
