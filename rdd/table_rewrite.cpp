#include "rdd/table_rewrite.h"

#include <sstream>

#include "platform/os_error.h"
#include "platform/owned_file.h"
#include "platform/system.h"

namespace vosk {
namespace {

// Version 2 escapes the names; version 1 (names never holding a tab or a line break) is still
// read.
constexpr char kJournalHead[] = "vosk table swap 2";
constexpr char kJournalHeadPlain[] = "vosk table swap 1";
constexpr char kJournalEnd[] = "end";
constexpr char kNewSuffix[] = ".new";
// A live swap holds its journal for milliseconds; an open waits this long at most for it.
constexpr int kJournalWaitSteps = 3000;
constexpr int kJournalWaitMillis = 10;

std::string BaseOf(const std::string& file_part) {
  size_t dot = file_part.rfind('.');
  return dot == std::string::npos || dot == 0 ? file_part : file_part.substr(0, dot);
}

std::string ExtensionOf(const std::string& file_part) {
  size_t dot = file_part.rfind('.');
  return dot == std::string::npos || dot == 0 ? std::string() : file_part.substr(dot + 1);
}

std::string InDir(const std::string& dir, const std::string& name) { return dir + "/" + name; }

// One line of the journal: new name, final name, backup name (file parts, tab-separated, each
// escaped).
struct JournalEntry {
  std::string new_name, final_name, backup_name;
};

// A file name may hold any byte but '/' and NUL: a backslash, a tab, a line feed and a
// carriage return are written as \\, \t, \n and \r.
std::string EscapedName(const std::string& name) {
  std::string out;
  for (char c : name) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c; break;
    }
  }
  return out;
}

bool UnescapeName(std::string* name) {
  std::string out;
  for (size_t i = 0; i < name->size(); ++i) {
    char c = (*name)[i];
    if (c == '\\') {
      if (++i == name->size()) return false;
      switch ((*name)[i]) {
        case '\\': c = '\\'; break;
        case 't': c = '\t'; break;
        case 'n': c = '\n'; break;
        case 'r': c = '\r'; break;
        default: return false;
      }
    }
    out += c;
  }
  *name = std::move(out);
  return true;
}

bool ParseJournal(const std::string& text, std::vector<JournalEntry>* out) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || (line != kJournalHead && line != kJournalHeadPlain)) return false;
  const bool escaped = line == kJournalHead;
  while (std::getline(in, line)) {
    if (line == kJournalEnd) return true;
    JournalEntry e;
    size_t t1 = line.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : line.find('\t', t1 + 1);
    if (t2 == std::string::npos) return false;
    e.new_name = line.substr(0, t1);
    e.final_name = line.substr(t1 + 1, t2 - t1 - 1);
    e.backup_name = line.substr(t2 + 1);
    for (std::string* n : {&e.new_name, &e.final_name, &e.backup_name}) {
      if (escaped && !UnescapeName(n)) return false;
    }
    // Names are plain file parts of the table's directory.
    for (const std::string* n : {&e.new_name, &e.final_name, &e.backup_name}) {
      if (n->find('/') != std::string::npos || *n == "." || *n == "..") return false;
    }
    if (e.new_name.empty() || e.final_name.empty()) return false;
    out->push_back(std::move(e));
  }
  return false;  // cut short: never committed
}

// Puts new in place of final, keeping final under backup first when asked.
void SwapOne(const std::string& dir, const JournalEntry& e) {
  std::string new_path = InDir(dir, e.new_name), final_path = InDir(dir, e.final_name);
  if (!FileExists(new_path)) return;  // already swapped
  if (!e.backup_name.empty() && FileExists(final_path)) {
    std::string backup = InDir(dir, e.backup_name);
    (void)DeleteFile(backup);
    (void)LinkFile(final_path, backup);
  }
  (void)RenameFile(new_path, final_path);
}

}  // namespace

TableRewrite::TableRewrite(std::vector<std::string> finals) {
  for (std::string& f : finals) entries_.push_back(Entry{std::move(f), "", File()});
}

TableRewrite::~TableRewrite() {
  if (!committed_) RemoveNewFiles();
}

void TableRewrite::RemoveNewFiles() {
  for (Entry& e : entries_) {
    e.file.Close();
    if (!e.new_name.empty()) (void)DeleteFile(e.new_name);
  }
  if (journal_.is_open()) {
    std::string name = journal_.path();
    journal_.Close();
    (void)DeleteFile(name);
  }
}

std::string TableRewrite::JournalName(const std::string& table) { return table + ".vosk-swap"; }

