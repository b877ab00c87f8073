// dbutool's command line: every command it accepts has its help, its man page entry and its
// completion entry with the same options; usage errors are one line, the usage and status 2.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DbutoolRun {
  int status;
  std::string out, err;
};

// Runs dbutool with a shell-quoted argument string, stdout and stderr apart.
DbutoolRun Dbutool(const std::string& args) {
  std::string err_file = ::testing::TempDir() + "dbutool_stderr_" + std::to_string(getpid());
  std::string cmd = std::string(DBUTOOL_PATH) + " " + args + " 2>'" + err_file + "'";
  DbutoolRun r{0, "", ""};
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(err_file);
  std::stringstream text;
  text << in.rdbuf();
  r.err = text.str();
  std::remove(err_file.c_str());
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The names of a help section ("Commands:", "Options:"): the first word of its entries.
std::vector<std::string> Section(const std::string& help, const std::string& title) {
  std::vector<std::string> out;
  bool in = false;
  for (const std::string& line : Lines(help)) {
    if (line == title) {
      in = true;
    } else if (in && line.empty()) {
      break;
    } else if (in && line.size() > 2 && line[0] == ' ' && line[2] != ' ') {
      out.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
  }
  return out;
}

// The text of a man page between ".SS name" and the next section or subsection.
std::string ManEntry(const std::string& man, const std::string& name) {
  size_t start = man.find("\n.SS " + name + "\n");
  if (start == std::string::npos) return "";
  size_t end = man.find("\n.S", start + 1);
  return man.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The completion script's case entry of a command: its "options='...'" list.
std::string CompletionOptions(const std::string& script, const std::string& name) {
  std::smatch m;
  std::regex entry("\n        " + name + "\\)\n            options='([^']*)'");
  return std::regex_search(script, m, entry) ? m[1].str() : "";
}

std::string Roff(std::string text) {
  std::string out;
  for (char c : text) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

TEST(CommandLineTest, EveryCommandHasHelpManEntryAndCompletion) {
  DbutoolRun help = Dbutool("--help");
  ASSERT_EQ(help.status, 0) << help.err;
  std::vector<std::string> commands = Section(help.out, "Commands:");
  std::set<std::string> listed(commands.begin(), commands.end());
  for (const char* known : {"info", "list", "eval", "create", "append", "pack", "zap", "index",
                            "seek", "reindex", "check"}) {
    EXPECT_TRUE(listed.count(known)) << known << " missing from --help:\n" << help.out;
  }
  DbutoolRun man = Dbutool("--man");
  DbutoolRun completion = Dbutool("--bash-completion");
  ASSERT_EQ(man.status, 0);
  ASSERT_EQ(completion.status, 0);
  std::smatch top;
  ASSERT_TRUE(std::regex_search(completion.out, top, std::regex("compgen -W '([^']*)'")));
  std::string command_words = " " + top[1].str() + " ";

  for (const std::string& name : commands) {
    SCOPED_TRACE(name);
    DbutoolRun command_help = Dbutool(name + " --help");
    EXPECT_EQ(command_help.status, 0);
    EXPECT_EQ(command_help.out.rfind("usage: dbutool " + name + " ", 0), 0u) << command_help.out;
    std::vector<std::string> options = Section(command_help.out, "Options:");
    EXPECT_FALSE(options.empty());
    std::string entry = ManEntry(man.out, name);
    EXPECT_FALSE(entry.empty()) << "no man page entry";
    std::string completes = " " + CompletionOptions(completion.out, name) + " ";
    EXPECT_NE(command_words.find(" " + name + " "), std::string::npos) << "not completed";
    for (const std::string& option : options) {
      EXPECT_NE(completes.find(" " + option + " "), std::string::npos)
          << option << " not completed";
      if (option == "--help") continue;  // one entry of the whole page
      EXPECT_NE(entry.find(".TP\n\\fB" + Roff(option) + "\\fR"), std::string::npos)
          << option << " not in the man page entry:\n"
          << entry;
    }
  }
}

TEST(CommandLineTest, UsageErrorsAreOneLineAndTheUsage) {
  struct Case {
    const char* args;
    const char* error;
    const char* usage;  // the start of the usage that follows
  } cases[] = {
      {"list t.dbf --encoding 1252", "list: unknown option --encoding", "usage: dbutool list "},
      {"list", "list: missing argument TABLE", "usage: dbutool list "},
      {"list t.dbf --for", "list: option --for needs a value EXPR", "usage: dbutool list "},
      {"list t.dbf --count=yes", "list: option --count takes no value", "usage: dbutool list "},
      {"eval t.dbf", "eval: missing argument EXPR", "usage: dbutool eval "},
      {"info a.dbf b.dbf", "info: unexpected argument b.dbf", "usage: dbutool info "},
      {"append t.dbf", "append: missing option --csv FILE", "usage: dbutool append "},
      {"seek t.dbf t.ntx", "seek: give either VALUE or --keys FILE", "usage: dbutool seek "},
      {"create t.dbf NAME:C", "create: bad field NAME:C", "usage: dbutool create "},
      {"frobnicate t.dbf", "unknown command frobnicate", "usage: dbutool info "},
      {"--json info t.dbf", "the command comes first: --json", "usage: dbutool info "},
      {"", "no command given", "usage: dbutool info "},
  };
  for (const Case& c : cases) {
    DbutoolRun r = Dbutool(c.args);
    std::vector<std::string> lines = Lines(r.err);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    ASSERT_GE(lines.size(), 2u) << c.args << ": " << r.err;
    EXPECT_EQ(lines[0], std::string("dbutool: ") + c.error) << c.args;
    EXPECT_EQ(lines[1].rfind(c.usage, 0), 0u) << c.args << ": " << r.err;
  }
}

TEST(CommandLineTest, VersionIsTheProjectVersion) {
  std::ifstream cmake(std::string(VOSK_SOURCE_DIR) + "/CMakeLists.txt");
  std::stringstream text;
  text << cmake.rdbuf();
  std::smatch m;
  std::string s = text.str();
  ASSERT_TRUE(std::regex_search(s, m, std::regex("project\\(voskdbu VERSION ([0-9.]+)")));
  DbutoolRun r = Dbutool("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "dbutool (VOSK Software DBU) " + m[1].str() + "\n");
}

TEST(CommandLineTest, OptionValuesAfterAnEqualsSignAndArgumentsAfterTheEnd) {
  std::string dir = ::testing::TempDir() + "command_line_test_" + std::to_string(getpid());
  ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
  std::string table = "'" + dir + "/--t.dbf'";
  // "--" ends the options: a table whose name starts with two dashes.
  ASSERT_EQ(Dbutool("create --kind=db4 -- " + table + " NAME:C:8 QTY:N:4").status, 0);
  std::ofstream(dir + "/rows.csv") << "NAME,QTY\nuno,1\ndue,2\n";
  ASSERT_EQ(Dbutool("append --csv='" + dir + "/rows.csv' -- " + table).status, 0);
  EXPECT_EQ(Dbutool("list --csv --fields=QTY --for='QTY > 1' -- " + table).out, "QTY\r\n2\r\n");
  EXPECT_NE(Dbutool("info --json -- " + table).out.find("\"records\": 2,"), std::string::npos);
  (void)system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
