// A tag added to a CDX bag that the area has open goes into a copy of the bag: on a full disk
// the add fails, the bag's file stays byte for byte as it was, and the area has the bag open
// as before (its tag kept current, in control again); the add that completes keeps the old
// tag beside the new one, both kept current, and leaves no copy beside the bag.

#include <filesystem>

#include "ntx_test_support.h"
#include "support/dbf_image.h"
#include "support/file_size_limit.h"

namespace vosk {
namespace {

TEST_F(NtxTest, TagAddedToAnOpenBagOnAFullDiskLeavesTheBagOpenAsItWas) {
  ASSERT_TRUE(MakeTable("tags", {{"NAME", "C", 30, 0}}, false, "DBFCDX"));
  for (int i = 0; i < 3000; ++i) Add({Value::String("name " + std::to_string(i * 7919 % 3000))});
  const std::string bag = Path("tags.cdx");
  ASSERT_TRUE(ORDCREATE(bag, "BYNAME", "NAME")) << ErrorText();
  DBCOMMIT();
  const std::string before = test::ReadFileBytes(bag);
  {
    FileSizeLimit full(before.size() + 4096);  // the copy fits, the new tag does not
    ASSERT_TRUE(full.ok());
    EXPECT_FALSE(ORDCREATE(bag, "BYUPPER", "UPPER(NAME)"));
  }
  EXPECT_FALSE(errors_.empty()) << "the full disk is told";
  errors_.clear();
  EXPECT_EQ(test::ReadFileBytes(bag), before);
  EXPECT_EQ(ORDCOUNT(), 1);
  EXPECT_EQ(ORDSETFOCUS(), "BYNAME");
  Add({Value::String("aaa")});
  DBCOMMIT();
  DBGOTOP();
  EXPECT_EQ(RECNO(), 3001u) << "the tag is kept current";

  ASSERT_TRUE(ORDCREATE(bag, "BYUPPER", "UPPER(NAME)")) << ErrorText();
  EXPECT_EQ(ORDCOUNT(), 2);
  Add({Value::String("zzz")});
  DBCOMMIT();
  for (const char* tag : {"BYNAME", "BYUPPER"}) {
    ORDSETFOCUS(Value::String(tag));
    EXPECT_EQ(ORDKEYCOUNT(), 3002) << tag;
    DBGOBOTTOM();
    EXPECT_EQ(RECNO(), 3002u) << tag;
  }
  NtxCheckReport report;
  ASSERT_TRUE(CheckBags(&report)) << ErrorText();
  for (const std::string& p : report.problems) ADD_FAILURE() << p;
  for (const auto& entry : std::filesystem::directory_iterator(Path(""))) {
    EXPECT_EQ(entry.path().string().find(".new"), std::string::npos) << entry.path();
  }
  EXPECT_TRUE(errors_.empty()) << ErrorText();
}

}  // namespace
}  // namespace vosk
