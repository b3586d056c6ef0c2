// The strtod reading of decimal numbers (the web build's) against
// std::from_chars, on the inputs where the two could part.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "decimal.h"

TEST(Decimal, StrtodReadsWhatFromCharsReads) {
  const char* const inputs[] = {
      "0.1",      "-2.5e3",    "1e-310",  "4.9e-324", "2e-324",    "1e-400", "1e400",    "-1e400",
      "1.7976931348623157e308", "0.1000000000000000055511151231257827",   ".5",       "5.",
      "+1",       " 1",        "0x1p3",   "1e",       "1e+",       "1e+5x",  "inf",      "-Infinity",
      "nan",      "-",         "",        ".",        "12.5.3",    "7e2",    "0.DDDD",   "1E5"};
  for (const char* input : inputs) {
    for (const auto format : {std::chars_format::general, std::chars_format::fixed}) {
      const char* end = input + std::strlen(input);
      double expected = -7, read = -7;
      const auto want = std::from_chars(input, end, expected, format);
      const auto got = decimal_to_double_by_strtod(input, end, read, format);
      SCOPED_TRACE(std::string("\"") + input + (format == std::chars_format::fixed ? "\" fixed" : "\" general"));
      EXPECT_EQ(got.ec, want.ec);
      if (want.ec != std::errc::invalid_argument) {
        EXPECT_EQ(got.ptr - input, want.ptr - input);
      }
      if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(read));
      } else {
        EXPECT_EQ(std::bit_cast<uint64_t>(read), std::bit_cast<uint64_t>(expected));
      }
    }
  }
}

TEST(Decimal, PrintfWritesWhatToCharsWrites) {
  const double values[] = {0.0,    -0.0,   0.1,   -16.970563, 50,     127.875, 1e20,  1e21,   1e22,      123456789012345680.0,
                           1.5e-7, 0.0001, 1e-5,  5e-324,     1.7976931348623157e308, 300,   2.55,  1.0 / 3, HUGE_VAL,
                           -HUGE_VAL, 1e15, 1e16, 1e17, 0.001234};
  for (const double value : values) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    EXPECT_EQ(shortest_decimal_by_printf(value), std::string(text, written.ptr)) << value;
  }
}
