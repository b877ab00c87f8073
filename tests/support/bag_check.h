#ifndef VOSK_TESTS_SUPPORT_BAG_CHECK_H_
#define VOSK_TESTS_SUPPORT_BAG_CHECK_H_

// Every bag open in the current area passes the engine's check; each problem found is a test
// failure naming the bag.

#include <string>

#include <gtest/gtest.h>

#include "rdd/work_area_table.h"
#include "rdd/dbfcdx/cdx_bag.h"
#include "rdd/dbfcdx/cdx_check.h"
#include "rdd/dbfntx/ntx_check.h"
#include "rdd/dbfntx/ntx_file.h"
#include "rdd/order/indexed_area.h"

namespace vosk {

inline void ExpectOpenBagsPassCheck() {
  auto* area = dynamic_cast<IndexedArea*>(CurrentArea());
  ASSERT_NE(area, nullptr);
  for (const auto& b : area->bags()) {
    NtxCheckReport report;
    if (auto* ntx = dynamic_cast<NtxFile*>(b.get())) {
      ASSERT_TRUE(Ok(NtxCheckBag(area, ntx, &report)));
    } else if (auto* cdx = dynamic_cast<CdxBag*>(b.get())) {
      ASSERT_TRUE(Ok(CdxCheckBag(area, cdx, &report)));
    }
    for (const std::string& p : report.problems) ADD_FAILURE() << b->path() << ": " << p;
  }
}

}  // namespace vosk

#endif  // VOSK_TESTS_SUPPORT_BAG_CHECK_H_
