// Memo values: FPT value types in each variant, variant fields, free-space reuse, pack, zap,
// damaged memo files and the memo write lock.

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "memo_test_support.h"
#include "platform/file.h"

namespace vosk {
namespace {

using test::GetLe;

class MemoValuesTest : public MemoTest {};

bool SameValue(const Value& a, const Value& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Value::Type::kNil: return true;
    case Value::Type::kLogical: return a.logical() == b.logical();
    case Value::Type::kInteger: return a.integer() == b.integer();
    case Value::Type::kDouble: return a.dbl() == b.dbl();
    case Value::Type::kDate: return a.julian() == b.julian();
    case Value::Type::kTimestamp: return a.julian() == b.julian() && a.millis() == b.millis();
    case Value::Type::kString: return a.str() == b.str();
    case Value::Type::kArray:
      if (a.array().size() != b.array().size()) return false;
      for (size_t i = 0; i < a.array().size(); ++i) {
        if (!SameValue(a.array()[i], b.array()[i])) return false;
      }
      return true;
    default: return false;
  }
}

// What each serialised form stores for a value: the FPT type on disk.
TEST_F(MemoValuesTest, FptValueTypesRoundTripInSixAndFlexFile) {
  Value nested = Value::Array({Value::Integer(1), Value::String("two"), Value(),
                               Value::Array({Value::Logical(false), Value::Date(2450001)}),
                               Value::Timestamp(2450002, 1234), Value::Double(2.25, 8, 2)});
  const struct {
    const char* label;
    Value v;
    uint32_t six_type;
    uint32_t flex_type;
  } cases[] = {
      {"text", Value::String("memo text", true), 1, 1},
      {"int8", Value::Integer(-5), 2, 1010},
      {"int16", Value::Integer(3000), 2, 1012},
      {"int32", Value::Integer(-70000), 2, 1014},
      {"int64", Value::Integer(int64_t{1} << 40), 2, 1016},
      {"double", Value::Double(3.5, 10, 2), 8, 1016},
      {"date", Value::Date(2451545), 32, 1009},
      {"true", Value::Logical(true), 128, 1007},
      {"false", Value::Logical(false), 128, 1008},
      {"array", nested, 32768, 1002},
  };
  for (int variant : {2, 3}) {
    DBCLOSEALL();
    std::string base = "v" + std::to_string(variant);
    CreateOpen(base + ".dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = variant, .block_size = 32});
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.label) + " in variant " + std::to_string(variant));
      Append();
      Put(1, c.v);
      uint32_t block = static_cast<uint32_t>(FieldInfo(1, 204).integer());
      std::string b = Bytes(Path(base + ".fpt"));
      ASSERT_GT(b.size(), block * 32u + 8);
      EXPECT_EQ(Be32(b, block * 32u), variant == 2 ? c.six_type : c.flex_type);
      Value back = Get(1);
      if (c.v.is_integer() && variant == 3 && c.flex_type == 1016) {
        EXPECT_EQ(back.number(), c.v.number());  // 64-bit integers go as doubles in FlexFile
      } else {
        EXPECT_TRUE(SameValue(back, c.v)) << back.type_letter();
      }
    }
  }
}

