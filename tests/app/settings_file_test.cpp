// File-name helpers, VOSKDBU.INI, ANSI text, the start-up routine and CLOSEALL.

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "expr/memvars.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

TEST(FileNameTest, Parts) {
  struct Case {
    const char* name;
    const char* path;
    const char* nopath;
    const char* noext;
    const char* ext;
  } cases[] = {
      {"/dati/clienti.dbf", "/dati/", "clienti.dbf", "clienti", "dbf"},
      {"/dati.old/clienti", "/dati.old/", "clienti", "clienti", ""},
      {"clienti.bak.dbf", "", "clienti.bak.dbf", "clienti.bak", "dbf"},
      {"C:\\DATI\\CLIENTI.DBF", "C:\\DATI\\", "CLIENTI.DBF", "CLIENTI", "DBF"},
      {"C:CLIENTI.DBF", "C:", "CLIENTI.DBF", "CLIENTI", "DBF"},
      {"C:\\DATI/CLIENTI.DBF", "C:\\DATI/", "CLIENTI.DBF", "CLIENTI", "DBF"},
      {"a\\b/c\\d.x", "a\\b/c/", "d.x", "d", "x"},  // a slash anywhere: the separator is "/"
      {"", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CFILEPATH(c.name), c.path);
    EXPECT_EQ(CFILENOPATH(c.name), c.nopath);
    EXPECT_EQ(CFILENOEXT(c.name), c.noext);
    EXPECT_EQ(CFILEEXT(c.name), c.ext);
  }
}

TEST(FileNameTest, FullName) {
  std::string cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FULLNAME("/a/b/../c/./d.dbf"), "/a/c/d.dbf");
  EXPECT_EQ(FULLNAME("/a//b/"), "/a/b");
  EXPECT_EQ(FULLNAME("/../x"), "/x");
  EXPECT_EQ(FULLNAME("x.dbf"), cwd + "/x.dbf");
  EXPECT_EQ(FULLNAME("sub\\x.dbf"), cwd + "/sub/x.dbf");
  EXPECT_EQ(FULLNAME("."), cwd);
}

TEST(AnsiTest, ConversionsBothWays) {
  EXPECT_EQ(Ansi("Sì, perché più €"), "S\xEC, perch\xE9 pi\xF9 \x80");
  EXPECT_EQ(Ansi("日"), "?");
  EXPECT_EQ(Ansi("gi\xE0"), "gi\xE0") << "code-page bytes pass unchanged";
  EXPECT_EQ(DisplayUtf8("Citt\xE0 \x80"), "Città €");
  // A UTF-8 file name inside ANSI text keeps its letters.
  EXPECT_EQ(DisplayUtf8("Il file /dati/caff\xC3\xA8.dbf \xE8 aperto"),
            "Il file /dati/caffè.dbf è aperto");
}

TEST(IniLocationTest, BesideTheExecutableWhenWritable) {
  std::string exe_dir = CFILEPATH(GETMODULEFILENAME());
  EXPECT_EQ(IniFileName(), exe_dir + "VOSKDBU.INI");
  SetIniFileName("/tmp/x/VOSKDBU.INI");
  EXPECT_EQ(IniFileName(), "/tmp/x/VOSKDBU.INI");
  SetIniFileName("");
}

