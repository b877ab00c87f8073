// The record cipher and whole-table encipher/decipher.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "expr/expression.h"
#include "expr/memvars.h"
#include "expr/runtime_error.h"
#include "expr/settings.h"
#include "rdd/db_commands.h"
#include "rdd/dbf1/record_cipher.h"

namespace vosk {
namespace {

// A second, deliberately plain transcription of the cipher, kept apart from the engine's.
std::vector<uint8_t> ReferenceCipher(const uint8_t key[8], std::vector<uint8_t> data, bool enc) {
  uint32_t w[7];
  for (int i = 0; i < 7; i++) w[i] = key[i] | (key[i + 1] << 8);
  uint32_t s = 0;
  for (int i = 0; i < 7; i++) s = (((s << 16) | (s >> 16)) * 17 + w[i]) & 0xFFFFFFFFu;
  s |= 1;
  uint32_t mask = s & 0xFFFF;
  uint32_t state = (s << 16) | (s >> 16);
  int pos = 0;
  for (auto& byte : data) {
    uint32_t b = mask & 0xFF;
    int r = b & 7;
    if (enc) {
      uint32_t rot = ((byte >> r) | (byte << (8 - r))) & 0xFF;
      byte = static_cast<uint8_t>((rot + b) & 0xFF);
    } else {
      uint32_t t = (byte - b) & 0xFF;
      byte = static_cast<uint8_t>(((t << r) | (t >> (8 - r))) & 0xFF);
    }
    state = (state * 663608941u) & 0xFFFFFFFFu;
    mask = (((state >> 16) | 1) + w[pos]) & 0xFFFF;
    pos = (pos + 1) % 7;
  }
  return data;
}

TEST(RecordCipher, MatchesReferenceForSeveralKeys) {
  const uint8_t keys[][8] = {{'S', 'E', 'G', 'R', 'E', 'T', 'O', 0},
                             {0xFF, 0x01, 0x80, 0x7F, 0x00, 0x10, 0xAA, 0x55},
                             {0, 0, 0, 0, 0, 0, 0, 0}};
  std::vector<uint8_t> plain;
  for (int i = 0; i < 300; ++i) plain.push_back(static_cast<uint8_t>(i * 7 + 3));
  for (const auto& k : keys) {
    CipherKey key;
    std::copy(k, k + 8, key.begin());
    std::vector<uint8_t> mine = plain;
    EncipherBytes(key, mine.data(), mine.size());
    EXPECT_EQ(mine, ReferenceCipher(k, plain, true));
    EXPECT_NE(mine, plain);
    DecipherBytes(key, mine.data(), mine.size());
    EXPECT_EQ(mine, plain);
  }
}

TEST(RecordCipher, PasswordKeyIsPaddedPasswordEncipheredWithItself) {
  const uint8_t padded[8] = {'a', 'b', 'c', 0, 0, 0, 0, 0};
  std::vector<uint8_t> expect = ReferenceCipher(padded, {padded, padded + 8}, true);
  CipherKey key = KeyFromPassword("abc");
  EXPECT_EQ(std::vector<uint8_t>(key.begin(), key.end()), expect);
  // Only the first 8 bytes count.
  EXPECT_EQ(KeyFromPassword("12345678"), KeyFromPassword("123456789abc"));
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

TEST(EncipheredTable, EncipherThenDecipherRestoresBytesAndVersion) {
  InitDatabaseEngine();
  std::string path = ::testing::TempDir() + "cipher_roundtrip.dbf";
  ValueArray structure = {Value::Array({Value::String("NAME"), Value::String("C"),
                                        Value::Integer(12), Value::Integer(0)}),
                          Value::Array({Value::String("QTY"), Value::String("N"),
                                        Value::Integer(5), Value::Integer(0)})};
  ASSERT_TRUE(DBCREATE(path, structure, "DBF"));
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("row " + std::to_string(i)));
    FIELDPUT(2, Value::Integer(i * 10));
  }
  DBGOTO(Value::Integer(2));
  DBDELETE();
  DBCOMMIT();
  DBCLOSEAREA();
  std::vector<uint8_t> before = ReadAll(path);

  ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
  EXPECT_TRUE(DBINFO(140, Value::String("segreto")).logical());
  DBCLOSEAREA();
  std::vector<uint8_t> enciphered = ReadAll(path);
  ASSERT_EQ(enciphered.size(), before.size());
  EXPECT_EQ(enciphered[0], 0x06);
  uint16_t hl = before[8] | (before[9] << 8), rl = before[10] | (before[11] << 8);
  EXPECT_EQ(enciphered[hl], 'E');
  EXPECT_EQ(enciphered[hl + rl], 'D');  // record 2 was deleted
  // The stored bytes are the reference cipher of the clear ones under the password's key.
  CipherKey key = KeyFromPassword("segreto");
  std::vector<uint8_t> clear(before.begin() + hl + 1, before.begin() + hl + rl);
  EXPECT_EQ(std::vector<uint8_t>(enciphered.begin() + hl + 1, enciphered.begin() + hl + rl),
            ReferenceCipher(key.data(), clear, true));

