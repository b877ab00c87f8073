// POPMSG, O2A and the error handler of the Application.

#include "app/messages.h"

#include <gtest/gtest.h>

#include "app/ansi.h"
#include "app/app_fixture.h"
#include "app/error_handler.h"
#include "rdd/db_commands.h"

namespace vosk {
namespace {

using MessagesTest = AppTest;

TEST_F(MessagesTest, KindsButtonsAndResults) {
  struct Case {
    int kind;
    int button;
    Value::Type type;  // of the result
    int64_t value;     // logical as 0/1, or the button number
    bool beep;
  } cases[] = {
      {1, kButtonOk, Value::Type::kNil, 0, false},
      {2, kButtonOk, Value::Type::kLogical, 1, true},
      {2, kButtonCancel, Value::Type::kLogical, 0, true},
      {3, kButtonNo, Value::Type::kInteger, 7, true},
      {3, kButtonCancel, Value::Type::kInteger, 2, true},
      {4, kButtonYes, Value::Type::kLogical, 1, true},
      {4, kButtonNo, Value::Type::kLogical, 0, true},
      {5, kButtonYes, Value::Type::kLogical, 1, true},
      {5, kButtonNo, Value::Type::kLogical, 0, true},
      {6, kButtonOk, Value::Type::kLogical, 1, true},
      {6, kButtonCancel, Value::Type::kLogical, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + "/" + std::to_string(c.button));
    ui_.answers = {c.button};
    int beeps = ui_.beeps, events = ui_.events;
    Value r = POPMSG("Testo", c.kind);
    ASSERT_EQ(r.type(), c.type);
    if (r.is_logical()) EXPECT_EQ(r.logical(), c.value == 1);
    if (r.is_integer()) EXPECT_EQ(r.integer(), c.value);
    EXPECT_EQ(ui_.beeps - beeps, c.beep ? 1 : 0);
    EXPECT_EQ(ui_.events - events, 1) << "pending messages run after every call";
    EXPECT_EQ(ui_.messages.back().kind, static_cast<MessageKind>(c.kind));
  }
}

TEST_F(MessagesTest, TextIsTrimmedConvertedAndSplitIntoLines) {
  POPMSG("  Riga uno;Citt\x85 e perch\x8A;fine  ", 1, "Titolo");
  POPMSG("Senza titolo", 1);
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[0].text, "Riga uno\nCitt\xE0 e perch\xE8\nfine");
  EXPECT_EQ(ui_.messages[0].title, "Titolo");
  EXPECT_EQ(ui_.messages[1].title, "Attenzione");
}

TEST_F(MessagesTest, O2AConvertsTheSixItalianLetters) {
  EXPECT_EQ(O2A("\x85\x8A\x82\x8D\x95\x97"), "\xE0\xE8\xE9\xEC\xF2\xF9");
  EXPECT_EQ(O2A("abc\x80\x81\xE0"), "abc\x80\x81\xE0");  // nothing else changes
}

TEST_F(MessagesTest, ProgressPopupLifecycle) {
  POPMSG("Copia in corso...");
  EXPECT_EQ(ProgressText(), "Copia in corso...");
  POPMSG("Ignorato");  // open: the text stays
  POPMSG("Nuovo testo", 0, "", {.replace_text = true});
  POPMSG("", 0, "", {.position = 40, .keep_open = true});  // moves, stays open
  POPMSG("", 0, "", {.next_page = true});                  // page counter, stays open
  POPMSG("", 0, "", {.next_page = true});
  EXPECT_EQ(ProgressText(), "2");
  POPMSG();
  EXPECT_EQ(ProgressText(), std::nullopt);
  POPMSG();  // nothing open: nothing happens
  EXPECT_EQ(ui_.progress,
            (std::vector<std::string>{"open:Copia in corso...|Attenzione", "text:Nuovo testo",
                                      "pos:40", "text:1", "text:2", "close"}));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.beeps, 0);
}

// ---- The error handler ----

struct HandlerCase {
  int gen, sub, os;
  bool can_default;
  const char* message;  // "" = no message
  enum { kAbandon, kQuietDefault, kZero, kEnd } outcome;
};

class ErrorHandlerTest : public AppTest {
 protected:
  RuntimeError Error(const HandlerCase& c) {
    RuntimeError e;
    e.gen_code = c.gen;
    e.sub_code = c.sub;
    e.os_code = c.os;
    e.subsystem = "DBF";
    e.file_name = "dati/clienti.dbf";
    e.can_default = c.can_default;
    e.can_substitute = c.gen == kEgZeroDiv;
    return e;
  }
};

