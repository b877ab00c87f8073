// Code pages: conversion, names, the header mark and the .cpg file that choose a table's code
// page, and the mark written for every kind of table.

#include "rdd/codepage.h"
#include "rdd/text/csv.h"

#include "rdd_fixture.h"

namespace vosk {
namespace {

// A letter of each code page and the byte it has there.
struct LetterCase {
  Codepage cp;
  const char* utf8;
  std::string bytes;
};

TEST(CodepageTest, LettersConvertBothWays) {
  const LetterCase cases[] = {
      {Codepage::kCp1252, "\xe2\x82\xac\xc3\xa8", "\x80\xe8"},            // € è
      {Codepage::kCp850, "\xc3\xa8\xc3\x87", "\x8a\x80"},                 // è Ç
      {Codepage::kCp437, "\xc3\x87\xe2\x96\x91", "\x80\xb0"},             // Ç ░
      {Codepage::kCp737, "\xce\xbb", "\xa2"},                             // λ
      {Codepage::kCp852, "\xc5\x82", "\x88"},                             // ł
      {Codepage::kCp857, "\xc5\x9f", "\x9f"},                             // ş
      {Codepage::kCp861, "\xc3\xb0", "\x8c"},                             // ð
      {Codepage::kCp865, "\xc3\xb8", "\x9b"},                             // ø
      {Codepage::kCp866, "\xd0\x96\xd0\xb6", "\x86\xa6"},                 // Ж ж
      {Codepage::kCp874, "\xe0\xb8\x81", "\xa1"},                         // ก
      {Codepage::kCp1250, "\xc5\x82", "\xb3"},                            // ł
      {Codepage::kCp1251, "\xd0\x96\xd0\xb6", "\xc6\xe6"},                // Ж ж
      {Codepage::kCp1253, "\xce\xbb", "\xeb"},                            // λ
      {Codepage::kCp1254, "\xc5\x9f", "\xfe"},                            // ş
      {Codepage::kCp1255, "\xd7\xa9", "\xf9"},                            // ש
      {Codepage::kCp1256, "\xd8\xb9", "\xda"},                            // ع
      {Codepage::kPlmaz, "\xc4\x85\xc5\x81\xc5\xbc", "\x86\x9c\xa7"},     // ą Ł ż
      {Codepage::kKamenicky, "\xc4\x8c\xc5\x99\xc5\xaf", "\x80\xa9\x96"},  // Č ř ů
      {Codepage::kUtf8, "\xd0\x96\xe2\x82\xac", "\xd0\x96\xe2\x82\xac"},  // Ж €
  };
  for (const LetterCase& c : cases) {
    SCOPED_TRACE(CodepageName(c.cp));
    std::string bytes;
    ASSERT_TRUE(FromUtf8(c.utf8, c.cp, &bytes));
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(ToUtf8(c.bytes, c.cp), c.utf8);
    // The mark of the header byte names the code page back (UTF-8 has none).
    Codepage back;
    if (c.cp == Codepage::kUtf8) {
      EXPECT_EQ(CodepageMark(c.cp), 0);
    } else {
      ASSERT_TRUE(CodepageFromMark(CodepageMark(c.cp), &back));
      EXPECT_EQ(back, c.cp);
    }
  }
  // Marks other programs write for the same code pages are read too.
  Codepage marked;
  ASSERT_TRUE(CodepageFromMark(0x26, &marked));
  EXPECT_EQ(marked, Codepage::kCp866);
  ASSERT_TRUE(CodepageFromMark(0x57, &marked));
  EXPECT_EQ(marked, Codepage::kCp1252);
  ASSERT_TRUE(CodepageFromMark(0x50, &marked));  // as python3-dbf marks cp874
  EXPECT_EQ(marked, Codepage::kCp874);
  EXPECT_FALSE(CodepageFromMark(0xFF, &marked));
  // A character the code page lacks is refused, and its place reported.
  std::string out;
  size_t bad = 0;
  EXPECT_FALSE(FromUtf8("ab\xd0\x96", Codepage::kCp1252, &out, &bad));
  EXPECT_EQ(bad, 2u);
  // Invalid UTF-8 in a UTF-8 table shows as U+FFFD, not as broken output.
  EXPECT_EQ(ToUtf8("a\xff", Codepage::kUtf8), "a\xef\xbf\xbd");
  // Between code pages: what the target lacks becomes '?'.
  std::string text = "\xc6\xe6!";  // Ж ж ! in cp1251
  TranslateBytes(&text, Codepage::kCp1251, Codepage::kCp866);
  EXPECT_EQ(text, "\x86\xa6!");
  TranslateBytes(&text, Codepage::kCp866, Codepage::kCp1252);
  EXPECT_EQ(text, "??!");
}

// Text is converted and quoted 16 bytes at a time where it can be: a letter above 0x7F or a
// character that needs quotes is found at every place in and around those steps.
TEST(CodepageTest, TextOfEveryLengthConvertsAndQuotesAtEveryPlace) {
  // The plain byte-by-byte forms.
  auto utf8_of = [](std::string_view bytes, Codepage cp) {
    std::string out;
    for (char c : bytes) out += ByteToUtf8(static_cast<uint8_t>(c), cp);
    return out;
  };
  auto csv_of = [](const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
  };
  for (Codepage cp : {Codepage::kCp1252, Codepage::kCp866}) {
    for (const char* odd : {"\xe8", "\"", ",", "\n", "\r"}) {
      for (size_t length = 1; length <= 40; ++length) {
        for (size_t at = 0; at < length; ++at) {
          std::string text(length, 'a');
          text[at] = *odd;
          SCOPED_TRACE(std::string(CodepageName(cp)) + " length " + std::to_string(length) +
                       " at " + std::to_string(at));
          ASSERT_EQ(ToUtf8(text, cp), utf8_of(text, cp));
          std::string out = "x";
          AppendCsvText(&out, text, cp);
          ASSERT_EQ(out, "x" + csv_of(utf8_of(text, cp)));
          out.clear();
          AppendCsvField(&out, text);
          ASSERT_EQ(out, csv_of(text));
        }
      }
    }
  }
  // UTF-8 text keeps its sequences whole around a quote, and a broken one shows as U+FFFD.
  std::string out;
  AppendCsvText(&out, std::string(20, 'a') + "\xd0\x96\"\xe2\x82\xac\xff", Codepage::kUtf8);
  EXPECT_EQ(out, "\"" + std::string(20, 'a') + "\xd0\x96\"\"\xe2\x82\xac\xef\xbf\xbd\"");
}

TEST(CodepageTest, NamesAndAliases) {
  struct Case { const char* name; bool known; Codepage cp; };
  const Case cases[] = {
      {"cp1251", true, Codepage::kCp1251},   {" Windows-1251 ", true, Codepage::kCp1251},
      {"1251", true, Codepage::kCp1251},     {"ANSI 1251", true, Codepage::kCp1251},
      {"IBM866", true, Codepage::kCp866},    {"CP866", true, Codepage::kCp866},
      {"UTF-8", true, Codepage::kUtf8},      {"utf8\n", true, Codepage::kUtf8},
      {"ansi", true, Codepage::kCp1252},     {"oem", true, Codepage::kCp850},
      {"Mazovia", true, Codepage::kPlmaz},   {"PLMAZ", true, Codepage::kPlmaz},
      {"keybcs2", true, Codepage::kKamenicky}, {"kamenicky", true, Codepage::kKamenicky},
      {"cp9999", false, Codepage::kCp1252},  {"", false, Codepage::kCp1252},
      {"88591", false, Codepage::kCp1252},
  };
  for (const Case& c : cases) {
    Codepage cp = Codepage::kCp1252;
    EXPECT_EQ(CodepageFromName(c.name, &cp), c.known) << c.name;
    if (c.known) EXPECT_EQ(cp, c.cp) << c.name;
  }
}

class TableCodepageTest : public RddTest {
 protected:
  // Creates a one-field table of a kind (1 standard, 2 Visual FoxPro, 3 dBase IV) in a code
  // page ("" = the program's) and closes it.
  std::string CreateIn(const std::string& name, int kind, const std::string& codepage) {
    FindDriver("DBF")->settings().table_kind = kind;
    std::string path = Path(name);
    EXPECT_TRUE(DBCREATE(path, Structure({{"NAME", "C", 8, 0}}), "DBF", std::nullopt, "",
                         codepage))
        << ErrorText();
    return path;
  }
  // Opens a table and reports its code page and where it came from.
  std::pair<std::string, CodepageSource> Opened(const std::string& path,
                                                const std::string& codepage = "") {
    EXPECT_TRUE(DBUSEAREA(true, "DBF", path, "", false, false, codepage)) << ErrorText();
    std::pair<std::string, CodepageSource> out{CodepageName(Dbf()->codepage()),
                                               Dbf()->codepage_source()};
    DBCLOSEAREA();
    return out;
  }
};

TEST_F(TableCodepageTest, EveryKindOfTableCarriesItsCodepageMark) {
  struct Case { int kind; const char* codepage; uint8_t mark; };
  for (const Case& c : {Case{1, "", 0x03}, Case{1, "cp850", 0x02}, Case{1, "cp1251", 0xC9},
                        Case{2, "cp866", 0x65}, Case{3, "kamenicky", 0x68},
                        Case{3, "plmaz", 0x69}}) {
    std::string path = CreateIn("t.dbf", c.kind, c.codepage);
    EXPECT_EQ(static_cast<uint8_t>(Bytes(path)[29]), c.mark) << c.kind << " " << c.codepage;
  }
}

TEST_F(TableCodepageTest, OpenTakesTheNamedThenTheCpgThenTheMark) {
  std::string path = CreateIn("cyr.dbf", 1, "cp1251");
  EXPECT_EQ(Opened(path), std::make_pair(std::string("cp1251"), CodepageSource::kMark));
  EXPECT_EQ(Opened(path, "cp866"), std::make_pair(std::string("cp866"), CodepageSource::kNamed));
  test::WriteFileBytes(Path("CYR.CPG"), "UTF-8\r\n");  // found whatever its letter case
  EXPECT_EQ(Opened(path), std::make_pair(std::string("utf8"), CodepageSource::kCpgFile));
  EXPECT_EQ(Opened(path, "cp1251"),
            std::make_pair(std::string("cp1251"), CodepageSource::kNamed));
  // An unmarked table (byte 0) is in the program's code page.
  std::string plain = CreateIn("plain.dbf", 1, "");
  std::string b = Bytes(plain);
  b[29] = 0;
  test::WriteFileBytes(plain, b);
  EXPECT_EQ(Opened(plain), std::make_pair(std::string("cp1252"), CodepageSource::kDefault));
  // Writing to it leaves it unmarked (its text may be DOS text); naming a code page marks it.
  for (const char* named : {"", "cp850"}) {
    ASSERT_TRUE(DBUSEAREA(true, "DBF", plain, "", false, false, named));
    ASSERT_TRUE(DBAPPEND());
    DBCLOSEAREA();
    EXPECT_EQ(static_cast<uint8_t>(Bytes(plain)[29]), *named ? 0x02 : 0x00) << named;
  }
  // Table inquiry 145 names the code page and selects another.
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "", false, false, "cp1251"));
  EXPECT_EQ(DBINFO(145, Value::String("cp437")).str(), "cp1251");
  EXPECT_EQ(DBINFO(145).str(), "cp437");
}

