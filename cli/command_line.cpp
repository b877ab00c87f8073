#include "cli/command_line.h"

#include <cstdio>
#include <sstream>

#include "platform/version.h"

namespace vosk {
namespace {

constexpr int kWidth = 79;  // of help text on a terminal

const char kToolSummary[] = "command-line access to the VOSK Software DBU table engine";

const char kToolDescription[] =
    "dbutool is the command-line front end to the table engine of VOSK Software DBU, for "
    "scripts and benchmarks: it reads and writes dBase-family tables (DBF files with DBT or FPT "
    "memos, NTX and CDX indexes) with the same record and file locks as the window program "
    "voskdbu, so both can work on a table at the same time.\n\n"
    "Each run does one command on one table. The command comes first; its options may come "
    "before, between or after its arguments; an option's value follows it as the next "
    "argument or after an equals sign (--tag NAME or --tag=NAME); \"--\" ends the options. "
    "Table text is decoded from Windows-1252 (or CP850 with --oem) and written as UTF-8.";

const struct {
  const char* status;
  const char* meaning;
} kExitStatus[] = {
    {"0", "The command did its work."},
    {"1",
     "A runtime error: one line on standard error names the file and the error (general "
     "code/subcode and description); or the command found what it reports as wrong."},
    {"2",
     "A usage error: an unknown command or option, a missing argument or option value. "
     "One line on standard error names it, followed by the usage."},
    {"3", "An internal error of the program."},
    {"4", "check only: the index could not be checked (the table or the index file does not "
          "open or cannot be read); status 1 from check means the index is damaged."},
};

const char* const kExamples[] = {
    "dbutool create clienti.dbf CODICE:C:8 NOME:C:30 SALDO:N:12:2 NATO:D:8 ATTIVO:L:1",
    "dbutool append clienti.dbf --csv clienti.csv --exclusive",
    "dbutool list clienti.dbf --csv --all > copia.csv",
    "dbutool index clienti.dbf nome.ntx 'UPPER(NOME)'",
    "dbutool list clienti.dbf --index nome.ntx --for 'SALDO > 1000' --count",
};

std::string Value(const OptionSpec& o) { return o.value.empty() ? "" : " " + o.value; }

std::string ArgUsage(const ArgSpec& a) {
  switch (a.count) {
    case ArgSpec::kOptional:
      return "[" + a.name + "]";
    case ArgSpec::kOneOrMore:
      return a.name + "...";
    default:
      return a.name;
  }
}

// Words of text filled into lines of `width`, each line after the first indented by `indent`.
std::string Fill(const std::string& text, size_t first_column, size_t indent,
                 size_t width = kWidth) {
  std::istringstream in(text);
  std::string word, out;
  size_t column = first_column;
  bool line_start = true;
  while (in >> word) {
    if (!line_start && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      line_start = true;
    }
    if (!line_start) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line_start = false;
  }
  return out;
}

std::vector<std::string> Paragraphs(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\n\n", start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return out;
}

// A two-column entry of help: the term, then its help filled beside it (or below, when long).
std::string HelpEntry(const std::string& term, const std::string& help) {
  constexpr size_t kTerm = 2, kHelp = 20;
  std::string out = std::string(kTerm, ' ') + term;
  if (out.size() + 2 > kHelp) {
    out += "\n" + std::string(kHelp, ' ');
  } else {
    out += std::string(kHelp - out.size(), ' ');
  }
  return out + Fill(help, kHelp, kHelp) + "\n";
}

void PrintUsage(const std::vector<CommandSpec>& commands) {
  std::string out;
  for (const CommandSpec& c : commands) {
    out += (out.empty() ? "usage: " : "       ") + Fill(Synopsis(c), 7, 16) + "\n";
  }
  out += "Run \"dbutool COMMAND --help\" for the arguments and options of a command.\n";
  std::fputs(out.c_str(), stderr);
}

int ToolUsageError(const std::string& text, const std::vector<CommandSpec>& commands) {
  std::fprintf(stderr, "dbutool: %s\n", text.c_str());
  PrintUsage(commands);
  return 2;
}

// Text for roff: backslashes and minus signs escaped, no line starting with a control
// character.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  std::string safe;
  bool line_start = true;
  for (char c : out) {
    if (line_start && (c == '.' || c == '\'')) safe += "\\&";
    safe += c;
    line_start = c == '\n';
  }
  return safe;
}

std::string RoffParagraphs(const std::string& text) {
  std::string out;
  bool first = true;
  for (const std::string& p : Paragraphs(text)) {
    if (!first) out += ".PP\n";
    first = false;
    out += Roff(p) + "\n";
  }
  return out;
}

std::string RoffSynopsis(const CommandSpec& c) {
  std::string out = "\\fBdbutool " + c.name + "\\fR";
  for (const ArgSpec& a : c.args) {
    std::string name = "\\fI" + Roff(a.name) + "\\fR";
    if (a.count == ArgSpec::kOptional) name = "[" + name + "]";
    if (a.count == ArgSpec::kOneOrMore) name += "...";
    out += " " + name;
  }
  for (const OptionSpec& o : c.options) {
    std::string option = "\\fB\\-\\-" + Roff(o.name) + "\\fR" +
                         (o.value.empty() ? "" : " \\fI" + Roff(o.value) + "\\fR");
    out += " " + (o.required ? option : "[" + option + "]") + (o.repeatable ? "..." : "");
  }
  return out;
}

std::string CompletionAction(Completion c, const std::vector<std::string>& choices) {
  switch (c) {
    case Completion::kTable:
      return "table";
    case Completion::kIndex:
      return "index";
    case Completion::kCsv:
      return "csv";
    case Completion::kFile:
      return "file";
    case Completion::kChoice: {
      std::string out = "'choice";
      for (const std::string& s : choices) out += " " + s;
      return out + "'";
    }
    default:
      return "none";
  }
}

// Parses the arguments of one command; false with a message on a usage error.
bool ParseCommand(const CommandSpec& c, const std::vector<std::string>& argv, size_t first,
                  ToolArgs* a, std::string* error) {
  a->positional.push_back(c.name);
  bool options_end = false;
  for (size_t i = first; i < argv.size(); ++i) {
    const std::string& s = argv[i];
    if (options_end || s.size() <= 2 || s.compare(0, 2, "--") != 0) {
      if (s == "--") {
        options_end = true;
        continue;
      }
      a->positional.push_back(s);
      continue;
    }
    std::string name = s.substr(2), value;
    size_t eq = name.find('=');
    bool has_value = eq != std::string::npos;
    if (has_value) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    const OptionSpec* option = nullptr;
    for (const OptionSpec& o : c.options) {
      if (o.name == name) option = &o;
    }
    if (!option) {
      *error = c.name + ": unknown option --" + name;
      return false;
    }
    if (option->value.empty() && has_value) {
      *error = c.name + ": option --" + name + " takes no value";
      return false;
    }
    if (!option->value.empty() && !has_value) {
      if (i + 1 >= argv.size()) {
        *error = c.name + ": option --" + name + " needs a value " + option->value;
        return false;
      }
      value = argv[++i];
    }
    a->options.emplace_back(name, value);
  }
  size_t given = a->positional.size() - 1, at = 0;
  for (const ArgSpec& arg : c.args) {
    if (arg.count == ArgSpec::kOptional) {
      if (at < given) ++at;
    } else if (at >= given) {
      *error = c.name + ": missing argument " + arg.name;
      return false;
    } else {
      at = arg.count == ArgSpec::kOneOrMore ? given : at + 1;
    }
  }
  if (at < given) {
    *error = c.name + ": unexpected argument " + a->positional[at + 1];
    return false;
  }
  for (const OptionSpec& o : c.options) {
    if (o.required && !a->Has(o.name)) {
      *error = c.name + ": missing option --" + o.name + Value(o);
      return false;
    }
  }
  return true;
}

}  // namespace