int TableRewrite::Begin(std::string* failed) {
  for (Entry& e : entries_) {
    std::string part = FilePartOf(e.final_name);
    e.new_name = OwnedFileName(DirectoryOf(e.final_name), BaseOf(part) + ".",
                               "." + ExtensionOf(part) + kNewSuffix);
    if (int rc = e.file.Create(e.new_name, Share::kExclusive)) {
      e.new_name.clear();
      *failed = e.final_name;
      return rc;
    }
  }
  return 0;
}

int TableRewrite::Adopt(const std::vector<std::string>& built, std::string* failed) {
  for (size_t i = 0; i < entries_.size() && i < built.size(); ++i) {
    Entry& e = entries_[i];
    e.new_name = built[i];
    if (int rc = e.file.Open(e.new_name, Access::kReadWrite, Share::kExclusive)) {
      *failed = e.new_name;
      return rc;
    }
  }
  return 0;
}

int TableRewrite::Commit(std::string* failed) {
  if (entries_.empty()) return 0;
  for (Entry& e : entries_) {
    if (!e.file.Commit()) {
      *failed = e.new_name;
      return e.file.last_error();
    }
  }
  const std::string table = entries_[0].final_name;
  const std::string dir = DirectoryOf(table);
  std::string text = std::string(kJournalHead) + "\n";
  for (size_t i = 0; i < entries_.size(); ++i) {
    text += EscapedName(FilePartOf(entries_[i].new_name)) + "\t" +
            EscapedName(FilePartOf(entries_[i].final_name)) + "\t" +
            (i < backups_.size() ? EscapedName(FilePartOf(backups_[i])) : std::string()) + "\n";
  }
  text += std::string(kJournalEnd) + "\n";
  std::string journal_new = OwnedFileName(dir, BaseOf(FilePartOf(table)) + ".", ".swap" +
                                          std::string(kNewSuffix));
  *failed = journal_new;
  if (int rc = journal_.Create(journal_new, Share::kExclusive)) return rc;
  if (journal_.WriteAt(text.data(), text.size(), 0) != static_cast<int64_t>(text.size()) ||
      !journal_.Commit() || !journal_.RenameTo(JournalName(table))) {
    return journal_.last_error() ? journal_.last_error() : kOsGeneric;
  }
  *failed = dir;
  if (!SyncDirectory(dir)) return kOsGeneric;
  // The swap is committed: from here on the next open finishes it whatever happens.
  committed_ = true;
  CrashPoint("rewrite-journal");
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (i < backups_.size() && !backups_[i].empty() && FileExists(e.final_name)) {
      (void)DeleteFile(backups_[i]);
      if (!LinkFile(e.final_name, backups_[i])) {
        *failed = backups_[i];
        return kOsGeneric;
      }
    }
    if (!e.file.RenameTo(e.final_name)) {
      *failed = e.final_name;
      return e.file.last_error();
    }
    CrashPoint("rewrite-swap");
  }
  *failed = dir;
  if (!SyncDirectory(dir)) return kOsGeneric;
  std::string journal = journal_.path();
  (void)DeleteFile(journal);
  journal_.Close();
  (void)SyncDirectory(dir);
  return 0;
}

void TableRewrite::Recover(const std::string& table) {
  const std::string dir = DirectoryOf(table);
  const std::string journal = ResolveCase(JournalName(table));
  if (FileExists(journal)) {
    File j;
    int rc = j.Open(journal, Access::kReadWrite, Share::kExclusive);
    for (int i = 0; rc == kOsSharingViolation && i < kJournalWaitSteps; ++i) {
      SleepMillis(kJournalWaitMillis);  // another process is in the middle of the swap
      rc = j.Open(journal, Access::kReadWrite, Share::kExclusive);
    }
    if (rc == 0 && j.IsLinked()) {
      int64_t size = j.Size();
      std::string text(size > 0 && size < (1 << 20) ? static_cast<size_t>(size) : 0, '\0');
      std::vector<JournalEntry> entries;
      if (j.ReadAt(text.data(), text.size(), 0) == static_cast<int64_t>(text.size()) &&
          ParseJournal(text, &entries)) {
        for (const JournalEntry& e : entries) SwapOne(dir, e);
        (void)SyncDirectory(dir);
      }
      (void)DeleteFile(journal);
      (void)SyncDirectory(dir);
    }
  }
  // Every owned file after the table's name whose owner is gone: the new files of a rewrite
  // and the scratch table (with its memo file) of a restructure.
  (void)RemoveOrphanedFiles(dir, BaseOf(FilePartOf(table)) + ".", "");
}

}  // namespace vosk
