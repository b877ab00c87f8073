// The whole main window walked through as a user walks it: every entry of the menu bar, every
// key of the keyboard map, every button of the button bar (and of its drop-down menus), every
// status-bar item and the browse's context menu, in the real window. One table of rows: how the
// user reaches the entry, on which table, the windows the command opens and how the user
// answers them, and what must follow (in the window, the settings file or the table's files).
// A row that does not write leaves the table's file byte for byte as it was. A second table
// gives, table state by table state, which entries are greyed; a third, the refusals on a
// read-only table.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/browse.h"
#include "app/current_table.h"
#include "app/filename.h"
#include "app/open_table.h"
#include "app/sort_filter.h"
#include "expr/settings.h"
#include "gui/dispatcher.h"
#include "gui/main_window.h"
#include "gui/twbrowse_widget.h"
#include "main_window_fixture.h"
#include "platform/file.h"
#include "rdd/db_commands.h"
#include "rdd/ord_commands.h"
#include "support/command_output.h"
#include "support/read_only_mount.h"

namespace vosk {
namespace {

// ---- Reaching an entry -------------------------------------------------------------------

struct Via {
  enum class Kind { kMenu, kKey, kButton, kDropDown, kStatusItem, kRecent, kContext };
  Kind kind = Kind::kMenu;
  QString where;  // menu title, button name
  QString entry;  // the entry as shown, shortcut included
  int key = 0;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
  QString text;  // what the key types
  int item = 0;  // status-bar item; position in the recently-used list
};

Via MenuEntry(const char* title, const char* entry) {
  return {Via::Kind::kMenu, QString::fromUtf8(title), QString::fromUtf8(entry)};
}
Via KeyPress(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  Via via{Via::Kind::kKey};
  via.key = key;
  via.modifiers = modifiers;
  if (key == Qt::Key_Plus) via.text = "+";
  return via;
}
// A letter typed in the browse.
Via Typed(char letter) {
  Via via = KeyPress(Qt::Key_A + (letter - 'A'));
  via.text = QString(QChar(letter));
  return via;
}
Via Button(const char* name) { return {Via::Kind::kButton, name}; }
Via DropDown(const char* button, const char* entry) {
  return {Via::Kind::kDropDown, button, QString::fromUtf8(entry)};
}
Via StatusItemClick(int item) {
  Via via{Via::Kind::kStatusItem};
  via.item = item;
  return via;
}
// An entry of the browse's context menu (a right click on the second cell of the first row),
// "Apri > Apri indice..." for one of its submenus.
Via Context(const char* entry) {
  return {Via::Kind::kContext, "context", QString::fromUtf8(entry)};
}
// The n-th entry of "Tabelle aperte di recente".
Via Recent(int n) {
  Via via{Via::Kind::kRecent, "&File", QString::fromUtf8("Tabelle aperte di recente")};
  via.item = n;
  return via;
}

std::string Describe(const Via& via) {
  switch (via.kind) {
    case Via::Kind::kMenu:
    case Via::Kind::kDropDown:
    case Via::Kind::kContext:
      return (via.where + " > " + via.entry).toStdString();
    case Via::Kind::kKey:
      return "key " + QKeySequence(via.key | via.modifiers.toInt()).toString().toStdString();
    case Via::Kind::kButton:
      return "button " + via.where.toStdString();
    case Via::Kind::kStatusItem:
      return "status item " + std::to_string(via.item);
    case Via::Kind::kRecent:
      return "recent table " + std::to_string(via.item);
  }
  return "";
}

QMenu* MenuOf(MainWindow& w, const QString& title) {
  for (QAction* a : w.menuBar()->actions()) {
    if (a->text() == title) return a->menu();
  }
  return nullptr;
}

QToolButton* ButtonNamed(MainWindow& w, const QString& name) {
  return w.button_bar()->findChild<QToolButton*>(name, Qt::FindDirectChildrenOnly);
}

// The menu an entry lies in, made ready as when it opens (its entries enabled or greyed).
QMenu* OpenedMenu(MainWindow& w, const Via& via) {
  QMenu* menu = nullptr;
  if (via.kind == Via::Kind::kMenu || via.kind == Via::Kind::kRecent) menu = MenuOf(w, via.where);
  if (via.kind == Via::Kind::kDropDown) {
    if (QToolButton* b = ButtonNamed(w, via.where)) menu = b->menu();
  }
  if (menu) emit menu->aboutToShow();
  return menu;
}

QAction* EntryOf(QMenu* menu, const QString& text) {
  if (!menu) return nullptr;
  for (QAction* a : menu->actions()) {
    if (a->text() == text) return a;
  }
  return nullptr;
}

// The entries of a pop-up menu and of its submenus, as "submenu > entry" paths.
void EntriesOf(QMenu* menu, const QString& prefix, std::map<QString, QAction*>* entries) {
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) continue;
    if (a->menu()) {
      EntriesOf(a->menu(), prefix + a->text() + " > ", entries);
    } else {
      (*entries)[prefix + a->text()] = a;
    }
  }
}

// Right-clicks the second cell of the first row of the browse; `use` sees the context menu's
// entries while it is open, then the menu closes (running the entry `use` triggered, if any).
void WithContextMenu(MainWindow& w, const std::function<void(std::map<QString, QAction*>&)>& use) {
  bool opened = false;
  QTimer::singleShot(0, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    opened = true;
    std::map<QString, QAction*> entries;
    EntriesOf(menu, "", &entries);
    use(entries);
    menu->close();
  });
  QWidget* viewport = w.grid()->viewport();
  const QPoint at(w.grid()->core().columns().aColSizes.at(0) + 10,
                  w.grid()->core().header_height() + 3);
  QMouseEvent press(QEvent::MouseButtonPress, at, viewport->mapToGlobal(at), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &press);
  EXPECT_TRUE(opened) << "no context menu";
}

// ---- Answering the windows a command opens -------------------------------------------------

// How a modal window is told apart: its object name (the dialog's resource: "VAIALREC"), its
// title, or a part of a message box's text.
bool Matches(QWidget* modal, const QString& expected) {
  if (modal->objectName() == expected || modal->windowTitle() == expected) return true;
  auto* box = qobject_cast<QMessageBox*>(modal);
  return box && box->text().contains(expected);
}

QString Describe(QWidget* modal) {
  QString text = modal->objectName() + " \"" + modal->windowTitle() + "\"";
  if (auto* box = qobject_cast<QMessageBox*>(modal)) text += ": " + box->text();
  return text;
}

using Answer = std::function<void(QWidget*)>;

void Esc(QWidget* modal) { Key(modal, Qt::Key_Escape); }

void PressButton(QWidget* modal, const QString& text) {
  for (QAbstractButton* b : modal->findChildren<QAbstractButton*>()) {
    if (b->text() == text && b->isVisible()) {
      b->click();
      return;
    }
  }
  ADD_FAILURE() << "no button " << text.toStdString() << " in " << Describe(modal).toStdString();
  Esc(modal);
}

Answer Press(const char* text) {
  return [text = QString::fromUtf8(text)](QWidget* modal) { PressButton(modal, text); };
}

// A file dialog answered with a name (in the row's folder unless it is absolute).
Answer FileName(const char* name) {
  return [name](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(dialog, nullptr) << Describe(modal).toStdString();
    auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(edit, nullptr);
    edit->setText(name);
    static_cast<QDialog*>(dialog)->accept();
  };
}

// Types into an input field of a dialog (its variable's name), as keys; the field selects
// its whole value when it takes the focus, so the typing replaces it.
void TypeInto(QWidget* modal, const char* control, const QString& text) {
  auto* edit = modal->findChild<QLineEdit*>(control);
  ASSERT_NE(edit, nullptr) << control;
  edit->setFocus();
  for (QChar c : text) Key(edit, 0, QString(c));
}

Answer TypeAndConfirm(const char* control, const char* text) {
  return [control, text](QWidget* modal) {
    TypeInto(modal, control, text);
    PressButton(modal, "&Conferma");
  };
}

// A multi-line text of a dialog set, then "&Conferma".
Answer SetTextAndConfirm(const char* control, const char* text) {
  return [control, text](QWidget* modal) {
    auto* edit = modal->findChild<QPlainTextEdit*>(control);
    ASSERT_NE(edit, nullptr) << control;
    edit->setPlainText(text);
    PressButton(modal, "&Conferma");
  };
}

// The TAG dialog answered with a TAG.
Answer ChooseTag(const char* tag) {
  return [tag](QWidget* modal) {
    auto* list = modal->findChild<QComboBox*>("cTag");
    ASSERT_NE(list, nullptr);
    list->setCurrentText(tag);
    PressButton(modal, "&Conferma");
  };
}

// The structure editor: a field appended (Ctrl+A opens the field dialog), then its OK button.
void AppendFieldAndConfirm(QWidget* editor) {
  auto* list = editor->findChild<QTreeWidget*>();
  ASSERT_NE(list, nullptr);
  Key(list, Qt::Key_A, "\x01", Qt::ControlModifier);
  for (QAction* a : editor->findChildren<QAction*>()) {
    if (a->objectName() == "OK") a->trigger();
  }
}

struct Step {
  const char* expected;  // see Matches()
  Answer answer;         // null: Esc
};

