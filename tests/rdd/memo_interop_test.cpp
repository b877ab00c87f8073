// Memo tables against independent readers and writers (Debian's python3-dbfread and
// python3-dbf, run as programs): what they write reads identically here, what is written here
// reads identically there, and the real-world fixtures read as python3-dbfread reads them.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "memo_test_support.h"

namespace vosk {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

// Prints, for every live record in order, one line per memo field: the value's bytes in hex.
// Usage: script.py read-dbfread|read-dbf TABLE  or  write-dbf TABLE db3|vfp
constexpr char kScript[] = R"PY(
import sys
mode, path = sys.argv[1], sys.argv[2]
ROWS = [('a', ''), ('b', 'x' * 5000), ('c', 'line1\r\nline2'), ('d', 'short'),
        ('e', ''.join(chr(32 + i % 90) for i in range(9000))), ('f', 'y' * 511)]
def hexof(v):
    if v is None:
        return ''
    if isinstance(v, str):
        v = v.encode('latin-1')
    return v.hex()
if mode == 'read-dbfread':
    from dbfread import DBF
    t = DBF(path, encoding='latin-1', char_decode_errors='strict')
    memo = [f.name for f in t.fields if f.type == 'M']
    for r in t:
        for name in memo:
            print(name.upper() + '\t' + hexof(r[name]))
elif mode == 'read-dbf':
    import dbf
    t = dbf.Table(path, codepage='cp1252')
    t.open(dbf.READ_ONLY)
    memo = [n for n in t.field_names if t.field_info(n).field_type == dbf.FieldType.MEMO]
    for r in t:
        if dbf.is_deleted(r):
            continue
        for name in memo:
            print(name.upper() + '\t' + hexof(r[name]))
    t.close()
elif mode == 'write-dbf':
    import dbf
    t = dbf.Table(path, 'name C(10); note M', dbf_type=sys.argv[3], codepage='cp1252')
    t.open(dbf.READ_WRITE)
    for row in ROWS:
        t.append(row)
    t.close()
)PY";

