// An independent CDX reader agrees with this engine: the real bags written by other programs
// walk here in the reader's order (reversed for descending tags; where the reader cannot
// evaluate a key, in the order the key values predict), a stale bag is reported by the check,
// and the bags this engine builds and keeps current through appends, edits and deletes walk
// there as they walk here.

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "expr/expression.h"
#include "ntx_test_support.h"
#include "rdd/byte_order.h"
#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

const std::string kShared = std::string(VOSK_SOURCE_DIR) + "/../shared";

// The reader's walk of one tag (record numbers; adjacent repeats dropped); false when it
// cannot run here or prints nothing.
bool ReaderWalk(const std::string& table, const std::string& bag, const std::string& tag,
                std::vector<uint32_t>* out) {
  std::string script = kShared + "/tools/xbase-index-walk.pl";
  if (!fs::exists(script)) return false;
  std::string cmd = "perl '" + script + "' '" + table + "' '" + bag + "' " + tag + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  char line[4096];
  std::vector<std::pair<std::string, uint32_t>> all;
  while (std::fgets(line, sizeof line, p)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t tab = s.rfind('\t');
    if (tab == std::string::npos) continue;
    all.push_back({s.substr(0, tab), static_cast<uint32_t>(std::stoul(s.substr(tab + 1)))});
  }
  int rc = pclose(p);
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0 && all[i] == all[i - 1]) continue;
    out->push_back(all[i].second);
  }
  return WIFEXITED(rc) && WEXITSTATUS(rc) == 0 && !out->empty();
}

class CdxTest : public NtxTest {
 protected:
  bool MakeCdxTable(const std::string& name, const std::vector<FieldRow>& rows) {
    std::string path = Create(name, rows, "DBF");
    return DBUSEAREA(true, "DBFCDX", path, "", false, false);
  }

  // Walks the controlling tag and checks that its key values never go backwards (forwards
  // for a descending tag), equal values in record order.
  void ExpectOrderedByKeyValues(const std::string& what) {
    bool desc = DBORDERINFO(Value::Integer(kOiIsDesc)).logical();
    std::vector<uint32_t> recs = Walk();
    Value prev;
    uint32_t prev_rec = 0;
    for (uint32_t r : recs) {
      DBGOTO(Value::Integer(r));
      Value v = DBORDERINFO(Value::Integer(kOiKeyVal));
      if (prev_rec != 0) {
        int c = CompareValues(prev, v);
        if (desc) c = -c;
        EXPECT_TRUE(c < 0 || (c == 0 && (desc ? prev_rec > r : prev_rec < r)))
            << what << " at record " << r;
      }
      prev = v;
      prev_rec = r;
    }
  }

  // The bag's check finds nothing wrong.
  void ExpectSound(const std::string& what) {
    auto* area = dynamic_cast<CdxArea*>(CurrentArea());
    ASSERT_NE(area, nullptr);
    for (const auto& b : area->bags()) {
      NtxCheckReport report;
      ASSERT_TRUE(Ok(CdxCheckBag(area, dynamic_cast<CdxBag*>(b.get()), &report))) << ErrorText();
      std::string text;
      for (auto& p : report.problems) text += p + "\n";
      EXPECT_TRUE(report.problems.empty()) << what << "\n" << text;
    }
  }

  // Pages of the open bags' trees (from the check, which must find nothing wrong) and of the
  // bag's free list; every page of the file must be one of them or a header page (two per tag
  // and two for the directory).
  void BagPages(const std::string& bag, int tags, int64_t* tree, int64_t* free) {
    NtxCheckReport report;
    ASSERT_TRUE(CheckBags(&report)) << ErrorText();
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    *tree = report.pages;
    *free = 0;
    std::string bytes = ReadAll(bag);
    ASSERT_EQ(bytes.size() % kCdxPageSize, 0u);
    auto at = [&](uint64_t o) { return reinterpret_cast<const uint8_t*>(bytes.data()) + o; };
    for (uint32_t page = GetLe32(at(kCdxHdrFree)); page != 0 && page != kCdxNone;
         page = GetLe32(at(page))) {
      ASSERT_LT(page + kCdxPageSize, bytes.size() + 1);
      ASSERT_LT(++*free, 100000) << "the free list loops";
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(at(page)) + 4, kCdxPageSize - 4),
                std::string(kCdxPageSize - 4, '\0'))
          << "free page " << page;
    }
    EXPECT_EQ(*tree + *free + 2 * (tags + 1), static_cast<int64_t>(bytes.size() / kCdxPageSize));
  }

  static int CompareValues(const Value& a, const Value& b) {
    if (a.is_string()) {
      std::string x = a.str(), y = b.str();
      return x < y ? -1 : x > y ? 1 : 0;
    }
    if (a.is_logical()) return (a.logical() ? 1 : 0) - (b.logical() ? 1 : 0);
    if (a.is_date() || a.is_timestamp()) return a.julian() < b.julian() ? -1 : a.julian() > b.julian();
    double x = a.number(), y = b.number();
    return x < y ? -1 : x > y ? 1 : 0;
  }
};