// Answers, one by one, the modal windows that appear while a command runs; a window that no
// step expects is a fault of the row and is dismissed.
class ModalScript {
 public:
  explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
  }
  ~ModalScript() { timer_.stop(); }

  // The steps no window came for.
  std::vector<std::string> Missing() const {
    std::vector<std::string> missing;
    for (size_t i = next_; i < steps_.size(); ++i) missing.push_back(steps_[i].expected);
    return missing;
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal == answered_) return;
    answered_ = modal;
    if (next_ >= steps_.size()) {
      ADD_FAILURE() << "unexpected window " << Describe(modal).toStdString();
      Dismiss(modal);
      return;
    }
    const Step& step = steps_[next_++];
    const QString expected = QString::fromUtf8(step.expected);
    if (!Matches(modal, expected)) {
      ADD_FAILURE() << "expected " << step.expected << ", got " << Describe(modal).toStdString();
      Dismiss(modal);
      return;
    }
    // Answered once this poll has returned: an answer that opens a window of its own (a
    // field dialog from the structure editor) leaves that window to the next poll.
    const Answer answer = step.answer ? step.answer : Answer(&Esc);
    QTimer::singleShot(0, modal, [answer, modal] { answer(modal); });
  }
  // Closes a window no step expects, without the questions its Esc may ask.
  static void Dismiss(QWidget* modal) {
    if (auto* d = qobject_cast<QDialog*>(modal)) {
      d->done(QDialog::Rejected);
    } else {
      modal->close();
    }
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  QPointer<QWidget> answered_;
  QTimer timer_;
};

// ---- The table under each row ------------------------------------------------------------

enum class Table {
  kClienti,     // samples/CLIENTI.DBF, no index
  kOrdini,      // samples/ORDINI.DBF with its memo file
  kNtx,         // CLIENTI with the index CITTA.NTX (key CITTA) open as the current index
  kCdx,         // CLIENTI under DBFCDX with INDICI.CDX (TAGs RAGSOC and CITTA) open, RAGSOC
                // controlling
  kStructural,  // CLIENTI with the structural bag CLIENTI.CDX (TAGs CITTA and RAGSOC), which
                // opens with the table; no TAG controls
  kReadOnly,    // CLIENTI on a read-only file system
};

// What a row's check sees.
struct Walk {
  MainWindow& w;
  TestUi& ui;
  Browse* b;
  std::string dir;       // the row's folder
  std::string table;     // the table the row opened
  QString triggered;     // the text of the entry the row triggered
  std::string prepared;  // what the row's preparation kept for its check
};

using Expect = std::function<void(Walk&)>;

struct Row {
  Via via;
  Table table = Table::kClienti;
  std::vector<Step> steps;
  Expect check;              // after the command; null: nothing more than the file unchanged
  bool writes = false;       // the command changes the table's file (else it must stay as it was)
  Expect prepare = nullptr;  // before the command, on the opened table
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The table's file read back byte by byte, without the engine.
struct DbfOnDisk {
  explicit DbfOnDisk(const std::string& path) : bytes(ReadFile(path)) {}
  uint32_t Le(size_t at, int size) const {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return v;
  }
  uint32_t Count() const { return Le(4, 4); }
  std::string Record(uint32_t n) const {
    const uint32_t header = Le(8, 2), length = Le(10, 2);
    return bytes.substr(header + (n - 1) * length, length);
  }
  bool Deleted(uint32_t n) const { return Record(n).at(0) == '*'; }
  // Name, type, length and decimals of each field descriptor.
  std::vector<std::string> Fields() const {
    std::vector<std::string> fields;
    for (size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\r'; at += 32) {
      fields.push_back(bytes.substr(at, 12) + bytes.substr(at + 16, 2));
    }
    return fields;
  }
  std::string bytes;
};

// What another reader (python3-dbfread) finds in a field of a record, "" when it cannot read
// the table.
std::string ReadByDbfread(const std::string& table, const char* field, int record) {
  const std::string command =
      "/usr/bin/python3 -c \"import dbfread, sys; "
      "t = dbfread.DBF(sys.argv[1], load=True, encoding='cp1252'); "
      "sys.stdout.write(str(t.records[int(sys.argv[3]) - 1][sys.argv[2]]))\" '" +
      table + "' " + field + " " + std::to_string(record) + " 2>/dev/null";
  return CommandOutput(command);
}

QString StatusText(Walk& k) { return k.w.status_message()->text(); }

void ExpectStatus(Walk& k, const char* piece) {
  EXPECT_TRUE(StatusText(k).contains(QString::fromUtf8(piece)))
      << "status: " << StatusText(k).toStdString() << " lacks " << piece;
}

// Rows that check an effect.
Expect Status(const char* piece) {
  return [piece](Walk& k) { ExpectStatus(k, piece); };
}
Expect RecordsOnDisk(uint32_t count) {
  return [count](Walk& k) {
    DBCOMMIT();
    EXPECT_EQ(DbfOnDisk(k.table).Count(), count);
  };
}
Expect DeletedOnDisk(uint32_t record, bool deleted) {
  return [record, deleted](Walk& k) {
    DBCOMMIT();
    EXPECT_EQ(DbfOnDisk(k.table).Deleted(record), deleted);
  };
}
Expect FirstRecordDuplicatedOnDisk() {
  return [](Walk& k) {
    DBCOMMIT();
    const DbfOnDisk dbf(k.table);
    ASSERT_EQ(dbf.Count(), 13u);
    EXPECT_EQ(dbf.Record(13), dbf.Record(1));
  };
}
// The view in the table's own order, no sort or filter left.
Expect NaturalOrder() {
  return [](Walk& k) {
    EXPECT_FALSE(StatusText(k).contains("Ordine:"));
    EXPECT_TRUE(CurTable().xCurOrder.is_nil());
  };
}
Expect StartsAnotherInstance() {
  return [](Walk& k) {
    ASSERT_EQ(k.ui.started.size(), 1u);
    EXPECT_EQ(k.ui.started[0], k.table);
  };
}
Expect Setting(const char* key, const char* value) {
  return [key, value](Walk&) { EXPECT_EQ(GETPVPROFSTRING("Parametri", key, ""), value) << key; };
}
Expect Checked(const char* prompt, bool checked) {
  return [prompt, checked](Walk& k) {
    for (QAction* a : k.w.MenuActions(prompt)) EXPECT_EQ(a->isChecked(), checked) << prompt;
  };
}
Expect StatusItemIs(int item, const char* text) {
  return [item, text](Walk& k) { EXPECT_EQ(k.w.status_item(item)->text(), text); };
}
Expect All(std::vector<Expect> checks) {
  return [checks](Walk& k) {
    for (const Expect& c : checks) c(k);
  };
}
Expect OpensTable(const char* name) {
  return [name](Walk& k) {
    const std::string path = k.dir + "/" + name;
    EXPECT_EQ(CurTable().cCurTable, path);
    EXPECT_EQ(k.w.windowTitle().toStdString(), "VOSK Software DBU - " + path);
  };
}
// The refusal of a change to a read-only table.
constexpr const char* kReadOnlyRefusal = "impossibile modificarla";

// The first record's RAGSOC as the grid shows it (the current record).
std::string RagsocShown(Walk& k) {
  std::string cell;
  RunCommand([&] { cell = k.b->columns().bLine().at(1); });
  return cell.substr(0, cell.find_last_not_of(' ') + 1);
}

// The table enciphered with the password "segreto" by another program (dbutool), then opened
// again: the grid shows the enciphered bytes.
void EncipheredByAnotherProgram(Walk& k) {
  RunCommand([&] { BLOCKMRU(k.b, k.dir + "/ORDINI.DBF"); });
  const std::string command =
      std::string(DBUTOOL_PATH) + " encipher '" + k.table + "' --password segreto 2>&1";
  ASSERT_EQ(::system(command.c_str()), 0) << CommandOutput(command);
  RunCommand([&] { BLOCKMRU(k.b, k.table); });
  EXPECT_NE(RagsocShown(k), "Rossi Mario & C. s.n.c.");
}

// Before a row: the view sorted by its second column; the last column current; record 1
// deleted.
void SortBySecondColumn(Walk& k) { ORDINA(k.b, 2); }
void LastColumnCurrent(Walk& k) {
  Key(k.w.grid(), Qt::Key_F12);
  ExpectStatus(k, "Campo: 10/10");
}
void FirstRecordDeleted(Walk& k) {
  Key(k.w.grid(), Qt::Key_Delete);
  DBCOMMIT();
  ASSERT_TRUE(DbfOnDisk(k.table).Deleted(1));
}
// Another program (dbutool) adds the 12 records of ALTRI.DBF while the window has the table.
void ImportedByAnotherProgram(Walk& k) {
  const std::string command =
      std::string(DBUTOOL_PATH) + " import '" + k.table + "' '" + k.dir + "/ALTRI.DBF' 2>&1";
  ASSERT_EQ(::system(command.c_str()), 0) << CommandOutput(command);
  ASSERT_EQ(DbfOnDisk(k.table).Count(), 24u);
}
void DriverCdx(Walk& k) {
  RunCommand([&] { CAMBIARDD(k.b, "DBFCDX"); });
}
void MemoFpt(Walk& k) {
  RunCommand([&] { CAMBIAMEMO(k.b, 2); });
}
void CodificaOem(Walk& k) {
  RunCommand([&] { CAMBIAANSI(k.b, "OEM"); });
}
void ColumnSearchOfC(Walk&) { CurTable().cColSearch = "C"; }
// An NTX index of the table made beside it, not open.
Expect IndexBeside(const char* name, const char* key) {
  return [name, key](Walk& k) {
    ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", k.table, "MK", true, false));
    EXPECT_TRUE(ORDCREATE(k.dir + "/" + name, "", key));
    DBCLOSEAREA();
    DBSELECTAREA("DBF");
  };
}
Expect WindowOpen() {
  return [](Walk& k) { EXPECT_TRUE(k.w.isVisible()); };
}
Expect FocusOnTheBrowse() {
  return [](Walk& k) { EXPECT_EQ(k.w.focusWidget(), k.w.grid()); };
}

class MainWindowWalkTest : public MainWindowFixture {
 protected:
  MainWindowWalkTest()
      : MainWindowFixture({{"Maximized", "No"}, {"Width", "900"}, {"Height", "400"}}) {}