int ReportUsageError(const std::string& text, const CommandSpec& command) {
  std::fprintf(stderr, "dbutool: %s\nusage: %s\n", text.c_str(),
               Fill(Synopsis(command), 7, 16).c_str());
  return 2;
}

std::string Synopsis(const CommandSpec& c) {
  std::string out = "dbutool " + c.name;
  for (const ArgSpec& a : c.args) out += " " + ArgUsage(a);
  for (const OptionSpec& o : c.options) {
    out += " " + (o.required ? "--" + o.name + Value(o) : "[--" + o.name + Value(o) + "]") +
           (o.repeatable ? "..." : "");
  }
  return out;
}

std::string CommandHelp(const CommandSpec& c) {
  std::string out = "usage: " + Fill(Synopsis(c), 7, 16) + "\n";
  out += Fill(c.summary + ".", 0, 0) + "\n";
  for (const std::string& p : Paragraphs(c.description)) out += "\n" + Fill(p, 0, 0) + "\n";
  if (!c.args.empty()) {
    out += "\nArguments:\n";
    for (const ArgSpec& a : c.args) out += HelpEntry(ArgUsage(a), a.help);
  }
  out += "\nOptions:\n";
  for (const OptionSpec& o : c.options) out += HelpEntry("--" + o.name + Value(o), o.help);
  out += HelpEntry("--help", "Show this help and exit.");
  return out;
}

