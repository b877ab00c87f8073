// Candidate (primary key) tags, as Visual FoxPro writes them (option bit 0x04 without the
// partial bit): kept current through appends and edits, and a change that would give a second
// record the same key is refused with nothing written. On a copy of a real Visual FoxPro table
// (FPT memos, structural CDX) and on a bag this program makes.

#include <filesystem>
#include <string>
#include <vector>

#include "rdd/dbfcdx/cdx_area.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/ord_commands.h"
#include "rdd/order_types.h"
#include "rdd_fixture.h"

namespace vosk {
namespace {

namespace fs = std::filesystem;

const std::string kReal = std::string(VOSK_SOURCE_DIR) + "/../shared/fixtures/real/";

class CandidateTest : public RddTest {
 protected:
  // The table with its structural bag open, exclusive.
  void Open(const std::string& table) {
    SET(kSetAutOpen, Value::Logical(true));
    ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", table, "", false, false)) << ErrorText();
    ORDSETFOCUS(Value::String("CONTACT_ID"));
    ASSERT_EQ(ORDSETFOCUS(), "CONTACT_ID");
  }
  void ExpectBagPasses() {
    auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
    for (const auto& b : area->bags()) {
      NtxCheckReport report;
      ASSERT_TRUE(Ok(CdxCheckBag(area, dynamic_cast<CdxBag*>(b.get()), &report)));
      for (const std::string& p : report.problems) ADD_FAILURE() << p;
    }
  }
  std::vector<int> Ids() {
    std::vector<int> ids;
    for (DBGOTOP(); !EOF_(); DBSKIP(1)) ids.push_back(static_cast<int>(FIELDGET(1).number()));
    return ids;
  }
  void Body(const std::string& table, const std::string& bag) {
    Open(table);
    EXPECT_TRUE(DBORDERINFO(Value::Integer(kOiCandidate)).logical());
    EXPECT_FALSE(DBORDERINFO(Value::Integer(kOiCustom)).logical());
    // Appends and an edit reach the tag.
    for (int id : {7, 6}) {
      ASSERT_TRUE(DBAPPEND()) << ErrorText();
      FIELDPUT(1, Value::Integer(id));
      FIELDPUT(2, Value::String("New " + std::to_string(id)));
    }
    DBGOTO(Value::Integer(3));
    FIELDPUT(1, Value::Integer(30));
    DBCOMMIT();
    EXPECT_TRUE(errors_.empty()) << ErrorText();
    EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 4, 5, 6, 7, 30}));
    DBSEEK(Value::Integer(6));
    EXPECT_TRUE(FOUND());
    ExpectBagPasses();
    DBCLOSEAREA();
    const std::string table_bytes = Bytes(table), bag_bytes = Bytes(bag);

    // A second record of a key is refused, as an append and as an edit; nothing is written.
    Open(table);
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::Integer(2));
    DBCOMMIT();
    ASSERT_NE(LastError(), nullptr);
    EXPECT_NE(LastError()->description.find("CONTACT_ID"), std::string::npos)
        << LastError()->ToString();
    EXPECT_EQ(LASTREC(), 7u);
    errors_.clear();
    DBGOTO(Value::Integer(1));
    FIELDPUT(1, Value::Integer(5));
    DBCOMMIT();
    EXPECT_FALSE(errors_.empty());
    DBGOTO(Value::Integer(1));
    EXPECT_EQ(FIELDGET(1).number(), 1);
    errors_.clear();
    EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 4, 5, 6, 7, 30}));
    ExpectBagPasses();
    DBCLOSEAREA();
    EXPECT_TRUE(errors_.empty()) << ErrorText();
    EXPECT_EQ(Bytes(table), table_bytes);
    EXPECT_EQ(Bytes(bag), bag_bytes);
  }
};

TEST_F(CandidateTest, RealVisualFoxProCandidateTagIsKeptCurrentAndUnique) {
  if (!fs::exists(kReal + "contacts.dbf")) GTEST_SKIP() << "no real-world tables here";
  for (const char* name : {"contacts.dbf", "contacts.CDX", "contacts.FPT"}) {
    fs::copy_file(kReal + name, Path(name));
    fs::permissions(Path(name), fs::perms::owner_write, fs::perm_options::add);
  }
  // The other tag's key names a field by the long name the database container gives it,
  // which the table itself does not hold: it goes, so that records can be added.
  Open(Path("contacts.dbf"));
  ASSERT_TRUE(ORDDESTROY(Value::String("TYPE_ID"))) << ErrorText();
  DBCLOSEAREA();
  Body(Path("contacts.dbf"), Path("contacts.CDX"));
}

TEST_F(CandidateTest, ACandidateTagThisProgramMakesIsMarkedAsVisualFoxProMarksIt) {
  FindDriver("DBFCDX")->settings().table_kind = 2;
  ASSERT_TRUE(DBCREATE(Path("cand.dbf"),
                       Structure({{"CONTACT_ID", "I", 4, 0}, {"NAME", "C", 10, 0}}), "DBFCDX"))
      << ErrorText();
  ASSERT_TRUE(DBUSEAREA(true, "DBFCDX", Path("cand.dbf"), "", false, false));
  for (int id = 1; id <= 5; ++id) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::Integer(id));
  }
  SET(kSetAutOpen, Value::Logical(true));
  OrdCondArgs cond;
  cond.candidate = true;
  ASSERT_TRUE(ORDCONDSET(cond));
  ASSERT_TRUE(ORDCREATE(Path("cand.cdx"), "CONTACT_ID", "CONTACT_ID")) << ErrorText();
  DBCLOSEAREA();
  Body(Path("cand.dbf"), Path("cand.cdx"));
}

}  // namespace
}  // namespace vosk
