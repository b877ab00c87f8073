#ifndef VOSK_APP_AREA_SELECTION_H_
#define VOSK_APP_AREA_SELECTION_H_

// Selecting another work area for a while: the area that was current is selected again when the
// selection ends, whatever happens in between (an error may abandon the command at any call).

#include <string>

namespace vosk {

class AreaSelection {
 public:
  // Selects the work area of `alias` ("" keeps the current one).
  explicit AreaSelection(const std::string& alias);
  ~AreaSelection();
  AreaSelection(const AreaSelection&) = delete;
  AreaSelection& operator=(const AreaSelection&) = delete;

 private:
  int previous_;
};

// True when the work area of `alias` ("" the current one) holds a table.
bool AreaInUse(const std::string& alias);

}  // namespace vosk

#endif  // VOSK_APP_AREA_SELECTION_H_
