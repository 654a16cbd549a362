#include "mox_utils/logging/kelLogRepository.h"

#include <gtest/gtest.h>

#include <set>

#include "support/SystemTimes.h"

TEST(KelLogRepositoryTest, CutOffIsTheFirstOfTheMonthMonthsBack) {
  struct Case {
    int year, month, day, months;
    int cutYear, cutMonth;
  } cases[] = {
      {2024, 3, 15, 6, 2023, 9},                                // borrows a year
      {2024, 2, 29, 14, 2022, 12},                              // whole years, then the rest with a borrow
      {2024, 3, 31, 2, 2024, 1},    {2024, 3, 1, 3, 2023, 12},  // month 0 borrows
      {2024, 12, 31, 12, 2023, 12}, {2024, 1, 10, 0, 2024, 1},
      {2024, 11, 2, -3, 2025, 2},  // a negative count moves forward
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + " minus " + std::to_string(c.months));
    SYSTEMTIME cut;
    ASSERT_TRUE(
        kelLogRepository::cutOff(mox::test::systemTime(c.year, c.month, c.day, 17, 42, 7, 999), c.months, &cut));
    EXPECT_EQ(cut.wYear, c.cutYear);
    EXPECT_EQ(cut.wMonth, c.cutMonth);
    EXPECT_EQ(cut.wDay, 1);
    EXPECT_EQ(cut.wHour + cut.wMinute + cut.wSecond + cut.wMilliseconds, 0);
  }
  SYSTEMTIME cut{};
  EXPECT_FALSE(kelLogRepository::cutOff(mox::test::systemTime(1602, 1, 1), 240, &cut));
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