std::string ToolHelp(const std::vector<CommandSpec>& commands) {
  std::string out =
      "usage: dbutool COMMAND ARGUMENT... [OPTION]...\n"
      "       dbutool COMMAND --help\n"
      "       dbutool --help | --version\n" +
      Fill(std::string("dbutool: ") + kToolSummary + ".", 0, 0) + "\n\nCommands:\n";
  for (const CommandSpec& c : commands) out += HelpEntry(c.name, c.summary + ".");
  out += "\nOptions:\n";
  out += HelpEntry("--help", "Show this help and exit; with a command, the command's help.");
  out += HelpEntry("--version", "Show the program's name and version and exit.");
  out += "\n" +
         Fill(
             "Run \"dbutool COMMAND --help\" for the arguments and options of a command, "
             "\"man dbutool\" for the whole manual.",
             0, 0) +
         "\n";
  return out;
}

std::string ManPage(const std::vector<CommandSpec>& commands) {
  std::string out;
  out += ".\\\" Written by \"dbutool --man\" from the program's table of commands and options.\n";
  out += std::string(".TH DBUTOOL 1 \"") + kProductYear + "\" \"" + kProductName + " " +
         kProductVersion + "\" \"User Commands\"\n.nh\n";
  out += ".SH NAME\ndbutool \\- " + Roff(kToolSummary) + "\n";
  out +=
      ".SH SYNOPSIS\n\\fBdbutool\\fR \\fICOMMAND\\fR \\fIARGUMENT\\fR... [\\fIOPTION\\fR]...\n"
      ".br\n\\fBdbutool\\fR \\fICOMMAND\\fR \\fB\\-\\-help\\fR\n"
      ".br\n\\fBdbutool \\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
  out += ".SH DESCRIPTION\n" + RoffParagraphs(kToolDescription);
  out += ".SH COMMANDS\n";
  for (const CommandSpec& c : commands) {
    // The synopsis is filled but not stretched to the right margin.
    out += ".SS " + c.name + "\n.ad l\n" + RoffSynopsis(c) + "\n.ad\n";
    out += ".PP\n" + Roff(c.summary) + ".\n";
    if (!c.description.empty()) out += ".PP\n" + RoffParagraphs(c.description);
    for (const ArgSpec& a : c.args) {
      out += ".TP\n\\fI" + Roff(ArgUsage(a)) + "\\fR\n" + Roff(a.help) + "\n";
    }
    for (const OptionSpec& o : c.options) {
      out += ".TP\n\\fB\\-\\-" + Roff(o.name) + "\\fR" +
             (o.value.empty() ? "" : " \\fI" + Roff(o.value) + "\\fR") + "\n" + Roff(o.help) + "\n";
    }
  }
  out +=
      ".SH \"GENERAL OPTIONS\"\n"
      ".TP\n\\fB\\-\\-help\\fR\nShow the list of commands and exit; after a command, the "
      "command's usage, arguments and options.\n"
      ".TP\n\\fB\\-\\-version\\fR\nShow the program's name and version and exit.\n";
  out += ".SH \"EXIT STATUS\"\n";
  for (const auto& e : kExitStatus) {
    out += ".TP\n" + std::string(e.status) + "\n" + Roff(e.meaning) + "\n";
  }
  out += ".SH EXAMPLES\n";
  for (const char* e : kExamples) out += ".PP\n.EX\n" + Roff(e) + "\n.EE\n";
  out += ".SH \"SEE ALSO\"\n.BR voskdbu (1)\n";
  return out;
}

