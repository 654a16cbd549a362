#include "mox_utils/metadata/RangeInfo.h"

#include <gtest/gtest.h>

#include "support/XmlText.h"

namespace {

using mox::test::hasAttribute;
using mox::test::parsedXml;

RangeInfo range(const wchar_t* start, const wchar_t* step, const wchar_t* stop) {
  RangeInfo r;
  r.start = start;
  r.step = step;
  r.stop = stop;
  return r;
}

TEST(RangeInfoTest, LoadKeepsTheTexts) {
  const kelXMLFile file = parsedXml("<range start=' 1.50' step='0.5' stop='1e1'/>");
  RangeInfo r;
  ASSERT_TRUE(r.Load(file.getRootElement()));
  EXPECT_EQ(r, range(L" 1.50", L"0.5", L"1e1"));

  const kelXMLFile noStart = parsedXml("<range step='1' stop='2'/>");
  EXPECT_FALSE(r.Load(noStart.getRootElement()));
  EXPECT_EQ(r, range(L"", L"1", L"2")) << "filled even without start";

  EXPECT_FALSE(r.Load(kelXMLNode()));
  EXPECT_EQ(r, range(L"", L"1", L"2"));
}

TEST(RangeInfoTest, StoreWritesStartAndRemovesEmptyStepAndStop) {
  const kelXMLFile file = parsedXml("<range start='9' step='1' stop='20' other='x'/>");
  const kelXMLNode root = file.getRootElement();
  EXPECT_TRUE(range(L"0", L"", L"").Store(root));
  EXPECT_EQ(root.getAttribute(L"start", L""), L"0");
  EXPECT_FALSE(hasAttribute(root, L"step"));
  EXPECT_FALSE(hasAttribute(root, L"stop"));
  EXPECT_EQ(root.getAttribute(L"other", L""), L"x");

  range(L"", L"2", L"4").Store(root);
  EXPECT_TRUE(hasAttribute(root, L"start")) << "an empty start is still written";
  RangeInfo back;
  back.Load(root);
  EXPECT_EQ(back, range(L"", L"2", L"4"));
  EXPECT_FALSE(range(L"1", L"", L"").Store(kelXMLNode()));
}

TEST(RangeInfoTest, RemovalResultsCount) {
  // Whether removing an attribute that is not there counts as a failure is
  // the node library's decision; the range follows whatever it reports and
  // leaves "stop" alone after a failed "step".
  const kelXMLFile probe = parsedXml("<r/>");
  const bool removingNothingSucceeds = probe.getRootElement().removeAttribute(L"step");

  const kelXMLFile file = parsedXml("<range stop='7'/>");
  const kelXMLNode root = file.getRootElement();
  EXPECT_EQ(range(L"1", L"", L"").Store(root), removingNothingSucceeds);
  EXPECT_EQ(hasAttribute(root, L"stop"), !removingNothingSucceeds);
}

TEST(RangeInfoTest, EqualityComparesEachText) {
  const RangeInfo base = range(L"1", L"2", L"3");
  for (const RangeInfo& other : {range(L"0", L"2", L"3"), range(L"1", L"0", L"3"), range(L"1", L"2", L"")}) {
    EXPECT_NE(base, other);
  }
  EXPECT_FALSE(base != range(L"1", L"2", L"3"));
}

}  // namespace
