#include "app/file_naming.h"

#include <cctype>

namespace vosk {

std::string WithExtension(const std::string& name, const std::string& ext) {
  const size_t slash = name.find_last_of("/\\");
  const size_t from = slash == std::string::npos ? 0 : slash + 1;
  bool lower = false, upper = false;
  for (size_t i = from; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    lower |= std::islower(c) != 0;
    upper |= std::isupper(c) != 0;
  }
  std::string added = ext;
  for (char& c : added) {
    const unsigned char u = static_cast<unsigned char>(c);
    c = static_cast<char>(lower && !upper ? std::tolower(u) : std::toupper(u));
  }
  return name + "." + added;
}

}  // namespace vosk
