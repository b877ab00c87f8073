#ifndef VOSK_APP_BROWSE_H_
#define VOSK_APP_BROWSE_H_

namespace vosk {

// What the Application uses of the browse grid over the current table. The grid's Qt-free
// navigation core implements it, so the commands run the same headless and in the window.
class Browse {
 public:
  virtual ~Browse() = default;

  // The current column in cell mode, 1-based among the shown columns.
  virtual int nColAct() const = 0;
  // Redraws the rows from the table.
  virtual void Refresh() = 0;
};

}  // namespace vosk

#endif  // VOSK_APP_BROWSE_H_
