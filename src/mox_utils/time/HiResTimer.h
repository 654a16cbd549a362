// Interval timer over the performance counter that keeps every measured
// interval (in milliseconds) for totals, averages and extremes.
#pragma once

#include <cstdint>
#include <vector>

#include "mox_utils/export.h"
#include "mox_utils/platform.h"

namespace mox::detail {
// Lets tests place measurements, a start and a frequency of their choosing,
// since the performance counter itself is never replaced.
struct HiResTimerTestPeer;
}  // namespace mox::detail

// One timer belongs to one thread at a time; it does no locking.
class MOX_API HiResTimer {
 public:
  HiResTimer();
  HiResTimer(const HiResTimer& other);
  HiResTimer& operator=(const HiResTimer& other);
  ~HiResTimer();

  void start();
  // Milliseconds since the last start(), appended to the measurements. Without
  // an earlier start() the result has no meaning.
  double end();

  double getLastTime() const;            // 0.0 without measurements
  double getTime(unsigned int i) const;  // 0.0 when i >= getCount()
  double getTotalTime() const;           // 0.0 without measurements
  double getAvgTime() const;             // NaN without measurements (0 / 0)
  double getMaxTime() const;             // 0.0 without measurements
  double getMinTime() const;             // 0.0 without measurements
  unsigned int getCount() const;
  void clear();  // keeps the storage for reuse
  // One line on standard output: " total %lf(ms) ave %lf(ms) min %lf(ms) max
  // %lf(ms) count %d \n", whatever the size of the numbers. The line is
  // written as bytes (UTF-8) and flushed, since every library write to the
  // standard streams is byte-oriented.
  void printInfo();

 private:
  friend struct mox::detail::HiResTimerTestPeer;

  std::vector<double> m_times;
  LARGE_INTEGER m_start;
  LARGE_INTEGER m_frequency;
};
