#ifndef VOSK_TESTS_APP_APP_FIXTURE_H_
#define VOSK_TESTS_APP_APP_FIXTURE_H_

// The Application's test bed: a fresh temporary directory as the current directory, a settings
// file inside it, a scripted Ui, and the start-up routine run as the program runs it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/current_table.h"
#include "app/filename.h"
#include "app/scripted_ui.h"
#include "app/startup.h"
#include "app/ui.h"
#include "app/voskdbu.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"

namespace vosk {

struct DbfField {
  std::string name;
  char type;
  int len, dec;
};

// Writes a DBF table byte by byte: header, descriptors, 0x0D, the records (each value already
// padded to its field's width), 0x1A.
inline void WriteDbf(const std::string& path, const std::vector<DbfField>& fields,
                     const std::vector<std::vector<std::string>>& rows) {
  auto le16 = [](std::string& s, int v) {
    s += char(v & 0xFF);
    s += char((v >> 8) & 0xFF);
  };
  auto le32 = [&](std::string& s, uint32_t v) {
    le16(s, v & 0xFFFF);
    le16(s, v >> 16);
  };
  int record_len = 1;
  for (const DbfField& f : fields) record_len += f.len;
  std::string b;
  b += '\x03';
  b += char(124), b += char(1), b += char(15);  // last update 2024-01-15
  le32(b, static_cast<uint32_t>(rows.size()));
  le16(b, 32 + 32 * static_cast<int>(fields.size()) + 1);
  le16(b, record_len);
  b.append(20, '\0');
  for (const DbfField& f : fields) {
    std::string d = f.name;
    d.resize(11, '\0');
    d += f.type;
    d.append(4, '\0');
    d += char(f.len), d += char(f.dec);
    d.append(14, '\0');
    b += d;
  }
  b += '\x0D';
  for (const auto& row : rows) {
    b += ' ';
    for (const std::string& v : row) b += v;
  }
  b += '\x1A';
  std::ofstream(path, std::ios::binary) << b;
}

// The text in upper case (ASCII letters), as messages name files.
inline std::string UpperCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/app_test.XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    ini_ = dir_ + "/VOSKDBU.INI";
    SetIniFileName(ini_);
    GlobalSettings().Reset();
    CurTable() = CurrentTableState{};
    SetUi(&ui_);
    StartUp(ui_);
  }
  void TearDown() override {
    try {
      CLOSEALL();
    } catch (...) {
    }
    SetErrorHandler(nullptr);
    SetUi(nullptr);
    SetIniFileName("");
    std::filesystem::current_path(old_dir_);
    std::filesystem::remove_all(dir_);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Record numbers in the order of the view.
  static std::vector<uint32_t> Walk() {
    std::vector<uint32_t> records;
    const uint32_t back = RECNO();
    for (DBGOTOP(); !EOF_(); DBSKIP(1)) records.push_back(RECNO());
    DBGOTO(Value::Integer(back));
    return records;
  }
  // The texts of the message boxes shown so far.
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages) texts.push_back(m.text);
    return texts;
  }
  void Ini(const std::string& key, const std::string& value) {
    WRITEPPROSTRING("Parametri", key, value, ini_);
  }
  std::string IniValue(const std::string& key) {
    return GETPVPROFSTRING("Parametri", key, "<none>", ini_);
  }
  // A table of five fields and ten records.
  std::string MakeClienti(const std::string& name = "CLIENTI.DBF") {
    std::vector<std::vector<std::string>> rows;
    for (int i = 1; i <= 10; ++i) {
      std::string n = std::to_string(i);
      rows.push_back({std::string(4 - n.size(), ' ') + n,
                      "Cliente " + n + std::string(12 - 8 - n.size(), ' '), "Roma      ",
                      "20240115", i % 2 ? "T" : "F"});
    }
    WriteDbf(Path(name),
             {{"CODICE", 'N', 4, 0},
              {"NOME", 'C', 12, 0},
              {"CITTA", 'C', 10, 0},
              {"DATA", 'D', 8, 0},
              {"ATTIVO", 'L', 1, 0}},
             rows);
    return Path(name);
  }

  ScriptedUi ui_;
  std::string dir_, old_dir_, ini_;
};

}  // namespace vosk

#endif  // VOSK_TESTS_APP_APP_FIXTURE_H_
