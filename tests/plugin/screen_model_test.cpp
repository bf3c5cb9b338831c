// The screen text and its cursor, without any layer: SetPosition and Write
// before an Init work on the model alone.
#include "screen_model.h"

#include <gtest/gtest.h>

#include <string>

#include "display_plugin.h"

namespace {

std::string Text() { return std::string(CurrentScreen().text, kScreenChars); }

void ExpectCursor(int row, int column) {
  EXPECT_EQ(CurrentScreen().row, row);
  EXPECT_EQ(CurrentScreen().column, column);
}

class ScreenModel : public ::testing::Test {
 protected:
  void SetUp() override {
    ScreenShowStartupText();
    ScreenHome();
  }
};

}  // namespace

TEST_F(ScreenModel, StartupTextFillsBothLines) {
  EXPECT_EQ(Text(), "   LCDSmartie    MediaPad plugin");
  EXPECT_EQ(CurrentScreen().text[kScreenChars], '\0');
  char line[kScreenColumns + 1];
  ScreenCopyLine(0, line);
  EXPECT_STREQ(line, "   LCDSmartie   ");
  ScreenCopyLine(1, line);
  EXPECT_STREQ(line, " MediaPad plugin");
}

TEST_F(ScreenModel, SetPositionIsOneBasedAndClampedOnTheLowByte) {
  struct Case {
    uint32_t x, y;
    int row, column;
  } cases[] = {{1, 1, 0, 0},     {0, 0, 0, 0},      {16, 2, 1, 15}, {17, 3, 1, 15},  {255, 255, 1, 15},
               {257, 258, 1, 0}, {0x1FF, 0, 0, 15}, {2, 1, 0, 1},   {1, 0x300, 0, 0}};
  for (const Case& c : cases) {
    DISPLAYDLL_SetPosition(c.x, c.y);
    SCOPED_TRACE(testing::Message() << "SetPosition(" << c.x << ", " << c.y << ")");
    ExpectCursor(c.row, c.column);
  }
}

TEST_F(ScreenModel, WriteStoresAtTheCursorAndWraps) {
  DISPLAYDLL_SetPosition(1, 1);
  DISPLAYDLL_Write("abc");
  EXPECT_EQ(Text(), "abcLCDSmartie    MediaPad plugin");
  ExpectCursor(0, 3);

  DISPLAYDLL_SetPosition(16, 2);
  DISPLAYDLL_Write("xy");
  EXPECT_EQ(Text()[31], 'x');
  EXPECT_EQ(Text()[0], 'y');
  ExpectCursor(0, 1);

  DISPLAYDLL_SetPosition(16, 1);  // the end of the top line goes on at the bottom line
  DISPLAYDLL_Write("12");
  EXPECT_EQ(Text()[15], '1');
  EXPECT_EQ(Text()[16], '2');
  ExpectCursor(1, 1);
}

TEST_F(ScreenModel, FortyCharactersWrapRoundTheWholeScreen) {
  const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!#%&";
  ASSERT_EQ(forty.size(), 40u);
  DISPLAYDLL_Write(forty.c_str());
  EXPECT_EQ(Text(), forty.substr(32, 8) + forty.substr(8, 24));
  ExpectCursor(0, 8);
}

TEST_F(ScreenModel, EmptyTextChangesNothingAndCharactersPassUntranslated) {
  DISPLAYDLL_SetPosition(5, 2);
  DISPLAYDLL_Write("");
  EXPECT_EQ(Text(), "   LCDSmartie    MediaPad plugin");
  ExpectCursor(1, 4);
  const char codes[] = {'\x08', '\x01', '\xb0', '\xff', '\x7f', 0};
  DISPLAYDLL_Write(codes);
  EXPECT_EQ(Text().substr(20, 5), std::string(codes, 5));
  EXPECT_EQ(CurrentScreen().text[kScreenChars], '\0');
}

TEST(CustomChar, IndexMapsOneToEightAndTheRestDownByOne) {
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(1), 8);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(2), 1);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(8), 7);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(9), 8);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(0), 255);
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(257), 8);  // low byte only
  EXPECT_EQ(DISPLAYDLL_CustomCharIndex(0x100), 255);
}

TEST(FixedTexts, DriverNameUsageAndDefaultsAreStable) {
  const char* first = DISPLAYDLL_DriverName();
  EXPECT_STREQ(first, "MediaPad Display v1.2.201.1126");
  EXPECT_EQ(strlen(first), 30u);
  EXPECT_EQ(DISPLAYDLL_DriverName(), first);
  EXPECT_STREQ(DISPLAYDLL_DriverName(), "MediaPad Display v1.2.201.1126");
  EXPECT_STREQ(DISPLAYDLL_Usage(), "32 bit systems only!");
  EXPECT_STREQ(DISPLAYDLL_DefaultParameters(), " ");
  DISPLAYDLL_CustomChar(1, 0x12345678);  // reads nothing, calls nothing
}