TEST_F(CdxTest, RealBagsWalkAsTheReaderOrTheirKeysPredict) {
  std::string real = kShared + "/fixtures/real/";
  if (!fs::exists(real + "rooms.cdx")) GTEST_SKIP() << "no real fixtures";
  std::vector<std::pair<std::string, std::string>> bags = {{"rooms.dbf", "rooms.cdx"}};
  for (const auto& e : fs::directory_iterator(real + "cdx-sample")) {
    std::string name = e.path().filename().string();
    // INVENT.CDX is stale (checked below); TEST.CDX holds keys of another table's fields.
    if (name.size() > 4 && name.substr(name.size() - 4) == ".CDX" && name != "INVENT.CDX" &&
        name != "TEST.CDX") {
      bags.push_back({"cdx-sample/" + name.substr(0, name.size() - 4) + ".DBF",
                      "cdx-sample/" + name});
    }
  }
  ASSERT_GE(bags.size(), 20u);
  int compared = 0, modelled = 0;
  for (const auto& [table, bag] : bags) {
    std::string base = fs::path(table).stem().string();
    for (const auto& e : fs::directory_iterator(fs::path(real + table).parent_path())) {
      std::string f = e.path().filename().string();
      if (fs::path(f).stem().string() == base) {
        fs::copy_file(e.path(), Path(f), fs::copy_options::overwrite_existing);
      }
    }
    std::string t = Path(fs::path(table).filename().string());
    std::string b = Path(fs::path(bag).filename().string());
    errors_.clear();
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", t, "", false, true)) << table << ErrorText();
    ASSERT_TRUE(ORDLISTADD(Value::String(b))) << bag << ErrorText();
    int n = ORDCOUNT();
    ASSERT_GE(n, 1) << bag;
    for (int i = 1; i <= n; ++i) {
      ORDSETFOCUS(Value::Integer(i));
      std::string tag = ORDNAME(Value::Integer(i));
      const size_t errors_before = errors_.size();
      std::vector<uint32_t> ours = Walk();
      std::vector<uint32_t> theirs;
      if (bag == "cdx-sample/EXAMPLE.CDX" && errors_.size() > errors_before) {
        // The stale record's key (below): the walk landing on it says the bag is damaged.
        EXPECT_EQ(tag, "ID");
        EXPECT_EQ(errors_.back().gen_code, kEgCorruption);
        EXPECT_EQ(errors_.back().file_name, b);
        errors_.resize(errors_before);
        continue;
      }
      if (ReaderWalk(t, b, tag, &theirs)) {
        // The reader walks every tree ascending.
        if (DBORDERINFO(Value::Integer(kOiIsDesc)).logical()) std::reverse(ours.begin(), ours.end());
        EXPECT_EQ(ours, theirs) << bag << " " << tag;
        ++compared;
      } else {
        ExpectOrderedByKeyValues(bag + " " + tag);
        ++modelled;
      }
    }
    if (bag == "cdx-sample/EXAMPLE.CDX") {
      // Stale as found: record 4 changed and its key did not (ID), or it came later (the FOR
      // tag NOTDELETED lacks it); the check says so for both tags.
      auto* area = dynamic_cast<CdxArea*>(CurrentArea());
      NtxCheckReport report;
      ASSERT_TRUE(Ok(CdxCheckBag(area, dynamic_cast<CdxBag*>(area->bags()[0].get()), &report)));
      EXPECT_EQ(report.problems.size(), 2u);
    } else {
      ExpectSound(bag);
    }
    EXPECT_TRUE(errors_.empty()) << bag << ": " << ErrorText();
    DBCLOSEAREA();
  }
  EXPECT_GT(compared, 20);
  EXPECT_GT(modelled, 5);
  // rooms.cdx: five tags with their keys and FOR texts as written.
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("rooms.dbf"), "", false, true)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("rooms.cdx"))));
  EXPECT_EQ(ORDNAME(Value::Integer(3)), "AUDIO");
  EXPECT_EQ(ORDFOR(Value::Integer(3)), "TRIM(UPPER(facility))==\"AUDIO\"");
  EXPECT_EQ(ORDKEY(Value::Integer(1)), "roomname");
  ORDSETFOCUS(Value::String("FILM"));
  EXPECT_EQ(ORDKEYCOUNT(), 6);
  ORDSETFOCUS(Value::String("ROOMNAME"));
  EXPECT_TRUE(DBSEEK(Value::String("Mix")));
}

