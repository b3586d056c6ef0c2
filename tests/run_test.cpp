// Reading the closing message boxes from Wine's relay trace, as the Wine
// variants of the end-to-end tests do.
#include "run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kActive =
    "0024:Call user32.GetActiveWindow() ret=00401708\n"
    "0024:Ret  user32.GetActiveWindow() retval=00000000 ret=00401708\n";

std::string box(const std::string& owner, const std::string& text, const std::string& caption,
                const std::string& style) {
  return "0024:Call user32.MessageBoxA(" + owner + ",00405000 " + text + ",00405020 " + caption + "," +
         style + ") ret=0040171c\n0024:Ret  user32.MessageBoxA() retval=00000000 ret=0040171c\n";
}

struct TraceCase {
  std::string trace;
  std::vector<std::string> messages;
  const char* why;
};

TEST(MessageBoxesInTrace, ReadTextAndCaptionAndFlagWhatIsNotAPlainOwnedBox) {
  const TraceCase cases[] = {
      {kActive + box("00000000", "\"Conversion Complete\"", "\"Conversion Complete\"", "00000000"),
       {"Conversion Complete: Conversion Complete"},
       "the box the platform layer shows"},
      {"0024:trace:seh:noise\n" + kActive + "0024:Call user32.MessageBoxW(00000000) ret=0\n" +
           box("00000000", "\"Conversion Error\"", "\"Cannot read anima002.obj\"", "00000000"),
       {"Conversion Error: Cannot read anima002.obj"},
       "other lines and other calls are passed over"},
      {kActive + box("00000000", "\"a \\\"b\\\" \\\\ c\"", "\"x, y)\"", "00000000"),
       {"a \"b\" \\ c: x, y)"},
       "escapes, commas and parentheses inside the strings"},
      {kActive + box("00000000", "\"T\"", "\"C\"", "00000010"),
       {"T: C [style 00000010, not MB_OK alone]"},
       "an icon or other style bits"},
      {box("00000000", "\"T\"", "\"C\"", "00000000"),
       {"T: C [owner 00000000, GetActiveWindow not called]"},
       "an owner not asked of GetActiveWindow"},
      {kActive + box("0001002a", "\"T\"", "\"C\"", "00000000"),
       {"T: C [owner 0001002a, not GetActiveWindow's 00000000]"},
       "an owner other than the active window"},
      {"0024:Ret  user32.GetActiveWindow() retval=1000100a2 ret=140002c72\n" +
           box("1000100a2", "\"T\"", "\"C\"", "00000000"),
       {"T: C"},
       "a window handle of more than eight digits"},
      {kActive + box("00000000", "\"T\"", "(null)", "00000000"), {"T: (null)"}, "a null caption"},
      {kActive + box("00000000", "\"Conversion Complete, but 2 fa\"...", "\"C\"", "00000000"),
       {"Conversion Complete, but 2 fa...: C"},
       "the start of a long text, as Wine shows it"},
      {kActive + box("00000000", "\"one\"", "\"1\"", "00000000") +
           box("00000000", "\"two\"", "\"2\"", "00000000"),
       {"one: 1", "two: 2"},
       "every box is a message"},
      {"", {}, "no box at all"},
  };
  for (const TraceCase& c : cases) EXPECT_EQ(message_boxes_in_trace(c.trace), c.messages) << c.why;
}

// A run of the 64-bit frameconv.exe under Wine 8 with no display, as its trace
// has it (most of the loader's lines before are left out): other threads and
// processes write to the same trace.
const char kWineTrace[] =
    "002c:trace:relay:load_list L\"RelayInclude\" = L\"user32.MessageBoxA;user32.GetActiveWindow\"\n"
    "0024:Starting thread proc 00000001400014B0 (arg=0000000067FF0000)\n"
    "0024:Call user32.GetActiveWindow() ret=140002c72\n"
    "0024:Ret  user32.GetActiveWindow() retval=00000000 ret=140002c72\n"
    "0024:Call user32.MessageBoxA(00000000,14001c00e \"Conversion Error\",14001c01f \"Cannot find "
    "anima000.obj "
    "file\",00000000) ret=14000166b\n"
    "0048:Call window proc 0000000140004BE0 (hwnd=0000000000010020,msg=WM_NULL,wp=00000000,lp=00000000)\n"
    "0048:Ret  window proc 0000000140004BE0 (hwnd=0000000000010020,msg=WM_NULL,wp=00000000,lp=00000000) "
    "retval=00000000\n"
    "0024:Ret  user32.MessageBoxA() retval=ffffffff ret=14000166b\n";

TEST(MessageBoxesInTrace, ReadsATraceAsWineWritesIt) {
  EXPECT_EQ(message_boxes_in_trace(kWineTrace),
            std::vector<std::string>{"Conversion Error: Cannot find anima000.obj file"});
}

TEST(MessageBoxesInTrace, ACallItCannotReadIsAMessageThatFails) {
  const std::string line = "0024:Call user32.MessageBoxA(00000000,00405000 \"cut";
  EXPECT_EQ(message_boxes_in_trace(kActive + line + "\n"),
            std::vector<std::string>{"unreadable message box call: " + line});
}

}  // namespace