  // A folder of its own for the row, with copies of the samples and ALTRI.DBF (a copy of
  // CLIENTI.DBF to import from), and the row's table opened in the window as the user opens
  // one; the settings the rows change put back.
  std::string OpenFor(MainWindow& w, Table table) {
    Browse* b = w.browse();
    RunCommand([&] {
      if (RDDSETDEFAULT() != "DBFNTX") CAMBIARDD(b, "DBFNTX");
      if (IniInt("Memo", 1) != 1) CAMBIAMEMO(b, 1);
      if (IniString("Codifica", "ANSI") != "ANSI") CAMBIAANSI(b, "ANSI");
      if (IniLogical("AutoOpen", "No")) AUTOOPEN(b);
    });
    ui_.started.clear();
    CurTable().cColSearch.clear();
    std::string dir;
    if (table == Table::kReadOnly) {
      dir = read_only_dir_;
    } else {
      dir = dir_ + "/row" + std::to_string(++rows_);
      std::filesystem::create_directory(dir);
      for (const char* f : {"CLIENTI.DBF", "ORDINI.DBF", "ORDINI.DBT"}) {
        std::filesystem::copy_file(std::string(VOSK_SOURCE_DIR "/samples/") + f, dir + "/" + f);
      }
      std::filesystem::copy_file(dir + "/CLIENTI.DBF", dir + "/ALTRI.DBF");
    }
    const std::string path = dir + (table == Table::kOrdini ? "/ORDINI.DBF" : "/CLIENTI.DBF");
    if (table == Table::kStructural) {
      const Value autopen = SET(kSetAutOpen, Value::Logical(true));
      EXPECT_TRUE(DBUSEAREA(true, "DBFCDX", path, "MK", false, false));
      EXPECT_TRUE(ORDCREATE(dir + "/CLIENTI.CDX", "CITTA", "CITTA"));
      EXPECT_TRUE(ORDCREATE(dir + "/CLIENTI.CDX", "RAGSOC", "RAGSOC"));
      DBCLOSEAREA();
      DBSELECTAREA("DBF");
      SET(kSetAutOpen, autopen);
    }
    // The message that a read-only table opens read-only.
    std::optional<ModalScript> told;
    if (table == Table::kReadOnly)
      told.emplace(std::vector<Step>{{"in sola lettura", Press("OK")}});
    RunCommand([&] { BLOCKMRU(b, path); });
    EXPECT_EQ(CurTable().cCurTable, path);
    if (table == Table::kCdx) RunCommand([&] { CAMBIARDD(b, "DBFCDX"); });
    if (table == Table::kNtx || table == Table::kCdx) {
      const bool ntx = table == Table::kNtx;
      const std::string bag = dir + (ntx ? "/CITTA.NTX" : "/INDICI.CDX");
      EXPECT_TRUE(DBUSEAREA(true, ntx ? "DBFNTX" : "DBFCDX", path, "MK", true, false));
      if (!ntx) EXPECT_TRUE(ORDCREATE(bag, "RAGSOC", "RAGSOC"));
      EXPECT_TRUE(ORDCREATE(bag, ntx ? "" : "CITTA", "CITTA"));
      DBCLOSEAREA();
      DBSELECTAREA("DBF");
      CurTable().cCurIndex = bag;
      EXPECT_TRUE(ORDLISTADD(Value::String(bag)));
      RunCommand([&] {
        b->Refresh();
        b->Change();
      });
    }
    return dir;
  }

