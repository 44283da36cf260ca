// Inputs the fuzz targets (fuzz/) found to break the parsers, kept as regression cases. The
// bytes are written out here; under the sanitizer build these also prove the absence of the
// undefined behaviour they once caused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "SdpLength.h"

namespace kx::sdk {
namespace {

// Hours of twelve digits in an npt clock time overflowed the 64-bit microseconds.
TEST(FuzzRegressionTest, HugeNptHoursGiveNoLengthInsteadOfOverflowing) {
    EXPECT_FALSE(ParseRangeLine("a=range:npt=999999999999:00:00-999999999999:59:59").has_value());
    uint64_t length = 0xFFFFFFFFFFFFFFFDull;
    ScanSdpVideoLength("v=0\r\na=range:npt=999999999999:00:00-999999999999:00:01\r\n", length);
    EXPECT_EQ(length, 0xFFFFFFFFFFFFFFFDull);
    // The largest hours that still fit are read.
    const auto big = ParseRangeLine("a=range:npt=0-277777777:46:39");
    ASSERT_TRUE(big.has_value());
    EXPECT_EQ(*big, uint64_t{999999999999} * 1000000);
}

}  // namespace
}  // namespace kx::sdk
