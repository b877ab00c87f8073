#ifndef VOSK_RDD_DBFFPT_MEMO_CODEC_H_
#define VOSK_RDD_DBFFPT_MEMO_CODEC_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expr/value.h"
#include "rdd/codepage.h"

namespace vosk {

// The serialised forms of non-text memo values (layouts in memo_format.h).
enum class ValueForm {
  kSix,   // FPT SIx variant: type = the value's type code
  kFlex,  // FPT FlexFile variant: the 1002-1017 codes
  kSmt,   // SMT: types 1-6, the payload repeating the type in its first byte
};

// How text is translated between a field and the program.
struct TextCoding {
  Codepage table = kProgramCodepage;
  bool binary = false;  // binary fields keep their bytes
  void ToProgram(std::string* s) const;
  void ToTable(std::string* s) const;
};

// Encodes a value that is not text (text is stored as it is, type 1). False when the form
// cannot hold the value (code blocks, timestamps outside arrays, nil).
[[nodiscard]] bool EncodeMemoValue(ValueForm form, const Value& v, const TextCoding& coding,
                                   uint32_t* type, std::string* data);

// Decodes a stored FPT value. vfp: the table is a Visual FoxPro table (type 2 is text there).
// False when the payload does not have the form its type requires (*out is nil then); an
// unknown type reads as nil and is not an error.
[[nodiscard]] bool DecodeFptValue(uint32_t type, std::string_view data, bool vfp,
                                  const TextCoding& coding, Value* out);

// Decodes a stored SMT value; false when the payload does not repeat its type or is malformed.
[[nodiscard]] bool DecodeSmtValue(uint32_t type, std::string_view data, const TextCoding& coding,
                                  Value* out);

// Serialised array bodies (count, then elements) in a form; used by variant fields too.
[[nodiscard]] bool EncodeArrayBody(ValueForm form, const ValueArray& items,
                                   const TextCoding& coding, int depth, std::string* out);
[[nodiscard]] bool DecodeArrayBody(ValueForm form, std::string_view data,
                                   const TextCoding& coding, int depth, Value* out);

}  // namespace vosk

#endif  // VOSK_RDD_DBFFPT_MEMO_CODEC_H_
