// The dialog protocol: CTL, DLGVALID with and without confirmation, the red failing control,
// REFRESHALL.

#include "app/dialog.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "expr/date_text.h"

namespace vosk {
namespace {

class DialogTest : public AppTest {
 protected:
  // A dialog of a label, a date, a number and a text that must not be empty.
  void Make(Dialog& dlg) {
    dlg = Dialog{"PROVA", "Prova", 100, 60};
    dlg.Add(Control::Label("Data:", 0, 0, 20, 10));
    dlg.Add(Control::Get(101, "dData", Value::Date(0), "", 0, 20, 40, 12));
    dlg.Add(Control::Get(102, "nNum", Value::Integer(5), "99", 14, 20, 40, 12));
    Control& text = dlg.Add(Control::Get(103, "cText", Value::String("abc"), "", 28, 20, 40, 12));
    text.valid = [](const Value& v) { return v.str().find_first_not_of(' ') != std::string::npos; };
    dlg.on_control_changed = [this, &dlg](int i) {
      events_.push_back(std::to_string(i) + (dlg.controls[i].failing ? " red" : " plain") +
                        " after " + std::to_string(ui_.messages.size()) + " messages");
    };
  }
  static void Set(Dialog& dlg, const std::string& name, const std::string& text) {
    Control* c = CTL(dlg, name);
    c->get->GotFocus();
    c->get->SetText(text);
    c->get->LostFocus();
  }
  std::vector<std::string> events_;
};

TEST_F(DialogTest, ControlsByNameAndNumber) {
  Dialog dlg;
  Make(dlg);
  dlg.on_control_changed = nullptr;
  EXPECT_EQ(CTL(dlg, "NNUM")->id, 102);
  EXPECT_EQ(CTL(dlg, 4)->id, 103);
  EXPECT_EQ(CTL(dlg, "nessuno"), nullptr);
  EXPECT_EQ(CTL(dlg, 5), nullptr);
}

TEST_F(DialogTest, ConfirmationTestsEveryEnabledControlAndPaintsTheFailingOneRed) {
  struct Case {
    const char* name;
    const char* text;
    const char* message;
    int index;
  } cases[] = {
      {"dData", "31/02/2024", "Data non valida.", 1},
      {"nNum", "123", "Numero troppo grande.", 2},
      {"cText", "   ", "Campo non valido.", 3},
  };
  for (const Case& c : cases) {
    Dialog dlg;
    Make(dlg);
    events_.clear();
    ui_.messages.clear();
    Set(dlg, c.name, c.text);
    EXPECT_FALSE(DialogTryClose(dlg, 1)) << c.name;
    ASSERT_EQ(ui_.messages.size(), 1u) << c.name;
    EXPECT_EQ(ui_.messages[0].text, c.message);
    const std::string i = std::to_string(c.index);
    EXPECT_EQ(events_, (std::vector<std::string>{i + " red after 0 messages",
                                                 i + " plain after 1 messages"}));
    EXPECT_EQ(dlg.focus, c.index) << "the failing control gets the focus";
    EXPECT_FALSE(dlg.cargo.has_value()) << "the cargo is cleared";
    EXPECT_EQ(dlg.result, 0);
  }
  // A disabled control is not tested; with every rule met the dialog closes with result 1.
  Dialog dlg;
  Make(dlg);
  Set(dlg, "cText", "   ");
  CTL(dlg, "cText")->when = [] { return false; };
  Set(dlg, "dData", "15/03/2024");
  EXPECT_TRUE(DialogTryClose(dlg, 1));
  EXPECT_EQ(dlg.result, 1);
  EXPECT_EQ(DateToText(CTL(dlg, "dData")->Val().julian()), "15/03/2024");
}

TEST_F(DialogTest, CancellingAsksOnlyAfterAChange) {
  Dialog untouched;
  Make(untouched);
  EXPECT_TRUE(DialogTryClose(untouched, std::nullopt));
  EXPECT_TRUE(ui_.messages.empty());

  Dialog changed;
  Make(changed);
  Set(changed, "nNum", "7");
  ui_.answers = {kButtonNo};
  EXPECT_FALSE(DialogTryClose(changed, 2));
  EXPECT_EQ(ui_.messages.back().text, "Annullo le modifiche?");
  EXPECT_EQ(ui_.messages.back().kind, MessageKind::kYesNoDefaultNo);
  ui_.answers = {kButtonYes};
  EXPECT_TRUE(DialogTryClose(changed, std::nullopt));
  EXPECT_EQ(changed.result, 0);
  changed.cargo.reset();
  EXPECT_TRUE(DLGVALID(changed, false)) << "without asking, a changed dialog just closes";
}

TEST_F(DialogTest, RefreshAllRedisplaysChangedValuesExceptTheFocusedControl) {
  Dialog dlg;
  Make(dlg);
  CTL(dlg, "nNum")->get->set_value(Value::Integer(42));
  CTL(dlg, "cText")->get->set_value(Value::String("xyz"));
  // set_value shows the new value at once; make the shown text stale as a program would.
  CTL(dlg, "nNum")->get->SetText("5");
  CTL(dlg, "cText")->get->SetText("abc");
  dlg.focus = 3;
  events_.clear();
  REFRESHALL(dlg);
  EXPECT_EQ(CTL(dlg, "nNum")->get->text(), "42");
  EXPECT_EQ(CTL(dlg, "cText")->get->text(), "abc") << "the focused control is left alone";
  EXPECT_EQ(events_, (std::vector<std::string>{"2 plain after 0 messages"}));
}

}  // namespace
}  // namespace vosk