TEST_F(CdxTest, CheckReportsTheStaleBag) {
  std::string dir = kShared + "/fixtures/real/cdx-sample/";
  if (!fs::exists(dir + "INVENT.CDX")) GTEST_SKIP() << "no real fixtures";
  fs::copy_file(dir + "INVENT.DBF", Path("INVENT.DBF"));
  fs::copy_file(dir + "INVENT.CDX", Path("INVENT.CDX"));
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("INVENT.DBF"), "", false, true)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("INVENT.CDX")))) << ErrorText();
  auto* area = dynamic_cast<CdxArea*>(CurrentArea());
  NtxCheckReport report;
  ASSERT_TRUE(Ok(CdxCheckBag(area, dynamic_cast<CdxBag*>(area->bags()[0].get()), &report)));
  // Tag ITEM holds six keys for four records, none of them the key its record gives; the
  // other tags are sound.
  ASSERT_FALSE(report.problems.empty());
  std::string all;
  for (const std::string& p : report.problems) {
    EXPECT_EQ(p.rfind("ITEM: ", 0), 0u) << p;
    all += p + "\n";
  }
  EXPECT_NE(all.find("of record 5 does not match"), std::string::npos) << all;
  EXPECT_NE(all.find("of record 6 does not match"), std::string::npos) << all;
  EXPECT_NE(all.find("record 1 has no key"), std::string::npos) << all;
}

// A tag on a numeric field takes its keys straight from the field's text; they must be the
// keys the evaluated expression gives: field texts as other programs write them ("-0",
// "-0.00", no decimals in a field with decimals, blanks, stars) walk in the same order through
// a tag on the field and through a tag on an expression of it.
TEST_F(CdxTest, NumericFieldKeysAreTheKeysOfTheirValues) {
  ASSERT_TRUE(MakeCdxTable("n.dbf", {{"I", "N", 5, 0}, {"D", "N", 7, 2}}));
  const char* kTexts[][2] = {
      {"   -0", "  -0.00"}, {"    0", "   0.00"}, {"   12", "     12"}, {"  -12", " -12.50"},
      {"     ", "       "}, {"*****", "*******"}, {"    1", "   0.01"}, {"   -1", "  -0.01"},
      {"   -0", "   0.00"}, {"    0", "  -0.00"},
  };
  for (size_t i = 0; i < std::size(kTexts); ++i) Add({Value::Integer(0), Value::Double(0, 0, 2)});
  DBCOMMIT();
  DBCLOSEAREA();
  std::string bytes = ReadAll(Path("n.dbf"));
  const size_t header = GetLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + 8);
  const size_t record = GetLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + 10);
  for (size_t i = 0; i < std::size(kTexts); ++i) {
    bytes.replace(header + i * record + 1, 5, kTexts[i][0]);
    bytes.replace(header + i * record + 6, 7, kTexts[i][1]);
  }
  WriteAll(Path("n.dbf"), bytes);
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("n.dbf"), "", false, false));
  const std::string bag = Path("n.cdx");
  for (const char* key : {"I", "I*1", "D", "D*1"}) {
    std::string tag = std::string(key[0] == 'I' ? "I" : "D") + (key[1] ? "E" : "F");
    ASSERT_TRUE(ORDCREATE(bag, tag, key)) << key << ErrorText();
  }
  for (const char* field : {"I", "D"}) {
    SCOPED_TRACE(field);
    ORDSETFOCUS(Value::String(std::string(field) + "F"));
    std::vector<uint32_t> direct = Walk();
    ORDSETFOCUS(Value::String(std::string(field) + "E"));
    EXPECT_EQ(direct, Walk());
    EXPECT_EQ(direct.size(), std::size(kTexts));
    const std::pair<double, uint32_t> seeks[] = {{-12.5, 4}, {12, 3}, {0.01, 7}, {-0.01, 8}};
    for (const char* tag : {"F", "E"}) {
      ORDSETFOCUS(Value::String(std::string(field) + tag));
      for (const auto& [value, recno] : seeks) {
        if (field[0] == 'I' && value != static_cast<int>(value)) continue;
        EXPECT_TRUE(DBSEEK(Value::Double(value, 0, 2))) << tag << " " << value;
        EXPECT_EQ(RECNO(), recno) << tag << " " << value;
      }
    }
  }
  ExpectSound("numeric tags");
}