std::string Hex(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

class MemoInteropTest : public MemoTest {
 protected:
  void SetUp() override {
    MemoTest::SetUp();
    std::string check = std::string(kPython) + " -c 'import dbfread, dbf' >/dev/null 2>&1";
    if (std::system(check.c_str()) != 0) GTEST_SKIP() << "python3-dbfread or python3-dbf missing";
    script_ = Path("memo_peer.py");
    test::WriteFileBytes(script_, kScript);
  }

  // Runs the script; returns its output, or fails the test.
  std::string Run(const std::string& args) {
    std::string out = Path("peer.out");
    std::string cmd = std::string(kPython) + " " + script_ + " " + args + " >" + out + " 2>&1";
    int rc = std::system(cmd.c_str());
    std::string text = Bytes(out);
    EXPECT_EQ(rc, 0) << text;
    return text;
  }

  // The same listing as the script's, read through this engine.
  std::string ReadHere(const std::string& table) {
    EXPECT_TRUE(Use(table, false, true, "", "DBFFPT")) << ErrorText();
    std::string out;
    if (!Area()) return out;
    for (bool ok = Ok(Area()->go_top()); ok && !Area()->eof(); ok = Ok(Area()->skip(1))) {
      bool deleted = false;
      EXPECT_TRUE(Ok(Area()->is_deleted(&deleted)));
      if (deleted) continue;
      for (int i = 1; i <= Area()->field_count(); ++i) {
        if (Area()->field(i).kind != FieldKind::kMemo) continue;
        Value v = Get(i);
        out += Area()->field(i).name + "\t" + Hex(v.is_string() ? v.str() : std::string()) + "\n";
      }
    }
    DBCLOSEAREA();
    return out;
  }

  std::string script_;
};

TEST_F(MemoInteropTest, RealFixturesReadAsDbfreadReadsThem) {
  std::string dir = std::string(VOSK_SOURCE_DIR) + "/../shared/fixtures/real/";
  if (!FileExists(dir + "README.md")) GTEST_SKIP() << "no real fixtures";
  for (const char* name : {"test", "dbase_83", "dbase_8b", "biblio", "afox5", "dbase_30",
                           "contacts"}) {
    SCOPED_TRACE(name);
    std::string table = dir + name + ".dbf";
    std::string theirs = Run("read-dbfread " + table);
    std::string ours = ReadHere(table);
    EXPECT_FALSE(ours.empty());
    if (std::string(name) == "dbase_8b") continue;  // below
    EXPECT_EQ(ours, theirs);
  }
  // The dBase IV memo file holds length-prefixed blocks whose bytes after the stated length
  // are left over from earlier, longer values ("Fifth memoo"). python3-dbfread reads on to a
  // 0x1F byte behind them; the length in the block header is what the writer meant.
  std::string expect;
  for (const char* text : {"First memo\r\n", "Second memo", "Thierd memo", "Fourth memo",
                           "Fifth memo", "Sixth memo", "Seventh memo", "Eigth memo",
                           "Nineth memo", ""}) {
    expect += "MEMO\t" + Hex(text) + "\n";
  }
  EXPECT_EQ(ReadHere(dir + "dbase_8b.dbf"), expect);
}

TEST_F(MemoInteropTest, TheirTablesReadHere) {
  for (const char* kind : {"db3", "vfp"}) {
    SCOPED_TRACE(kind);
    std::string table = Path(std::string("theirs_") + kind + ".dbf");
    Run("write-dbf " + table + " " + kind);
    std::string theirs = Run("read-dbfread " + table);
    EXPECT_EQ(ReadHere(table), theirs);
    EXPECT_EQ(Run("read-dbf " + table), theirs);
  }
}

TEST_F(MemoInteropTest, OurTablesReadThere) {
  std::vector<std::string> texts = {"", std::string(5000, 'x'), "line1\r\nline2", "short",
                                    std::string(511, 'y'), std::string(512, 'z'), ""};
  std::string big;
  for (int i = 0; i < 9000; ++i) big += static_cast<char>(32 + i % 90);
  texts.push_back(big);
  const struct { const char* label; MemoSetup setup; } cases[] = {
      {"dBase III with DBT", {.memo_kind = 1}},
      {"standard table with FPT", {.memo_kind = 2, .variant = 1}},
      {"Visual FoxPro with FPT", {.memo_kind = 2, .variant = 1, .table_kind = 2}},
      {"Visual FoxPro with FlexFile FPT", {.memo_kind = 2, .variant = 3, .table_kind = 2}},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string table = Path("ours" + std::to_string(++n) + ".dbf");
    int width = c.setup.table_kind == 2 ? 4 : 10;  // Visual FoxPro tables hold 4-byte references
    CreateOpen("ours" + std::to_string(n) + ".dbf", {{"NAME", "C", 10, 0}, {"NOTE", "M", width, 0}},
               c.setup);
    std::string expect;
    for (size_t i = 0; i < texts.size(); ++i) {
      Append();
      Put(1, Value::String(std::string(1, static_cast<char>('a' + i))));
      Put(2, Value::String(texts[i], true));
      expect += "NOTE\t" + Hex(texts[i]) + "\n";
    }
    // A rewritten value and a deleted record must not confuse the readers either.
    ASSERT_TRUE(Ok(Area()->go_to(2)));
    Put(2, Value::String(std::string(4999, 'w'), true));
    expect.replace(expect.find(Hex(std::string(5000, 'x'))), 10000, Hex(std::string(4999, 'w')));
    // The last value rewritten five times, the file keeping its size.
    ASSERT_TRUE(Ok(Area()->go_to(static_cast<uint32_t>(texts.size()))));
    const std::string memo = Path("ours" + std::to_string(n) + (c.setup.memo_kind == 1 ? ".dbt" : ".fpt"));
    const size_t size = Bytes(memo).size();
    std::string last;
    for (char letter = 'p'; letter < 'u'; ++letter) {
      last = std::string(big.size() - 10, letter);
      Put(2, Value::String(last, true));
    }
    EXPECT_EQ(Bytes(memo).size(), size);
    expect.replace(expect.rfind(Hex(big)), 2 * big.size(), Hex(last));
    DBCLOSEALL();
    EXPECT_EQ(Run("read-dbfread " + table), expect);
    EXPECT_EQ(Run("read-dbf " + table), expect);
  }
}

}  // namespace
}  // namespace vosk
