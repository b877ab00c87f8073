#ifndef VOSK_CLI_INDEX_COMMANDS_H_
#define VOSK_CLI_INDEX_COMMANDS_H_

#include <string>

#include "cli/tool.h"

namespace vosk {

class DbfArea;

// The structural CDX bag of a table (the table's header flags one and a .cdx of its base name
// exists), "" when there is none.
std::string StructuralCdxOf(const std::string& table);

// Opens TABLE with the order driver (--driver, DBFNTX by default) and the bag named by
// --index, controlled by --tag or the bag's first order. Throws Abandon on failure.
DbfArea* OpenIndexedTable(const ToolArgs& a, bool shared, bool read_only);

// dbutool index TABLE BAG KEY [--tag T] [--for EXPR] [--unique] [--descending]
int CmdIndex(const ToolArgs& a);
// dbutool seek TABLE BAG VALUE [--soft] [--last] [--tag T]; or --keys FILE: one seek per line.
int CmdSeek(const ToolArgs& a);
// dbutool reindex TABLE BAG
int CmdReindex(const ToolArgs& a);
// dbutool check TABLE BAG: exit status 1 when anything is wrong.
int CmdCheck(const ToolArgs& a);
// dbutool tags TABLE [BAG] [--json]: NAME<TAB>KEY<TAB>FOR<TAB>FLAGS per tag.
int CmdTags(const ToolArgs& a);
// dbutool droptag TABLE BAG TAG
int CmdDropTag(const ToolArgs& a);

}  // namespace vosk

#endif  // VOSK_CLI_INDEX_COMMANDS_H_