// A tag on an integer field holds 4-byte keys (32-bit, big-endian, sign bit inverted), as Visual
// FoxPro writes them: the root leaf of a small bag byte by byte; walks (the first one before any
// key was evaluated, in a shared table), seeks, soft seeks and scopes over them after the bag
// is opened again, and after appends, walked by the reader too.
TEST_F(CdxTest, IntegerFieldTagsHoldFourByteKeys) {
  ASSERT_TRUE(MakeCdxTable("ints.dbf", {{"ID", "I", 4, 0}, {"SCALED", "I", 4, 2}}));
  for (int64_t id : {3, -1, 258, 0}) Add({Value::Integer(id), Value::Integer(id)});
  DBCOMMIT();
  ASSERT_TRUE(ORDCREATE(Path("scaled.cdx"), "SCALED", "SCALED")) << ErrorText();
  EXPECT_EQ(DBORDERINFO(Value::Integer(kOiKeySize)).number(), 8) << "decimals keep doubles";
  ASSERT_TRUE(ORDCREATE(Path("ints.cdx"), "ID", "ID")) << ErrorText();
  EXPECT_EQ(DBORDERINFO(Value::Integer(kOiKeySize)).number(), 4);
  DBCLOSEAREA();
  const std::string bytes = ReadAll(Path("ints.cdx"));
  auto at = [&](size_t o) { return reinterpret_cast<const uint8_t*>(bytes.data()) + o; };
  // The tag's header follows the directory's header and root; its root is its only leaf.
  const size_t header = kCdxHeaderSize + kCdxPageSize;
  ASSERT_EQ(GetLe16(at(header + kCdxHdrKeyLength)), 4);
  const uint32_t root = GetLe32(at(header + kCdxHdrRoot));
  ASSERT_LT(root + kCdxPageSize, bytes.size() + 1);
  std::vector<uint8_t> want(kCdxPageSize, 0);
  auto put = [&](size_t o, std::vector<uint8_t> b) { std::copy(b.begin(), b.end(), want.begin() + o); };
  // Root leaf, 4 keys, no neighbours; 468 bytes free; 18 record bits, 3 + 3 count bits.
  put(0, {0x03, 0x00, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  put(12, {0xD4, 0x01, 0xFF, 0xFF, 0x03, 0x00, 0x07, 0x07, 18, 3, 3, 3});
  // -1 (record 2): 7F FF FF FF whole. 0 (record 4): 80 and 3 trailing zeros. 3 (record 1):
  // 3 bytes shared, 03. 258 (record 3): 2 bytes shared, 01 02.
  put(24, {0x02, 0x00, 0x00, 0x04, 0x00, 0x60, 0x01, 0x00, 0x0C, 0x03, 0x00, 0x08});
  put(508, {0x7F, 0xFF, 0xFF, 0xFF});
  put(507, {0x80});
  put(506, {0x03});
  put(504, {0x01, 0x02});
  EXPECT_EQ(std::vector<uint8_t>(at(root), at(root) + kCdxPageSize), want);

  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("ints.dbf"), "", true, false)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(Path("ints.cdx"))));
  ORDSETFOCUS(Value::String("ID"));
  // The first walk decodes the leaf before any key was evaluated: 0's trailing zeros are pad.
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{2, 4, 1, 3}));
  const struct {
    int64_t value;
    bool soft, found;
    uint32_t recno;  // 0: end of file
  } kSeeks[] = {{258, false, true, 3}, {-1, false, true, 2}, {0, false, true, 4},
                {1, false, false, 0}, {1, true, false, 1},  {259, true, false, 0},
                {-5, true, false, 2}};
  for (const auto& c : kSeeks) {
    EXPECT_EQ(DBSEEK(Value::Integer(c.value), Value::Logical(c.soft)), c.found) << c.value;
    EXPECT_EQ(EOF_() ? 0u : RECNO(), c.recno) << c.value;
  }
  Add({Value::Integer(1), Value::Integer(1)});
  Add({Value::Integer(-2147483647 - 1), Value::Integer(0)});
  DBCOMMIT();
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{6, 2, 4, 5, 1, 3}));
  std::vector<uint32_t> back = WalkBack();
  EXPECT_EQ(back, (std::vector<uint32_t>{3, 1, 5, 4, 2, 6}));
  std::vector<uint32_t> theirs;
  if (ReaderWalk(Path("ints.dbf"), Path("ints.cdx"), "ID", &theirs)) {
    EXPECT_EQ(theirs, (std::vector<uint32_t>{6, 2, 4, 5, 1, 3}));
  }
  ORDSCOPE(0, Value::Integer(0));
  ORDSCOPE(1, Value::Integer(3));
  EXPECT_EQ(Walk(), (std::vector<uint32_t>{4, 5, 1}));
  EXPECT_EQ(ORDKEYCOUNT(), 3);
  ORDSCOPE(2);
  ExpectSound("integer tag");
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

