#ifndef VOSK_CLI_TOOL_H_
#define VOSK_CLI_TOOL_H_

#include <string>
#include <vector>

namespace vosk {

// Runs one dbutool command line (without the program name); returns the exit status.
int RunTool(const std::vector<std::string>& args);

class Abandon;

// Writes the one-line report of an abandoned command to standard error, closes every table
// and returns the exit status of a runtime error (1).
int ReportAbandonedCommand(const Abandon& e);

// A JSON string literal of bytes (control characters escaped).
std::string JsonString(const std::string& s);

// Options common to the commands: positional arguments and --name [value] pairs.
struct ToolArgs {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;  // name without "--", value
  bool Has(const std::string& name) const;
  std::string Get(const std::string& name, const std::string& def = "") const;
};

class DbfArea;

// Opens a table with the memo driver in a new area; throws Abandon when it cannot.
DbfArea* OpenTable(const ToolArgs& a, const std::string& file, bool shared, bool read_only);

// dbutool copy TABLE TARGET ... and dbutool import TABLE SOURCE ... (transfer_commands.cpp).
int CmdCopy(const ToolArgs& a);
int CmdImport(const ToolArgs& a);
// dbutool append TABLE --csv FILE: the CSV import with the tool's line-numbered messages.
int CmdAppendCsv(const ToolArgs& a);
// The code page named by --codepage (or cp850 for --oem); empty when none is named, so that
// the table's own mark counts. Throws UsageError (command_line.h) for an unknown name.
std::string CodepageOption(const ToolArgs& a);
// Command-line text (UTF-8: a condition, an expression, a key) in the current table's code
// page, for compiling or seeking there. Text that is not UTF-8 is kept as given; a character
// the code page lacks throws UsageError.
std::string TableText(const std::string& utf8);
// The alias given by --alias, else one made from the table's file name.
std::string AliasOption(const ToolArgs& a, const std::string& table);

}  // namespace vosk

#endif  // VOSK_CLI_TOOL_H_
