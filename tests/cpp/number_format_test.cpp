#include "io/number_format.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

namespace vorrel::io {
namespace {

TEST(NumberFormat, FixedDecimals) {
  EXPECT_EQ(format_fixed(-0.0, 6), "-0.000000");
  EXPECT_EQ(format_fixed(0.1f, 6), "0.100000");
  EXPECT_EQ(format_fixed(1.0, 8), "1.00000000");
  // Correctly rounded from the exact binary value: 0.125 is a tie, to even.
  EXPECT_EQ(format_fixed(0.125, 2), "0.12");
  EXPECT_EQ(format_fixed(0.375, 2), "0.38");
  // 2.675 is really 2.67499999999999982236431605997495353221893310546875.
  EXPECT_EQ(format_fixed(2.675, 2), "2.67");
  // A float32 is formatted from its own value, not its float64 widening's text.
  EXPECT_EQ(format_fixed(0.1f, 10), "0.1000000015");
  EXPECT_EQ(format_fixed(-1e-9, 6), "-0.000000");
}

TEST(NumberFormat, NonFiniteSpellings) {
  EXPECT_EQ(format_fixed(INFINITY, 6), "inf");
  EXPECT_EQ(format_fixed(-INFINITY, 6), "-inf");
  EXPECT_EQ(format_fixed(NAN, 6), "NaN");
  EXPECT_EQ(format_shortest(std::nanf("")), "NaN");
  EXPECT_EQ(format_shortest(-INFINITY), "-inf");
}

TEST(NumberFormat, ShortestRoundTripWithoutExponent) {
  EXPECT_EQ(format_shortest(1.0), "1");
  EXPECT_EQ(format_shortest(0.5), "0.5");
  EXPECT_EQ(format_shortest(1e-7), "0.0000001");
  EXPECT_EQ(format_shortest(0.1f), "0.1");
  EXPECT_EQ(format_shortest(FLT_MAX), "340282350000000000000000000000000000000");
  EXPECT_EQ(format_shortest(-FLT_MAX), "-340282350000000000000000000000000000000");
  EXPECT_EQ(format_shortest(-0.0f), "-0");
  EXPECT_EQ(format_shortest(DBL_MAX).size(), 309u);
}

}  // namespace
}  // namespace vorrel::io

namespace vorrel::io {
namespace {

TEST(NumberFormat, ShortestPlacesThePoint) {
  EXPECT_EQ(format_shortest(123.25), "123.25");
  EXPECT_EQ(format_shortest(1500.0), "1500");
  EXPECT_EQ(format_shortest(0.0), "0");
  EXPECT_EQ(format_shortest(-0.0625), "-0.0625");
  EXPECT_EQ(format_shortest(1e21), "1000000000000000000000");
}

}  // namespace
}  // namespace vorrel::io
