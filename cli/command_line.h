#ifndef VOSK_CLI_COMMAND_LINE_H_
#define VOSK_CLI_COMMAND_LINE_H_

// dbutool's command line, described once: a table of commands with their arguments and
// options. The parser, "dbutool --help", "dbutool COMMAND --help", the man page
// ("dbutool --man", installed as dbutool.1) and the bash completion ("dbutool
// --bash-completion") are all made from it, so that none of them can drift from the others.
//
// Adding a command: one CommandSpec in the table of cli/tool.cpp (name, summary, description,
// arguments, options, the function that runs it). Adding an option: one OptionSpec in the
// command's list, or in TableOptions() of cli/tool.cpp when every command that opens a table
// takes it.

#include <string>
#include <vector>

#include "cli/tool.h"

namespace vosk {

// What the shell completes for an argument or an option's value.
enum class Completion {
  kNone,    // free text: an expression, a key, a list of names
  kTable,   // table files, *.dbf
  kIndex,   // index files, *.ntx and *.cdx
  kCsv,     // *.csv
  kFile,    // any file
  kChoice,  // one of OptionSpec::choices
};

struct OptionSpec {
  std::string name;   // without "--"
  std::string value;  // the value's name in usage ("EXPR"); empty for a switch
  std::string help;   // one or two sentences
  Completion completion = Completion::kNone;
  std::vector<std::string> choices;  // with Completion::kChoice
  bool required = false;             // the command cannot run without it
  bool repeatable = false;           // may be given more than once (ToolArgs::GetAll)
};

struct ArgSpec {
  enum Count { kOne, kOptional, kOneOrMore };
  std::string name;  // "TABLE"
  std::string help;
  Completion completion = Completion::kNone;
  Count count = kOne;
};

struct CommandSpec {
  std::string name;
  std::string summary;      // one line, without a final full stop
  std::string description;  // paragraphs separated by blank lines
  std::vector<ArgSpec> args;
  std::vector<OptionSpec> options;
  int (*run)(const ToolArgs&) = nullptr;
};

// A usage error found by a command itself (one of two arguments missing, a malformed field
// definition): reported like the parser's, with the command's usage and exit status 2.
struct UsageError {
  std::string text;
};

// Runs a dbutool command line (without the program name) against the table of commands:
// --help, --version, --man and --bash-completion are answered here; a command's arguments are
// parsed into ToolArgs (positional[0] is the command) and handed to `run`. A usage error (an
// unknown command or option, a missing argument or option value) prints one error line and
// the usage on stderr and returns 2.
int RunCommandLine(const std::vector<CommandSpec>& commands, const std::vector<std::string>& argv,
                   int (*run)(const CommandSpec&, const ToolArgs&));

// Prints "dbutool: TEXT" and the command's usage on stderr; returns 2, the exit status.
int ReportUsageError(const std::string& text, const CommandSpec& command);

// The parts made from the table.
std::string Synopsis(const CommandSpec& command);  // "dbutool list TABLE [--csv] ..."
std::string CommandHelp(const CommandSpec& command);
std::string ToolHelp(const std::vector<CommandSpec>& commands);
std::string ManPage(const std::vector<CommandSpec>& commands);
std::string BashCompletion(const std::vector<CommandSpec>& commands);

}  // namespace vosk

#endif  // VOSK_CLI_COMMAND_LINE_H_
