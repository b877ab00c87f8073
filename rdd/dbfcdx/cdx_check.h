#ifndef VOSK_RDD_DBFCDX_CDX_CHECK_H_
#define VOSK_RDD_DBFCDX_CDX_CHECK_H_

#include "expr/status.h"
#include "rdd/dbfntx/ntx_check.h"

namespace vosk {

class IndexedArea;
class CdxBag;

// Walks every tag of a CDX bag: page kinds and counts, interior entries equal to their child's
// last key, one leaf depth, key order, the leaf chain, no page reached twice; then compares
// each sound tag's keys with the keys of the table's records (FOR and unique rules; custom and
// partial tags are only walked). Memory stays bounded whatever the bag's size; the read lock
// is let go about every chunk_keys keys (see NtxCheckBag). The area's record position is
// restored. Failure only when the check itself could not run.
Status CdxCheckBag(IndexedArea* area, CdxBag* bag, NtxCheckReport* report,
                   int64_t chunk_keys = kCheckChunkKeys);

}  // namespace vosk

#endif  // VOSK_RDD_DBFCDX_CDX_CHECK_H_