// A tag added to a bag that holds another takes the pages a dropped tag freed first, then pages
// at the end of the file (written past the page cache); a tag whose build runs out of disk
// leaves the bag as it was, byte for byte.
TEST_F(CdxTest, AddedTagsUseFreedPagesAndAFailedOneLeavesTheBag) {
  ASSERT_TRUE(MakeCdxTable("add.dbf", {{"NAME", "C", 12, 0}, {"AMT", "N", 9, 2}}));
  std::mt19937 rng(5);
  const uint32_t kRecords = 20000;
  for (uint32_t r = 1; r <= kRecords; ++r) {
    char name[16];
    std::snprintf(name, sizeof name, "%c%08X", 'A' + static_cast<int>(rng() % 26),
                  static_cast<unsigned>(rng()));
    Add({Value::String(name), Value::Double(static_cast<int>(rng() % 2000000) / 100.0, 9, 2)});
  }
  DBCOMMIT();
  const std::string bag = Path("add.cdx");
  OrdCondArgs additive;
  additive.additive = true;
  for (const char* tag : {"NAME", "AMT"}) {
    ORDCONDSET(additive);
    ASSERT_TRUE(ORDCREATE(bag, tag, tag)) << ErrorText();
  }
  ASSERT_TRUE(ORDDESTROY(Value::String("AMT")));
  int64_t tree, free;
  BagPages(bag, 1, &tree, &free);  // the dropped tag's header pages are on the free list
  ASSERT_GT(free, 100);
  ORDSETFOCUS(Value::String("NAME"));
  const std::vector<uint32_t> by_name = Walk();
  ORDCONDSET(additive);
  ASSERT_TRUE(ORDCREATE(bag, "LOWER", "LOWER(NAME)")) << ErrorText();
  BagPages(bag, 2, &tree, &free);
  EXPECT_EQ(free, 0) << "the freed pages are used first";
  std::vector<uint32_t> ours = Walk(), theirs;
  EXPECT_EQ(ours.size(), kRecords);
  ExpectOrderedByKeyValues("LOWER");
  if (ReaderWalk(Path("add.dbf"), bag, "NAME", &theirs)) {
    EXPECT_EQ(theirs, by_name);
  }
  DBCLOSEAREA();

  const std::string before = ReadAll(bag);
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("add.dbf"), "", false, false)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  {
    FileSizeLimit limit(static_cast<rlim_t>(before.size() + 16 * kCdxPageSize));
    ASSERT_TRUE(limit.ok());
    ORDCONDSET(additive);
    EXPECT_FALSE(ORDCREATE(bag, "AMT", "AMT"));
  }
  EXPECT_FALSE(errors_.empty());
  errors_.clear();
  DBCLOSEAREA();
  EXPECT_TRUE(ReadAll(bag) == before) << "the bag changed";
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("add.dbf"), "", false, false)) << ErrorText();
  ASSERT_TRUE(ORDLISTADD(Value::String(bag))) << ErrorText();
  EXPECT_EQ(ORDCOUNT(), 2);
  ExpectSound("after the failed build");
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