TEST_F(MemoValuesTest, FlexFilePadsTheLastBlock) {
  CreateOpen("p.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 64});
  Append();
  Put(1, Value::String("abc"));  // 11 bytes of a 64-byte block
  std::string b = Bytes(Path("p.fpt"));
  ASSERT_EQ(b.size(), 17u * 64);
  EXPECT_EQ(b.substr(512, 11), "FlexFile3\x03" + std::string(1, '\0'));
  EXPECT_EQ(static_cast<uint8_t>(b[17 * 64 - 1]), 0xAF);
  Put(1, Value::String(std::string(56, 'x')));  // exactly one block: no pad byte
  b = Bytes(Path("p.fpt"));
  EXPECT_EQ(b.substr(static_cast<size_t>(FieldInfo(1, 203).integer()), 56), std::string(56, 'x'));
}

TEST_F(MemoValuesTest, NilStoresNoMemo) {
  CreateOpen("n.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3});
  Append();
  Put(1, Value::Integer(5));
  Put(1, Value());
  EXPECT_EQ(RefBytes(1), std::string(10, ' '));
  EXPECT_EQ(Get(1).str(), "");
}

TEST_F(MemoValuesTest, SixFreeListReusesFirstRunLongEnough) {
  CreateOpen("s.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 2, .block_size = 32});
  // Records 1-4 hold values of 3, 1, 5 and 1 blocks from block 16 on (16, 19, 20, 25).
  const size_t lengths[] = {80, 10, 150, 10};
  for (size_t len : lengths) {
    Append();
    Put(1, Value::String(std::string(len, 'a')));
  }
  std::string memo = Path("s.fpt");
  EXPECT_EQ(Be32(Bytes(memo), 0), 26u);
  for (uint32_t r : {1u, 3u}) {
    ASSERT_TRUE(Ok(Area()->go_to(r)));
    Put(1, Value::String(""));
  }
  std::string b = Bytes(memo);
  ASSERT_EQ(GetLe(b, 18, 2), 2u);
  // Sorted by length: the 3-block run at 16, then the 5-block run at 20.
  EXPECT_EQ(GetLe(b, 20, 2), 3u);
  EXPECT_EQ(GetLe(b, 22, 4), 16u);
  EXPECT_EQ(GetLe(b, 26, 2), 5u);
  EXPECT_EQ(GetLe(b, 28, 4), 20u);

  ASSERT_TRUE(Ok(Area()->go_to(4)));
  Put(1, Value::String(std::string(100, 'b')));  // 4 blocks: only the 5-block run fits
  EXPECT_EQ(FieldInfo(1, 204).integer(), 20);
  b = Bytes(memo);
  // Once the change was written, the old value at 25 went back to the end of the file, and
  // the block left of the 5-block run with it.
  ASSERT_EQ(GetLe(b, 18, 2), 1u);
  EXPECT_EQ(GetLe(b, 20, 2), 3u);
  EXPECT_EQ(GetLe(b, 22, 4), 16u);
  EXPECT_EQ(Be32(b, 0), 24u);
  EXPECT_EQ(Get(1).str(), std::string(100, 'b'));

  ASSERT_TRUE(Ok(Area()->go_to(2)));
  Put(1, Value::String(std::string(100, 'c')));  // 4 blocks: no run fits, the end does
  EXPECT_EQ(FieldInfo(1, 204).integer(), 24);
  b = Bytes(memo);
  ASSERT_EQ(GetLe(b, 18, 2), 1u);  // the old block 19 joined 16-18 once the change was written
  EXPECT_EQ(GetLe(b, 20, 2), 4u);
  EXPECT_EQ(GetLe(b, 22, 4), 16u);
  EXPECT_EQ(Get(1).str(), std::string(100, 'c'));
  ASSERT_TRUE(Ok(Area()->go_to(3)));
  Put(1, Value::String(std::string(90, 'd')));  // takes the 4-block run
  EXPECT_EQ(FieldInfo(1, 204).integer(), 16);
  EXPECT_EQ(GetLe(Bytes(memo), 18, 2), 0u);
  ASSERT_TRUE(Ok(Area()->go_to(4)));
  EXPECT_EQ(Get(1).str(), std::string(100, 'b'));
}

TEST_F(MemoValuesTest, PlainFptForgetsRunsNotAtTheEnd) {
  CreateOpen("pl.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 1, .block_size = 32});
  for (int i = 0; i < 2; ++i) {
    Append();
    Put(1, Value::String(std::string(50, 'a')));
  }
  ASSERT_TRUE(Ok(Area()->go_to(1)));
  Put(1, Value::String(""));  // blocks 16-17: forgotten
  ASSERT_TRUE(Ok(Area()->go_to(2)));
  Put(1, Value::String(""));  // blocks 18-19 end the file: given back, but 16-17 are not
  EXPECT_EQ(Be32(Bytes(Path("pl.fpt")), 0), 18u);
  Put(1, Value::String(std::string(10, 'b')));
  EXPECT_EQ(FieldInfo(1, 204).integer(), 18);
  EXPECT_EQ(Be32(Bytes(Path("pl.fpt")), 0), 19u);
}

TEST_F(MemoValuesTest, FlexFileListBlocks) {
  CreateOpen("fx.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 64});
  for (int i = 0; i < 3; ++i) {
    Append();
    Put(1, Value::String(std::string(100, static_cast<char>('a' + i))));  // 2 blocks each
  }
  std::string memo = Path("fx.fpt");
  ASSERT_EQ(Be32(Bytes(memo), 0), 22u);  // 16 + 3 x 2
  ASSERT_TRUE(Ok(Area()->go_to(2)));
  Put(1, Value::String(""));
  std::string b = Bytes(memo);
  // Both list blocks (1018 bytes = 16 blocks each) go to the end of the file.
  EXPECT_EQ(Be32(b, 0), 22u + 32);
  uint32_t main = GetLe(b, 528, 4), second = GetLe(b, 524, 4);
  EXPECT_EQ(main, 22u * 64);
  EXPECT_EQ(second, 38u * 64);
  EXPECT_EQ(GetLe(b, 532, 4), 4u);  // saved by every write: three appends and the free
  EXPECT_EQ(Be32(b, main), 1000u);
  EXPECT_EQ(Be32(b, main + 4), 1010u);
  EXPECT_EQ(GetLe(b, main + 8, 2), 4u * 1 + 3);
  EXPECT_EQ(GetLe(b, main + 10, 4), 18u * 64);  // byte offset
  EXPECT_EQ(GetLe(b, main + 14, 4), 2u * 64);   // byte length
  EXPECT_EQ(static_cast<uint8_t>(b[main + 18]), 0xAD);
  EXPECT_EQ(GetLe(b, second + 10, 4), 2u * 64);  // length first in the second list
  EXPECT_EQ(GetLe(b, second + 14, 4), 18u * 64);

  // Reopened, the list is read back and the run reused.
  DBCLOSEALL();
  ASSERT_TRUE(Use(Path("fx.dbf"), false, false, "", "DBFFPT")) << ErrorText();
  ASSERT_TRUE(Ok(Area()->go_to(2)));
  Put(1, Value::String(std::string(40, 'z')));  // one of the two blocks
  EXPECT_EQ(FieldInfo(1, 204).integer(), 18);
  b = Bytes(memo);
  EXPECT_EQ(GetLe(b, main + 8, 2), 4u * 1 + 3);
  EXPECT_EQ(GetLe(b, main + 10, 4), 19u * 64);
  EXPECT_EQ(GetLe(b, main + 14, 4), 1u * 64);
  EXPECT_EQ(GetLe(b, 532, 4), 5u);
}

TEST_F(MemoValuesTest, EmptyFlexListAtTheEndIsGivenBack) {
  CreateOpen("fe.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 64});
  for (int i = 0; i < 2; ++i) {
    Append();
    Put(1, Value::String(std::string(100, 'a')));
  }
  ASSERT_TRUE(Ok(Area()->go_to(1)));
  Put(1, Value::String(""));  // run 16-17 listed, list blocks at 20-51
  std::string memo = Path("fe.fpt");
  ASSERT_EQ(Be32(Bytes(memo), 0), 52u);
  ASSERT_NE(GetLe(Bytes(memo), 528, 4), 0u);
  Put(1, Value::String(std::string(100, 'b')));  // takes 16-17: the list empties
  EXPECT_EQ(FieldInfo(1, 204).integer(), 16);
  std::string b = Bytes(memo);
  EXPECT_EQ(GetLe(b, 524, 4), 0u);
  EXPECT_EQ(GetLe(b, 528, 4), 0u);
  EXPECT_EQ(Be32(b, 0), 20u);
  EXPECT_EQ(b.size(), 20u * 64);
}

TEST_F(MemoValuesTest, VariantFields) {
  CreateOpen("va.dbf", {{"V", "V", 10, 0}, {"W", "V", 20, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 32});
  EXPECT_EQ(Info(135).integer(), 2);  // a variant field makes the file SIx
  Append();
  const struct {
    const char* label;
    Value v;
    uint16_t type_word;
    bool memo;
  } cases[] = {
      {"short text", Value::String("abc"), 3, false},
      {"text filling the field", Value::String("12345678"), 8, false},
      {"long text", Value::String("a text longer than the field"), 28, true},
      {"date", Value::Date(2451545), 64001, false},
      {"integer", Value::Integer(-123456), 64002, false},
      {"logical", Value::Logical(true), 64003, false},
      {"number", Value::Double(12.75, 8, 2), 64004, true},  // width 10: an 11-byte memo record
      {"timestamp", Value::Timestamp(2451545, 3600000), 64006, true},
      {"long integer", Value::Integer(int64_t{1} << 40), 64007, true},
      {"array", Value::Array({Value::String("x"), Value::Integer(2)}), 64005, true},
      {"nil", Value(), 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Put(1, c.v);
    std::string ref = RefBytes(1);
    EXPECT_EQ(GetLe(ref, 8, 2), c.type_word);
    if (c.memo) EXPECT_NE(GetLe(ref, 4, 4), 0u);  // otherwise these bytes may hold data
    Value back = Get(1);
    EXPECT_TRUE(SameValue(back, c.v)) << back.type_letter();
  }
  Put(1, Value::String("a text longer than the field"));
  EXPECT_EQ(RefBytes(1).substr(0, 4), "a te");
  // Wider fields keep numbers inline: width, decimals, double.
  Put(2, Value::Double(-0.5, 6, 1));
  std::string w = RefBytes(2);
  EXPECT_EQ(GetLe(w, 18, 2), 64004u);
  EXPECT_EQ(GetLe(w, 14, 4), 0u);
  EXPECT_EQ(static_cast<uint8_t>(w[0]), 6);
  EXPECT_EQ(static_cast<uint8_t>(w[1]), 1);
  EXPECT_EQ(Get(2).dbl(), -0.5);
  // Text is cut at 64000 characters.
  Put(2, Value::String(std::string(70000, 'q')));
  EXPECT_EQ(Get(2).str().size(), 64000u);
}

TEST_F(MemoValuesTest, VariantRewritesFreeTheirMemoPart) {
  CreateOpen("vf.dbf", {{"V", "V", 10, 0}}, {.memo_kind = 2, .block_size = 32});
  Append();
  Put(1, Value::String(std::string(200, 'a')));
  size_t size = Bytes(Path("vf.fpt")).size();
  Put(1, Value::Integer(1));
  EXPECT_LT(Bytes(Path("vf.fpt")).size(), size);  // the memo part was the last value
}

TEST_F(MemoValuesTest, PackKeepsSurvivingValuesInRecordOrder) {
  for (int kind : {1, 2, 3}) {
    SCOPED_TRACE(kind);
    DBCLOSEALL();
    std::string base = "pk" + std::to_string(kind);
    CreateOpen(base + ".dbf", {{"ID", "N", 2, 0}, {"NOTE", "M", 10, 0}},
               {.memo_kind = kind, .variant = 3, .block_size = 32});
    for (int i = 1; i <= 5; ++i) {
      Append();
      Put(1, Value::Integer(i));
      if (i != 4) Put(2, Value::String(std::string(40 + i, static_cast<char>('a' + i))));
    }
    // Rewrite record 1 so its value moves behind the others.
    ASSERT_TRUE(Ok(Area()->go_to(1)));
    Put(2, Value::String(std::string(300, 'z')));
    for (uint32_t r : {2u, 4u}) {
      ASSERT_TRUE(Ok(Area()->go_to(r)));
      ASSERT_TRUE(Ok(Area()->delete_record()));
      ASSERT_TRUE(Ok(Area()->go_cold()));
    }
    ASSERT_TRUE(Ok(Area()->pack())) << ErrorText();
    uint32_t count = 0;
    ASSERT_TRUE(Ok(Area()->record_count(&count)));
    ASSERT_EQ(count, 3u);
    std::string ext = kind == 1 ? ".dbt" : kind == 2 ? ".fpt" : ".smt";
    std::string b = Bytes(Path(base + ext));
    uint32_t bs = kind == 1 ? 512 : 32;
    uint32_t first = kind == 2 ? 1024 / bs : 512 / bs;
    uint32_t expect_block = first;
    const std::string texts[] = {std::string(300, 'z'), std::string(43, 'd'), std::string(45, 'f')};
    for (uint32_t r = 1; r <= 3; ++r) {
      ASSERT_TRUE(Ok(Area()->go_to(r)));
      EXPECT_EQ(Get(2).str(), texts[r - 1]);
      EXPECT_EQ(FieldInfo(2, 204).integer(), expect_block);
      uint64_t len = texts[r - 1].size();
      expect_block += kind == 1 ? (len + 2 + bs - 1) / bs : kind == 2 ? (len + 8 + bs - 1) / bs : (len + bs - 1) / bs;
    }
    EXPECT_EQ(b.size(), static_cast<size_t>(expect_block) * bs);
    uint32_t next = kind == 2 ? Be32(b, 0) : GetLe(b, 0, 4);
    EXPECT_EQ(next, expect_block);
  }
}

TEST_F(MemoValuesTest, ZapReinitialisesTheMemoFile) {
  CreateOpen("zp.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 3, .block_size = 64});
  Append();
  Put(1, Value::String(std::string(1000, 'a')));
  ASSERT_TRUE(Ok(Area()->zap()));
  std::string b = Bytes(Path("zp.fpt"));
  EXPECT_EQ(b.size(), 1024u);
  EXPECT_EQ(Be32(b, 0), 16u);
  EXPECT_EQ(Be32(b, 4), 64u);
}

TEST_F(MemoValuesTest, ValueFilesInAndOut) {
  CreateOpen("io.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 1});
  Append();
  std::string in = Path("in.bin");
  std::string data(200000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  test::WriteFileBytes(in, data);
  ASSERT_TRUE(Ok(Area()->put_value_from_file(1, in))) << ErrorText();
  ASSERT_TRUE(Ok(Area()->go_cold()));
  EXPECT_EQ(FieldInfo(1, 202).integer(), 200000);
  std::string out = Path("out.bin");
  ASSERT_TRUE(Ok(Area()->GetValueToFile(1, out, 0))) << ErrorText();
  EXPECT_EQ(Bytes(out), data);
  ASSERT_TRUE(Ok(Area()->GetValueToFile(1, out, 1)));
  EXPECT_EQ(Bytes(out), data + data);
  errors_.clear();
  EXPECT_TRUE(Failed(Area()->put_value_from_file(1, Path("missing.bin"))));
  EXPECT_LAST_ERROR(kEgOpen, kEdfOpen);
}

// Damaged memo files: every read answers "Corruption detected" (or a read error), never a
// crash or a huge allocation, and a write never follows a broken free list.
TEST_F(MemoValuesTest, DamagedMemoFiles) {
  auto fpt = [](uint32_t next, uint32_t size) {
    std::string h(512, '\0');
    h.replace(0, 4, Be32Bytes(next));
    h.replace(4, 4, Be32Bytes(size));
    return h;
  };
  std::string huge_len = fpt(9, 64) + Be32Bytes(1) + Be32Bytes(0xFFFFFFF0u) + std::string(56, 'x');
  std::string past_end = fpt(9, 64) + Be32Bytes(1) + Be32Bytes(3) + "abc";
  std::string bad_array = fpt(9, 64) + Be32Bytes(32768) + Be32Bytes(12) + test::Le32(0x7FFFFFFF) +
                          test::Le32(1) + test::Le32(99) + std::string(44, '\0');
  const struct {
    const char* label;
    std::string memo;
    std::string ref;
    bool read_ok;
  } cases[] = {
      {"length beyond the file", huge_len, "         8", false},
      {"block beyond the file", past_end, "       900", false},
      {"block inside the header", past_end, "         3", false},
      {"array count beyond its data", bad_array, "         8", false},
      {"unknown type reads as nil", fpt(9, 64) + Be32Bytes(4242) + Be32Bytes(0) + std::string(56, '\0'), "         8", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    DBCLOSEALL();
    std::string base = "dm" + std::to_string(++n);
    test::DbfImage img;
    img.version = 0xF5;
    img.fields = {{"NOTE", 'M', 10}};
    img.records = {test::Record({c.ref})};
    Write(base + ".dbf", img);
    test::WriteFileBytes(Path(base + ".fpt"), c.memo);
    ASSERT_TRUE(Use(Path(base + ".dbf"), false, false, "", "DBFFPT")) << ErrorText();
    errors_.clear();
    Value v;
    EXPECT_EQ(Ok(Area()->get_value(1, &v)), c.read_ok);
    EXPECT_TRUE(v.is_nil());
    if (!c.read_ok) EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
    // A new value can still be written over the broken one.
    Put(1, Value::String("repaired"));
    EXPECT_EQ(Get(1).str(), "repaired");
  }
}

TEST_F(MemoValuesTest, BrokenFreeListRefusesWrites) {
  std::string h(512, '\0');
  h.replace(0, 4, Be32Bytes(10));
  h.replace(4, 4, Be32Bytes(64));
  h.replace(8, 7, "SIxMemo");
  h.replace(18, 2, test::Le16(1));
  h.replace(20, 6, test::Le16(5) + test::Le32(2));  // a free run inside the header
  h += std::string(2 * 64, '\0');
  test::DbfImage img;
  img.version = 0xF5;
  img.fields = {{"NOTE", 'M', 10}};
  img.records = {test::Record({std::string(10, ' ')})};
  Write("bl.dbf", img);
  test::WriteFileBytes(Path("bl.fpt"), h);
  ASSERT_TRUE(Use(Path("bl.dbf"), false, false, "", "DBFFPT")) << ErrorText();
  errors_.clear();
  EXPECT_TRUE(Failed(Area()->put_value(1, Value::String("x"))));
  EXPECT_LAST_ERROR(kEgCorruption, kEdfCorrupt);
  EXPECT_EQ(Bytes(Path("bl.fpt")), h);  // nothing written
}

TEST_F(MemoValuesTest, SharedWritersWaitForTheMemoLock) {
  CreateOpen("lk.dbf", {{"NOTE", "M", 10, 0}}, {.memo_kind = 2, .variant = 1});
  Append();
  DBCLOSEALL();
  ASSERT_TRUE(Use(Path("lk.dbf"), true, false, "", "DBFFPT")) << ErrorText();
  ASSERT_TRUE(RLOCK());
  File other;
  ASSERT_EQ(other.Open(Path("lk.fpt"), Access::kReadWrite, Share::kDenyNone), 0);
  ASSERT_TRUE(other.Lock(0, 1, true, false));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    EXPECT_TRUE(Ok(Area()->put_value(1, Value::String("after the lock"))));
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(done.load());
  ASSERT_TRUE(other.Unlock(0, 1));
  writer.join();
  EXPECT_TRUE(done.load());
  EXPECT_TRUE(other.Lock(0, 1, true, false));  // released after the write
  EXPECT_EQ(Get(1).str(), "after the lock");
}

TEST_F(MemoValuesTest, BlobStoreKeepsValuesByBlock) {
  ASSERT_TRUE(DBCREATE(Path("store"), ValueArray{}, "DBFBLOB", true)) << ErrorText();
  EXPECT_TRUE(FileExists(Path("store.dbv")));
  int64_t a = Info(202, Value::String("first value")).integer();
  int64_t b = Info(202, Value::Array({Value::Integer(1), Value::Logical(true)})).integer();
  EXPECT_GT(a, 0);
  EXPECT_GT(b, a);
  Info(206, Value::Integer(b));
  DBCLOSEALL();
  ASSERT_TRUE(DBUSEAREA(true, "DBFBLOB", Path("store"), "", false, false)) << ErrorText();
  EXPECT_EQ(Info(201, Value::Integer(a)).str(), "first value");
  EXPECT_EQ(Info(206).integer(), b);
  Value arr = Info(201, Value::Integer(b));
  ASSERT_TRUE(arr.is_array());
  EXPECT_EQ(arr.array().size(), 2u);
  int64_t c = Info(203, Value::Array({Value::Integer(a), Value::String("second")})).integer();
  EXPECT_EQ(c, a);  // the freed blocks are reused
  EXPECT_EQ(Info(201, Value::Integer(c)).str(), "second");
  EXPECT_EQ(Info(205, Value::Integer(c)).integer(), 6);
}

}  // namespace
}  // namespace vosk
