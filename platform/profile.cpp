#include "platform/profile.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

namespace vosk {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The lines of a profile file, without their terminators, and how they were terminated.
struct ProfileText {
  std::vector<std::string> lines;
  std::string eol = "\n";
  bool exists = false;
};

ProfileText ReadProfile(const std::string& file) {
  ProfileText text;
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return text;
  text.exists = true;
  std::string bytes;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  size_t first_lf = bytes.find('\n');
  if (first_lf != std::string::npos && first_lf > 0 && bytes[first_lf - 1] == '\r') {
    text.eol = "\r\n";
  }
  size_t start = 0;
  while (start < bytes.size()) {
    size_t lf = bytes.find('\n', start);
    size_t end = lf == std::string::npos ? bytes.size() : lf;
    size_t len = end - start;
    if (len > 0 && bytes[end - 1] == '\r') --len;
    text.lines.emplace_back(bytes, start, len);
    start = end + 1;
  }
  return text;
}

// The section name of a header line, or nullopt when the line is no header.
std::optional<std::string_view> HeaderName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  t.remove_prefix(1);
  size_t close = t.find(']');
  if (close != std::string_view::npos) t = t.substr(0, close);
  return Trim(t);
}

// Splits "key=value"; false when the line holds no "=".
bool SplitEntry(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq));
  *value = Trim(line.substr(eq + 1));
  return true;
}

// Index range [begin, end) of the lines of the first section named `section` (begin is the
// header line), or nullopt.
struct SectionRange {
  size_t header, end;
};
std::optional<SectionRange> FindSection(const ProfileText& text, std::string_view section) {
  for (size_t i = 0; i < text.lines.size(); ++i) {
    auto name = HeaderName(text.lines[i]);
    if (!name || !SameName(*name, Trim(section))) continue;
    size_t end = i + 1;
    while (end < text.lines.size() && !HeaderName(text.lines[end])) ++end;
    return SectionRange{i, end};
  }
  return std::nullopt;
}

std::optional<size_t> FindKey(const ProfileText& text, const SectionRange& range,
                              std::string_view key) {
  for (size_t i = range.header + 1; i < range.end; ++i) {
    std::string_view k, v;
    if (SplitEntry(text.lines[i], &k, &v) && SameName(k, Trim(key))) return i;
  }
  return std::nullopt;
}

std::optional<std::string> ReadValue(const std::string& section, const std::string& key,
                                     const std::string& file) {
  ProfileText text = ReadProfile(file);
  auto range = FindSection(text, section);
  if (!range) return std::nullopt;
  auto line = FindKey(text, *range, key);
  if (!line) return std::nullopt;
  std::string_view k, v;
  SplitEntry(text.lines[*line], &k, &v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file's contents: through a temporary file renamed over it where the directory
// allows, so that a failed write never leaves half a file; in place otherwise.
bool StoreProfile(const ProfileText& text, const std::string& file) {
  std::string bytes;
  for (const std::string& line : text.lines) bytes += line + text.eol;

  std::filesystem::path path(file);
  if (path.has_parent_path()) {
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
  }
  std::string tmp = file + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd >= 0) {
    struct stat st;
    ::fchmod(fd, ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(tmp.c_str(), file.c_str()) == 0) return true;
    ::unlink(tmp.c_str());
    if (ok) return false;
  }
  fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, bytes);
  return ::close(fd) == 0 && ok;
}

}  // namespace

std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& default_value, const std::string& file) {
  std::optional<std::string> value = ReadValue(section, key, file);
  std::string result;
  if (value) {
    result = std::move(*value);
  } else {
    result = default_value;
    while (!result.empty() && IsBlank(result.back())) result.pop_back();
  }
  if (result.size() > kProfileStringBuffer - 1) result.resize(kProfileStringBuffer - 1);
  return result;
}

int GetProfileInt(const std::string& section, const std::string& key, int default_value,
                  const std::string& file) {
  std::string value = GetProfileString(section, key, "", file);
  if (value.empty()) return default_value;
  size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  int64_t n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;  // keeps the arithmetic bounded; wraps below
  }
  // Thirty-two bits, as the services return them.
  return static_cast<int>(static_cast<uint32_t>(negative ? -n : n));
}

bool WriteProfileString(const std::string& section, const std::optional<std::string>& key,
                        const std::optional<std::string>& value, const std::string& file) {
  ProfileText text = ReadProfile(file);
  auto range = FindSection(text, section);
  auto& lines = text.lines;

  if (!key) {  // delete the section
    if (!range) return true;
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(range->header),
                lines.begin() + static_cast<ptrdiff_t>(range->end));
    return StoreProfile(text, file);
  }
  std::optional<size_t> at = range ? FindKey(text, *range, *key) : std::nullopt;
  if (!value) {  // delete the key
    if (!at) return true;
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(*at));
    return StoreProfile(text, file);
  }
  if (at) {
    // Keeps the key as it is spelled in the file.
    std::string& line = lines[*at];
    line = std::string(Trim(line.substr(0, line.find('=')))) + "=" + *value;
  } else if (range) {
    // After the section's last non-blank line, so blank separators stay where they were.
    size_t pos = range->end;
    while (pos > range->header + 1 && Trim(lines[pos - 1]).empty()) --pos;
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(pos), *key + "=" + *value);
  } else {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(*key + "=" + *value);
  }
  return StoreProfile(text, file);
}

}  // namespace vosk