// Deleting keys leaves leaves underfull: each is joined with its neighbours, interior pages
// follow, and a root left with one child hands the root down. Every page of the file stays a
// header page, a page of a tree or a page of the free list (none is lost), the freed pages are
// used again when keys come back, and the tag walks in order both ways, as the reader walks it
// and as the check finds it.
TEST_F(CdxTest, DeletedKeysJoinUnderfullPagesAndFreeThem) {
  ASSERT_TRUE(MakeCdxTable("joins.dbf", {{"NAME", "C", 20, 0}, {"ON", "N", 1, 0}}));
  const uint32_t kRecords = 3000;
  for (uint32_t r = 1; r <= kRecords; ++r) {
    char name[24];
    std::snprintf(name, sizeof name, "K%05u-%08X", r, r * 2654435761u);
    Add({Value::String(name), Value::Integer(1)});
  }
  DBCOMMIT();
  OrdCondArgs only_on;
  only_on.for_text = "ON = 1";
  ORDCONDSET(only_on);
  ASSERT_TRUE(ORDCREATE(Path("joins.cdx"), "NAME", "NAME")) << ErrorText();
  auto pages = [&](int64_t* tree, int64_t* free) { BagPages(Path("joins.cdx"), 1, tree, free); };
  auto expect_walks = [&](uint32_t every, const std::string& when) {
    std::vector<uint32_t> want;
    for (uint32_t r = every; r <= kRecords; r += every) want.push_back(r);
    EXPECT_EQ(Walk(), want) << when;
    std::vector<uint32_t> back = WalkBack();
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, want) << when;
    std::vector<uint32_t> theirs;
    if (ReaderWalk(Path("joins.dbf"), Path("joins.cdx"), "NAME", &theirs)) {
      EXPECT_EQ(theirs, want) << when;
    }
    EXPECT_EQ(ORDKEYCOUNT(), static_cast<int64_t>(want.size())) << when;
  };
  // Keeps the keys of every n-th record.
  auto keep_every = [&](uint32_t every) {
    for (uint32_t r = 1; r <= kRecords; ++r) {
      DBGOTO(Value::Integer(r));
      FIELDPUT(2, Value::Integer(r % every == 0 ? 1 : 0));
    }
    DBCOMMIT();
  };
  int64_t built, free;
  pages(&built, &free);
  EXPECT_EQ(free, 0);
  EXPECT_GT(built, 80);  // leaves of some 34 keys under two interior levels
  // Three keys of four go: without joins no leaf would be empty and no page would be freed.
  keep_every(4);
  int64_t tree;
  pages(&tree, &free);
  EXPECT_LT(tree, built / 2);
  EXPECT_GT(free, built / 2);
  expect_walks(4, "one key in four left");
  // 30 keys left fit in two leaves under a root.
  keep_every(100);
  pages(&tree, &free);
  EXPECT_LE(tree, 1 + 3);
  expect_walks(100, "one key in a hundred left");
  // The keys come back into the freed pages first (the file grows only once they are used).
  keep_every(1);
  pages(&tree, &free);
  EXPECT_EQ(free, 0);
  EXPECT_GE(tree, built);
  expect_walks(1, "every key back");
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