  // Reading with the password gives the clear values; then decipher restores the file.
  RDDINFO(41, Value::String("segreto"), "DBF");
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
  DBGOTO(Value::Integer(3));
  EXPECT_EQ(FIELDGET(1).str(), "row 3       ");
  DBGOTO(Value::Integer(2));
  EXPECT_TRUE(DELETED());
  EXPECT_TRUE(DBINFO(141).logical());
  DBCLOSEAREA();
  std::vector<uint8_t> after = ReadAll(path);
  ASSERT_EQ(after.size(), before.size());
  // Everything but the date of last update is as before.
  for (size_t i = 0; i < after.size(); ++i) {
    if (i >= 1 && i <= 3) continue;
    EXPECT_EQ(after[i], before[i]) << "byte " << i;
  }
}

TEST(EncipheredTable, PackKeepsRecordsEncipheredAndReportsProgress) {
  InitDatabaseEngine();
  std::string path = ::testing::TempDir() + "cipher_pack.dbf";
  ValueArray structure = {Value::Array({Value::String("NAME"), Value::String("C"),
                                        Value::Integer(12), Value::Integer(0)})};
  RDDINFO(41, Value::String("segreto"), "DBF");  // the new table is enciphered
  ASSERT_TRUE(DBCREATE(path, structure, "DBF"));
  RDDINFO(41, Value::String("segreto"), "DBF");
  ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
  for (int i = 1; i <= 7; ++i) {
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("plain row " + std::to_string(i)));
    if (i % 3 == 0) DBDELETE();
  }
  SetMemvar("NPACKCALLS", Value::Integer(0));
  ASSERT_TRUE(DBPACK(EvalText("{|| NPACKCALLS := NPACKCALLS + 1}"), 3));
  EXPECT_EQ(FindMemvar("NPACKCALLS")->integer(), 3);  // after 3 and 6 records, then the rest
  EXPECT_EQ(LASTREC(), 5u);
  DBGOTO(Value::Integer(5));
  EXPECT_EQ(FIELDGET(1).str(), "plain row 7 ");
  DBCLOSEAREA();
  std::vector<uint8_t> bytes = ReadAll(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("plain row"), std::string::npos);
  uint16_t hl = bytes[8] | (bytes[9] << 8), rl = bytes[10] | (bytes[11] << 8);
  for (int r = 0; r < 5; ++r) EXPECT_EQ(bytes[hl + r * rl], 'E') << "record " << r + 1;
}

// Clear and enciphered records never mix: writing an enciphered table without its password or
// with another one, or a clear table with one, is refused and leaves the file as it was;
// reading without the password still works and shows the enciphered bytes.
TEST(EncipheredTable, WritesWithTheWrongKindOfKeyAreRefused) {
  InitDatabaseEngine();
  std::vector<RuntimeError> errors;
  ScopedErrorHandler handler([&](const RuntimeError& e) {
    errors.push_back(e);
    return ErrorAnswer::Default();
  });
  ValueArray structure = {Value::Array({Value::String("NAME"), Value::String("C"),
                                        Value::Integer(12), Value::Integer(0)})};
  const struct {
    const char* label;
    bool enciphered;       // the table
    const char* password;  // given to the open ("" none)
    const char* refusal;
  } cases[] = {
      {"enciphered table, no password", true, "", "no password"},
      {"enciphered table, another password", true, "sbagliata", "Wrong password"},
      {"clear table, a password", false, "segreto", "not enciphered"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = ::testing::TempDir() + "cipher_mix" + std::to_string(++n) + ".dbf";
    if (c.enciphered) RDDINFO(41, Value::String("segreto"), "DBF");
    ASSERT_TRUE(DBCREATE(path, structure, "DBF"));
    if (c.enciphered) RDDINFO(41, Value::String("segreto"), "DBF");
    ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
    ASSERT_TRUE(DBAPPEND());
    FIELDPUT(1, Value::String("first row"));
    DBCLOSEAREA();
    std::vector<uint8_t> before = ReadAll(path);

    if (*c.password) RDDINFO(41, Value::String(c.password), "DBF");
    ASSERT_TRUE(DBUSEAREA(true, "DBF", path, "CIPH", false, false));
    errors.clear();
    EXPECT_FALSE(DBAPPEND());
    DBGOTO(Value::Integer(1));
    FIELDPUT(1, Value::String("changed"));
    DBDELETE();
    EXPECT_FALSE(DBPACK());
    EXPECT_FALSE(DBZAP());
    ASSERT_EQ(errors.size(), 5u);
    for (const RuntimeError& e : errors) {
      EXPECT_EQ(e.gen_code, kEgReadonly);
      EXPECT_EQ(e.sub_code, kEdfReadonly);
      EXPECT_NE(e.description.find(c.refusal), std::string::npos) << e.description;
    }
    EXPECT_EQ(LASTREC(), 1u);
    std::string shown = FIELDGET(1).str();
    EXPECT_EQ(shown == "first row   ", !c.enciphered);  // enciphered bytes without the key
    DBCLOSEAREA();
    EXPECT_EQ(ReadAll(path), before);
  }
}

}  // namespace
}  // namespace vosk
