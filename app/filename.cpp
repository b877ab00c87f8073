#include "app/filename.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "app/ansi.h"
#include "app/ui.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace vosk {
namespace {

std::string& IniOverride() {
  static std::string path;
  return path;
}

size_t LastSeparator(const std::string& name) { return name.find_last_of("/\\"); }

bool Writable(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

}  // namespace

std::string IniFileNameFor(const std::string& dir) {
  std::string beside = dir + "VOSKDBU.INI";
  if (FileExists(beside) ? Writable(beside) : Writable(dir.empty() ? "." : dir)) return beside;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    config = std::string(home && *home ? home : ".") + "/.config";
  }
  return config + "/voskdbu/VOSKDBU.INI";
}

namespace {

const std::string& IniOrDefault(const std::string& file) {
  static std::string computed;
  if (!file.empty()) return file;
  computed = IniFileName();
  return computed;
}

}  // namespace

std::string CFILEPATH(const std::string& cName) {
  size_t sep = LastSeparator(cName);
  if (sep != std::string::npos) {
    char trailing = cName.find('/') != std::string::npos ? '/' : '\\';
    return cName.substr(0, sep) + trailing;
  }
  if (cName.size() >= 2 && cName[1] == ':') return cName.substr(0, 2);
  return "";
}

std::string CFILENOPATH(const std::string& cName) {
  size_t sep = LastSeparator(cName);
  if (sep != std::string::npos) return cName.substr(sep + 1);
  if (cName.size() >= 2 && cName[1] == ':') return cName.substr(2);
  return cName;
}

std::string CFILENOEXT(const std::string& cName) {
  std::string name = CFILENOPATH(cName);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string CFILEEXT(const std::string& cName) {
  std::string name = CFILENOPATH(cName);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

std::string FULLNAME(const std::string& cName) {
  std::string path = FullPath(NormalizeSeparators(cName));
  std::vector<std::string> steps;
  size_t start = 1;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string step = path.substr(start, slash - start);
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    start = slash + 1;
  }
  std::string full;
  for (const std::string& step : steps) full += "/" + step;
  return full.empty() ? "/" : full;
}

std::string GETMODULEFILENAME() {
  char buf[PATH_MAX + 1] = {};
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string CGETFILE(const std::string& cFilter, const std::string& cTitle, int nDefFilter,
                     const std::string& cInitDir, bool lSave) {
  return GetUi().GetFileName(cFilter, cTitle, nDefFilter, cInitDir, lSave);
}

std::string IniFileName() {
  if (!IniOverride().empty()) return IniOverride();
  static const std::string computed = IniFileNameFor(CFILEPATH(GETMODULEFILENAME()));
  return computed;
}

void SetIniFileName(const std::string& path) { IniOverride() = path; }

std::string GETPVPROFSTRING(const std::string& cSection, const std::string& cKey,
                            const std::string& cDefault, const std::string& cFile) {
  return GetProfileString(cSection, cKey, cDefault, IniOrDefault(cFile));
}

int GETPVPROFINT(const std::string& cSection, const std::string& cKey, int nDefault,
                 const std::string& cFile) {
  return GetProfileInt(cSection, cKey, nDefault, IniOrDefault(cFile));
}

bool WRITEPPROSTRING(const std::string& cSection, const std::string& cKey,
                     const std::string& cValue, const std::string& cFile) {
  return WriteProfileString(cSection, cKey, cValue, IniOrDefault(cFile));
}

std::string IniString(const std::string& key, const std::string& default_value) {
  return GETPVPROFSTRING(kIniSection, key, default_value);
}

int IniInt(const std::string& key, int default_value) {
  return GETPVPROFINT(kIniSection, key, default_value);
}

bool IniLogical(const std::string& key, const std::string& default_value) {
  // The runtime's non-exact comparison value = "S": true when the value begins with "S".
  std::string value = IniString(key, default_value);
  return !value.empty() && value[0] == 'S';
}

bool WriteIniLogical(const std::string& key, bool value) {
  return WRITEPPROSTRING(kIniSection, key, value ? Ansi("Sì") : "No");
}

bool VOSK() { return IniLogical("Vosk", "No"); }

}  // namespace vosk
