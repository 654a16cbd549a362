#include <gtest/gtest.h>

#include "mox_utils/geometry/UColor.h"

namespace {

// Text and integers keep the low byte of each channel rather than clamping.
TEST(UColorTest, ChannelsKeepTheLowByte) {
  EXPECT_EQ(UColor(std::wstring(L"[RGB] 300, -1, 128")), UColor(44, 255, 128));
  EXPECT_EQ(UColor(std::wstring(L"[RGB] 256, 512, -256")), UColor());
  EXPECT_EQ(UColor(std::wstring(L"[rgb] 1, 2, 3")), UColor());
  const UColor c(256, -1, 511);
  EXPECT_EQ(c.red, 0);
  EXPECT_EQ(c.green, 255);
  EXPECT_EQ(c.blue, 255);
}

TEST(UColorTest, PackedColourIsBlueGreenRed) {
  struct Case {
    unsigned long packed;
    int red, green, blue;
    unsigned long back;
  };
  const Case cases[] = {
      {0x00123456ul, 0x56, 0x34, 0x12, 0x00123456ul},
      {0xFF123456ul, 0x56, 0x34, 0x12, 0x00123456ul},  // the top byte is ignored
      {0x00FF0000ul, 0, 0, 0xFF, 0x00FF0000ul},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.packed);
    const UColor color(c.packed);
    EXPECT_EQ(color, UColor(c.red, c.green, c.blue));
    EXPECT_EQ(color.ToColorRef(), c.back);
  }
}

}  // namespace