std::string BashCompletion(const std::vector<CommandSpec>& commands) {
  std::string names;
  for (const CommandSpec& c : commands) names += c.name + " ";
  std::string out =
      "# bash completion for dbutool(1). Written by \"dbutool --bash-completion\" from the\n"
      "# program's table of commands and options, the same that its parser and help use.\n"
      "\n"
      "_dbutool_complete()\n"
      "{\n"
      "    case $1 in\n"
      "        table) _filedir dbf ;;\n"
      "        index) _filedir '@(ntx|cdx)' ;;\n"
      "        csv) _filedir csv ;;\n"
      "        file) _filedir ;;\n"
      "        choice)\n"
      "            shift\n"
      "            COMPREPLY=($(compgen -W \"$*\" -- \"$cur\"))\n"
      "            ;;\n"
      "    esac\n"
      "}\n"
      "\n"
      "_dbutool()\n"
      "{\n"
      "    local cur prev words cword split\n"
      "    _init_completion -s || return\n"
      "\n"
      "    local i command='' start=0\n"
      "    for ((i = 1; i < cword; i++)); do\n"
      "        if [[ ${words[i]} != -* ]]; then\n"
      "            command=${words[i]}\n"
      "            start=$i\n"
      "            break\n"
      "        fi\n"
      "    done\n"
      "    if [[ -z $command ]]; then\n"
      "        COMPREPLY=($(compgen -W '" +
      names +
      "--help --version' -- \"$cur\"))\n"
      "        return\n"
      "    fi\n"
      "\n"
      "    local options='' valued='' value_action='' repeat=''\n"
      "    local -a positional=()\n"
      "    case $command in\n";
  for (const CommandSpec& c : commands) {
    std::string options, valued, positional, value_cases;
    for (const OptionSpec& o : c.options) {
      options += "--" + o.name + " ";
      if (o.value.empty()) continue;
      valued += "--" + o.name + " ";
      value_cases += "                --" + o.name +
                     ") value_action=" + CompletionAction(o.completion, o.choices) + " ;;\n";
    }
    bool repeat = false;
    for (const ArgSpec& a : c.args) {
      positional += (positional.empty() ? "" : " ") + CompletionAction(a.completion, {});
      repeat = a.count == ArgSpec::kOneOrMore;
    }
    out += "        " + c.name + ")\n";
    out += "            options='" + options + "--help'\n";
    out += "            valued='" + valued + "'\n";
    out += "            positional=(" + positional + ")\n";
    if (repeat) out += "            repeat=1\n";
    if (!value_cases.empty()) {
      out += "            case $prev in\n" + value_cases + "            esac\n";
    }
    out += "            ;;\n";
  }
  out +=
      "        *) return ;;\n"
      "    esac\n"
      "\n"
      "    if [[ -n $value_action ]]; then\n"
      "        _dbutool_complete $value_action\n"
      "        return\n"
      "    fi\n"
      "    [[ $split == true ]] && return\n"
      "    if [[ $cur == -* ]]; then\n"
      "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "        return\n"
      "    fi\n"
      "\n"
      "    local n=0 w\n"
      "    for ((i = start + 1; i < cword; i++)); do\n"
      "        w=${words[i]}\n"
      "        if [[ $w == --*=* ]]; then\n"
      "            continue\n"
      "        elif [[ $w == --?* ]]; then\n"
      "            [[ \" $valued \" == *\" $w \"* ]] && ((i++))\n"
      "            continue\n"
      "        fi\n"
      "        ((n++))\n"
      "    done\n"
      "    if ((n < ${#positional[@]})); then\n"
      "        _dbutool_complete ${positional[n]}\n"
      "    elif [[ -n $repeat ]]; then\n"
      "        _dbutool_complete ${positional[-1]}\n"
      "    fi\n"
      "} &&\n"
      "    complete -F _dbutool dbutool\n"
      "\n"
      "# ex: filetype=sh\n";
  return out;
}

int RunCommandLine(const std::vector<CommandSpec>& commands, const std::vector<std::string>& argv,
                   int (*run)(const CommandSpec&, const ToolArgs&)) {
  // The command is the first word that is not an option.
  size_t at = 0;
  while (at < argv.size() && argv[at].compare(0, 1, "-") == 0 && argv[at].size() > 1) ++at;
  if (at == argv.size()) {
    for (const std::string& s : argv) {
      if (s == "--help" || s == "-h") {
        std::fputs(ToolHelp(commands).c_str(), stdout);
        return 0;
      }
    }
    if (argv.size() == 1) {
      const std::string& s = argv[0];
      if (s == "--version") {
        std::printf("dbutool (%s) %s\n", kProductName, kProductVersion);
        return 0;
      }
      if (s == "--man") {
        std::fputs(ManPage(commands).c_str(), stdout);
        return 0;
      }
      if (s == "--bash-completion") {
        std::fputs(BashCompletion(commands).c_str(), stdout);
        return 0;
      }
    }
    if (argv.empty()) return ToolUsageError("no command given", commands);
    return ToolUsageError("unknown option " + argv[0], commands);
  }
  if (at != 0) return ToolUsageError("the command comes first: " + argv[0], commands);
  const CommandSpec* command = nullptr;
  for (const CommandSpec& c : commands) {
    if (c.name == argv[0]) command = &c;
  }
  if (!command) return ToolUsageError("unknown command " + argv[0], commands);
  for (size_t i = 1; i < argv.size() && argv[i] != "--"; ++i) {
    if (argv[i] == "--help" || argv[i] == "-h") {
      std::fputs(CommandHelp(*command).c_str(), stdout);
      return 0;
    }
  }
  ToolArgs a;
  std::string error;
  if (!ParseCommand(*command, argv, 1, &a, &error)) return ReportUsageError(error, *command);
  return run(*command, a);
}

}  // namespace vosk