TEST_F(TableCodepageTest, UtfTableGetsACpgFileAndTextKeepsTheTableBytes) {
  std::string path = CreateIn("u.dbf", 1, "utf8");
  EXPECT_EQ(Bytes(Path("u.cpg")), "UTF-8");
  ASSERT_TRUE(Use(path));
  EXPECT_EQ(Dbf()->codepage(), Codepage::kUtf8);
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("\xd0\x96\xd0\xb6"));
  EXPECT_EQ(FIELDGET(1).str(), "\xd0\x96\xd0\xb6    ");
  DBCLOSEAREA();
  EXPECT_NE(Bytes(path).find("\xd0\x96\xd0\xb6    "), std::string::npos);
  // Creating the table again in another code page drops the stale .cpg.
  CreateIn("u.dbf", 1, "cp1251");
  EXPECT_FALSE(FileExists(Path("u.cpg")));
}

TEST_F(TableCodepageTest, VisualFoxProTablesHaveTheBacklinkArea) {
  std::string path = CreateIn("v.dbf", 2, "");
  std::string b = Bytes(path);
  const size_t header = 32 + 32 + 1 + 263;
  EXPECT_EQ(test::GetLe(b, 8, 2), header);
  ASSERT_EQ(b.size(), header + 1);
  EXPECT_EQ(b[64], '\x0D');
  EXPECT_EQ(b.substr(65, 263), std::string(263, '\0'));
  EXPECT_EQ(b.back(), '\x1A');
  ASSERT_TRUE(Use(path));
  ASSERT_TRUE(DBAPPEND());
  FIELDPUT(1, Value::String("vfp"));
  DBCLOSEAREA();
  ASSERT_TRUE(Use(path));
  DBGOTOP();
  EXPECT_EQ(FIELDGET(1).str(), "vfp     ");
  EXPECT_EQ(Bytes(path).substr(header, 4), " vfp");
}

}  // namespace
}  // namespace vosk
