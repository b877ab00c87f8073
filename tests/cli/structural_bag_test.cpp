// Every dbutool command that changes records keeps the table's structural CDX bag current: a
// Visual FoxPro table with tags of every kind and copies of real tables written by other
// programs; afterwards check passes and an independent reader walks each plain-field tag in
// the order the table's data calls for. A flagged bag that is missing or damaged: commands
// that read go on with a warning, commands that change refuse and write nothing.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string kReal = VOSK_SOURCE_DIR "/../shared/fixtures/real/";
const std::string kWalker = VOSK_SOURCE_DIR "/../shared/tools/xbase-index-walk.pl";
// A second reader for NTX orders (the first refuses some header flags).
const std::string kNtxWalker = VOSK_SOURCE_DIR "/../shared/tools/ntx-page-walk.py";

struct Outcome {
  int status;
  std::string out;  // standard output
  std::string err;  // standard error
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a shell command line, keeping its standard output and standard error apart.
Outcome Shell(const std::string& command) {
  const std::string err_file = ::testing::TempDir() + "structural_err_" + std::to_string(getpid());
  Outcome r{-1, "", ""};
  if (FILE* p = ::popen((command + " 2>'" + err_file + "'").c_str(), "r")) {
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  r.err = Slurp(err_file);
  std::remove(err_file.c_str());
  return r;
}

std::string Q(const std::string& s) { return "'" + s + "'"; }

Outcome Tool(const std::string& args) { return Shell(std::string(DBUTOOL_PATH) + " " + args); }

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(sep, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The records of a table that pass `cond` as (record number, value of `field`), deleted ones
// too, read by dbutool list (tab-separated: the field values of these tables hold no tabs).
std::vector<std::pair<uint32_t, std::string>> FieldValues(const std::string& table,
                                                          const std::string& field,
                                                          const std::string& cond,
                                                          const std::string& password) {
  std::string args = "list " + Q(table) + " --recno --all --fields " + field;
  if (!cond.empty()) args += " --for " + Q(cond);
  if (!password.empty()) args += " --password " + password;
  const Outcome r = Tool(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<uint32_t, std::string>> out;
  std::vector<std::string> lines = Split(r.out, '\n');
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    const std::vector<std::string> cells = Split(lines[i], '\t');
    out.emplace_back(static_cast<uint32_t>(std::stoul(cells[0])), cells.back());
  }
  return out;
}

// The record numbers in the order a tag on `field` holds them: by value (numbers by their
// value, text by its bytes), equal values by record number; one per value when unique.
std::vector<uint32_t> ModelOrder(std::vector<std::pair<uint32_t, std::string>> rows,
                                 bool numeric, bool unique) {
  std::stable_sort(rows.begin(), rows.end(), [numeric](const auto& a, const auto& b) {
    if (numeric) return std::stod(a.second) < std::stod(b.second);
    return a.second < b.second;
  });
  std::vector<uint32_t> order;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (unique && i > 0 && rows[i].second == rows[i - 1].second) continue;
    order.push_back(rows[i].first);
  }
  return order;
}

bool HaveWalker() {
  return fs::exists(kWalker) && Shell("perl -MXBase -e 1").status == 0;
}

// check passes on the table's structural bag, and every tag on a plain field (not custom) is
// walked by the independent reader in the order the table's data calls for. The number of
// tags walked is returned.
int ExpectBagFollowsTable(const std::string& table, const std::string& bag,
                          const std::string& password = "") {
  const std::string pw = password.empty() ? "" : " --password " + password;
  const Outcome check = Tool("check " + Q(table) + " " + Q(bag) + pw);
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE(check.out.find(", ok\n"), std::string::npos) << check.out;
  // The field types, from info --json: "name": "X", "type": "N".
  const std::string info = Tool("info " + Q(table) + " --json" + pw).out;
  std::map<std::string, char> types;
  for (size_t at = 0; (at = info.find("{\"name\": \"", at)) != std::string::npos;) {
    at += 10;
    const std::string name = info.substr(at, info.find('"', at) - at);
    const size_t type = info.find("\"type\": \"", at) + 9;
    types[name] = info[type];
  }
  const Outcome tags = Tool("tags " + Q(table) + " " + Q(bag) + pw);
  EXPECT_EQ(tags.status, 0) << tags.err;
  int walked = 0;
  for (const std::string& line : Split(tags.out, '\n')) {
    const std::vector<std::string> t = Split(line, '\t');
    if (t.size() < 4) continue;
    const std::string& name = t[0];
    const std::string field = Upper(t[1]);
    if (!types.count(field) || t[3].find('C') != std::string::npos) continue;
    SCOPED_TRACE("tag " + name);
    const char type = types[field];
    const std::vector<uint32_t> expected =
        ModelOrder(FieldValues(table, field, t[2], password), type == 'N' || type == 'I',
                   t[3].find('U') != std::string::npos);
    const Outcome walk = Shell("perl " + Q(kWalker) + " " + Q(table) + " " + Q(bag) + " " + name);
    EXPECT_EQ(walk.status, 0) << walk.err;
    std::vector<uint32_t> got;
    for (const std::string& l : Split(walk.out, '\n')) {
      if (!l.empty()) got.push_back(static_cast<uint32_t>(std::stoul(l.substr(l.rfind('\t') + 1))));
    }
    EXPECT_EQ(got, expected) << walk.out;
    ++walked;
  }
  return walked;
}

class StructuralBagTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::testing::TempDir() + "structural_bag_" + std::to_string(getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  void Copy(const std::string& from, const std::string& to_name) const {
    fs::copy_file(from, Path(to_name), fs::copy_options::overwrite_existing);
    fs::permissions(Path(to_name), fs::perms::owner_read | fs::perms::owner_write);
  }

  // A Visual FoxPro (or `kind`) table of 6 records (one deleted) with a structural bag of tags on a
  // character, a numeric and a date field, a FOR condition and a unique key, all made by
  // dbutool. The CSV files more.csv (3 rows, one deleted) and src.dbf (2 records) are beside.
  std::string MakeTable(const std::string& kind = "vfp") {
    const std::string t = Path("t.dbf");
    const std::string fields = " NAME:C:10 N:N:6 D:D:8 CAT:C:4";
    EXPECT_EQ(Tool("create " + Q(t) + fields + " --kind " + kind).status, 0);
    Write("rows.csv",
          "NAME,N,D,CAT,_DELETED\nmario,5,2020-03-01,A,\nanna,12,2019-01-05,B,*\n"
          "zeno,-3,2021-12-31,A,\nbice,7,2020-03-01,B,\nugo,12,2020-02-29,A,\nelsa,0,1999-09-09,D,\n");
    EXPECT_EQ(Tool("append " + Q(t) + " --csv " + Q(Path("rows.csv"))).status, 0);
    const char* tags[][3] = {{"NAME", "NAME", ""},
                             {"N", "N", ""},
                             {"D", "D", ""},
                             {"FORA", "NAME", " --for 'CAT=\"A\"'"},
                             {"UCAT", "CAT", " --unique"}};
    for (const auto& [tag, key, more] : tags) {
      EXPECT_EQ(Tool("index " + Q(t) + " " + Q(Path("t.cdx")) + " " + key + " --tag " + tag + more)
                    .status,
                0);
    }
    Write("more.csv", "NAME,N,D,CAT,_DELETED\ncarla,5,2020-03-01,A,\nabe,100,2018-07-07,C,\n"
                      "dino,-3,2022-01-01,B,*\n");
    Write("plain.csv", "NAME,N,D,CAT\ncarla,5,2020-03-01,A\nabe,100,2018-07-07,C\n");
    const std::string src = Path("src.dbf");
    EXPECT_EQ(Tool("create " + Q(src) + fields).status, 0);
    EXPECT_EQ(Tool("append " + Q(src) + " --csv " + Q(Path("plain.csv"))).status, 0);
    return t;
  }

  std::string dir_;
};

// One case per command that changes records: the dbutool command lines ({T} the table, {D}
// the folder), the records afterwards and the password the table is read with afterwards.
struct ChangeCase {
  const char* what;
  std::vector<std::string> commands;
  int records;  // of the made table afterwards
  const char* password;
  const char* kind = "vfp";  // of the made table
};

const ChangeCase kChanges[] = {
    {"append", {"append {T} --csv {D}/more.csv"}, 9, ""},
    {"import csv", {"import {T} {D}/plain.csv"}, 8, ""},
    {"import dbf", {"import {T} {D}/src.dbf"}, 8, ""},
    {"pack", {"pack {T}"}, 5, ""},
    {"zap", {"zap {T}"}, 0, ""},
    {"restructure", {"restructure {T} NAME:C:10 N:N:6 D:D:8 CAT:C:4 MORE:C:3"}, 6, ""},
    {"encipher", {"encipher {T} --password pw"}, 6, "pw"},
    // (A Visual FoxPro header has no mark of an enciphered table.)
    {"decipher", {"encipher {T} --password pw", "decipher {T} --password pw"}, 6, "", "db3"},
};

std::string Expand(std::string text, const std::string& table, const std::string& dir) {
  for (size_t at; (at = text.find("{T}")) != std::string::npos;) text.replace(at, 3, Q(table));
  for (size_t at; (at = text.find("{D}")) != std::string::npos;) text.replace(at, 3, dir);
  return text;
}

TEST_F(StructuralBagTest, EveryChangeKeepsEveryTagOfTheStructuralBagCurrent) {
  if (!HaveWalker()) GTEST_SKIP() << "no independent index reader";
  std::map<std::string, std::string> made_of_kind;  // kind -> the copy of its made table
  const std::string made = Path("t.dbf");
  for (const ChangeCase& c : kChanges) {
    SCOPED_TRACE(c.what);
    const std::string keep = Path(std::string("made_") + c.kind);
    if (!made_of_kind.count(c.kind)) {
      MakeTable(c.kind);
      fs::copy_file(made, keep + ".dbf");
      fs::copy_file(Path("t.cdx"), keep + ".cdx");
      made_of_kind[c.kind] = keep;
    }
    fs::copy_file(keep + ".dbf", made, fs::copy_options::overwrite_existing);
    fs::copy_file(keep + ".cdx", Path("t.cdx"), fs::copy_options::overwrite_existing);
    for (const std::string& command : c.commands) {
      const Outcome r = Tool(Expand(command, made, dir_));
      ASSERT_EQ(r.status, 0) << command << ": " << r.err;
    }
    const std::string pw = *c.password ? std::string(" --password ") + c.password : "";
    EXPECT_EQ(Tool("list " + Q(made) + " --all --count" + pw).out,
              std::to_string(c.records) + "\n");
    EXPECT_EQ(ExpectBagFollowsTable(made, Path("t.cdx"), c.password), 5);
  }
}

// Real tables written by other programs: a dBase III table with a bag of plain and FOR tags,
// and a Visual FoxPro table with FPT memos in a database (tag keys with the database's long
// field names).
TEST_F(StructuralBagTest, ChangesToRealTablesKeepTheirBagsCurrent) {
  if (!fs::exists(kReal + "rooms.cdx") || !fs::exists(kReal + "contacts.CDX")) {
    GTEST_SKIP() << "no real-world tables";
  }
  if (!HaveWalker()) GTEST_SKIP() << "no independent index reader";
  Write("rooms.csv", "ROOMNAME,FACILITY,_DELETED\nAAA,MAIN,\nZeta,AUDIO,*\nBoard,FILM,\n");
  Write("contacts.csv", "CONTACT_ID,FIRST_NAME,CONTACT_TY,NOTES,_DELETED\n6,Zoe,3,a note,\n"
                        "7,Ugo,1,,*\n");
  struct Real {
    const char* table;
    std::vector<const char*> files;
    const char* bag;
    const char* fields;  // the table's fields for restructure, and one more
    int walked;          // plain-field tags the reader can walk
  };
  const Real reals[] = {
      {"rooms.dbf", {"rooms.dbf", "rooms.cdx"}, "rooms.cdx",
       "ROOMNAME:C:10 FACILITY:C:10 MORE:C:3", 5},
      // CONTACT_ID is a candidate key (kept current), TYPE_ID's key names a long name.
      {"contacts.dbf", {"contacts.dbf", "contacts.FPT", "contacts.CDX"}, "contacts.CDX", "", 1},
  };
  for (const Real& real : reals) {
    const std::string base = fs::path(real.table).stem();
    const std::vector<std::string> commands = {
        "append {T} --csv {D}/" + base + ".csv", "import {T} {D}/" + base + ".csv", "pack {T}",
        "zap {T}", "restructure {T} " + std::string(real.fields), "encipher {T} --password pw"};
    for (const std::string& command : commands) {
      if (command.find("restructure") == 0 && !*real.fields) continue;
      // A table with memo fields cannot be enciphered.
      if (command.find("encipher") == 0 && real.files.size() > 2) continue;
      SCOPED_TRACE(std::string(real.table) + ": " + command);
      for (const char* f : real.files) Copy(kReal + f, f);
      const Outcome r = Tool(Expand(command, Path(real.table), dir_));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      const bool enciphered = command.find("encipher") == 0;
      EXPECT_EQ(ExpectBagFollowsTable(Path(real.table), Path(real.bag), enciphered ? "pw" : ""),
                real.walked);
    }
  }
}

// A flagged bag that is missing or damaged: every command that only reads goes on, saying so
// and naming the bag; every command that changes records refuses, naming the bag, and leaves
// every file as it was.
TEST_F(StructuralBagTest, AMissingOrDamagedBagLetsReadsGoOnAndRefusesChanges) {
  const std::string table = MakeTable();
  const std::string bag = Path("t.cdx");
  const std::string good_bag = Slurp(bag);
  const std::vector<std::string> reads = {"info {T}", "list {T}", "eval {T} NAME",
                                          "copy {T} {D}/out.csv"};
  const std::vector<std::string> changes = {
      "append {T} --csv {D}/more.csv", "import {T} {D}/src.dbf", "pack {T}", "zap {T}",
      "restructure {T} NAME:C:12", "encipher {T} --password pw"};
  for (const bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "missing" : "damaged");
    if (missing) {
      fs::remove(bag);
    } else {
      std::string damaged = good_bag;
      std::fill(damaged.begin(), damaged.begin() + 1024, '\xFF');  // the bag's header
      Write("t.cdx", damaged);
    }
    const std::string dbf = Slurp(table), cdx = Slurp(bag);
    for (const std::string& command : reads) {
      SCOPED_TRACE(command);
      const Outcome r = Tool(Expand(command, table, dir_));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_NE(r.err.find(bag), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("going on without it"), std::string::npos) << r.err;
    }
    for (const std::string& command : changes) {
      SCOPED_TRACE(command);
      const Outcome r = Tool(Expand(command, table, dir_));
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("structural index bag " + bag), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("nothing changed"), std::string::npos) << r.err;
      if (!missing) {
        EXPECT_NE(r.err.find("dbutool reindex " + table + " " + bag + " rebuilds it"),
                  std::string::npos)
            << r.err;
      }
      EXPECT_EQ(Slurp(table), dbf);
      EXPECT_EQ(Slurp(bag), cdx);
      EXPECT_FALSE(fs::exists(Path("t_ORIGINALE.dbf")));
    }
  }
}

