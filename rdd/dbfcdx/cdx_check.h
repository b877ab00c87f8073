#ifndef VOSK_RDD_DBFCDX_CDX_CHECK_H_
#define VOSK_RDD_DBFCDX_CDX_CHECK_H_

#include "expr/status.h"
#include "rdd/dbfntx/ntx_check.h"

namespace vosk {

class IndexedArea;
class CdxBag;

// Walks every tag of a CDX bag: page kinds and counts, interior entries equal to their child's
// last key, one leaf depth, key order, no page reached twice; then compares each tag's keys
// with the keys of the table's records (FOR and unique rules; custom and partial tags are only
// walked). The area's record position is restored. Failure only when the check itself could
// not run.
Status CdxCheckBag(IndexedArea* area, CdxBag* bag, NtxCheckReport* report);

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_CHECK_H_
