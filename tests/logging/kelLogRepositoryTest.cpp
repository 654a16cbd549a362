#include "mox_utils/logging/kelLogRepository.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "support/SystemTimes.h"

// The cut-off is midnight on the first of the month `months` before the
// current one, whatever the day and time.
TEST(KelLogRepositoryTest, CutOffIsTheFirstOfTheMonthMonthsBack) {
  struct Case {
    int year, month, months;
    int cutYear, cutMonth;
  } cases[] = {
      {2024, 3, 2, 2024, 1},   {2024, 3, 3, 2023, 12},    // month 0 borrows a year
      {2024, 2, 14, 2022, 12}, {2024, 12, 12, 2023, 12},  // whole years, then the rest
      {2024, 11, -3, 2025, 2},                            // a negative count moves forward
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + " minus " + std::to_string(c.months));
    SYSTEMTIME cut;
    ASSERT_TRUE(kelLogRepository::cutOff(mox::test::systemTime(c.year, c.month, 29, 17, 42, 7, 999), c.months, &cut));
    EXPECT_EQ(
        std::vector<int>({cut.wYear, cut.wMonth, cut.wDay, cut.wHour, cut.wMinute, cut.wSecond, cut.wMilliseconds}),
        std::vector<int>({c.cutYear, c.cutMonth, 1, 0, 0, 0, 0}));
  }
  // Results outside the years of the calendar fail.
  SYSTEMTIME cut{};
  EXPECT_FALSE(kelLogRepository::cutOff(mox::test::systemTime(1602, 1, 1), 240, &cut));
  EXPECT_FALSE(kelLogRepository::cutOff(mox::test::systemTime(30827, 12, 1), -1, &cut));
}

// Keys order by type first, then by source bytes taken as unsigned, so a
// name with a byte above 0x7F sorts after every ASCII name.
TEST(KelLogRepositoryTest, FilterKeysOrderByTypeThenUnsignedBytes) {
  const std::set<FilterKey> keys = {{"b.cpp", kelLogger::LOG_ERROR},
                                    {"\xC3\xA9.cpp", kelLogger::LOG_FATAL},
                                    {"*", kelLogger::LOG_ERROR},
                                    {"z.cpp", kelLogger::LOG_FATAL},
                                    {"B.cpp", kelLogger::LOG_ERROR}};
  std::vector<std::string> order;
  for (const FilterKey& key : keys) order.push_back(key.source + "/" + std::to_string(key.type));
  const std::vector<std::string> expected = {"z.cpp/0", "\xC3\xA9.cpp/0", "*/1", "B.cpp/1", "b.cpp/1"};
  EXPECT_EQ(order, expected);
}