TEST_F(ErrorHandlerTest, RulesInOrder) {
  const HandlerCase cases[] = {
      {kEgOpen, 1001, 21, true, "Disco dati/clienti.dbf non pronto.", HandlerCase::kAbandon},
      {kEgRead, 1010, 27, false, "Disco dati/clienti.dbf non formattato.", HandlerCase::kAbandon},
      {kEgWrite, 1011, 19, false, "Disco dati/clienti.dbf protetto da scrittura.",
       HandlerCase::kAbandon},
      {kEgCreate, 1004, 82, false, "Directory dati/clienti.dbf piena.", HandlerCase::kAbandon},
      {kEgWrite, 2016, 0, false, "Spazio sul disco dati/clienti.dbf insufficiente.",
       HandlerCase::kAbandon},
      {kEgWrite, 1011, 39, false, "Spazio sul disco dati/clienti.dbf insufficiente.",
       HandlerCase::kAbandon},
      {kEgCreate, 1004, 39, false, "Spazio sul disco dati/clienti.dbf insufficiente.",
       HandlerCase::kAbandon},
      // Access denied is matched before the quiet open failure.
      {kEgOpen, 1001, 5, true, "Impossibile accedere al file dati/clienti.dbf.",
       HandlerCase::kAbandon},
      {kEgOpen, 1001, 3, true, "Percorso dati/clienti.dbf non trovato.", HandlerCase::kAbandon},
      {kEgOpen, 1001, 2, true, "Impossibile aprire il file dati/clienti.dbf.",
       HandlerCase::kAbandon},
      {kEgCreate, 1006, 32, false, "Il file dati/clienti.dbf risulta aperto da un altro programma.",
       HandlerCase::kAbandon},
      {kEgCorruption, 1012, 0, false, "Il file dati/clienti.dbf risulta corrotto.",
       HandlerCase::kAbandon},
      {kEgRead, 1012, 0, false, "Il file dati/clienti.dbf risulta corrotto.",
       HandlerCase::kAbandon},
      // A write the table refuses ends the command with a message, not the program.
      {kEgReadonly, 1025, 0, false,
       "Il file dati/clienti.dbf \xE8 in sola lettura: impossibile modificarlo.",
       HandlerCase::kAbandon},
      {kEgZeroDiv, 1340, 0, false, "", HandlerCase::kZero},
      {kEgOpen, 1001, 32, true, "", HandlerCase::kQuietDefault},
      {kEgAppendLock, 1024, 0, true, "", HandlerCase::kQuietDefault},
  };
  for (const HandlerCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.gen) + "/" + std::to_string(c.sub) + "/" + std::to_string(c.os));
    ui_.messages.clear();
    NETERR(false);
    RuntimeError e = Error(c);
    switch (c.outcome) {
      case HandlerCase::kAbandon:
        EXPECT_THROW(RaiseError(e), Abandon);
        break;
      case HandlerCase::kZero: {
        ErrorAnswer a = RaiseError(e);
        ASSERT_EQ(a.kind, ErrorAnswer::Kind::kSubstitute);
        EXPECT_EQ(a.value.integer(), 0);
        break;
      }
      case HandlerCase::kQuietDefault:
        EXPECT_EQ(RaiseError(e).kind, ErrorAnswer::Kind::kDefault);
        EXPECT_TRUE(NETERR());
        break;
      case HandlerCase::kEnd:
        break;
    }
    if (*c.message) {
      ASSERT_EQ(ui_.messages.size(), 1u);
      EXPECT_EQ(ui_.messages[0].text, c.message);
      EXPECT_EQ(ui_.messages[0].kind, MessageKind::kInformation);
    } else {
      EXPECT_TRUE(ui_.messages.empty());
    }
  }
}

TEST_F(ErrorHandlerTest, UnexpectedErrorOffersMailThenEnds) {
  // Without the can-default flag the sharing violation is not a quiet failure.
  HandlerCase c{kEgOpen, 1001, 32, false, "", HandlerCase::kEnd};
  for (int answer : {kButtonCancel, kButtonOk}) {
    ui_.answers = {answer};
    ui_.messages.clear();
    EXPECT_THROW(RaiseError(Error(c)), ProgramEnd);
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_EQ(ui_.messages[0].kind, MessageKind::kOkCancel);
    EXPECT_EQ(ui_.messages[0].text,
              "Error DBF/1001  Open error: dati/clienti.dbf\n\nInviare rapporto di errore via "
              "email?");
  }
  ASSERT_EQ(ui_.mails.size(), 1u) << "only OK opens the mail client";
  EXPECT_EQ(ui_.mails[0],
            "mailto:?subject=Rapporto di errore&body=Applicazione: " + GETMODULEFILENAME() +
                "%0d%0a%0d%0aError DBF/1001  Open error: dati/clienti.dbf");
}

TEST_F(ErrorHandlerTest, MailBodyEncodesAmpersandAndSemicolon) {
  EXPECT_EQ(ErrorReportMailto("a&b;c%d"), "mailto:?subject=Rapporto di errore&body=Applicazione: " +
                                              GETMODULEFILENAME() + "%0d%0a%0d%0aa%26b%0d%0ac%25d");
}

TEST_F(ErrorHandlerTest, ErrorMessageText) {
  RuntimeError e;
  e.severity = kEsError;
  e.subsystem = "DBFNTX";
  e.sub_code = 1012;
  e.description = "Corruption detected";
  e.file_name = "T.NTX";
  e.operation = "ignored when a file name is present";
  EXPECT_EQ(ERRORMESSAGE(e), "Error DBFNTX/1012  Corruption detected: T.NTX");

  RuntimeError w;
  w.severity = kEsWarning;
  w.operation = "DBSKIP";
  EXPECT_EQ(ERRORMESSAGE(w), "Warning ???/???: DBSKIP");

  RoutineFrame outer("APRITAB", 10);
  {
    RoutineFrame inner("OKOPEN", 20);
    inner.set_line(25);
    EXPECT_EQ(ERRORMESSAGE(w), "Warning ???/???: DBSKIP;Function: OKOPEN  Line: 25");
  }
  EXPECT_EQ(ERRORMESSAGE(w), "Warning ???/???: DBSKIP;Function: APRITAB  Line: 10");
}

TEST_F(ErrorHandlerTest, TableHeldExclusivelyElsewhereFailsQuietly) {
  std::string table = MakeClienti();
  ASSERT_TRUE(DBUSEAREA(true, "", table, "HOLDER", false, false));  // exclusive
  NETERR(false);
  EXPECT_FALSE(DBUSEAREA(true, "", table, "SECOND", true, false));
  EXPECT_TRUE(NETERR());
  EXPECT_TRUE(ui_.messages.empty());
}

}  // namespace
}  // namespace vosk
