// Float fields that another program wrote in exponent form, as in real watershed tables
// ("1.10042642493e+009" in an F19.11 field): the window shows, filters and sorts them by the
// whole value the text denotes, as every other reader of the table does.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "app/browse_view.h"
#include "app/sort_filter.h"
#include "app/group_commands.h"
#include "app/twbrowse.h"
#include "rdd/db_commands.h"
#include "support/dbf_image.h"

namespace vosk {

void RunWithTable(ScriptedUi& ui, const std::string& table,
                  const std::function<void(TWBrowse&)>& body);

namespace {

class FloatFieldsTest : public AppTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Ini("RDD", GetParam());
  }
};

INSTANTIATE_TEST_SUITE_P(Drivers, FloatFieldsTest, ::testing::Values("DBFNTX", "DBFCDX"));

TEST_P(FloatFieldsTest, ExponentFormIsShownFilteredAndSortedByItsWholeValue) {
  struct Row {
    const char* name;
    const char* area;   // as the other program wrote it
    const char* shown;  // the cell
  };
  const Row rows[] = {
      {"BUZZARDS", "1.10042642493e+009", "1100426424.93000000"},
      {"CAPE COD", "9.13978642943e+008", "913978642.943000000"},
      {"MERRIMACK", "7.28159472653e+008", "728159472.653000000"},
      {"DEERFIELD", "8.97643472911e+008", "897643472.911000000"},
      {"ISLANDS", "6.80071913919e+005", " 680071.91391900000"},
      {"NEGATIVE", "-1.5e+009", "-1500000000.0000000"},
      {"PLAIN", "     12.50000000000", "     12.50000000000"},
  };
  std::vector<std::vector<std::string>> records;
  for (const Row& r : rows) {
    std::string name = r.name, area = r.area;
    name.resize(10, ' ');
    area.insert(0, 19 - area.size(), ' ');
    records.push_back({name, area});
  }
  const std::string table = Path("BACINI.DBF");
  WriteDbf(table, {{"NOME", 'C', 10, 0}, {"AREA", 'F', 19, 11}}, records);
  RunWithTable(ui_, table, [&](TWBrowse& brw) {
    for (uint32_t r = 1; r <= std::size(rows); ++r) {
      DBGOTO(Value::Integer(r));
      brw.Refresh();
      const std::vector<std::string> cells = brw.columns().bLine();
      ASSERT_EQ(cells.size(), 2u);
      EXPECT_EQ(cells[1], rows[r - 1].shown) << rows[r - 1].area;
    }
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::SetMemo(d, "cFor", "AREA > 800000000");
      ui_.Press(d, kIdConferma);
    });
    FILTRA(&brw);
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{1, 2, 4}));
    ORDINA(&brw, 2);
    EXPECT_EQ(Walk(), (std::vector<uint32_t>{6, 7, 5, 3, 4, 2, 1}));
    EXPECT_TRUE(MessageTexts().empty()) << MessageTexts()[0];

    // Values too wide for the field's plain form are written back in exponent form, whole.
    ui_.dialog_scripts.push_back([this](Dialog& d) {
      ScriptedUi::Choose(d, "cCam", "AREA");
      ScriptedUi::SetMemo(d, "cExp", "AREA * 2");
      ScriptedUi::SetMemo(d, "cFor", "AREA > 800000000");
      ui_.Press(d, kIdConferma);
    });
    SOSTVAL(&brw);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"3 record modificati"});
    const std::string bytes = test::ReadFileBytes(table);
    for (uint32_t r = 1; r <= std::size(rows); ++r) {
      const double before = std::strtod(rows[r - 1].area, nullptr);
      const double want = before > 800000000 ? before * 2 : before;
      const std::string text = test::FieldBytes(bytes, r, "AREA");
      EXPECT_NEAR(std::strtod(text.c_str(), nullptr), want, 1e-3) << text;
    }
  });
}

}  // namespace
}  // namespace vosk
