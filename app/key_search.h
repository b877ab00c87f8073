#ifndef VOSK_APP_KEY_SEARCH_H_
#define VOSK_APP_KEY_SEARCH_H_

// The two type-ahead searches: by key in the browse (on the controlling order) and by name in
// field lists (the column chooser, the structure editor).

#include <string>
#include <vector>

namespace vosk {

class Browse;

// Character codes the searches take: 32 to 126, and Backspace.
inline constexpr int kBackspace = 8;

// KEYSEARCH(): empties the buffer of typed characters (every change of view does).
void KEYSEARCH();
// KEYSEARCH(oBrw, nKey, cPrefix): the browse's character handler under a controlling order.
// The buffer starts again when the record pointer moved since the last search; a character
// (upper-cased) is appended, Backspace removes the last one; then DBSEEK(cPrefix + buffer).
// Not found: the character is dropped and the pointer goes back. A hidden deleted record is
// stepped off. The browse is refreshed when the pointer moved.
void KEYSEARCH(Browse* oBrw, int nKey, const std::string& cPrefix = "");
// The characters typed so far.
const std::string& KeySearchBuffer();

// KEYSEARCHARRAY(): empties the field-list buffer (cArrSearchBuf).
void KEYSEARCHARRAY();
// KEYSEARCHARRAY(aRows, @nAt, nKey): type-ahead in a list of names (1-based nAt). The buffer
// starts again when nAt is not where the last search left it (nArrSearchPos); nAt becomes the
// first row whose upper-cased name begins with the buffer, or stays (and the character is
// dropped) when none does. Returns true when nAt changed (the caller refreshes the list).
bool KEYSEARCHARRAY(const std::vector<std::string>& aRows, int& nAt, int nKey);

}  // namespace vosk

#endif  // VOSK_APP_KEY_SEARCH_H_
