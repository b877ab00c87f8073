#include "support/dbf_image.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vosk::test {
namespace {

// Character and variable-length fields keep the high byte of their length in byte 17.
size_t Width(char type, int length, int decimals) {
  bool long_text = type == 'C' || type == 'Q';
  return static_cast<size_t>(long_text ? length + 256 * decimals : length);
}

}  // namespace

std::string Le16(uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Le24(uint32_t v) { return Le16(static_cast<uint16_t>(v)) + static_cast<char>(v >> 16); }
std::string Le32(uint32_t v) {
  return Le16(static_cast<uint16_t>(v)) + Le16(static_cast<uint16_t>(v >> 16));
}
std::string Le64(uint64_t v) {
  return Le32(static_cast<uint32_t>(v)) + Le32(static_cast<uint32_t>(v >> 32));
}

uint32_t GetLe(const std::string& bytes, size_t offset, int width) {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) {
    v = (v << 8) | static_cast<uint8_t>(bytes.at(offset + static_cast<size_t>(i)));
  }
  return v;
}

int DbfImage::RecordLength() const {
  int len = 1;
  for (const DbfDescriptor& f : fields) len += static_cast<int>(Width(f.type, f.length, f.decimals));
  return len;
}

int DbfImage::HeaderLength() const {
  return header_length >= 0 ? header_length : 32 + 32 * static_cast<int>(fields.size()) + 2;
}

std::string DbfImage::Bytes() const {
  std::string b;
  b += static_cast<char>(version);
  b += static_cast<char>(124), b += static_cast<char>(1), b += static_cast<char>(15);
  b += Le32(static_cast<uint32_t>(header_count >= 0 ? header_count : records.size()));
  b += Le16(static_cast<uint16_t>(HeaderLength()));
  b += Le16(static_cast<uint16_t>(RecordLength()));
  b.append(16, '\0');
  b += static_cast<char>(table_flags);
  b.append(3, '\0');
  for (const DbfDescriptor& f : fields) {
    std::string d = f.name.substr(0, 11);
    d.resize(11, '\0');
    d += f.type;
    d += Le16(f.offset);
    d.append(2, '\0');
    d += static_cast<char>(f.length);
    d += static_cast<char>(f.decimals);
    d += static_cast<char>(f.flags);
    d += Le32(f.counter);
    d += static_cast<char>(f.step);
    d.append(8, '\0');
    b += d;
  }
  b += '\x0D';
  b += '\0';
  // Records start at the header length, whatever lies in between.
  if (b.size() < static_cast<size_t>(HeaderLength())) b.resize(static_cast<size_t>(HeaderLength()), '\0');
  for (const std::string& r : records) b += r;
  if (eof_byte) b += '\x1A';
  return b;
}

std::string Record(std::initializer_list<std::string> fields, bool deleted) {
  std::string r(1, deleted ? '*' : ' ');
  for (const std::string& f : fields) r += f;
  return r;
}

const ParsedField* ParsedDbf::Field(const std::string& name) const {
  for (const ParsedField& f : fields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

ParsedDbf ParseDbf(const std::string& bytes) {
  ParsedDbf p;
  p.version = static_cast<uint8_t>(bytes.at(0));
  p.header_count = GetLe(bytes, 4, 4);
  p.header_length = static_cast<int>(GetLe(bytes, 8, 2));
  p.record_length = static_cast<int>(GetLe(bytes, 10, 2));
  size_t offset = 1;
  for (size_t d = 32; d + 32 <= static_cast<size_t>(p.header_length) && bytes.at(d) != '\x0D';
       d += 32) {
    ParsedField f;
    f.name = bytes.substr(d, 11);
    f.name.resize(f.name.find('\0') == std::string::npos ? 11 : f.name.find('\0'));
    f.type = bytes.at(d + 11);
    f.length = static_cast<uint8_t>(bytes.at(d + 16));
    f.decimals = static_cast<uint8_t>(bytes.at(d + 17));
    f.flags = static_cast<uint8_t>(bytes.at(d + 18));
    f.offset = offset;
    f.descriptor = d;
    offset += Width(f.type, f.length, f.decimals);
    p.fields.push_back(f);
  }
  return p;
}

std::string FieldBytes(const std::string& bytes, uint32_t recno, const std::string& name) {
  ParsedDbf p = ParseDbf(bytes);
  const ParsedField* f = p.Field(name);
  if (!f) throw std::runtime_error("no field " + name);
  size_t len = Width(f->type, f->length, f->decimals);
  size_t start = static_cast<size_t>(p.header_length) +
                 static_cast<size_t>(recno - 1) * static_cast<size_t>(p.record_length) + f->offset;
  return bytes.substr(start, len);
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vosk_test.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace vosk::test
