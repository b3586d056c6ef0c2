// The suggested export scale against the table the Blender add-on's automatic
// scale is checked by too (export_scale_cases.json), so that the two agree.
#include "export_scale.h"

#include <gtest/gtest.h>

#include <charconv>
#include <nlohmann/json.hpp>
#include <string>

#include "run.h"

namespace {

TEST(ExportScale, AgreesWithTheSharedTableOfCases) {
  const auto text = read_bytes(EXPORT_SCALE_CASES);
  ASSERT_TRUE(text) << EXPORT_SCALE_CASES;
  const nlohmann::json table = nlohmann::json::parse(*text);
  ASSERT_GE(table["cases"].size(), 8u);
  for (const nlohmann::json& c : table["cases"]) {
    const std::string why = c["why"];
    double low[3], high[3];
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = c["low"][axis];
      high[axis] = c["high"][axis];
    }
    const ExportScale scale = suggested_export_scale(low, high);
    if (c["scale"].is_null()) {
      EXPECT_FALSE(scale.found) << why;
      continue;
    }
    const std::string expected = c["scale"];
    ASSERT_TRUE(scale.found) << why;
    EXPECT_EQ(scale.text(), expected) << why;
    double value = 0;
    std::from_chars(expected.data(), expected.data() + expected.size(), value);
    EXPECT_EQ(scale.factor, value) << why;
  }
}

}  // namespace
