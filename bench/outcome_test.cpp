// The driver's judgement of how a run ended: a wrong answer here would time
// runs that failed, or time the wrong frames.
#include "outcome.h"

#include <gtest/gtest.h>

namespace {

TEST(Matches, TakesTextWithoutAStarExactlyAndAStarForAnyText) {
  const struct {
    const char* pattern;
    const char* text;
    bool expected;
  } cases[] = {
      {kCompleteLine, "Conversion Complete: Conversion Complete", true},
      {kCompleteLine, "Conversion Complete: Conversion Complete ", false},
      {kCompleteLine, "Conversion Error: Too few vertices in anima003.obj", false},
      {kCompleteLine, "", false},
      {kConvertedLine, "Conversion Complete: Conversion Complete", true},
      {kConvertedLine,
       "Conversion Complete, but 9602 faces past the limit of 10000 (first in anima000.obj line 50002): "
       "Conversion Complete",
       true},
      {kConvertedLine, "Conversion Error: Vertex store full at anima040.obj", false},
      {"34530000 bytes, * lines, 40 files", "34530000 bytes, 1177280 lines, 40 files", true},
      {"34530000 bytes, * lines, 40 files", "34530000 bytes, 0 lines, 39 files", false},
      {"34530000 bytes, * lines, 40 files", "3453000 bytes, 1 lines, 40 files", false},
      {"* faces, 20 files", "2000000 vertices, 392040 faces, 20 files", true},
      {"* faces, 20 files", "faces, 20 files", false},  // the space after the star is the tail's
      {"* faces, 20 files", " faces, 20 files", true},
      {"a*a", "a", false},  // head and tail may not share a character
      {"a*a", "aa", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(matches(c.pattern, c.text), c.expected) << c.pattern << " / " << c.text;
}

TEST(FramesBeforeStoreFull, ReadsTheFrameNamedAndRejectsEverythingElse) {
  const struct {
    const char* closing;
    size_t frame_count, expected;
  } cases[] = {
      {"Conversion Error: Vertex store full at anima040.obj", 100, 40},
      {"Conversion Error: Vertex store full at anima001.obj", 2, 1},
      {"Conversion Error: Vertex store full at anima999.obj", 1000, 999},
      {"Conversion Error: Vertex store full at anima000.obj", 100, 0},  // not even the first frame
      {"Conversion Error: Vertex store full at anima100.obj", 100, 0},  // a frame the set does not have
      {"Conversion Error: Vertex store full at anima04x.obj", 100, 0},
      {"Conversion Error: Vertex store full at anima40.obj", 100, 0},
      {"Conversion Error: Vertex store full at anima040.obj.", 100, 0},
      {"Conversion Error: Vertex store full at anima040.obi", 100, 0},
      {"Conversion Error: Too few vertices in anima040.obj", 100, 0},
      {"Conversion Complete: Conversion Complete", 100, 0},
      {"", 100, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(frames_before_store_full(c.closing, c.frame_count), c.expected) << c.closing;
  }
}

}  // namespace