// Bags built here, then kept current through random appends, edits and deletes (a model of the
// table decides what each tag must hold), walk as the reader walks them and pass the check.
TEST_F(CdxTest, BuiltAndMaintainedBagsWalkAsTheReaderWalksThem) {
  ASSERT_TRUE(MakeCdxTable("w.dbf", {{"NAME", "C", 12, 0}, {"AMOUNT", "N", 9, 2}, {"DAY", "D", 8, 0}}));
  std::mt19937 rng(17);
  auto random_row = [&]() {
    char name[16];
    std::snprintf(name, sizeof name, "%c%04u", "abcXYZ"[rng() % 6], static_cast<unsigned>(rng() % 900));
    double amount = static_cast<int>(rng() % 200000 - 100000) / 100.0;
    int32_t day = JulianFromYmd(1990 + static_cast<int>(rng() % 30), 1 + static_cast<int>(rng() % 12),
                                1 + static_cast<int>(rng() % 28));
    return ValueArray{Value::String(name), Value::Double(amount, 0, 2), Value::Date(day)};
  };
  for (int i = 0; i < 1500; ++i) Add(random_row());
  DBCOMMIT();
  const struct {
    const char* tag;
    const char* key;
    const char* cond;
    bool unique, descending, reader;
  } kTags[] = {
      {"UNAME", "UPPER(NAME)", "", false, false, false},
      {"NAME", "NAME", "", false, false, true},
      {"AMOUNT", "AMOUNT", "", false, false, true},
      {"DAY", "DAY", "", false, true, false},
      {"ONCE", "NAME", "", true, false, true},
      {"POS", "NAME", "AMOUNT>0", false, false, true},
  };
  for (const auto& t : kTags) {
    OrdCondArgs c;
    c.for_text = t.cond;
    c.descending = t.descending;
    c.additive = true;
    ORDCONDSET(c);
    ASSERT_TRUE(ORDCREATE(Path("w.cdx"), t.tag, t.key, nullptr, Value::Logical(t.unique)))
        << ErrorText();
  }
  EXPECT_EQ(ORDCOUNT(), 6);
  auto verify = [&](const std::string& when) {
    DBCOMMIT();
    ExpectSound(when);
    for (const auto& t : kTags) {
      ORDSETFOCUS(Value::String(t.tag));
      ExpectOrderedByKeyValues(when + " " + t.tag);
      if (!t.reader) continue;
      std::vector<uint32_t> ours = Walk(), theirs;
      if (ReaderWalk(Path("w.dbf"), Path("w.cdx"), t.tag, &theirs)) {
        EXPECT_EQ(ours, theirs) << when << " " << t.tag;
      }
    }
  };
  verify("built");
  // Edits (keys move), deletes of whole records by emptying their keys' values, appends.
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 400; ++i) {
      uint32_t r = 1 + rng() % static_cast<uint32_t>(LASTREC());
      DBGOTO(Value::Integer(r));
      ValueArray row = random_row();
      if (rng() % 2) FIELDPUT(1, row[0]);
      FIELDPUT(2, row[1]);
      if (rng() % 2) FIELDPUT(3, row[2]);
    }
    for (int i = 0; i < 300; ++i) Add(random_row());
    verify("round " + std::to_string(round));
  }
  ASSERT_TRUE(errors_.empty()) << ErrorText();
  // Pack after deletions rebuilds every tag.
  for (uint32_t r = 1; r <= LASTREC(); r += 3) {
    DBGOTO(Value::Integer(r));
    DBDELETE();
  }
  ASSERT_TRUE(DBPACK()) << ErrorText();
  verify("packed");
  // Destroying tags: the controlling order follows; the last tag takes the file with it.
  ORDSETFOCUS(Value::String("POS"));
  ASSERT_TRUE(ORDDESTROY(Value::String("AMOUNT")));
  EXPECT_EQ(ORDNAME(Value()), "POS");
  EXPECT_EQ(ORDCOUNT(), 5);
  for (const char* t : {"UNAME", "NAME", "DAY", "ONCE", "POS"}) ASSERT_TRUE(ORDDESTROY(Value::String(t)));
  EXPECT_FALSE(fs::exists(Path("w.cdx")));
  EXPECT_EQ(ORDCOUNT(), 0);
  ASSERT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
