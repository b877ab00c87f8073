// `dbutool reindex` of a table's structural bag (which the table's own open holds): every tag
// comes back as it was defined (key, FOR, unique, descending, custom), the bag passes check and
// an independent reader walks every plain-field tag in the order a model of the records
// predicts.

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "rdd/ord_commands.h"
#include "rdd/order_bag_build.h"
#include "rdd/order_types.h"
#include "rdd/rdd_fixture.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

struct ShellRun {
  int status;
  std::string out;
};

ShellRun Shell(const std::string& cmd) {
  ShellRun r{0, ""};
  FILE* p = popen((cmd + " 2>&1").c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

ShellRun Dbutool(const std::string& args) { return Shell(std::string("'") + DBUTOOL_PATH + "' " + args); }

// The independent reader's walk of a tag: record numbers in key order; false when it cannot run.
bool ReaderWalk(const std::string& table, const std::string& bag, const std::string& tag,
                std::vector<uint32_t>* out) {
  const std::string script = std::string(VOSK_SOURCE_DIR) + "/../shared/tools/xbase-index-walk.pl";
  if (!fs::exists(script)) return false;
  FILE* p = popen(("perl '" + script + "' '" + table + "' '" + bag + "' " + tag + " 2>/dev/null")
                      .c_str(),
                  "r");
  if (!p) return false;
  char line[4096];
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    const size_t tab = s.rfind('\t');
    if (tab != std::string::npos) out->push_back(static_cast<uint32_t>(std::stoul(s.substr(tab + 1))));
  }
  return pclose(p) == 0;
}

class RebuildTest : public RddTest {
 protected:
  static constexpr int kRecords = 60;
  // The records: distinct names, amounts and dates in an order of their own, codes repeating.
  static std::string Name(int i) { return "n" + std::to_string(100 + (i * 7) % kRecords); }
  static int Amount(int i) { return (i * 13) % 101 - 20; }
  static int Day(int i) { return 1 + (i * 11) % 28; }
  static int Code(int i) { return i % 5; }

  // t.dbf (Visual FoxPro) with a structural bag of tags of every kind.
  std::string MakeTable() {
    DbfDriverSettings& s = FindDriver("DBFCDX")->settings();
    s.table_kind = 2;
    const std::string table = Path("t.dbf");
    EXPECT_TRUE(DBCREATE(table, Structure({{"NAME", "C", 10, 0}, {"AMOUNT", "N", 6, 0},
                                           {"BORN", "D", 8, 0}, {"CODE", "N", 2, 0}}),
                         "DBFCDX"))
        << ErrorText();
    EXPECT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", false, false)) << ErrorText();
    for (int i = 1; i <= kRecords; ++i) {
      EXPECT_TRUE(DBAPPEND());
      FIELDPUT(1, Value::String(Name(i)));
      FIELDPUT(2, Value::Integer(Amount(i)));
      FIELDPUT(3, Value::Date(DateFromDigits("202401" + std::string(Day(i) < 10 ? "0" : "") +
                                             std::to_string(Day(i)))));
      FIELDPUT(4, Value::Integer(Code(i)));
    }
    SET(kSetAutOpen, Value::Logical(true));
    const struct {
      const char* tag;
      const char* key;
      const char* for_text;
      bool unique, descending, custom;
    } tags[] = {
        {"BYNAME", "NAME", "", false, false, false},
        {"BYAMOUNT", "AMOUNT", "", false, false, false},
        {"BYBORN", "BORN", "", false, false, false},
        {"POSITIVE", "NAME", "AMOUNT > 0", false, false, false},
        {"BYCODE", "CODE", "", true, false, false},
        {"DOWN", "AMOUNT", "", false, true, false},
        {"PICKED", "NAME", "", false, false, true},
    };
    for (const auto& t : tags) {
      OrdCondArgs cond;
      cond.for_text = t.for_text;
      cond.descending = t.descending;
      cond.custom = t.custom;
      EXPECT_TRUE(ORDCONDSET(cond));
      EXPECT_TRUE(ORDCREATE(Path("t.cdx"), t.tag, t.key, nullptr, Value::Logical(t.unique)))
          << ErrorText();
    }
    // The custom tag holds the keys of three records only.
    ORDSETFOCUS(Value::String("PICKED"));
    for (int r : {4, 9, 17}) {
      DBGOTO(Value::Integer(r));
      EXPECT_TRUE(ORDKEYADD(Value(), Value(), Value()));
    }
    EXPECT_EQ(ORDKEYCOUNT(), 3);
    SET(kSetAutOpen, Value::Logical(false));
    DBCLOSEAREA();
    return table;
  }

  // The records in the order of a tag as a model of the records predicts.
  static std::vector<uint32_t> Model(const std::string& tag) {
    std::vector<uint32_t> recs;
    for (int i = 1; i <= kRecords; ++i) {
      if (tag == "POSITIVE" && Amount(i) <= 0) continue;
      recs.push_back(static_cast<uint32_t>(i));
    }
    auto by = [&](auto key) {
      std::stable_sort(recs.begin(), recs.end(),
                       [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    };
    if (tag == "BYNAME" || tag == "POSITIVE") by([](int i) { return Name(i); });
    if (tag == "BYAMOUNT") by([](int i) { return Amount(i); });
    if (tag == "DOWN") by([](int i) { return -Amount(i); });
    if (tag == "BYBORN") by([](int i) { return Day(i) * 1000 + i; });
    if (tag == "BYCODE") {
      recs.assign({5, 1, 2, 3, 4});  // the first record of each code, by code
    }
    return recs;
  }
};

TEST_F(RebuildTest, ReindexOfAStructuralBagKeepsEveryTagAsDefined) {
  const std::string table = MakeTable();
  const std::string bag = Path("t.cdx");
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", true, true)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(bag)));
  const std::vector<OrderDefinition> before = BagOrderDefinitions(bag);
  DBCLOSEAREA();
  ASSERT_EQ(before.size(), 7u);

  const ShellRun reindex = Dbutool("reindex '" + table + "' '" + bag + "'");
  ASSERT_EQ(reindex.status, 0) << reindex.out;
  const ShellRun check = Dbutool("check '" + table + "' '" + bag + "'");
  EXPECT_EQ(check.status, 0) << check.out;

  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", true, true)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(bag)));
  const std::vector<OrderDefinition> after = BagOrderDefinitions(bag);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(before[i].name);
    EXPECT_EQ(after[i].name, before[i].name);
    EXPECT_EQ(after[i].key_text, before[i].key_text);
    EXPECT_EQ(after[i].for_text, before[i].for_text);
    EXPECT_EQ(after[i].unique, before[i].unique);
    EXPECT_EQ(after[i].descending, before[i].descending);
    EXPECT_EQ(after[i].custom, before[i].custom);
  }
  EXPECT_TRUE(after.back().custom);
  EXPECT_EQ(ORDKEYCOUNT(Value::String("PICKED")), 0) << "a custom tag comes back empty";
  // A descending tag's tree is stored as an ascending one and walked backward.
  ORDSETFOCUS(Value::String("DOWN"));
  std::vector<uint32_t> down;
  for (DBGOTOP(); !EOF_(); DBSKIP(1)) down.push_back(RECNO());
  EXPECT_EQ(down, Model("DOWN"));
  DBCLOSEAREA();

  for (const char* tag : {"BYNAME", "BYAMOUNT", "BYBORN", "POSITIVE", "BYCODE"}) {
    SCOPED_TRACE(tag);
    std::vector<uint32_t> walked;
    if (!ReaderWalk(table, bag, tag, &walked)) GTEST_SKIP() << "the independent reader is absent";
    EXPECT_EQ(walked, Model(tag));
  }
  for (const auto& entry : fs::directory_iterator(fs::path(table).parent_path())) {
    EXPECT_EQ(entry.path().string().find("vosk-"), std::string::npos) << entry.path();
  }
}

}  // namespace
}  // namespace vosk
