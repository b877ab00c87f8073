#include "platform/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vosk {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/profile_test.XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    file_ = dir_ + "/VOSKDBU.INI";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Put(const std::string& bytes) { std::ofstream(file_, std::ios::binary) << bytes; }
  std::string Contents() const {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string Get(const std::string& section, const std::string& key,
                  const std::string& def = "<def>") {
    return GetProfileString(section, key, def, file_);
  }

  std::string dir_, file_;
};

TEST_F(ProfileTest, MissingFileReadsDefaultsAndCreatesNothing) {
  EXPECT_EQ(Get("Parametri", "RDD", "DBFNTX"), "DBFNTX");
  EXPECT_EQ(GetProfileInt("Parametri", "Memo", 1, file_), 1);
  // The default is returned without trailing blanks, as the services do.
  EXPECT_EQ(Get("Parametri", "RDD", "abc  "), "abc");
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(ProfileTest, ReadsSectionsAndKeysWithoutRegardToCase) {
  Put("; settings\r\n"
      "[Altro]\r\n"
      "RDD=WRONG\r\n"
      "  [ parametri ]  \r\n"
      "  rdd  =  DBFCDX  \r\n"
      "Codifica=\"  OEM \"\r\n"
      "Vuoto=\r\n"
      "Uguale=a=b\r\n"
      "SoloNome\r\n"
      "RDD=SECOND\r\n"
      "[Mru]\r\n"
      "File1=/tmp/x.dbf\r\n");
  EXPECT_EQ(Get("PARAMETRI", "RDD"), "DBFCDX");       // the first entry of a key wins
  EXPECT_EQ(Get("Parametri", "Codifica"), "  OEM ");  // quotes keep the blanks inside
  EXPECT_EQ(Get("Parametri", "Vuoto"), "");           // present but empty: not the default
  EXPECT_EQ(Get("Parametri", "Uguale"), "a=b");
  EXPECT_EQ(Get("Parametri", "SoloNome"), "<def>");
  EXPECT_EQ(Get("Parametri", "File1"), "<def>");  // keys belong to their own section
  EXPECT_EQ(Get("mru", "file1"), "/tmp/x.dbf");
  EXPECT_EQ(Get("Nessuna", "RDD"), "<def>");
}

TEST_F(ProfileTest, EightBitBytesAreKeptAsTheyAre) {
  ASSERT_TRUE(WriteProfileString("Parametri", "Maximized", std::string("S\xEC"), file_));
  EXPECT_EQ(Get("Parametri", "Maximized"), "S\xEC");
  EXPECT_EQ(Contents(), "[Parametri]\nMaximized=S\xEC\n");
}

TEST_F(ProfileTest, LongValueIsCutToTheReadBuffer) {
  std::string big(20000, 'x');
  ASSERT_TRUE(WriteProfileString("S", "K", big, file_));
  EXPECT_EQ(Get("S", "K").size(), kProfileStringBuffer - 1);
}

TEST_F(ProfileTest, IntegerReading) {
  struct Case {
    const char* value;
    int expected;
  } cases[] = {
      {"42", 42},   {"  -17", -17},     {"+5", 5},
      {"12px", 12}, {"abc", 0},         {"", 99},  // empty value: the default
      {"007", 7},   {"4294967295", -1},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteProfileString("S", "K", std::string(c.value), file_));
    EXPECT_EQ(GetProfileInt("S", "K", 99, file_), c.expected) << '"' << c.value << '"';
  }
  EXPECT_EQ(GetProfileInt("S", "Missing", 640, file_), 640);
}

TEST_F(ProfileTest, WritesReplaceAddAndDeleteKeepingOtherLines) {
  Put("; commento\r\n[Parametri]\r\nRDD=DBFNTX\r\nmemo=1\r\n\r\n[Mru]\r\nFile1=a\r\n");
  ASSERT_TRUE(WriteProfileString("PARAMETRI", "Memo", std::string("2"), file_));
  ASSERT_TRUE(WriteProfileString("Parametri", "Codifica", std::string("OEM"), file_));
  ASSERT_TRUE(WriteProfileString("Mru", "File1", std::nullopt, file_));
  ASSERT_TRUE(WriteProfileString("Nuova", "X", std::string("1"), file_));
  EXPECT_EQ(Contents(),
            "; commento\r\n[Parametri]\r\nRDD=DBFNTX\r\nmemo=2\r\nCodifica=OEM\r\n\r\n"
            "[Mru]\r\n\r\n[Nuova]\r\nX=1\r\n");
  ASSERT_TRUE(WriteProfileString("Parametri", std::nullopt, std::nullopt, file_));
  EXPECT_EQ(Contents(), "; commento\r\n[Mru]\r\n\r\n[Nuova]\r\nX=1\r\n");
  // Deleting what is not there succeeds and changes nothing.
  EXPECT_TRUE(WriteProfileString("Mru", "File9", std::nullopt, file_));
  EXPECT_EQ(Get("Nuova", "X"), "1");
}

TEST_F(ProfileTest, FirstWriteCreatesFileAndDirectories) {
  std::string nested = dir_ + "/config/voskdbu/VOSKDBU.INI";
  ASSERT_TRUE(WriteProfileString("Parametri", "RDD", std::string("DBFCDX"), nested));
  EXPECT_EQ(GetProfileString("Parametri", "RDD", "", nested), "DBFCDX");
}

TEST_F(ProfileTest, WriteThatCannotBeStoredFails) {
  // A regular file where the directory should be: nothing can be created below it.
  Put("[S]\nK=1\n");
  EXPECT_FALSE(WriteProfileString("S", "K", std::string("2"), file_ + "/VOSKDBU.INI"));
  EXPECT_EQ(Get("S", "K"), "1");
}

}  // namespace
}  // namespace vosk
