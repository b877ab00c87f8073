#ifndef VOSK_TESTS_RDD_MEMO_TEST_SUPPORT_H_
#define VOSK_TESTS_RDD_MEMO_TEST_SUPPORT_H_

// The memo layer's test bed: tables created through DBFFPT with a chosen memo kind, variant and
// block size, and readers of memo-file bytes that do not go through the engine.

#include <string>
#include <vector>

#include "rdd/dbffpt/fpt_area.h"
#include "rdd_fixture.h"

namespace vosk {

struct MemoSetup {
  int memo_kind = 2;   // 1 DBT, 2 FPT, 3 SMT
  int variant = 1;     // FPT: 1 plain, 2 SIx, 3 FlexFile, 4 CLIP
  int block_size = 0;  // 0: the driver's default
  int table_kind = 1;  // 1 standard, 2 Visual FoxPro, 3 dBase IV
};

class MemoTest : public RddTest {
 protected:
  // Creates `name` through DBFFPT and leaves it open (exclusive) in a new area (under the
  // alias given, else one after the name).
  void CreateOpen(const std::string& name, const std::vector<FieldRow>& rows,
                  const MemoSetup& setup = MemoSetup(), const std::string& alias = "") {
    DbfDriverSettings& s = FindDriver("DBFFPT")->settings();
    s.memo_type = setup.memo_kind;
    s.memo_variant = setup.variant;
    s.memo_block_size = setup.block_size;
    s.table_kind = setup.table_kind;
    ASSERT_TRUE(DBCREATE(Path(name), Structure(rows), "DBFFPT", true, alias)) << ErrorText();
  }
  FptArea* Area() const { return dynamic_cast<FptArea*>(CurrentArea()); }
  void Append() { ASSERT_TRUE(DBAPPEND()) << ErrorText(); }
  void Put(int pos, const Value& v) {
    ASSERT_TRUE(Ok(Area()->put_value(pos, v))) << ErrorText();
    ASSERT_TRUE(Ok(Area()->go_cold())) << ErrorText();
  }
  Value Get(int pos) {
    Value v;
    EXPECT_TRUE(Ok(Area()->get_value(pos, &v))) << ErrorText();
    return v;
  }
  Value Info(int code, const Value& nv = Value()) {
    Value v;
    EXPECT_TRUE(Ok(Area()->info(code, nv, &v)));
    return v;
  }
  Value FieldInfo(int pos, int what) {
    Value v;
    EXPECT_TRUE(Ok(Area()->field_info(pos, what, &v))) << ErrorText();
    return v;
  }
  // The raw reference bytes of field pos of the current record.
  std::string RefBytes(int pos) {
    std::string rec;
    EXPECT_TRUE(Ok(Area()->get_record(&rec)));
    const Field& f = Area()->field(pos);
    return rec.substr(f.offset, f.length);
  }
};

inline uint32_t Be32(const std::string& b, size_t off) {
  return (static_cast<uint32_t>(static_cast<uint8_t>(b[off])) << 24) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b[off + 1])) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b[off + 2])) << 8) |
         static_cast<uint32_t>(static_cast<uint8_t>(b[off + 3]));
}

inline std::string Be32Bytes(uint32_t v) {
  std::string s(4, '\0');
  s[0] = static_cast<char>(v >> 24);
  s[1] = static_cast<char>(v >> 16);
  s[2] = static_cast<char>(v >> 8);
  s[3] = static_cast<char>(v);
  return s;
}

}  // namespace vosk

#endif  // VOSK_TESTS_RDD_MEMO_TEST_SUPPORT_H_
