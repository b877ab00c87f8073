// The extension added to a name given without one follows the case of the name.

#include "app/file_naming.h"

#include <gtest/gtest.h>

namespace vosk {
namespace {

TEST(FileNamingTest, TheAddedExtensionFollowsTheCaseOfTheName) {
  const struct {
    const char *name, *ext, *named;
  } cases[] = {
      {"ragsoc", "NTX", "ragsoc.ntx"},
      {"/tmp/dati/COPIA1", "DBF", "/tmp/dati/COPIA1.DBF"},  // the folder's case does not count
      {"/TMP/DATI/clienti_attivi", "CSV", "/TMP/DATI/clienti_attivi.csv"},
      {"Ragsoc", "cdx", "Ragsoc.CDX"},
      {"2024", "DBF", "2024.DBF"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithExtension(c.name, c.ext), c.named) << c.name;
}

}  // namespace
}  // namespace vosk