  // Reaches the entry as the user does; false when it is greyed (then nothing runs).
  bool Trigger(MainWindow& w, const Via& via, QString* triggered) {
    switch (via.kind) {
      case Via::Kind::kMenu:
      case Via::Kind::kDropDown: {
        QAction* a = EntryOf(OpenedMenu(w, via), via.entry);
        if (!a) {
          ADD_FAILURE() << "no entry " << Describe(via);
          return false;
        }
        if (!a->isEnabled()) return false;
        *triggered = a->text();
        a->trigger();
        return true;
      }
      case Via::Kind::kRecent: {
        OpenedMenu(w, via);
        const QList<QAction*> recent = w.recent_menu()->actions();
        if (recent.size() < via.item) {
          ADD_FAILURE() << "only " << recent.size() << " recent tables";
          return false;
        }
        *triggered = recent[via.item - 1]->text();
        recent[via.item - 1]->trigger();
        return true;
      }
      case Via::Kind::kContext: {
        bool ran = false;
        WithContextMenu(w, [&](std::map<QString, QAction*>& entries) {
          QAction* a = entries.count(via.entry) ? entries[via.entry] : nullptr;
          if (!a) {
            ADD_FAILURE() << "no entry " << Describe(via);
            return;
          }
          if (!a->isEnabled()) return;
          *triggered = a->text();
          a->trigger();
          ran = true;
        });
        return ran;
      }
      case Via::Kind::kKey:
        Key(w.grid(), via.key, via.text, via.modifiers);
        return true;
      case Via::Kind::kButton: {
        QToolButton* b = ButtonNamed(w, via.where);
        if (!b) {
          ADD_FAILURE() << "no button " << Describe(via);
          return false;
        }
        if (!b->isEnabled()) return false;
        // The focus away from the browse, as after a click elsewhere: the button gives it back.
        w.grid()->clearFocus();
        b->click();
        return true;
      }
      case Via::Kind::kStatusItem: {
        QLabel* item = w.status_item(via.item);
        const QPoint at(3, 3);
        QMouseEvent press(QEvent::MouseButtonPress, at, item->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(item, &press);
        return true;
      }
    }
    return false;
  }

  void WalkRows(const std::vector<Row>& rows) {
    WithMainWindow(
        [&](MainWindow& w) {
          QApplication::processEvents();
          for (const Row& row : rows) {
            SCOPED_TRACE(Describe(row.via));
            Walk k{w, ui_, w.browse(), OpenFor(w, row.table), CurTable().cCurTable, {}};
            if (row.prepare) row.prepare(k);
            if (::testing::Test::HasFatalFailure()) return;
            const std::string before = ReadFile(k.table);
            {
              ModalScript script(row.steps);
              EXPECT_TRUE(Trigger(w, row.via, &k.triggered)) << "greyed";
              QApplication::processEvents();
              EXPECT_EQ(script.Missing(), std::vector<std::string>{})
                  << "windows that did not open";
            }
            if (row.check) row.check(k);
            if (!row.writes) EXPECT_TRUE(ReadFile(k.table) == before) << "the table changed";
          }
        },
        60000);
  }

  void SetUp() override {
    MainWindowFixture::SetUp();
    read_only_dir_ = dir_ + "/ro";
  }
  void TearDown() override {
    media_.reset();
    MainWindowFixture::TearDown();
  }

  // CLIENTI.DBF on a read-only file system, for Table::kReadOnly; false when this system
  // cannot mount one.
  bool MountReadOnlyTable() {
    media_ = std::make_unique<ReadOnlyMount>(read_only_dir_);
    if (!media_->mounted()) return false;
    std::filesystem::copy_file(VOSK_SOURCE_DIR "/samples/CLIENTI.DBF",
                               read_only_dir_ + "/CLIENTI.DBF");
    return media_->MakeReadOnly();
  }

  std::string read_only_dir_;
  std::unique_ptr<ReadOnlyMount> media_;
  int rows_ = 0;
};

// The menu bar, entry by entry (the entries that close the window are walked apart).
TEST_F(MainWindowWalkTest, EveryMenuEntryDoesWhatItSays) {
  const std::vector<Row> rows = {
      // File
      {MenuEntry("&File", "Nuova tabella..."), Table::kClienti, {{"CREATAB"}},
       OpensTable("CLIENTI.DBF")},  // the editor dismissed: the open table stays
      {MenuEntry("&File", "Nuovo indice..."), Table::kClienti,
       {{"Nuovo indice...", FileName("CITTA")},
        {"Nuovo indice", SetTextAndConfirm("cKey", "CITTA")}},
       All({Status("Indice: CITTA"), Status("Chiave: CITTA"),
            [](Walk& k) { EXPECT_TRUE(FileExists(k.dir + "/CITTA.NTX")); }})},
      {MenuEntry("&File", "Nuovo TAG..."), Table::kNtx,
       {{"contiene un solo TAG", Press("Annulla")}}},
      {MenuEntry("&File", "Nuovo VOSK Software DBU\tCTRL-+"), Table::kClienti, {},
       StartsAnotherInstance()},
      {MenuEntry("&File", "Apri tabella...\tF2"), Table::kClienti,
       {{"Apri tabella...", FileName("ORDINI.DBF")}}, OpensTable("ORDINI.DBF")},
      {MenuEntry("&File", "Apri indice...\tCTRL-I"), Table::kClienti, {{"Apri indice..."}}},
      {MenuEntry("&File", "Seleziona TAG\tCTRL-T"), Table::kNtx,
       {{"Seleziona TAG",
         [](QWidget* d) {
           EXPECT_EQ(d->findChild<QComboBox*>("cTag")->currentText(), "CITTA");
           Esc(d);
         }}}},
      // The copy dialog chooses the format (the extension of the name given follows it).
      {MenuEntry("&File", "Copia tabella..."), Table::kClienti,
       {{"Copia tabella in...", FileName("COPIA.CSV")},
        {"COPIATAB",
         [](QWidget* d) {
           auto* format = d->findChild<QComboBox*>("cFmt");
           ASSERT_NE(format, nullptr);
           EXPECT_EQ(format->currentText(), "CSV");
           for (QLabel* l : d->findChildren<QLabel*>()) EXPECT_FALSE(l->text().startsWith("SDF"));
           PressButton(d, "&Conferma");
         }}},
       [](Walk& k) {
         std::stringstream csv(ReadFile(k.dir + "/COPIA.CSV"));
         int lines = 0;
         for (std::string line; std::getline(csv, line);) ++lines;
         EXPECT_EQ(lines, 13) << "a heading and the 12 records";
       }},
      // Another format chosen in the dialog gives the name its extension; "Solo struttura"
      // is for DBF only. SDF: the records as fixed-width lines.
      {MenuEntry("&File", "Copia tabella..."), Table::kClienti,
       {{"Copia tabella in...", FileName("COPIA.DBF")},
        {"COPIATAB",
         [](QWidget* d) {
           auto* format = d->findChild<QComboBox*>("cFmt");
           auto* name = d->findChild<QPlainTextEdit*>("cDbf");
           auto* structure_only = d->findChild<QAbstractButton*>("lStr");
           ASSERT_TRUE(format && name && structure_only);
           EXPECT_TRUE(structure_only->isEnabled());
           format->setCurrentText("SDF");
           EXPECT_TRUE(name->toPlainText().endsWith("/COPIA.TXT"))
               << name->toPlainText().toStdString();
           EXPECT_FALSE(structure_only->isEnabled());
           PressButton(d, "&Conferma");
         }}},
       [](Walk& k) {
         EXPECT_FALSE(FileExists(k.dir + "/COPIA.DBF"));
         // 12 lines of the fields' 126 characters and CR LF, then the end byte.
         const std::string sdf = ReadFile(k.dir + "/COPIA.TXT");
         ASSERT_EQ(sdf.size(), 12u * 128 + 1);
         EXPECT_EQ(sdf.substr(0, 11), "    1Rossi ");
         for (size_t line = 1; line <= 12; ++line) EXPECT_EQ(sdf.substr(line * 128 - 2, 2), "\r\n");
         EXPECT_EQ(sdf.back(), '\x1A');
       }},
      {MenuEntry("&File", "Copia tabella..."), Table::kClienti,
       {{"Copia tabella in...", FileName("VUOTA.DBF")},
        {"COPIATAB",
         [](QWidget* d) {
           auto* structure_only = d->findChild<QAbstractButton*>("lStr");
           ASSERT_NE(structure_only, nullptr);
           structure_only->click();
           PressButton(d, "&Conferma");
         }}},
       [](Walk& k) {
         const DbfOnDisk copy(k.dir + "/VUOTA.DBF"), table(k.table);
         EXPECT_EQ(copy.Count(), 0u);
         EXPECT_EQ(copy.Fields(), table.Fields());
         EXPECT_EQ(copy.Fields().size(), 10u);
       }},
      {MenuEntry("&File", "Importa record..."), Table::kClienti,
       {{"Importa record da...", FileName("ALTRI.DBF")}, {"IMPORTAREC", Press("&Conferma")}},
       RecordsOnDisk(24), true},
      // The file dialog does not ask about replacing a file: the program asks, once.
      {MenuEntry("&File", "Copia tabella..."), Table::kClienti,
       {{"Copia tabella in...", FileName("ALTRI.DBF")},
        {"Sostituire il file esistente?", Press("Annulla")}},
       [](Walk& k) { EXPECT_EQ(ReadFile(k.dir + "/ALTRI.DBF"), ReadFile(k.table)); }},
      // A new index over an existing file: the program's one question; Annulla keeps it.
      {MenuEntry("&File", "Nuovo indice..."), Table::kClienti,
       {{"Nuovo indice...", FileName("CITTA")},
        {"Sostituire il file esistente?", Press("Annulla")}},
       [](Walk& k) { EXPECT_EQ(ReadFile(k.dir + "/CITTA.NTX"), k.prepared); }, false,
       [](Walk& k) {
         IndexBeside("CITTA.NTX", "CITTA")(k);
         k.prepared = ReadFile(k.dir + "/CITTA.NTX");
       }},
      // A new table may not take the open table's place, even when the user says yes.
      {MenuEntry("&File", "Nuova tabella..."), Table::kClienti,
       {{"CREATAB", AppendFieldAndConfirm},
        {"CAMPO", TypeAndConfirm("cNom", "NOME")},
        {"Nuova tabella...", FileName("CLIENTI.DBF")},
        {"Sostituire il file esistente?", Press("OK")},
        {"La tabella è quella aperta: impossibile sostituirla.", Press("OK")}},
       OpensTable("CLIENTI.DBF")},
      // A CSV file written by another program, its first line naming the fields.
      {MenuEntry("&File", "Importa record..."), Table::kClienti,
       {{"Importa record da...", FileName("DATI.CSV")}, {"IMPORTAREC", Press("&Conferma")}},
       [](Walk& k) {
         DBCOMMIT();
         const DbfOnDisk dbf(k.table);
         ASSERT_EQ(dbf.Count(), 13u);
         EXPECT_EQ(dbf.Record(13).substr(0, 11), "    91Altro");
       },
       true,
       [](Walk& k) { std::ofstream(k.dir + "/DATI.CSV") << "CODICE,RAGSOC\r\n91,Altro\r\n"; }},
      // Refused: a copy onto the open table, an import from it.
      {MenuEntry("&File", "Copia tabella..."), Table::kClienti,
       {{"Copia tabella in...", FileName("CLIENTI.DBF")}, {"su sé stessa", Press("OK")}}},
      {MenuEntry("&File", "Importa record..."), Table::kClienti,
       {{"Importa record da...", FileName("CLIENTI.DBF")},
        {"Impossibile importare dalla tabella corrente.", Press("OK")}}},
      // A SQLite source: the dialog asks which of its tables, the one named like the open
      // table first. The database is written by the sqlite3 program.
      {MenuEntry("&File", "Importa record..."), Table::kClienti,
       {{"Importa record da...", FileName("DATI.SQLITE")},
        {"IMPORTAREC",
         [](QWidget* d) {
           auto* table = d->findChild<QComboBox*>("cTab");
           ASSERT_NE(table, nullptr);
           EXPECT_EQ(table->count(), 2);
           EXPECT_EQ(table->currentText(), "CLIENTI");
           PressButton(d, "&Conferma");
         }}},
       [](Walk& k) {
         DBCOMMIT();
         const DbfOnDisk dbf(k.table);
         ASSERT_EQ(dbf.Count(), 13u);
         EXPECT_EQ(dbf.Record(13).substr(0, 11), "    90Nuovo");
       },
       true,
       [](Walk& k) {
         const std::string sql =
             "sqlite3 '" + k.dir +
             "/DATI.SQLITE' \"CREATE TABLE ALTRO(X TEXT); CREATE TABLE CLIENTI(CODICE INTEGER, "
             "RAGSOC TEXT); INSERT INTO CLIENTI VALUES (90, 'Nuovo');\"";
         ASSERT_EQ(::system(sql.c_str()), 0) << "the sqlite3 program (scripts/setup.sh)";
       }},
      // Turned on: the index named like the table opens with it from then on.
      {MenuEntry("&File", "Apri indice automaticamente"), Table::kClienti, {},
       All({Setting("AutoOpen", "S\xEC"), Checked("Apri indice automaticamente", true),
            [](Walk& k) {
              RunCommand([&] { BLOCKMRU(k.b, k.table); });
              ExpectStatus(k, "Indice: CLIENTI");
            }}),
       false, IndexBeside("CLIENTI.NTX", "RAGSOC")},
      {Recent(2), Table::kClienti, {},
       [](Walk& k) {
         EXPECT_EQ(QString::fromStdString(CurTable().cCurTable), k.triggered);
         EXPECT_NE(CurTable().cCurTable, k.table);
       }},
      // A recent table that is gone is told; the open one stays.
      {Recent(2), Table::kClienti, {{"Impossibile trovare il file", Press("OK")}},
       [](Walk& k) { EXPECT_EQ(CurTable().cCurTable, k.table); }, false,
       [](Walk& k) {
         const std::string other = k.dir + "/ORDINI.DBF";
         RunCommand([&] { BLOCKMRU(k.b, other); });
         RunCommand([&] { BLOCKMRU(k.b, k.table); });
         std::filesystem::remove(other);
       }},
      // Modifica
      {MenuEntry("&Modifica", "Nuovo record\tINS"), Table::kClienti, {}, RecordsOnDisk(13), true},
      {MenuEntry("&Modifica", "Cancella/ripristina record corrente\tCANC"), Table::kClienti, {},
       DeletedOnDisk(1, true), true},
      {MenuEntry("&Modifica", "Duplica record corrente\tCTRL-D"), Table::kClienti, {},
       FirstRecordDuplicatedOnDisk(),
       true},
      {MenuEntry("&Modifica", "Modifica campo\tInvio"), Table::kClienti, {{"POPUP"}}},
      {MenuEntry("&Modifica", "Sostituisci valori...\tF6"), Table::kClienti,
       {{"Sostituisci valori"}}},
      // A logical field replaced with the value its list shows (".F.", untouched).
      {MenuEntry("&Modifica", "Sostituisci valori...\tF6"), Table::kClienti,
       {{"Sostituisci valori",
         [](QWidget* d) {
           d->findChild<QComboBox*>("cCam")->setCurrentText("ATTIVO");
           EXPECT_EQ(d->findChild<QComboBox*>("lVal")->currentText(), ".F.");
           SetTextAndConfirm("cFor", "CODICE <= 2")(d);
         }},
        {"2 record modificati", Press("OK")}},
       [](Walk& k) {
         DBCOMMIT();
         EXPECT_EQ(ReadByDbfread(k.table, "ATTIVO", 1), "False");
         EXPECT_EQ(ReadByDbfread(k.table, "ATTIVO", 2), "False");
         EXPECT_EQ(ReadByDbfread(k.table, "ATTIVO", 3), "True");
       },
       true},
      {MenuEntry("&Modifica", "Cancella record..."), Table::kClienti,
       {{"CANCREC", SetTextAndConfirm("cFor", "CODICE <= 2")}, {"2 record eliminati", Press("OK")}},
       All({DeletedOnDisk(1, true), DeletedOnDisk(2, true), DeletedOnDisk(3, false)}), true},
      {MenuEntry("&Modifica", "Ripristina record..."), Table::kClienti,
       {{"RIPRREC", SetTextAndConfirm("cFor", "CODICE <= 2")},
        {"1 record richiamati", Press("OK")}},
       DeletedOnDisk(1, false), true, FirstRecordDeleted},
      {MenuEntry("&Modifica", "Modifica struttura tabella...\tF3"), Table::kClienti,
       {{"Modifica tabella"}}},
      {MenuEntry("&Modifica", "Modifica proprietà campo..."), Table::kClienti,
       {{"Modifica proprietà campo"}}},
      {MenuEntry("&Modifica", "Modifica TAG attivo..."), Table::kNtx, {{"Modifica indice"}}},
      {MenuEntry("&Modifica", "Elimina TAG..."), Table::kNtx, {{"Elimina TAG"}}},
      {MenuEntry("&Modifica", "Ricostruisci indice attivo..."), Table::kNtx,
       {{"Confermi la ricostruzione dell'indice attivo?", Press("OK")}}, Status("Indice: CITTA")},
      {MenuEntry("&Modifica", "Svuota tabella"), Table::kClienti,
       {{"Confermi lo ZAP della tabella?", Press("OK")}}, RecordsOnDisk(0), true},
      {MenuEntry("&Modifica", "Compatta tabella"), Table::kClienti,
       {{"Confermi il PACK della tabella?", Press("OK")}}, RecordsOnDisk(11), true,
       FirstRecordDeleted},
      {MenuEntry("&Modifica", "DBFCDX"), Table::kClienti, {},
       All({Setting("RDD", "DBFCDX"), StatusItemIs(2, "DBFCDX"), Checked("DBFCDX", true),
            Checked("DBFNTX", false)})},
      {MenuEntry("&Modifica", "DBFNTX"), Table::kClienti, {},
       All({Setting("RDD", "DBFNTX"), StatusItemIs(2, "DBFNTX"), Checked("DBFNTX", true),
            Checked("DBFCDX", false)}),
       false, DriverCdx},
      {MenuEntry("&Modifica", "Memo FPT"), Table::kClienti, {},
       All({Setting("Memo", "2"), StatusItemIs(3, "FPT"), Checked("Memo FPT", true),
            Checked("Memo DBT", false)})},
      {MenuEntry("&Modifica", "Memo DBT"), Table::kClienti, {},
       All({Setting("Memo", "1"), StatusItemIs(3, "DBT"), Checked("Memo DBT", true),
            Checked("Memo FPT", false)}),
       false, MemoFpt},
      {MenuEntry("&Modifica", "Codifica OEM"), Table::kClienti, {},
       All({Setting("Codifica", "OEM"), Checked("Codifica OEM", true),
            Checked("Codifica ANSI", false)})},
      {MenuEntry("&Modifica", "Codifica ANSI"), Table::kClienti, {},
       All({Setting("Codifica", "ANSI"), Checked("Codifica ANSI", true),
            Checked("Codifica OEM", false)}),
       false, CodificaOem},
      // The TAG commands on a CDX bag.
      {MenuEntry("&File", "Nuovo TAG..."), Table::kCdx,
       {{"Nuovo TAG",
         [](QWidget* d) {
           TypeInto(d, "cTag", "PROV");
           SetTextAndConfirm("cKey", "PROV")(d);
         }}},
       All({Status("Tag: PROV"), Status("Chiave: PROV"),
            [](Walk&) { EXPECT_EQ(ORDCOUNT(), 3); }})},
      // Before any TAG is chosen, a new TAG goes into the structural bag open with the table.
      {MenuEntry("&File", "Nuovo TAG..."), Table::kStructural,
       {{"Nuovo TAG",
         [](QWidget* d) {
           TypeInto(d, "cTag", "PROV");
           SetTextAndConfirm("cKey", "PROV")(d);
         }}},
       All({Status("Tag: PROV"), [](Walk& k) {
              EXPECT_EQ(ORDCOUNT(), 3);
              EXPECT_EQ(CurTable().cCurIndex, k.dir + "/CLIENTI.CDX");
            }})},
      {MenuEntry("&File", "Seleziona TAG\tCTRL-T"), Table::kCdx,
       {{"Seleziona TAG",
         [](QWidget* d) {
           auto* tag = d->findChild<QComboBox*>("cTag");
           EXPECT_EQ(tag->currentText(), "RAGSOC") << "the controlling TAG";
           tag->setCurrentText("CITTA");
           EXPECT_EQ(d->findChild<QPlainTextEdit*>("cKey")->toPlainText(), "CITTA");
           PressButton(d, "&Conferma");
         }}},
       Status("Tag: CITTA")},
      {MenuEntry("&Modifica", "Modifica TAG attivo..."), Table::kCdx,
       {{"Modifica indice", SetTextAndConfirm("cKey", "UPPER(RAGSOC)")}},
       All({Status("Tag: RAGSOC"), Status("Chiave: UPPER(RAGSOC)")})},
      // The list shows the TAG in control; the deletion asked once more.
      {MenuEntry("&Modifica", "Elimina TAG..."), Table::kCdx,
       {{"Elimina TAG",
         [](QWidget* d) {
           EXPECT_EQ(d->findChild<QComboBox*>("cTag")->currentText(), "RAGSOC");
           PressButton(d, "&Conferma");
         }},
        {"Eliminare il TAG RAGSOC?", Press("S\u00EC")}},
       [](Walk& k) {
         EXPECT_EQ(ORDCOUNT(), 1);
         ExpectStatus(k, "Tag: CITTA");
       }},
      {MenuEntry("&Modifica", "Ricostruisci indice attivo..."), Table::kCdx,
       {{"Confermi la ricostruzione dell'indice attivo?", Press("OK")}},
       All({Status("Tag: RAGSOC"), [](Walk&) { EXPECT_EQ(ORDCOUNT(), 2); }})},
      // Visualizza
      {MenuEntry("&Visualizza", "Vai al record...\tCTRL-R"), Table::kClienti,
       {{"VAIALREC", TypeAndConfirm("nRec", "5")}},
       Status("RecNo: 5/12")},
      {MenuEntry("&Visualizza", "Vai al record...\tCTRL-R"), Table::kClienti,
       {{"VAIALREC", TypeAndConfirm("nRec", "99")}, {"Record 99 non trovato.", Press("OK")}},
       Status("RecNo: 1/12")},
      {MenuEntry("&Visualizza", "Vai alla prima colonna\tF11"), Table::kClienti, {},
       Status("Campo: 1/10"), false, LastColumnCurrent},
      {MenuEntry("&Visualizza", "Vai all'ultima colonna\tF12"), Table::kClienti, {},
       Status("Campo: 10/10")},
      {MenuEntry("&Visualizza", "Cerca colonna...\tF9"), Table::kClienti,
       {{"CERCACOL", TypeAndConfirm("cCam", "CITTA")}},
       Status("Campo: 4/10")},
      {MenuEntry("&Visualizza", "Continua ricerca colonna...\tF7"), Table::kClienti, {},
       Status("Campo: 2/10"), false, ColumnSearchOfC},
      {MenuEntry("&Visualizza", "Imposta vista...\tF4"), Table::kClienti, {{"Imposta vista"}}},
      // Tab in an expression box moves to the next control; it types nothing.
      {MenuEntry("&Visualizza", "Imposta filtro...\tF8"), Table::kClienti,
       {{"FILTRO",
         [](QWidget* d) {
           auto* edit = d->findChild<QPlainTextEdit*>("cFor");
           ASSERT_NE(edit, nullptr);
           edit->setPlainText("CODICE <= 3");
           edit->setFocus();
           Key(edit, Qt::Key_Tab, "\t");
           EXPECT_EQ(edit->toPlainText(), "CODICE <= 3");
           EXPECT_NE(QApplication::focusWidget(), edit);
           PressButton(d, "&Conferma");
         }}},
       All({Status("Filtro: CODICE <= 3"), Status("/3")})},
      {MenuEntry("&Visualizza", "Imposta filtro...\tF8"), Table::kClienti,
       {{"FILTRO", SetTextAndConfirm("cFor", "CODICE <= 3")}},
       All({Status("Filtro: CODICE <= 3"), Status("/3")})},
      // A condition that does not hold together keeps the dialog open; given up, no filter.
      {MenuEntry("&Visualizza", "Imposta filtro...\tF8"), Table::kClienti,
       {{"FILTRO", SetTextAndConfirm("cFor", "RAGSOC > 3")},
        {"Valori di tipo diverso per >.", Press("OK")},
        {"FILTRO", Press("&Annulla")},
        {"Annullo le modifiche?", Press("S\u00EC")}},
       [](Walk& k) {
         EXPECT_FALSE(StatusText(k).contains("Filtro:"));
         EXPECT_TRUE(!CurTable().cCurFilter || CurTable().cCurFilter->empty());
       }},
      {MenuEntry("&Visualizza", "Imposta password..."), Table::kClienti, {{"Imposta password"}}},
      {MenuEntry("&Visualizza", "Nessun ordinamento né filtro"), Table::kClienti, {},
       NaturalOrder(),
       false, SortBySecondColumn},
      // From an index too: on the same record (Bari, first by CITTA), whose key number is
      // now its record number; the status bar names no index any more.
      {MenuEntry("&Visualizza", "Nessun ordinamento né filtro"), Table::kNtx, {},
       All({NaturalOrder(), Status("RecNo: 10/12     KeyNo: 10/12"),
            [](Walk& k) {
              EXPECT_FALSE(StatusText(k).contains("Indice:"));
              EXPECT_FALSE(CurTable().cCurIndex.has_value());
            }}),
       false, [](Walk& k) { Key(k.w.grid(), Qt::Key_Home); }},
      {MenuEntry("&Visualizza", "Aggiorna\tF5"), Table::kClienti, {}, Status("/24"), true,
       ImportedByAnotherProgram},
      // ?
      {MenuEntry("?", "Informazioni"), Table::kClienti, {{"INFOS", Press("&Chiudi")}}},
  };
  WalkRows(rows);
}

// The keyboard map of the browse, key by key.
TEST_F(MainWindowWalkTest, EveryKeyDoesWhatItSays) {
  const auto ctrl = Qt::ControlModifier;
  const std::vector<Row> rows = {
      {KeyPress(Qt::Key_Return), Table::kClienti, {{"POPUP"}}},
      {KeyPress(Qt::Key_Insert), Table::kClienti, {}, RecordsOnDisk(13), true},
      // Enter on a memo cell: the memo editor; the text confirmed is what another reader
      // finds in the memo file.
      {KeyPress(Qt::Key_Return),
       Table::kOrdini,
       {{"Modifica campo memo", SetTextAndConfirm("cMemo", "Nota nuova\nseconda riga")}},
       [](Walk& k) {
         DBCOMMIT();
         EXPECT_EQ(ReadByDbfread(k.table, "NOTE", 1), "Nota nuova\r\nseconda riga");
         FocusOnTheBrowse()(k);  // the keyboard goes on in the grid
       },
       true,
       [](Walk& k) { Key(k.w.grid(), Qt::Key_F12); }},

      {KeyPress(Qt::Key_Delete), Table::kClienti, {}, DeletedOnDisk(1, true), true},
      {KeyPress(Qt::Key_Delete),
       Table::kClienti,
       {},
       DeletedOnDisk(1, false),
       true,
       FirstRecordDeleted},
      {KeyPress(Qt::Key_D, ctrl), Table::kClienti, {}, FirstRecordDuplicatedOnDisk(), true},
      {KeyPress(Qt::Key_F2),
       Table::kClienti,
       {{"Apri tabella...", FileName("ORDINI.DBF")}},
       OpensTable("ORDINI.DBF")},
      // Bad files are told and the open table stays: a memo file, a table cut short, a name
      // that is not there.
      {KeyPress(Qt::Key_F2), Table::kClienti,
       {{"Apri tabella...", FileName("ORDINI.DBT")}, {"risulta corrotto.", Press("OK")}},
       OpensTable("CLIENTI.DBF")},
      {KeyPress(Qt::Key_F2), Table::kClienti,
       {{"Apri tabella...", FileName("ROTTA.DBF")}, {"risulta corrotto.", Press("OK")}},
       OpensTable("CLIENTI.DBF"), false,
       [](Walk& k) {
         std::ofstream(k.dir + "/ROTTA.DBF", std::ios::binary) << ReadFile(k.table).substr(0, 100);
       }},
      {KeyPress(Qt::Key_F2), Table::kClienti,
       {{"Apri tabella...", FileName("NONCE.DBF")},
        {"Impossibile trovare il file ", Press("OK")}},
       OpensTable("CLIENTI.DBF")},
      {KeyPress(Qt::Key_F3), Table::kClienti, {{"Modifica tabella"}}},
      {KeyPress(Qt::Key_F4), Table::kClienti, {{"Imposta vista"}}},
      {KeyPress(Qt::Key_F5), Table::kClienti, {}, Status("/24"), true, ImportedByAnotherProgram},
      {KeyPress(Qt::Key_F6), Table::kClienti, {{"Sostituisci valori"}}},
      {KeyPress(Qt::Key_F7), Table::kClienti, {}, Status("Campo: 2/10"), false, ColumnSearchOfC},
      // Continued after the last column that matches: not found, no wrapping round.
      {KeyPress(Qt::Key_F7),
       Table::kClienti,
       {{"Campo C non trovato.", Press("OK")}},
       Status("Campo: 10/10"),
       false,
       [](Walk& k) {
         ColumnSearchOfC(k);
         LastColumnCurrent(k);
       }},
      {KeyPress(Qt::Key_F8), Table::kClienti, {{"Imposta filtro"}}},
      {KeyPress(Qt::Key_F9),
       Table::kClienti,
       {{"Cerca colonna",
         [](QWidget* d) {
           TypeInto(d, "cCam", "CITTA");
           Esc(d);
         }}},
       Status("Campo: 1/10")},
      {KeyPress(Qt::Key_F11), Table::kClienti, {}, Status("Campo: 1/10"), false, LastColumnCurrent},
      {KeyPress(Qt::Key_F12), Table::kClienti, {}, Status("Campo: 10/10")},
      {KeyPress(Qt::Key_I, ctrl),
       Table::kClienti,
       {{"Apri indice...", FileName("CITTA.NTX")}},
       Status("Indice: CITTA"),
       false,
       IndexBeside("CITTA.NTX", "CITTA")},
      // Esc after typing closes "Vai al record" and "Cerca colonna" without asking.
      {KeyPress(Qt::Key_I, ctrl), Table::kClienti,
       {{"Apri indice...", FileName("ROTTO.NTX")}, {"risulta corrotto.", Press("OK")}},
       [](Walk& k) { EXPECT_FALSE(StatusText(k).contains("Indice:")); }, false,
       [](Walk& k) {
         std::ofstream(k.dir + "/ROTTO.NTX", std::ios::binary) << std::string(700, 'x');
       }},
      {KeyPress(Qt::Key_R, ctrl),
       Table::kClienti,
       {{"Vai al record",
         [](QWidget* d) {
           TypeInto(d, "nRec", "5");
           Esc(d);
         }}},
       Status("RecNo: 1/12")},
      {KeyPress(Qt::Key_T, ctrl), Table::kNtx, {{"Seleziona TAG"}}},
      {KeyPress(Qt::Key_T, ctrl), Table::kClienti, {}},  // no order: nothing to choose
      // A TAG of the structural bag chosen: that bag is the current index from then on.
      // The list starts on its first TAG (none controls), showing that TAG's key.
      {KeyPress(Qt::Key_T, ctrl),
       Table::kStructural,
       {{"Seleziona TAG",
         [](QWidget* d) {
           EXPECT_EQ(d->findChild<QComboBox*>("cTag")->currentText(), "CITTA");
           EXPECT_EQ(d->findChild<QPlainTextEdit*>("cKey")->toPlainText(), "CITTA");
           ChooseTag("RAGSOC")(d);
         }}},
       All({Status("Indice: CLIENTI"), Status("Tag: RAGSOC"), Status("Chiave: RAGSOC")})},

      {KeyPress(Qt::Key_Plus, ctrl), Table::kClienti, {}, StartsAnotherInstance()},
      // Letters typed in a sorted view search its keys; without an order they do nothing.
      {Typed('G'), Table::kClienti, {}, Status("RecNo: 8/12"), false, SortBySecondColumn},
      {Typed('G'), Table::kClienti, {}, Status("RecNo: 1/12")},
      // Esc closes the window only when the settings say so (walked apart).
      {KeyPress(Qt::Key_Escape), Table::kClienti, {}, WindowOpen()},
  };
  WalkRows(rows);
}

// The button bar, button by button, and the entries of its two drop-down menus.
TEST_F(MainWindowWalkTest, EveryButtonDoesWhatItSays) {
  const std::vector<Row> rows = {
      {Button("NUOVO"), Table::kClienti, {{"Nuova tabella"}}, FocusOnTheBrowse()},
      // The new table becomes the current one, and the title names it (from the drop-down
      // menu too).
      {DropDown("NUOVO", "Nuova tabella..."),
       Table::kClienti,
       {{"CREATAB", AppendFieldAndConfirm},
        {"CAMPO", TypeAndConfirm("cNom", "NOME")},
        {"Nuova tabella...", FileName("NUOVA")}},
       OpensTable("NUOVA.DBF")},
      {DropDown("NUOVO", "Nuovo indice..."), Table::kClienti, {{"Nuovo indice..."}}},
      {DropDown("NUOVO", "Nuovo TAG..."),
       Table::kNtx,
       {{"contiene un solo TAG", Press("Annulla")}}},
      {DropDown("NUOVO", "Nuovo VOSK Software DBU\tCTRL-+"),
       Table::kClienti,
       {},
       StartsAnotherInstance()},
      {DropDown("NUOVO", "Nuovo record\tINS"), Table::kClienti, {}, RecordsOnDisk(13), true},
      {DropDown("NUOVO", "Duplica record corrente\tCTRL-D"),
       Table::kClienti,
       {},
       RecordsOnDisk(13),
       true},
      {Button("APRI"),
       Table::kClienti,
       {{"Apri tabella...", FileName("ORDINI.DBF")}},
       All({OpensTable("ORDINI.DBF"), FocusOnTheBrowse()})},
      {DropDown("APRI", "Apri tabella...\tF2"), Table::kClienti, {{"Apri tabella..."}}},
      {DropDown("APRI", "Apri indice...\tCTRL-I"),
       Table::kClienti,
       {{"Apri indice...", FileName("CITTA.NTX")}},
       Status("Indice: CITTA"),
       false,
       IndexBeside("CITTA.NTX", "CITTA")},
      {DropDown("APRI", "Seleziona TAG\tCTRL-T"), Table::kNtx, {{"Seleziona TAG"}}},
      {Button("COPIATAB"), Table::kClienti, {{"Copia tabella in..."}}},
      {Button("IMPORTAREC"), Table::kClienti, {{"Importa record da..."}}},
      {Button("CERCACOL"), Table::kClienti, {{"Cerca colonna"}}},
      {Button("VISTACOL"), Table::kClienti, {{"Imposta vista"}}},
      {Button("FILTRO"), Table::kClienti, {{"Imposta filtro"}}},
      {Button("CHIUDI"), Table::kClienti, {}, NaturalOrder(), false, SortBySecondColumn},
      {Button("AGGIORNA"),
       Table::kClienti,
       {},
       All({Status("/24"), FocusOnTheBrowse()}),
       true,
       ImportedByAnotherProgram},
  };
  WalkRows(rows);
}

// The browse's context menu: its own entry "Ordina colonna", and entries of each of its
// submenus (the others repeat the menu bar's through the same commands).
TEST_F(MainWindowWalkTest, TheContextMenusEntriesDoWhatTheySay) {
  const std::vector<Row> rows = {
      // The right click made the clicked cell current: its column is the one sorted by.
      {Context("Ordina colonna"), Table::kClienti, {}, Status("Ordine: RAGSOC")},
      {Context("Cancella/ripristina record corrente\tCANC"),
       Table::kClienti,
       {},
       DeletedOnDisk(1, true),
       true},
      {Context("Nuovo > Nuovo indice..."), Table::kClienti, {{"Nuovo indice..."}}},
      {Context("Apri > Apri indice automaticamente"),
       Table::kClienti,
       {},
       All({Setting("AutoOpen", "S\xEC"), Checked("Apri indice automaticamente", true)})},
      {Context("Driver di database > DBFCDX"),
       Table::kClienti,
       {},
       All({Setting("RDD", "DBFCDX"), StatusItemIs(2, "DBFCDX"), Checked("DBFCDX", true)})},
      {Context("Imposta filtro...\tF8"), Table::kClienti, {{"Imposta filtro"}}},
      {Context("Informazioni"), Table::kClienti, {{"INFOS", Press("&Chiudi")}}},
  };
  WalkRows(rows);
}

// The status-bar items: the password, and the driver, memo kind and encoding switches.
TEST_F(MainWindowWalkTest, EveryStatusItemDoesWhatItSays) {
  const std::vector<Row> rows = {
      {StatusItemClick(1), Table::kClienti, {{"Imposta password"}}},
      // The password of an enciphered table: the grid shows its values, the item says so.
      {StatusItemClick(1),
       Table::kClienti,
       {{"Imposta password", TypeAndConfirm("cPsw", "segreto")}},
       [](Walk& k) {
         EXPECT_EQ(RagsocShown(k), "Rossi Mario & C. s.n.c.");
         EXPECT_EQ(k.w.status_item(1)->toolTip(), "Password impostata");
       },
       false,
       EncipheredByAnotherProgram},
      {StatusItemClick(2),
       Table::kClienti,
       {},
       All({Setting("RDD", "DBFCDX"), StatusItemIs(2, "DBFCDX"), Checked("DBFCDX", true)})},
      {StatusItemClick(2),
       Table::kClienti,
       {},
       All({Setting("RDD", "DBFNTX"), StatusItemIs(2, "DBFNTX"), Checked("DBFNTX", true)}),
       false,
       DriverCdx},
      {StatusItemClick(3),
       Table::kClienti,
       {},
       All({Setting("Memo", "2"), StatusItemIs(3, "FPT"), Checked("Memo FPT", true)})},
      {StatusItemClick(3),
       Table::kClienti,
       {},
       All({Setting("Memo", "1"), StatusItemIs(3, "DBT"), Checked("Memo DBT", true)}),
       false,
       MemoFpt},
      {StatusItemClick(4),
       Table::kClienti,
       {},
       All({Setting("Codifica", "OEM"), Checked("Codifica OEM", true)})},
      {StatusItemClick(4),
       Table::kClienti,
       {},
       All({Setting("Codifica", "ANSI"), Checked("Codifica ANSI", true)}),
       false,
       CodificaOem},
  };
  WalkRows(rows);
}

// Every entry of the menu bar and of the buttons' drop-down menus as "menu > entry", greyed
// or not, as they show when opened; every button; every entry of the browse's context menu.
std::map<std::string, bool> EnabledStates(MainWindow& w) {
  std::map<std::string, bool> states;
  auto add = [&states](const QString& where, QMenu* menu) {
    emit menu->aboutToShow();
    for (QAction* a : menu->actions()) {
      if (a->isSeparator() || a->menu()) continue;
      states[(where + " > " + a->text()).toStdString()] = a->isEnabled();
    }
  };
  for (QAction* m : w.menuBar()->actions()) add(m->text(), m->menu());
  for (QToolButton* b :
       w.button_bar()->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (b->objectName().startsWith("qt_")) continue;
    states["button " + b->objectName().toStdString()] = b->isEnabled();
    if (b->menu()) add(b->objectName(), b->menu());
  }
  WithContextMenu(w, [&states](std::map<QString, QAction*>& entries) {
    for (const auto& [path, a] : entries) {
      states[("context > " + path).toStdString()] = a->isEnabled();
    }
  });
  return states;
}

// Which entries are greyed, table state by table state: an entry is greyed only for the
// reason its command gives (no order open: no TAG to choose, add to or delete; no index file:
// none to modify or rebuild). A read-only table greys nothing: the commands that would change
// it say why they cannot.
TEST_F(MainWindowWalkTest, EntriesAreGreyedOnlyForTheirReason) {
  const bool read_only = MountReadOnlyTable();
  const std::set<std::string> without_orders = {
      "&File > Nuovo TAG...",
      "&File > Seleziona TAG\tCTRL-T",
      "&Modifica > Modifica TAG attivo...",
      "&Modifica > Elimina TAG...",
      "&Modifica > Ricostruisci indice attivo...",
      "NUOVO > Nuovo TAG...",
      "APRI > Seleziona TAG\tCTRL-T",
      "context > Nuovo > Nuovo TAG...",
      "context > Apri > Seleziona TAG\tCTRL-T",
      "context > Modifica TAG attivo...",
      "context > Elimina TAG...",
      "context > Ricostruisci indice attivo...",
  };
  // A sorted view has an order but no index file (nor has a structural bag before one of its
  // TAGs is chosen).
  const std::set<std::string> sorted = {
      "&Modifica > Modifica TAG attivo...",
      "&Modifica > Ricostruisci indice attivo...",
      "context > Modifica TAG attivo...",
      "context > Ricostruisci indice attivo...",
  };
  const struct {
    const char* state;
    Table table;
    Expect prepare;
    std::set<std::string> greyed;
  } rows[] = {
      {"no index", Table::kClienti, nullptr, without_orders},
      {"an NTX index", Table::kNtx, nullptr, {}},
      {"a CDX bag", Table::kCdx, nullptr, {}},
      {"a memo table", Table::kOrdini, nullptr, without_orders},
      {"a sorted view", Table::kClienti, SortBySecondColumn, sorted},
      // Opened with the table, no TAG of it controls: none to modify or rebuild.
      {"a structural bag", Table::kStructural, nullptr, sorted},
      {"a TAG of the structural bag chosen",
       Table::kStructural,
       [](Walk& k) {
         ModalScript script({{"Seleziona TAG", ChooseTag("CITTA")}});
         Key(k.w.grid(), Qt::Key_T, QString(), Qt::ControlModifier);
       },
       {}},
      {"read-only", Table::kReadOnly, nullptr, without_orders},
  };
  WithMainWindow([&](MainWindow& w) {
    QApplication::processEvents();
    size_t entries = 0;
    for (const auto& row : rows) {
      SCOPED_TRACE(row.state);
      if (row.table == Table::kReadOnly && !read_only) continue;
      Walk k{w, ui_, w.browse(), OpenFor(w, row.table), CurTable().cCurTable, {}};
      if (row.prepare) row.prepare(k);
      const std::map<std::string, bool> states = EnabledStates(w);
      std::set<std::string> greyed;
      for (const auto& [entry, enabled] : states) {
        if (!enabled) greyed.insert(entry);
      }
      EXPECT_EQ(greyed, row.greyed);
      entries = states.size();
    }
    // 11 + 20 + 10 + 1 menu-bar entries, 10 buttons, 6 + 3 drop-down entries, 42 context-menu
    // entries: none missed.
    EXPECT_EQ(entries, 103u);
  });
  if (!read_only)
    GTEST_SKIP() << "no read-only mount on this system: the read-only row was not walked";
}

// On a read-only table every command that would change it says so before anything else, and
// the file stays as it was.
TEST_F(MainWindowWalkTest, CommandsThatWouldChangeAReadOnlyTableSayWhy) {
  if (!MountReadOnlyTable()) GTEST_SKIP() << "no read-only mount on this system";
  const std::vector<Step> refused = {{kReadOnlyRefusal, Press("OK")}};
  const std::vector<Row> rows = {
      {KeyPress(Qt::Key_Insert), Table::kReadOnly, refused},
      {KeyPress(Qt::Key_Delete), Table::kReadOnly, refused},
      {KeyPress(Qt::Key_D, Qt::ControlModifier), Table::kReadOnly, refused},
      {KeyPress(Qt::Key_Return), Table::kReadOnly, refused},
      {KeyPress(Qt::Key_F3), Table::kReadOnly, refused},
      {KeyPress(Qt::Key_F6), Table::kReadOnly, refused},
      {MenuEntry("&Modifica", "Cancella record..."), Table::kReadOnly, refused},
      {MenuEntry("&Modifica", "Ripristina record..."), Table::kReadOnly, refused},
      {MenuEntry("&Modifica", "Modifica proprietà campo..."), Table::kReadOnly, refused},
      {MenuEntry("&Modifica", "Svuota tabella"), Table::kReadOnly, refused},
      {MenuEntry("&Modifica", "Compatta tabella"), Table::kReadOnly, refused},
      {Button("IMPORTAREC"), Table::kReadOnly, refused},
  };
  WalkRows(rows);
}

// The changes an enciphered table refuses while its password is not set: the window says that
// the table needs its password and offers the password dialog; the program goes on, and with the
// password the table's values show.
TEST_F(MainWindowWalkTest, ChangesToAnEncipheredTableAskForItsPassword) {
  const Expect password_taken = All({WindowOpen(), [](Walk& k) {
                                       EXPECT_EQ(RagsocShown(k), "Rossi Mario & C. s.n.c.");
                                       EXPECT_EQ(k.w.status_item(1)->toolTip(),
                                                 "Password impostata");
                                     }});
  const std::vector<Step> asked = {{"serve la sua password", Press("S\u00EC")},
                                   {"Imposta password", TypeAndConfirm("cPsw", "segreto")}};
  const std::vector<Row> rows = {
      {KeyPress(Qt::Key_Delete), Table::kClienti, asked, password_taken, false,
       EncipheredByAnotherProgram},
      {KeyPress(Qt::Key_Insert), Table::kClienti, asked, password_taken, false,
       EncipheredByAnotherProgram},
      {KeyPress(Qt::Key_D, Qt::ControlModifier), Table::kClienti, asked, password_taken, false,
       EncipheredByAnotherProgram},
      // A cell edited: the value typed, then Enter.
      {KeyPress(Qt::Key_Return), Table::kClienti,
       {{"POPUP",
         [](QWidget* d) {
           TypeInto(d, "uValue", "77");
           Key(d->findChild<QLineEdit*>("uValue"), Qt::Key_Return);
         }},
        {"serve la sua password", Press("S\u00EC")},
        {"Imposta password", TypeAndConfirm("cPsw", "segreto")}},
       password_taken, false, EncipheredByAnotherProgram},
      // Declined: the table stays as it was, the window open.
      {KeyPress(Qt::Key_Delete), Table::kClienti, {{"serve la sua password", Press("No")}},
       WindowOpen(), false, EncipheredByAnotherProgram},
  };
  WalkRows(rows);
}

// The table's file removed by another program while the window has it open: F5, and any change
// before it writes, say so and offer to save the open table under its name again (then the
// change goes to that file); declined, nothing is written anywhere.
TEST_F(MainWindowWalkTest, AVanishedTableFileIsToldAndSavedAgain) {
  const Expect removed = [](Walk& k) { ASSERT_TRUE(std::filesystem::remove(k.table)); };
  const std::vector<Step> saved = {{"eliminato da un altro programma", Press("S\u00EC")},
                                   {"salvata di nuovo", Press("OK")}};
  const std::vector<Row> rows = {
      {KeyPress(Qt::Key_F5), Table::kClienti, saved, RecordsOnDisk(12), true, removed},
      {MenuEntry("&Visualizza", "Aggiorna\tF5"), Table::kClienti, saved, RecordsOnDisk(12), true,
       removed},
      {KeyPress(Qt::Key_Insert), Table::kClienti, saved, RecordsOnDisk(13), true, removed},
      {KeyPress(Qt::Key_Delete), Table::kClienti, saved, DeletedOnDisk(1, true), true, removed},
      {KeyPress(Qt::Key_Delete), Table::kClienti,
       {{"eliminato da un altro programma", Press("No")}},
       All({WindowOpen(),
            [](Walk& k) { EXPECT_FALSE(std::filesystem::exists(k.table)); }}),
       false, removed},
  };
  WalkRows(rows);
}

// A table of 400 records (more than a screen) with the index NOME.NTX, opened in the window,
// then the index opened as the user opens one (CTRL-I): the view follows the index.
void LargeTableWithItsIndexOpened(Walk& k) {
  const std::string table = k.dir + "/GRANDE.DBF";
  ValueArray structure;
  for (const auto& [name, type, len] :
       {std::tuple{"CODICE", "N", 4}, std::tuple{"NOME", "C", 12}}) {
    structure.push_back(Value::Array(
        {Value::String(name), Value::String(type), Value::Integer(len), Value::Integer(0)}));
  }
  ASSERT_TRUE(DBCREATE(table, structure));
  ASSERT_TRUE(DBUSEAREA(true, "DBFNTX", table, "MK", false, false));
  for (int i = 1; i <= 400; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::Integer(i));
    // Names in another order than the records: record 1 "N0400", record 400 "N0001".
    FIELDPUT(2, Value::String("N" + std::to_string(10000 + 401 - i).substr(1)));
  }
  ASSERT_TRUE(ORDCREATE(k.dir + "/NOME.NTX", "", "NOME"));
  DBCLOSEAREA();
  DBSELECTAREA("DBF");
  RunCommand([&] { BLOCKMRU(k.b, table); });
  ModalScript opened({{"Apri indice...", FileName("NOME.NTX")}});
  Key(k.w.grid(), Qt::Key_I, "\x09", Qt::ControlModifier);
  QApplication::processEvents();
  ASSERT_EQ(CurTable().cCurIndex, k.dir + "/NOME.NTX");
}

// The first jump after an index larger than a screen is opened: the index is walked as it is,
// no false alarm of a corrupted file (any window a row does not expect fails it).
TEST_F(MainWindowWalkTest, TheFirstJumpAfterOpeningALargeIndexRaisesNoAlarm) {
  const auto at_record = [](uint32_t record) {
    return [record](Walk&) { EXPECT_EQ(RECNO(), record); };
  };
  const std::vector<Row> rows = {
      {Typed('N'), Table::kClienti, {}, at_record(400), false, LargeTableWithItsIndexOpened},
      {KeyPress(Qt::Key_End), Table::kClienti, {}, at_record(1), false,
       LargeTableWithItsIndexOpened},
      {KeyPress(Qt::Key_R, Qt::ControlModifier), Table::kClienti,
       {{"VAIALREC", TypeAndConfirm("nRec", "350")}}, at_record(350), false,
       LargeTableWithItsIndexOpened},
  };
  WalkRows(rows);
}

// The entries that close the window: "Esci", the "ESCI" button, and Esc when the "Esc" or the
// "Vosk" setting is on; MAIN then ends, closing the table.
TEST_F(MainWindowWalkTest, EsciTheEsciButtonAndEscWhenAllowedCloseTheWindow) {
  const struct {
    Via via;
    const char* setting;  // turned on ("S\xEC") for the row, off for the others
  } rows[] = {
      {MenuEntry("&File", "Esci"), ""},
      {Button("ESCI"), ""},
      {KeyPress(Qt::Key_Escape), "Esc"},
      {KeyPress(Qt::Key_Escape), "Vosk"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Describe(row.via));
    for (const char* key : {"Esc", "Vosk"}) {
      WRITEPPROSTRING("Parametri", key, std::string(key) == row.setting ? "S\xEC" : "No");
    }
    bool closed = false;
    WithMainWindow([&](MainWindow& w) {
      QApplication::processEvents();
      QString triggered;
      EXPECT_TRUE(Trigger(w, row.via, &triggered));
      closed = !w.isVisible();
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(ui_.window(), nullptr);
    EXPECT_EQ(SELECT(Value::String("DBF")), 0) << "the table closed with the window";
  }
}

}  // namespace
}  // namespace vosk
