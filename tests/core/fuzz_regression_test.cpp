// Inputs the fuzz targets found (each also kept in fuzz/corpus/<target>/),
// checked for the outcome that replaced the crash, hang or blow-up.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/tables/expansion.hpp"

namespace quorvel {
namespace {

using Codes = std::vector<std::uint32_t>;

// fuzz/corpus/expansion/associated-field-blow-up: twelve octets of
// descriptors asking for 255^4 copies of an element behind an associated
// field. Under a bound of 2^25 visits the expansion ran for seconds and grew
// its result to 2^26 codes (256 MB, with 384 MB held while it doubled).
TEST(FuzzRegressionTest, AssociatedFieldExpansionStopsAtTheBound) {
  const TableSet tables;
  const auto result =
      expand_descriptors(tables, Codes{204007, 104255, 103255, 102255, 101255, 1001});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().message(),
            "csv/table parse error: sequence expansion exceeded 262144 descriptors");
}

}  // namespace
}  // namespace quorvel
