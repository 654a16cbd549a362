#include <gtest/gtest.h>

#include "mox_utils/geometry/UColor.h"

namespace {

// The packed form is a Windows colour reference, 0x00BBGGRR; its top byte is
// ignored on the way in and zero on the way out.
TEST(UColorTest, PackedColourIsBlueGreenRed) {
  const UColor color(0xFF123456ul);
  EXPECT_EQ(color, UColor(0x56, 0x34, 0x12));
  EXPECT_EQ(color.ToColorRef(), 0x00123456ul);
}

}  // namespace