TEST(IniLocationTest, ConfigDirectoryOtherwise) {
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string old_xdg = xdg ? xdg : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(IniFileNameFor("/no/such/dir/"), "/cfg/voskdbu/VOSKDBU.INI");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(IniFileNameFor("/no/such/dir/"), "/home/u/.config/voskdbu/VOSKDBU.INI");
  ::setenv("HOME", home.c_str(), 1);
  if (xdg) {
    ::setenv("XDG_CONFIG_HOME", old_xdg.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

using IniTest = AppTest;

TEST_F(IniTest, DefaultsWhenTheFileIsMissing) {
  EXPECT_EQ(IniString("RDD", "DBFNTX"), "DBFNTX");
  EXPECT_EQ(IniInt("Memo", 1), 1);
  EXPECT_FALSE(IniLogical("AutoOpen", "No"));
  EXPECT_TRUE(IniLogical("Maximized", Ansi("Sì")));
  EXPECT_FALSE(VOSK());
  EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_F(IniTest, LogicalValuesBeginWithS) {
  struct Case {
    std::string value;
    bool expected;
  } cases[] = {{"S", true},   {"Si", true},  {Ansi("Sì"), true}, {"Sempre", true},
               {"si", false}, {"No", false}, {"", false},        {" S", true}};
  for (const Case& c : cases) {
    Ini("Vosk", c.value);
    EXPECT_EQ(VOSK(), c.expected) << '"' << c.value << '"';
  }
}

TEST_F(IniTest, LogicalWritesUseTheAnsiByte) {
  ASSERT_TRUE(WriteIniLogical("AutoOpen", true));
  EXPECT_EQ(IniValue("AutoOpen"), "S\xEC");
  ASSERT_TRUE(WriteIniLogical("AutoOpen", false));
  EXPECT_EQ(IniValue("AutoOpen"), "No");
}

TEST_F(IniTest, StartUpDefaults) {
  const Settings& s = GlobalSettings();
  EXPECT_EQ(RDDSETDEFAULT(), "DBFCDX");
  EXPECT_EQ(s.dbflockscheme(), 4);
  EXPECT_EQ(RDDINFO(6).str(), ".DBT");
  EXPECT_TRUE(s.century());
  EXPECT_EQ(s.date_format(), "dd/mm/yyyy");
  EXPECT_TRUE(s.deleted());
  EXPECT_EQ(s.epoch(), 1980);
  EXPECT_EQ(s.filecase(), kCaseUpper);
  ASSERT_NE(FindMemvar("ACS_USER"), nullptr);
  EXPECT_EQ(FindMemvar("ACS_USER")->str(), "USER");
  EXPECT_EQ(FindMemvar("ACS_TEMP")->str(), "");
  EXPECT_EQ(FindMemvar("ACS_PASSWD")->str(), "");
  EXPECT_EQ(FindMemvar("ACS_LEVEL")->integer(), 1);
}

TEST_F(IniTest, UnknownDriverFallsBackQuietly) {
  EXPECT_EQ(SetDefaultDriver("NESSUNO"), "DBFFPT");
  EXPECT_EQ(RDDSETDEFAULT(), "DBFFPT");
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(IniTest, LeftoversOfEarlierRunsAreRemoved) {
  namespace fs = std::filesystem;
  fs::create_directories(Path("cur/keep.dir"));
  fs::create_directories(
      Path("tmp/\x7F"
           "123/inner"));
  fs::create_directories(Path("tmp/normal"));
  fs::create_directories(
      Path("cur/\x7F"
           "dir"));
  for (const char* f : {"cur/\x7FVIEW1.NTX", "cur/\x7Fx", "cur/keep.dbf",
                        "tmp/\x7F"
                        "123/inner/f",
                        "tmp/\x7Ffile", "tmp/normal/f"}) {
    std::ofstream(Path(f)) << "x";
  }
  CleanLeftovers(Path("cur"), Path("tmp"));
  EXPECT_FALSE(fs::exists(Path("cur/\x7FVIEW1.NTX")));
  EXPECT_FALSE(fs::exists(Path("cur/\x7Fx")));
  EXPECT_TRUE(fs::exists(Path("cur/keep.dbf")));
  EXPECT_TRUE(
      fs::exists(Path("cur/\x7F"
                      "dir")))
      << "only files of the current directory";
  EXPECT_FALSE(
      fs::exists(Path("tmp/\x7F"
                      "123")));
  EXPECT_TRUE(fs::exists(Path("tmp/\x7Ffile"))) << "only directories of the temporary folder";
  EXPECT_TRUE(fs::exists(Path("tmp/normal/f")));
}

TEST_F(IniTest, CloseAllClosesEveryAreaAndDeletesViewIndexes) {
  std::string table = MakeClienti();
  ASSERT_TRUE(DBUSEAREA(true, "", table, "A1", true, false));
  ASSERT_TRUE(DBUSEAREA(true, "", table, "A2", true, false));
  for (const char* f : {"\x7FVIEW1.NTX", "\x7FVIEW22.ntx", "\x7FVIEW1.CDX", "VIEW1.NTX"}) {
    std::ofstream(Path(f)) << "x";
  }
  CLOSEALL();
  EXPECT_EQ(SELECT(Value::String("A1")), 0);
  EXPECT_EQ(SELECT(Value::String("A2")), 0);
  EXPECT_EQ(SELECT(), 1);
  EXPECT_FALSE(std::filesystem::exists(Path("\x7FVIEW1.NTX")));
  EXPECT_FALSE(std::filesystem::exists(Path("\x7FVIEW22.ntx")));
  EXPECT_TRUE(std::filesystem::exists(Path("\x7FVIEW1.CDX")));
  EXPECT_TRUE(std::filesystem::exists(Path("VIEW1.NTX")));
}

}  // namespace
}  // namespace vosk