// --index keeps other bags current beside the structural one: NTX orders, or a second CDX
// bag; bags of both kinds at once are refused before anything is read.
TEST_F(StructuralBagTest, AppendAndImportKeepTheIndexesNamedCurrent) {
  if (!HaveWalker() || !fs::exists(kNtxWalker)) GTEST_SKIP() << "no independent index reader";
  const std::string table = MakeTable();
  const std::string name_ntx = Path("byname.ntx"), n_ntx = Path("byn.ntx");
  const std::string other_cdx = Path("other.cdx");
  ASSERT_EQ(Tool("index " + Q(table) + " " + Q(other_cdx) + " D --tag BYDATE").status, 0);
  const std::string dbf = Slurp(table);
  const Outcome mixed = Tool("append " + Q(table) + " --csv " + Q(Path("more.csv")) + " --index " +
                         Q(name_ntx) + " --index " + Q(other_cdx));
  EXPECT_EQ(mixed.status, 2) << mixed.err;
  EXPECT_EQ(Slurp(table), dbf);

  // The table's own bag goes with DBFCDX: NTX orders are kept on a table without one.
  const std::string plain = Path("plain.dbf");
  ASSERT_EQ(Tool("create " + Q(plain) + " NAME:C:10 N:N:6 D:D:8 CAT:C:4").status, 0);
  ASSERT_EQ(Tool("index " + Q(plain) + " " + Q(name_ntx) + " NAME").status, 0);
  ASSERT_EQ(Tool("index " + Q(plain) + " " + Q(n_ntx) + " N").status, 0);
  const std::string ntx = " --index " + Q(name_ntx) + " --index " + Q(n_ntx);
  ASSERT_EQ(Tool("append " + Q(plain) + " --csv " + Q(Path("rows.csv")) + ntx).status, 0);
  ASSERT_EQ(Tool("import " + Q(plain) + " " + Q(Path("src.dbf")) + ntx).status, 0);
  for (const auto& [bag, field, numeric] :
       {std::tuple{name_ntx, "NAME", false}, std::tuple{n_ntx, "N", true}}) {
    SCOPED_TRACE(bag);
    EXPECT_EQ(Tool("check " + Q(plain) + " " + Q(bag)).status, 0);
    const Outcome walk = Shell("/usr/bin/python3 " + Q(kNtxWalker) + " " + Q(bag));
    std::vector<uint32_t> got;
    for (const std::string& l : Split(walk.out, '\n')) {
      if (!l.empty()) got.push_back(static_cast<uint32_t>(std::stoul(l.substr(l.rfind('\t') + 1))));
    }
    EXPECT_EQ(got, ModelOrder(FieldValues(plain, field, "", ""), numeric, false)) << walk.out;
  }

  // A second CDX bag goes beside the structural one.
  ASSERT_EQ(Tool("import " + Q(table) + " " + Q(Path("plain.csv")) + " --index " + Q(other_cdx))
                .status,
            0);
  EXPECT_EQ(ExpectBagFollowsTable(table, Path("t.cdx")), 5);
  EXPECT_EQ(ExpectBagFollowsTable(table, other_cdx), 1);
}

}  // namespace
